// Any body as the answer of any REST operation: each reader returns a consistent record or throws one of the
// documented errors (all std::runtime_error: the JSON library's parse and type errors, std::overflow_error,
// qcl::uint128::ParseError, bad asset type or status, dwl::InconsistentServerResponse). A Share or asset
// without a problem has a name that a file can take here (its sanitised candidate converts to UTF-8).
// The first byte chooses the reader and, for server messages, the number asked for.
#include "api/AnswerReaders.h"
#include "qcl/LocalFileNames.h"
#include "qcl/String.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace
{
const dwl::IdPair kAsked{qcl::uint128::fromHalves(0, 1), qcl::uint128::fromHalves(0, 2)};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// A name that comes without a problem can become a file name: never throws.
void checkUsable(const std::wstring& name, std::wstring_view problem)
{
    if (problem.empty())
        qcl::string::utf16ToUtf8(dwl::fileCandidateName(name, 2));
}

void read(std::uint8_t selector, std::string_view body)
{
    namespace answer = dwl::answer;
    switch (selector % 12)
    {
    case 0: answer::uuid(body); break;
    case 1:
    {
        const std::uint64_t startId = selector >> 4;
        if (const auto message = answer::serverMessage(body, startId))
        {
            check(message->number >= startId && message->number != std::numeric_limits<std::uint64_t>::max());
            if (message->type == dwl::EventType::other)
                check(message->shareId.isNil() && message->assetId.isNil());
        }
        break;
    }
    case 2: answer::participantInfo(body); break;
    case 3: answer::createdShare(body); break;
    case 4:
        for (const auto& share : answer::shares(body))
            checkUsable(share.name, share.problem);
        break;
    case 5:
    {
        const auto share = answer::share(body);
        checkUsable(share.name, share.problem);
        break;
    }
    case 6: answer::shareRootId(body); break;
    case 7:
    {
        const auto properties = answer::assetProperties(body, kAsked);
        check(properties.shareId == kAsked.first && properties.assetId == kAsked.second);
        checkUsable(properties.name, properties.problem);
        for (const auto& ancestor : properties.ancestors)
        {
            check(ancestor.id != properties.assetId);
            if (properties.problem.empty())
                checkUsable(ancestor.name, {});
        }
        break;
    }
    case 8:
        for (const auto& child : answer::children(body, kAsked.first))
        {
            check(child.shareId == kAsked.first && child.status == dwl::IWayfoldApi::Asset::Complete);
            checkUsable(child.name, child.problem);
        }
        break;
    case 9: answer::speedLimit(body, "client.throttle-suggestion.upload-rate"); break;
    case 10: answer::contentVersion(body); break;
    case 11: answer::serverError(body); break;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    try
    {
        read(data[0], std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    }
    catch (const std::runtime_error&)
    {
    }
    return 0;
}
