#pragma once
// The REST client of the Wayfold service.

#include "api/IWayfoldApi.h"
#include "url/Error.h"
#include "url/Session.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace dwl
{
class WayfoldApi : public IWayfoldApi
{
public:
    // Media types: the Accept (and Content-Type) values.
    static constexpr const char* kMediaTypeV2 = "application/vnd.quillmere.wayfold-v2+json";
    static constexpr const char* kMediaTypeV3 = "application/vnd.quillmere.wayfold-v3+json";
    static constexpr const char* kMediaTypeJson = "application/json";
    static constexpr const char* kMediaTypeHal = "application/hal+json";
    static constexpr const char* kCharset = "utf-8";
    // The longest answer read into memory (a folder's children are the longest by far); a longer one fails the
    // request as a network error.
    static constexpr std::size_t kMaximumAnswerSize = std::size_t(128) << 20;

    WayfoldApi();
    virtual ~WayfoldApi() = default;

    // The REST base address: the server's BaseUrl followed by "/rest". Forgets the user id.
    void setServerUrl(std::string url);
    // Forgets the user id and the CSRF token and drops every cookie, so a new account never carries the old
    // account's session.
    void setCredentials(const std::wstring& userName, const std::wstring& password);
    void setUserId(const qcl::uint128& userId) { mUserId = userId; }
    void setDeviceId(const qcl::uint128& deviceId) { mDeviceId = deviceId; }
    void setCheckForGenuineServer(bool check) { mCheckForGenuineServer = check; }
    void setMaximumAnswerSize(std::size_t size) { mMaximumAnswerSize = size; }
    // For the owner's lasting settings: user agent, proxy, certificate checking.
    url::Session& session() { return mSession; }

    void setMustCloseSocket(bool mustClose) override;
    qcl::uint128 getUserId() override;
    qcl::uint128 registerDevice() override;
    void unregisterDevice(qcl::uint128 deviceId) override;
    IdPair createShare(const std::wstring& name, bool canAddDocuments) override;
    void removeShare(const qcl::uint128& shareId) override;
    qcl::uint128 createFolder(const std::wstring& name, const IdPair& parent) override;
    qcl::uint128 createDocument(const std::wstring& name, const IdPair& parent) override;
    std::uint64_t uploadContent(const IdPair& asset, HANDLE file) override;
    void downloadContent(const IdPair& asset, HANDLE file) override;
    void renameDocument(const IdPair& asset, const std::wstring& name) override;
    void renameFolder(const IdPair& asset, const std::wstring& name) override;
    void moveAsset(const IdPair& asset, const qcl::uint128& newParentId) override;
    void removeAsset(const IdPair& asset) override;
    std::optional<ServerMessage> getServerMessage(std::uint64_t number) override;
    AssetProperties getAssetProperties(const IdPair& asset) override;
    Share getShareProperties(const qcl::uint128& shareId) override;
    std::vector<Share> getShares() override;
    std::vector<Asset> getChildren(const IdPair& folder) override;

    // Not part of the interface.
    std::optional<ParticipantInfo> getParticipantInfo(const qcl::uint128& shareId);
    std::uint32_t getUploadSpeedLimit();
    std::uint32_t getDownloadSpeedLimit();

private:
    std::string performGetRequest(const std::string& url, const char* mediaType);
    void performGetRequest(const std::string& url, HANDLE file, std::uint32_t limitKiBPerSecond);
    std::string performPostRequest(const std::string& url, const std::string& body, const char* mediaType);
    std::string performPostRequest(const std::string& url, HANDLE file, std::uint32_t limitKiBPerSecond,
                                   const char* mediaType);
    void performDeleteRequest(const std::string& url);
    // A DELETE that finds nothing to remove is done: sent again after a lost answer, it finds the item gone.
    void performRemoval(const std::string& url);
    // Inside a catch block only, when reading the answer of the request failed: lack of memory is rethrown as a
    // network error, anything else as InconsistentServerResponse, each with "Cannot <method> <url>: " in front.
    [[noreturn]] static void throwUnreadableAnswer(const char* method, const std::string& url);
    // read(answer) for the answer of a GET or a POST of the url (see throwUnreadableAnswer).
    template <class Read> auto getAndRead(const std::string& url, const char* mediaType, Read read)
    {
        const std::string answer = performGetRequest(url, mediaType);
        return readAnswer("GET", url, answer, read);
    }
    template <class Read>
    auto postAndRead(const std::string& url, const std::string& body, const char* mediaType, Read read)
    {
        const std::string answer = performPostRequest(url, body, mediaType);
        return readAnswer("POST", url, answer, read);
    }
    template <class Read>
    static auto readAnswer(const char* method, const std::string& url, const std::string& answer, Read read)
    {
        try
        {
            return read(answer);
        }
        catch (...)
        {
            throwUnreadableAnswer(method, url);
        }
    }
    std::uint64_t getContentVersion(const IdPair& asset);
    // Whether the server's latest content of the document is the file's and has that version: the upload whose
    // answer was lost was stored. Never throws for a failure of the server.
    bool holdsAsLatest(const IdPair& asset, HANDLE file, std::uint64_t version);
    // Runs the prepared request; a url::Error gets "Cannot <method> <url>: " in front, and a 403 body in
    // `errorBody` (when given) is read into it first.
    void performRequest(const char* method, const std::string& url, const std::string* errorBody);
    void performRequestAndCheckServer();
    void throwNotGenuineServer(bool serviceHeaderSeen) const;
    // Reads a 403 body into the error's code, server message and message; never throws.
    static void parseServerErrorResponse(const std::string& body, url::Error& error);

    std::string sharesUrl() const;
    std::string shareUrl(const qcl::uint128& shareId) const;
    std::string assetsUrl(const qcl::uint128& shareId) const;
    std::string assetUrl(const IdPair& asset) const;
    std::string contentsUrl(const IdPair& asset) const;
    std::string latestContentUrl(const IdPair& asset) const;
    std::uint32_t getSpeedLimit(const char* key);

    url::initialiseLibCurl mCurl;
    std::string mServerUrl;
    url::Session mSession;
    std::string mUserName;
    qcl::uint128 mUserId;
    qcl::uint128 mDeviceId;
    std::string mCsrfToken;
    bool mCheckForGenuineServer = false;
    std::size_t mMaximumAnswerSize = kMaximumAnswerSize;
};
} // namespace dwl
