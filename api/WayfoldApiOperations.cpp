// The REST operations of the client: users, Devices and server messages; Shares and participants; assets;
// contents and speed limits.

#include "api/AnswerReaders.h"
#include "api/ContentFile.h"
#include "api/ServerError.h"
#include "api/UrlEncode.h"
#include "api/WayfoldApi.h"
#include "json_spirit/Writer.h"
#include "qcl/LocalFileNames.h"
#include "qcl/Log.h"

#include <sstream>

namespace dwl
{
namespace
{
using qcl::string::escaped;

constexpr const char* kUploadRateKey = "client.throttle-suggestion.upload-rate";
constexpr const char* kDownloadRateKey = "client.throttle-suggestion.download-rate";

void writeString(std::ostream& out, const std::wstring& text)
{
    json_spirit::writeString(out, text.data(), text.data() + text.size());
}

void writeParent(json_spirit::ObjectWriter& object, const qcl::uint128& parentId)
{
    object.writeKey("parent");
    json_spirit::ObjectWriter parent = object.openObject();
    parent.writeKey("uuid");
    json_spirit::writeString(parent.stream(), parentId.str());
}

// {"name":stem,"extension":extension}, members of a document body.
void writeDocumentName(json_spirit::ObjectWriter& object, const std::pair<std::wstring, std::wstring>& split)
{
    object.writeKey("name");
    writeString(object.stream(), split.first);
    object.writeKey("extension");
    writeString(object.stream(), split.second);
}

std::wstring typeText(IWayfoldApi::Asset::Type type)
{
    std::wostringstream text;
    IWayfoldApi::Asset::typeToString(text, type);
    return text.str();
}

std::wstring statusText(IWayfoldApi::Asset::Status status)
{
    std::wostringstream text;
    IWayfoldApi::Asset::statusToString(text, status);
    return text.str();
}

const wchar_t* flag(bool value)
{
    return value ? L"1" : L"0";
}
} // namespace

// ---- users, Devices and server messages

qcl::uint128 WayfoldApi::getUserId()
{
    if (!mUserId.isNil())
        return mUserId;
    QCL_LOG_TRACE(L">>> Getting User ID for User name " << escaped(mUserName, L'"'));
    const std::string url = mServerUrl + "/users?emailAddress=" + qcl::url::encode(mUserName);
    mUserId = getAndRead(url, kMediaTypeV2, answer::uuid);
    QCL_LOG_TRACE(L"<<< User ID = " << mUserId);
    return mUserId;
}

qcl::uint128 WayfoldApi::registerDevice()
{
    const qcl::uint128 user = getUserId();
    QCL_LOG_TRACE(L">>> Registering Device for User ID " << user);
    const std::string url = mServerUrl + "/users/" + user.str() + "/devices";
    const qcl::uint128 device = postAndRead(url, "{}", kMediaTypeV2, answer::uuid);
    QCL_LOG_TRACE(L"<<< Device ID = " << device);
    return device;
}

void WayfoldApi::unregisterDevice(qcl::uint128 deviceId)
{
    const qcl::uint128 user = getUserId();
    QCL_LOG_TRACE(L">>> Unregistering Device " << deviceId << L" of user " << user);
    try
    {
        performDeleteRequest(mServerUrl + "/users/" + user.str() + "/devices/" + deviceId.str());
    }
    catch (const url::HttpError& e)
    {
        QCL_LOG_TRACE(L"<<< Cannot unregister Device: " << e.message());
    }
}

std::optional<IWayfoldApi::ServerMessage> WayfoldApi::getServerMessage(std::uint64_t number)
{
    QCL_LOG_TRACE(L">>> Getting server message " << number);
    const std::string url = mServerUrl + "/users/" + getUserId().str() + "/devices/" + mDeviceId.str() +
                            "/messages?length=1&startId=" + std::to_string(number);
    const auto message =
        getAndRead(url, kMediaTypeV3, [&](std::string_view body) { return answer::serverMessage(body, number); });
    if (message)
        QCL_LOG_TRACE(L"<<< Message number = " << message->number << L", Type = " << message->type);
    else
        QCL_LOG_TRACE(L"<<< No server message");
    return message;
}

// ---- Shares and participants

std::optional<IWayfoldApi::ParticipantInfo> WayfoldApi::getParticipantInfo(const qcl::uint128& shareId)
{
    const qcl::uint128 user = getUserId();
    QCL_LOG_TRACE(L">>> Checking if User " << user << L" is a participant of Share " << shareId);
    const std::string url = mServerUrl + "/participants?shareUuid=" + shareId.str() + "&userUuid=" + user.str();
    const auto info = getAndRead(url, kMediaTypeHal, answer::participantInfo);
    if (info)
        QCL_LOG_TRACE(L"<<< Participant ID = " << info->participantId << L", is owner = " << flag(info->isOwner)
                                               << L", accepted = " << flag(info->accepted));
    else
        QCL_LOG_TRACE(L"<<< Not a participant");
    return info;
}

IdPair WayfoldApi::createShare(const std::wstring& name, bool canAddDocuments)
{
    QCL_LOG_TRACE(L">>> Creating Share " << escaped(name, L'"'));
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        object.writeKey("folderName");
        writeString(body, name);
        object.writeKey("assetPrivilege");
        json_spirit::writeString(body, "CANADDDOC");
        object.writeKey("assignedPrivilege");
        json_spirit::writeString(body, canAddDocuments ? "CANADDDOC" : "CANREAD");
    }
    const IdPair ids = postAndRead(sharesUrl(), body.str(), kMediaTypeJson, answer::createdShare);
    QCL_LOG_TRACE(L"<<< Share ID = " << ids);
    return ids;
}

