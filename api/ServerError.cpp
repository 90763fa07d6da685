#include "api/ServerError.h"

#include <algorithm>
#include <iterator>

namespace dwl
{
namespace
{
struct Entry
{
    std::string_view key;
    ServerErrorCode code;
};

// Sorted by key in byte order, for the bisection of parseServerErrorCode.
constexpr Entry kByKey[] = {
    {"document.content.notAvailable", ServerErrorCode::documentContentNotAvailable},
    {"permission.denied", ServerErrorCode::permissionDenied},
    {"repository.action.notSupported", ServerErrorCode::repositoryActionNotSupported},
    {"share.notAccepted", ServerErrorCode::shareNotAccepted},
    {"share.notFound", ServerErrorCode::shareNotFound},
    {"share.owner.exceededQuota", ServerErrorCode::shareOwnerExceededQuota},
    {"share.owner.suspended", ServerErrorCode::shareOwnerSuspended},
    {"user.exceededQuota", ServerErrorCode::userExceededQuota},
    {"user.suspended", ServerErrorCode::userSuspended},
    {"user.tos.notAccepted", ServerErrorCode::userTosNotAccepted},
};

std::string textOf(int code)
{
    for (const auto& entry : kByKey)
        if (static_cast<int>(entry.code) == code)
            return std::string(entry.key);
    return "ServerErrorCode(" + std::to_string(code) + ")";
}

class ServerErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "Wayfold"; }
    std::string message(int code) const override { return textOf(code); }
};

const ServerErrorCategory gCategory;
} // namespace

const std::error_category& serverErrorCategory()
{
    return gCategory;
}

std::error_code make_error_code(ServerErrorCode code)
{
    return {static_cast<int>(code), gCategory};
}

std::wostream& operator<<(std::wostream& stream, ServerErrorCode code)
{
    for (const char c : textOf(static_cast<int>(code)))
        stream << static_cast<wchar_t>(c);
    return stream;
}

ServerErrorCode parseServerErrorCode(std::string_view key)
{
    const auto found = std::lower_bound(std::begin(kByKey), std::end(kByKey), key,
                                        [](const Entry& entry, std::string_view value) { return entry.key < value; });
    return found != std::end(kByKey) && found->key == key ? found->code : ServerErrorCode::unknown;
}
} // namespace dwl
