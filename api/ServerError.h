#pragma once
// The error codes of the Wayfold server ("key" of an error body), their "Wayfold" category, and the error of
// a server answer that cannot be read or contradicts itself.

#include "url/Error.h"

#include <ostream>
#include <string>
#include <string_view>
#include <system_error>

namespace dwl
{
enum class ServerErrorCode : int
{
    unknown = 0,
    userSuspended = 1,
    userExceededQuota = 2,
    userTosNotAccepted = 3,
    permissionDenied = 4,
    shareNotFound = 5,
    shareNotAccepted = 6,
    shareOwnerExceededQuota = 7,
    shareOwnerSuspended = 8,
    documentContentNotAvailable = 9,
    repositoryActionNotSupported = 10,
};

// "Wayfold": the key of a code ("share.notFound"), or "ServerErrorCode(n)".
const std::error_category& serverErrorCategory();
std::error_code make_error_code(ServerErrorCode code);
std::wostream& operator<<(std::wostream& stream, ServerErrorCode code);

// The code of an error key; any other text gives unknown (0).
ServerErrorCode parseServerErrorCode(std::string_view key);

// A fault of the server like any other it may mend: the work that met it is tried again later, as after an
// answer with a 5xx status. Its code is HTTP 502, an invalid answer.
class InconsistentServerResponse : public url::ServerSideError
{
public:
    explicit InconsistentServerResponse(const std::wstring& message) : ServerSideError(502, std::wstring())
    {
        setMessage(message);
    }
};
} // namespace dwl

template <>
struct std::is_error_code_enum<dwl::ServerErrorCode> : std::true_type
{
};