void WayfoldApi::removeShare(const qcl::uint128& shareId)
{
    const auto info = getParticipantInfo(shareId);
    if (!info || info->isOwner)
    {
        QCL_LOG_TRACE(L">>> Removing Share " << shareId);
        performRemoval(shareUrl(shareId));
        QCL_LOG_TRACE(L"<<< Removed Share " << shareId);
    }
    else
    {
        QCL_LOG_TRACE(L">>> Removing Participant " << info->participantId << L" from Share " << shareId);
        performRemoval(mServerUrl + "/participants/" + info->participantId.str());
        QCL_LOG_TRACE(L"<<< Removed Participant " << info->participantId << L" from Share " << shareId);
    }
}

std::vector<IWayfoldApi::Share> WayfoldApi::getShares()
{
    QCL_LOG_TRACE(L">>> Getting the list of Shares");
    const std::string url = sharesUrl() + "?participant=" + qcl::url::encode(mUserName);
    const auto listed = getAndRead(url, kMediaTypeJson, answer::shares);
    std::vector<Share> kept;
    kept.reserve(listed.size());
    for (const Share& share : listed)
    {
        const auto info = getParticipantInfo(share.shareId);
        if (!info || !info->accepted)
        {
            QCL_LOG_TRACE(L"Ignored Share " << escaped(share.name, L'"') << L" " << IdPair(share.shareId, share.rootId)
                                            << (info ? L" because user has not accepted the Share yet"
                                                     : L" because user is not a participant"));
            continue;
        }
        kept.push_back(share);
    }
    QCL_LOG_TRACE(L"<<< Number of Shares = " << kept.size());
    return kept;
}

IWayfoldApi::Share WayfoldApi::getShareProperties(const qcl::uint128& shareId)
{
    QCL_LOG_TRACE(L">>> Getting properties of Share " << shareId);
    const Share share = getAndRead(shareUrl(shareId), kMediaTypeJson, answer::share);
    const auto info = getParticipantInfo(shareId);
    if (!info || !info->accepted)
    {
        QCL_LOG_TRACE(L"Ignored Share " << escaped(share.name, L'"') << L" " << IdPair(share.shareId, share.rootId)
                                        << (info ? L" because user has not accepted the Share yet"
                                                 : L" because user is not a participant"));
        const std::wstring text = info ? L"User has not accepted the Share yet" : L"User is not a participant of the Share";
        url::ForbiddenError refusal(text);
        refusal.code = make_error_code(ServerErrorCode::permissionDenied);
        refusal.serverMessage = text;
        throw refusal;
    }
    QCL_LOG_TRACE(L"<<< Name = " << escaped(share.name, L'"'));
    return share;
}

