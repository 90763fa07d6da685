#include "api/AnswerReaders.h"

#include "api/ServerError.h"
#include "json_spirit/Error.h"
#include "json_spirit/Reader.h"
#include "qcl/Format.h"
#include "qcl/String.h"

#include <algorithm>
#include <limits>
#include <new>
#include <sstream>

namespace dwl::answer
{
namespace
{
using json_spirit::Kind;
using json_spirit::Value;

qcl::uint128 requiredId(const Value& value)
{
    return qcl::uint128::parse(value.getString());
}

bool requiredBool(const Value& value)
{
    if (value.kind() != Kind::boolean)
        throw json_spirit::TypeError(Kind::boolean, value.kind());
    return value.boolean();
}

// Null, or an array (other kinds throw).
const Value& arrayOrNull(const Value& value)
{
    if (!value.isNull() && value.kind() != Kind::array)
        throw json_spirit::TypeError(Kind::array, value.kind());
    return value;
}

constexpr std::wstring_view kUnusableName = L"Its name on the server cannot be used as a name here.";
constexpr std::wstring_view kUnusableAncestorName =
    L"The name of a folder that holds it on the server cannot be used as a name here.";
constexpr std::wstring_view kUnreadableValue = L"The server describes it with values that cannot be read.";

Value parseAnswer(std::string_view body)
{
    return json_spirit::parse(body, kMaximumParsedSize);
}

// Reads a value of one item; when it cannot be used, the item gets the problem (if it has none yet) instead.
// Ids are not read this way: an item whose id cannot be read cannot be told from any other, and makes the
// whole answer malformed.
template <class Read> void readOrNote(std::wstring_view& problem, std::wstring_view why, Read read)
{
    if (!problem.empty())
        return;
    try
    {
        read();
    }
    catch (const std::bad_alloc&)
    {
        throw;
    }
    catch (const std::exception&)
    {
        problem = why;
    }
}

// As much of a text as can be shown, for a name that cannot be used.
std::wstring shownText(const Value& value)
{
    return value.kind() == json_spirit::Kind::string ? qcl::string::utf8ToUtf16Lenient(value.rawString())
                                                     : std::wstring();
}

// "name", with "." and "extension" appended when that is not empty.
std::wstring fullName(const Value& element)
{
    const std::wstring extension = element["extension"].getWStringOr(std::wstring());
    std::wstring name = element["name"].getWString();
    if (!extension.empty())
        name += L"." + extension;
    return name;
}

// The type, status (when asked for), content version and name of an asset, or its problem (the name's, when
// both are wrong).
void readAssetValues(IWayfoldApi::Asset& asset, const Value& element, bool withStatus)
{
    readOrNote(asset.problem, kUnreadableValue,
               [&]
               {
                   asset.type = IWayfoldApi::Asset::typeFromString(element["type"].getString());
                   asset.contentVersion = element["contentVersion"].getUInt64Or(0);
                   const Value& status = element["status"];
                   if (withStatus && !status.isNull())
                       asset.status = IWayfoldApi::Asset::statusFromString(status.getString());
               });
    std::wstring_view nameProblem;
    readOrNote(nameProblem, kUnusableName, [&] { asset.name = fullName(element); });
    if (!nameProblem.empty())
    {
        asset.problem = nameProblem;
        asset.name = shownText(element["name"]);
    }
}

IWayfoldApi::Share readShare(const Value& element)
{
    const Value& root = element["root"];
    IWayfoldApi::Share share;
    share.rootId = requiredId(root["uuid"]);
    share.shareId = requiredId(element["uuid"]);
    readOrNote(share.problem, kUnusableName, [&] { share.name = root["name"].getWString(); });
    if (!share.problem.empty())
        share.name = shownText(root["name"]);
    return share;
}

std::wstring referenceText(const IdPair& reference)
{
    std::wostringstream stream;
    stream << reference;
    return stream.str();
}
} // namespace

qcl::uint128 uuid(std::string_view body)
{
    return requiredId(parseAnswer(body)["uuid"]);
}

std::optional<IWayfoldApi::ServerMessage> serverMessage(std::string_view body, std::uint64_t startId)
{
    const Value answer = parseAnswer(body);
    const Value& events = arrayOrNull(answer["synchEvents"]);
    if (events.isNull() || events.getArray().empty())
        return std::nullopt;
    const Value& event = events[0];
    IWayfoldApi::ServerMessage message;
    message.number = event["id"].getUInt64();
    const std::string type = event["type"].getString();
    message.type = parseEventType(type.data(), type.size());
    // The caller stores number + 1 as the next number to ask for: a number below the one asked for would make it
    // go back, and the largest number would make it wrap to 0.
    if (message.number < startId)
        throw InconsistentServerResponse(qcl::format(
            L"When asking for server message %1% or later, the server returned message %2%", startId, message.number));
    if (message.number == std::numeric_limits<std::uint64_t>::max())
        throw InconsistentServerResponse(
            qcl::format(L"The server returned message %1%, which has no successor", message.number));
    switch (message.type)
    {
    case EventType::shareCreated:
    case EventType::shareUpdated:
        message.shareId = requiredId(event["uuid"]);
        message.assetId = requiredId(event["rootUuid"]);
        break;
    case EventType::shareDeleted:
        message.shareId = requiredId(event["uuid"]);
        break;
    case EventType::other:
        break;
    default:
        message.shareId = requiredId(event["shareUuid"]);
        message.assetId = requiredId(event["uuid"]);
        break;
    }
    return message;
}

std::optional<IWayfoldApi::ParticipantInfo> participantInfo(std::string_view body)
{
    const Value answer = parseAnswer(body);
    const Value& first = answer[0];
    if (first.isNull())
        return std::nullopt;
    IWayfoldApi::ParticipantInfo info;
    info.participantId = requiredId(first["uuid"]);
    info.accepted = requiredBool(first["accepted"]);
    info.isOwner = requiredBool(first["isOwner"]);
    return info;
}

IdPair createdShare(std::string_view body)
{
    const Value answer = parseAnswer(body);
    const qcl::uint128 rootId = requiredId(answer["root"]["uuid"]);
    return {requiredId(answer["uuid"]), rootId};
}

std::vector<IWayfoldApi::Share> shares(std::string_view body)
{
    std::vector<IWayfoldApi::Share> list;
    json_spirit::parseElements(body, kMaximumParsedSize,
                               [&](const Value& element) { list.push_back(readShare(element)); });
    return list;
}

IWayfoldApi::Share share(std::string_view body)
{
    return readShare(parseAnswer(body));
}

qcl::uint128 shareRootId(std::string_view body)
{
    return requiredId(parseAnswer(body)["root"]["uuid"]);
}

IWayfoldApi::AssetProperties assetProperties(std::string_view body, const IdPair& asked)
{
    const Value answer = parseAnswer(body);
    const Value& list = arrayOrNull(answer);
    const Value& first = list[0];

    IWayfoldApi::AssetProperties properties;
    properties.shareId = asked.first;
    properties.assetId = requiredId(first["uuid"]);
    if (properties.assetId != asked.second)
        throw InconsistentServerResponse(qcl::format(
            L"When asking for ancestors of Asset %1%, the server returned the ancestors of a different Asset %2%",
            referenceText(asked), referenceText({asked.first, properties.assetId})));
    readAssetValues(properties, first, true);

    const auto& elements = list.getArray();
    std::wstring_view ancestorProblem;
    for (std::size_t i = elements.size(); i-- > 1;)
    {
        IWayfoldApi::AssetProperties::Ancestor ancestor{requiredId(elements[i]["uuid"]), {}};
        readOrNote(ancestorProblem, kUnusableAncestorName, [&] { ancestor.name = elements[i]["name"].getWString(); });
        properties.ancestors.push_back(std::move(ancestor));
    }
    if (properties.problem.empty())
        properties.problem = ancestorProblem;

    std::vector<qcl::uint128> ids{properties.assetId};
    for (const auto& ancestor : properties.ancestors)
        ids.push_back(ancestor.id);
    std::sort(ids.begin(), ids.end());
    const auto repeated = std::adjacent_find(ids.begin(), ids.end());
    if (repeated != ids.end())
        throw InconsistentServerResponse(qcl::format(
            L"When asking for ancestors of Asset %1%, the list of ancestors returned by the server contains a "
            L"duplicated Asset %2%",
            referenceText(asked), repeated->wstr()));
    return properties;
}

std::vector<IWayfoldApi::Asset> children(std::string_view body, const qcl::uint128& shareId)
{
    std::vector<IWayfoldApi::Asset> list;
    json_spirit::parseElements(body, kMaximumParsedSize,
                               [&](const Value& element)
                               {
                                   IWayfoldApi::Asset asset;
                                   asset.shareId = shareId;
                                   asset.assetId = requiredId(element["uuid"]);
                                   readAssetValues(asset, element, false);
                                   list.push_back(std::move(asset));
                               });
    return list;
}

std::uint32_t speedLimit(std::string_view body, const std::string& key)
{
    const Value answer = parseAnswer(body);
    const Value& limit = answer[key];
    return limit.isNull() ? 0 : limit.getUInt();
}

std::uint64_t contentVersion(std::string_view body)
{
    return parseAnswer(body)["contentVersion"].getUInt64Or(0);
}

ServerErrorBody serverError(std::string_view body)
{
    const Value answer = parseAnswer(body);
    return {answer["key"].getString(), answer["message"].getWStringOr(std::wstring())};
}
} // namespace dwl::answer
