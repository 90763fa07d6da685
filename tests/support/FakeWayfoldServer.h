#pragma once

// A Wayfold server for tests and development: users with Basic authentication, Devices with one message list each,
// Shares with participants, folders, documents and numbered contents, the settings answer and the upgrade
// information. Every request is logged; requests that break the REST contract are listed as violations (tests check
// the list is empty at teardown); faults are injected by rule.
//
// Ids are written in the 39-character form (8 groups of 4 lower-case hex digits joined by "-") and compared after
// dropping "-" and lower-casing.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "support/FakeTypes.h"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace fake {

class FakeStore;

struct ServerOptions {
    // Where the contents and the state go, kept across restarts; empty: a temporary folder removed with the
    // server, and no state kept.
    std::filesystem::path dataFolder;
    // Both set: the server speaks TLS with this certificate.
    std::filesystem::path certificateFile;
    std::filesystem::path privateKeyFile;
    // The request log keeps at most this many requests, dropping the oldest; 0: all of them.
    std::size_t requestLogLimit = 0;
};

class FakeWayfoldServer {
public:
    static constexpr const char* serviceValue = "Wayfold Web Services";

    explicit FakeWayfoldServer(ServerOptions options = {});
    ~FakeWayfoldServer();
    FakeWayfoldServer(const FakeWayfoldServer&) = delete;
    FakeWayfoldServer& operator=(const FakeWayfoldServer&) = delete;

    // Binds (port 0: an ephemeral one) and serves on a thread of its own until stop().
    void start(const std::string& host = "127.0.0.1", int port = 0);
    // Serves on the calling thread until stop() is called from elsewhere.
    void run(const std::string& host, int port);
    void stop();

    int port() const { return mPort; }
    // "http://127.0.0.1:<port>" (https with a certificate); the client's BaseUrl, without "/rest".
    std::string baseUrl() const;

    // Accounts and Shares. Every id is returned in the 39-character form.
    std::string addUser(const std::string& email, const std::string& password);
    std::string userId(const std::string& email) const;
    // Makes the user a participant of the Share, not yet accepted; returns the participant id.
    std::string addParticipant(const std::string& shareId, const std::string& email);
    void accept(const std::string& shareId, const std::string& email);
    // Creates a Share owned by the user as the client would, with its SHARE_CREATED event.
    IdPairText createShare(const std::string& ownerEmail, const std::string& name);
    std::optional<AssetView> asset(const std::string& assetId) const;
    std::vector<AssetView> children(const std::string& folderId) const;
    // The stored bytes of a document's content version (empty optional when there is none).
    std::optional<std::string> content(const std::string& assetId, std::uint64_t version) const;
    // Stores a new content version as an upload would; returns its number.
    std::uint64_t putContent(const std::string& assetId, const std::string& bytes);
    // Adds a document (no content yet) or a folder below `parentId`, as an upload would; returns its id.
    std::string createAsset(const std::string& shareId, const std::string& parentId, bool folder,
                            const std::string& name, const std::string& extension = {});
    std::vector<std::string> devices(const std::string& email) const;

    // The "/setting" answer: a member of that object, given as JSON text ("100", "null", "\"x\"").
    void setSetting(const std::string& key, const std::string& jsonValue);
    // What GET /upgrade/info answers, and the installer bytes served at /upgrade/installer.
    void setUpgrade(std::vector<std::uint32_t> version, std::string installer);

    // Fault injection: the first rule matching a request is applied and counted down.
    void addFault(const FaultRule& rule);
    void clearFaults();
    // How many rules have not met all the requests they wait for.
    std::size_t faultsPending() const;
    // Waits until at least count requests are held by a stall rule (false on time-out).
    bool waitForStalled(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void releaseStalls();

    std::vector<RecordedRequest> requests() const;
    // The requests whose path (without query) starts with prefix, e.g. "/rest/".
    std::vector<RecordedRequest> requests(const std::string& pathPrefix) const;
    // How many logged requests match, counted without copying the log.
    std::size_t countRequests(const std::function<bool(const RecordedRequest&)>& match) const;
    void clearRequests();
    std::vector<std::string> violations() const;
    // For tests that break the contract on purpose.
    void clearViolations();

private:
    void installRoutes();
    void handle(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader* reader);
    std::optional<FaultRule> takeFault(const std::string& method, const std::string& path, bool reusedConnection);
    void holdStall();
    void serveUpgrade(const std::string& path, const std::optional<FaultRule>& rule, httplib::Response& response);
    void applyResponseFault(const FaultRule& rule, httplib::Response& response);
    void addViolation(std::string text);

    ServerOptions mOptions;
    bool mOwnsDataFolder = false;
    std::unique_ptr<httplib::Server> mServer;
    std::unique_ptr<FakeStore> mStore;
    std::thread mThread;
    int mPort = 0;
    std::string mHost = "127.0.0.1";

    mutable std::mutex mMutex;  // guards everything below
    std::condition_variable mStallChanged;
    std::uint64_t mStallGeneration = 0;
    std::size_t mStalled = 0;
    bool mStopping = false;
    std::vector<FaultRule> mFaults;
    std::deque<RecordedRequest> mRequests;
    std::uint64_t mNextSerial = 1;
    std::vector<std::string> mViolations;
    std::unordered_set<std::string> mCsrfTokens;
    std::unordered_set<int> mClientPorts;  // of the connections requests came on: a port seen again is a reused one
};

}  // namespace fake