// ---- assets

qcl::uint128 WayfoldApi::createFolder(const std::wstring& name, const IdPair& parent)
{
    QCL_LOG_TRACE(L">>> Creating Folder " << escaped(name, L'"') << L" in Folder " << parent);
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        object.writeKey("type");
        json_spirit::writeString(body, "FOLDER");
        object.writeKey("name");
        writeString(body, name);
        writeParent(object, parent.second);
    }
    const qcl::uint128 id = postAndRead(assetsUrl(parent.first), body.str(), kMediaTypeV2, answer::uuid);
    QCL_LOG_TRACE(L"<<< Folder ID = " << id);
    return id;
}

qcl::uint128 WayfoldApi::createDocument(const std::wstring& name, const IdPair& parent)
{
    const auto split = splitFileName(name);
    QCL_LOG_TRACE(L">>> Creating Document " << escaped(name, L'"') << L" (name = " << escaped(split.first, L'"')
                                            << L", extension = " << escaped(split.second, L'"') << L") in Folder "
                                            << parent);
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        object.writeKey("type");
        json_spirit::writeString(body, "DOCUMENT");
        writeDocumentName(object, split);
        writeParent(object, parent.second);
    }
    const qcl::uint128 id = postAndRead(assetsUrl(parent.first), body.str(), kMediaTypeV2, answer::uuid);
    QCL_LOG_TRACE(L"<<< Document ID = " << id);
    return id;
}

void WayfoldApi::renameDocument(const IdPair& asset, const std::wstring& name)
{
    const auto split = splitFileName(name);
    QCL_LOG_TRACE(L">>> Renaming Document " << asset << L" to " << escaped(name, L'"') << L" (name = "
                                            << escaped(split.first, L'"') << L", extension = "
                                            << escaped(split.second, L'"') << L")");
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        writeDocumentName(object, split);
    }
    performPostRequest(assetUrl(asset), body.str(), kMediaTypeV2);
}

void WayfoldApi::renameFolder(const IdPair& asset, const std::wstring& name)
{
    QCL_LOG_TRACE(L">>> Renaming Folder " << asset << L" to " << escaped(name, L'"'));
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        object.writeKey("name");
        writeString(body, name);
    }
    performPostRequest(assetUrl(asset), body.str(), kMediaTypeV2);
}

void WayfoldApi::moveAsset(const IdPair& asset, const qcl::uint128& newParentId)
{
    QCL_LOG_TRACE(L">>> Moving Asset " << asset << L" to Folder " << newParentId);
    std::ostringstream body;
    {
        json_spirit::ObjectWriter object(body);
        writeParent(object, newParentId);
    }
    performPostRequest(assetUrl(asset), body.str(), kMediaTypeV2);
}

void WayfoldApi::removeAsset(const IdPair& asset)
{
    QCL_LOG_TRACE(L">>> Removing Asset " << asset);
    performRemoval(assetUrl(asset));
}

IWayfoldApi::AssetProperties WayfoldApi::getAssetProperties(const IdPair& asset)
{
    QCL_LOG_TRACE(L">>> Getting properties of Asset " << asset);
    const std::string url = assetsUrl(asset.first) + "/ancestors?ancestorOf=" + asset.second.str();
    const AssetProperties properties =
        getAndRead(url, kMediaTypeV2, [&](std::string_view body) { return answer::assetProperties(body, asset); });
    QCL_LOG_TRACE(L"<<< Name = " << escaped(properties.name, L'"') << L", Type = " << typeText(properties.type)
                                 << L", ID = " << asset << L", Content Version Number = " << properties.contentVersion
                                 << L", Status = " << statusText(properties.status));
    return properties;
}

std::vector<IWayfoldApi::Asset> WayfoldApi::getChildren(const IdPair& folder)
{
    QCL_LOG_TRACE(L">>> Getting the list of children of Folder " << folder);
    const qcl::uint128 rootId = getAndRead(shareUrl(folder.first), kMediaTypeJson, answer::shareRootId);
    std::string url = assetsUrl(folder.first) + "/children";
    if (folder.second != rootId)
        url += "?childrenOf=" + folder.second.str();
    auto children =
        getAndRead(url, kMediaTypeHal, [&](std::string_view body) { return answer::children(body, folder.first); });
    QCL_LOG_TRACE(L"<<< Number of children = " << children.size());
    return children;
}

// ---- contents and speed limits

std::uint32_t WayfoldApi::getSpeedLimit(const char* key)
{
    return getAndRead(mServerUrl + "/setting", kMediaTypeJson,
                      [&](std::string_view body) { return answer::speedLimit(body, key); });
}

std::uint32_t WayfoldApi::getUploadSpeedLimit()
{
    QCL_LOG_TRACE(L">>> Getting upload speed limit");
    const std::uint32_t limit = getSpeedLimit(kUploadRateKey);
    QCL_LOG_TRACE(L"<<< Upload speed limit = " << limit << L" KiB/s");
    return limit;
}

std::uint32_t WayfoldApi::getDownloadSpeedLimit()
{
    QCL_LOG_TRACE(L">>> Getting download speed limit");
    const std::uint32_t limit = getSpeedLimit(kDownloadRateKey);
    QCL_LOG_TRACE(L"<<< Download speed limit = " << limit << L" KiB/s");
    return limit;
}

std::uint64_t WayfoldApi::uploadContent(const IdPair& asset, HANDLE file)
{
    QCL_LOG_TRACE(L">>> Uploading Document " << asset);
    const std::uint32_t limit = getUploadSpeedLimit();
    const std::uint64_t version = getContentVersion(asset);
    try
    {
        performPostRequest(contentsUrl(asset), file, limit, "*/*");
    }
    catch (const url::NetworkError& error)
    {
        // The server may have stored the content before the connection died.
        if (!holdsAsLatest(asset, file, version + 1))
            throw;
        QCL_LOG_INFO(L"Took version " << version + 1 << L" of Document " << asset
                                      << L", which the upload made although its answer was lost: "
                                      << error.message());
    }
    QCL_LOG_TRACE(L"<<< Uploaded Document " << asset);
    return version + 1;
}

std::uint64_t WayfoldApi::getContentVersion(const IdPair& asset)
{
    return getAndRead(assetUrl(asset), kMediaTypeHal, answer::contentVersion);
}

bool WayfoldApi::holdsAsLatest(const IdPair& asset, HANDLE file, std::uint64_t version)
{
    try
    {
        if (getContentVersion(asset) != version)
            return false;
        const std::uint64_t size = rewindFile(file);
        std::uint64_t compared = 0;
        mSession.setUrl(latestContentUrl(asset));
        mSession.setWriter(FileComparer(file, &compared));
        QCL_LOG_TRACE(L">>> Comparing the latest content of Document " << asset << L" with the file sent");
        performRequest("GET", latestContentUrl(asset), nullptr);
        return compared == size;
    }
    catch (const FileComparer::Differs&)
    {
        return false;
    }
    catch (const url::Error& error)
    {
        QCL_LOG_TRACE(L"!!! " << error.message());
        return false;
    }
}

void WayfoldApi::downloadContent(const IdPair& asset, HANDLE file)
{
    QCL_LOG_TRACE(L">>> Downloading Document " << asset);
    const std::uint32_t limit = getDownloadSpeedLimit();
    performGetRequest(latestContentUrl(asset), file, limit);
    QCL_LOG_TRACE(L"<<< Downloaded Document " << asset);
}
} // namespace dwl
