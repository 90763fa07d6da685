#include "support/FakeWayfoldServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/FakeIds.h"
#include "support/FakeStore.h"

namespace fake {

namespace {

std::filesystem::path makeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "wayfold-fake-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("Cannot create a temporary folder");
    return pattern;
}

// The value of the cookie name in a Cookie header, or "".
std::string cookieValue(const std::string& cookies, const std::string& name) {
    const std::regex pattern("(?:^|;\\s*)" + name + "=([^;]*)");
    std::smatch match;
    return std::regex_search(cookies, match, pattern) ? match[1].str() : std::string();
}

// Serves body (or the file) announcing its whole length, but stops after limit bytes and closes the connection.
void serveCut(httplib::Response& response, const std::string& body, const std::filesystem::path& file,
              std::size_t limit) {
    const std::size_t length = file.empty() ? body.size() : std::filesystem::file_size(file);
    const std::string contentType = response.get_header_value("Content-Type");
    auto source = std::make_shared<std::ifstream>();
    if (!file.empty()) source->open(file, std::ios::binary);
    response.body.clear();  // a body would be sent instead of the provider's bytes
    response.set_content_provider(
        std::max<std::size_t>(length, 1), contentType.empty() ? "application/octet-stream" : contentType,
        [body, source, length, limit, fromFile = !file.empty()](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            const std::size_t end = std::min(length, limit);
            if (offset >= end) return false;
            char buffer[65536];
            const std::size_t n = std::min(sizeof buffer, end - offset);
            if (fromFile) {
                source->seekg(static_cast<std::streamoff>(offset));
                source->read(buffer, static_cast<std::streamsize>(n));
            } else {
                body.copy(buffer, n, offset);
            }
            sink.write(buffer, n);
            return true;
        });
}

// Serves body (or the file) announcing its whole length; after half of it, calls hold() once before the rest.
void serveHeld(httplib::Response& response, const std::string& body, const std::filesystem::path& file,
               std::function<void()> hold) {
    const std::size_t length = file.empty() ? body.size() : std::filesystem::file_size(file);
    std::string bytes = body;
    if (!file.empty()) {
        std::ifstream source(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(source), {});
    }
    const std::string contentType = response.get_header_value("Content-Type");
    response.body.clear();
    auto held = std::make_shared<bool>(false);
    response.set_content_provider(
        length, contentType.empty() ? "application/octet-stream" : contentType,
        [bytes = std::move(bytes), hold = std::move(hold), held](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            const std::size_t half = bytes.size() / 2;
            if (offset >= half && !*held) {
                *held = true;
                hold();
            }
            const std::size_t end = offset < half ? half : bytes.size();
            return sink.write(bytes.data() + offset, end - offset);
        });
}

void serveFile(httplib::Response& response, const std::filesystem::path& file, const std::string& contentType) {
    auto source = std::make_shared<std::ifstream>(file, std::ios::binary);
    response.set_content_provider(std::filesystem::file_size(file), contentType,
                                  [source](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      char buffer[262144];
                                      source->seekg(static_cast<std::streamoff>(offset));
                                      source->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                                      return sink.write(buffer, static_cast<std::size_t>(source->gcount()));
                                  });
}

std::uint16_t portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

// Shuts down the server's end of the connection from the client port: the library hands handlers no socket,
// so it is found among the process's descriptors by its two ports.
void shutDownConnection(int serverPort, int clientPort) {
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 0; fd < limit && fd < 65536; ++fd) {
        sockaddr_storage local{}, peer{};
        socklen_t localSize = sizeof local, peerSize = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
            continue;
        if (portOf(local) == serverPort && portOf(peer) == clientPort) ::shutdown(fd, SHUT_RDWR);
    }
}

}  // namespace

FakeWayfoldServer::FakeWayfoldServer(ServerOptions options) : mOptions(std::move(options)) {
    const bool persistent = !mOptions.dataFolder.empty();
    if (!persistent) {
        mOptions.dataFolder = makeTemporaryFolder();
        mOwnsDataFolder = true;
    }
    mStore = std::make_unique<FakeStore>(mOptions.dataFolder, persistent);
    if (!mOptions.certificateFile.empty())
        mServer = std::make_unique<httplib::SSLServer>(mOptions.certificateFile.c_str(), mOptions.privateKeyFile.c_str());
    else
        mServer = std::make_unique<httplib::Server>();
    // A client keeps its connection for the whole session; the library's default closes it after 5 requests.
    mServer->set_keep_alive_max_count(1000000);
    // Headers and body go out in separate writes: without this, Nagle's algorithm and the client's delayed
    // acknowledgement hold every answer for 40 ms.
    mServer->set_tcp_nodelay(true);
    installRoutes();
}

FakeWayfoldServer::~FakeWayfoldServer() {
    stop();
    if (mOwnsDataFolder) {
        std::error_code ignored;
        std::filesystem::remove_all(mOptions.dataFolder, ignored);
    }
}

void FakeWayfoldServer::installRoutes() {
    auto plain = [this](const httplib::Request& request, httplib::Response& response) {
        handle(request, response, nullptr);
    };
    auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) { handle(request, response, &reader); };
    mServer->Get(".*", plain);
    mServer->Delete(".*", plain);
    mServer->Post(".*", withBody);
    mServer->Put(".*", withBody);
}

void FakeWayfoldServer::start(const std::string& host, int port) {
    mHost = host;
    mPort = port == 0 ? mServer->bind_to_any_port(host) : (mServer->bind_to_port(host, port) ? port : -1);
    if (mPort <= 0) throw std::runtime_error("Cannot bind the fake server to " + host);
    mThread = std::thread([this] { mServer->listen_after_bind(); });
    // stop() does nothing to a server whose accept loop has not started yet, and the join would then wait
    // for ever: return only once the loop runs.
    while (!mServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void FakeWayfoldServer::run(const std::string& host, int port) {
    mHost = host;
    mPort = port;
    if (!mServer->bind_to_port(host, port)) throw std::runtime_error("Cannot bind to " + host + ":" + std::to_string(port));
    mServer->listen_after_bind();
}

void FakeWayfoldServer::stop() {
    {
        std::lock_guard lock(mMutex);
        mStopping = true;
        ++mStallGeneration;
    }
    mStallChanged.notify_all();
    mServer->stop();
    if (mThread.joinable()) mThread.join();
}

std::string FakeWayfoldServer::baseUrl() const {
    return std::string(mOptions.certificateFile.empty() ? "http://" : "https://") + mHost + ":" +
           std::to_string(mPort);
}

void FakeWayfoldServer::handle(const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader* reader) {
    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.target = request.target;
    for (const auto& [name, value] : request.headers) record.headers.emplace(name, value);

    std::filesystem::path upload;
    bool bodyComplete = true;
    if (reader && request.is_multipart_form_data()) {
        upload = mOptions.dataFolder / ("upload-" + newId());
        std::ofstream out;
        std::string part;
        bodyComplete = (*reader)(
            [&](const httplib::MultipartFormData& header) {
                part = header.name;
                if (part == "file") {
                    record.uploadedFileName = header.filename;
                    record.uploadedContentType = header.content_type;
                    out.open(upload, std::ios::binary);
                }
                return true;
            },
            [&](const char* data, std::size_t length) {
                if (part == "file") {
                    out.write(data, static_cast<std::streamsize>(length));
                    record.uploadedBytes += length;
                }
                return true;
            });
        if (!out.is_open()) upload.clear();  // no "file" part arrived
    } else if (reader) {
        bodyComplete = (*reader)([&](const char* data, std::size_t length) {
            record.body.append(data, length);
            return true;
        });
    }
    {
        std::lock_guard lock(mMutex);
        record.reusedConnection = !mClientPorts.insert(request.remote_port).second;
        record.serial = mNextSerial++;
        mRequests.push_back(record);
        if (mOptions.requestLogLimit != 0 && mRequests.size() > mOptions.requestLogLimit) mRequests.pop_front();
    }
    // Notes the status the answer goes out with, when the request is still in the log.
    struct StatusNote {
        FakeWayfoldServer& server;
        std::uint64_t serial;
        const httplib::Response& response;
        ~StatusNote() {
            std::lock_guard lock(server.mMutex);
            for (auto logged = server.mRequests.rbegin(); logged != server.mRequests.rend(); ++logged)
                if (logged->serial == serial) {
                    logged->status = response.status;
                    break;
                }
        }
    } statusNote{*this, record.serial, response};

    // A body cut short (the client went away mid-request) is never acted on, as a real server would not.
    if (!bodyComplete) {
        std::error_code ignored;
        if (!upload.empty()) std::filesystem::remove(upload, ignored);
        response.status = 400;
        return;
    }

    if (request.path == "/upgrade/info" || request.path == "/upgrade/installer") {
        serveUpgrade(request.path, takeFault(request.method, request.path, record.reusedConnection), response);
        return;
    }
    if (request.path.rfind("/rest/", 0) != 0) {
        response.status = 404;
        return;
    }

    const auto rule = takeFault(request.method, request.path, record.reusedConnection);
    if (rule && rule->kind == FaultKind::Stall) holdStall();
    if (rule && rule->kind == FaultKind::CloseConnection) {
        std::error_code ignored;
        if (!upload.empty()) std::filesystem::remove(upload, ignored);
        shutDownConnection(mPort, request.remote_port);
        return;
    }

    RestAnswer answer;
    const auto credentials = request.get_header_value("Authorization");
    std::optional<std::string> userId;
    if (credentials.rfind("Basic ", 0) != 0) {
        addViolation(request.method + " " + request.path + ": no Basic authentication");
    } else if (const auto decoded = decodeBase64(credentials.substr(6))) {
        const auto colon = decoded->find(':');
        if (colon != std::string::npos) userId = mStore->authenticate(decoded->substr(0, colon), decoded->substr(colon + 1));
    }
    const auto csrfCookie = cookieValue(request.get_header_value("Cookie"), "CSRFToken");
    bool csrfIssued;
    {
        std::lock_guard lock(mMutex);
        csrfIssued = mCsrfTokens.count(csrfCookie) != 0;
    }

    if (rule && rule->kind == FaultKind::Status) {
        answer = RestAnswer{rule->status, rule->body, rule->contentType, {}};
    } else if (!userId) {
        answer = RestAnswer{401, "", "text/plain", {}};
        response.set_header("WWW-Authenticate", "Basic realm=\"Wayfold\"");
    } else if (request.method != "GET" && csrfIssued && request.get_header_value("CSRFToken") != csrfCookie) {
        addViolation(request.method + " " + request.path + ": CSRFToken header does not match the cookie");
        answer = RestAnswer{403, R"({"key":"permission.denied","message":"Bad CSRF token."})", "application/json", {}};
    } else {
        RestCall call{request.method, request.path, {}, request.get_header_value("Accept"),
                      request.get_header_value("Content-Type"), record.body, *userId, upload};
        for (const auto& [key, value] : request.params) call.query.emplace(key, value);
        std::vector<std::string> found;
        answer = mStore->handle(call, found);
        for (auto& violation : found) addViolation(std::move(violation));
    }
    if (!upload.empty()) {
        std::error_code ignored;
        std::filesystem::remove(upload, ignored);
    }

    response.status = answer.status;
    if (rule && rule->kind == FaultKind::AnswerLost) {
        shutDownConnection(mPort, request.remote_port);
        return;
    }
    if (!answer.file.empty())
        serveFile(response, answer.file, answer.contentType);
    else if (!answer.body.empty())
        response.set_content(answer.body, answer.contentType);
    response.set_header("Service", serviceValue);
    if (!csrfIssued) {
        const auto token = newId();
        {
            std::lock_guard lock(mMutex);
            mCsrfTokens.insert(token);
        }
        response.set_header("Set-Cookie", "CSRFToken=" + token + "; Path=/");
    }
    if (rule) {
        if (rule->kind == FaultKind::HoldMidBody) {
            serveHeld(response, answer.body, answer.file, [this] { holdStall(); });
        } else if (rule->kind == FaultKind::ShortBody || rule->kind == FaultKind::DropConnection) {
            const std::size_t length = answer.file.empty() ? answer.body.size() : std::filesystem::file_size(answer.file);
            serveCut(response, answer.body, answer.file, rule->kind == FaultKind::ShortBody ? length / 2 : 0);
        } else {
            applyResponseFault(*rule, response);
        }
        if (rule->dropServiceHeader) response.headers.erase("Service");
    }
}

// The upgrade routes take the same faults as the REST routes; a Status fault may carry a Location (a redirect).
void FakeWayfoldServer::serveUpgrade(const std::string& path, const std::optional<FaultRule>& rule,
                                     httplib::Response& response) {
    if (rule && rule->kind == FaultKind::Stall) holdStall();
    if (rule && rule->kind == FaultKind::Status) {
        response.status = rule->status;
        if (!rule->location.empty()) response.set_header("Location", rule->location);
        response.set_content(rule->body, rule->contentType);
        return;
    }
    const bool info = path == "/upgrade/info";
    const std::string body = info ? mStore->upgradeInfo(baseUrl()) : mStore->installer();
    response.status = 200;
    response.set_content(body, info ? "application/json" : "application/octet-stream");
    if (rule && (rule->kind == FaultKind::ShortBody || rule->kind == FaultKind::DropConnection))
        serveCut(response, body, {}, rule->kind == FaultKind::ShortBody ? body.size() / 2 : 0);
    else if (rule)
        applyResponseFault(*rule, response);
}

void FakeWayfoldServer::applyResponseFault(const FaultRule& rule, httplib::Response& response) {
    switch (rule.kind) {
        case FaultKind::OmitServiceHeader:
            response.headers.erase("Service");
            break;
        case FaultKind::AlterServiceHeader:
            response.headers.erase("Service");
            response.set_header("Service", "wayfold web services");
            break;
        case FaultKind::LowerCaseHeaderNames:
            for (const char* name : {"Service", "Set-Cookie"}) {
                if (!response.has_header(name)) continue;
                const std::string value = response.get_header_value(name);
                response.headers.erase(name);
                std::string lower = name;
                for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                response.headers.emplace(lower, value);
            }
            break;
        case FaultKind::Body:
            if (rule.status != 0) response.status = rule.status;
            response.set_content(rule.body, rule.contentType);
            break;
        default:
            break;
    }
}

std::optional<FaultRule> FakeWayfoldServer::takeFault(const std::string& method, const std::string& path,
                                                     bool reusedConnection) {
    std::lock_guard lock(mMutex);
    for (auto& rule : mFaults) {
        if (rule.times == 0 || (!rule.method.empty() && rule.method != method) ||
            (rule.kind == FaultKind::AnswerLost && !reusedConnection) ||
            !std::regex_match(path, std::regex(rule.pathPattern)))
            continue;
        if (rule.times > 0) --rule.times;
        return rule;
    }
    return std::nullopt;
}

void FakeWayfoldServer::holdStall() {
    std::unique_lock lock(mMutex);
    const auto generation = mStallGeneration;
    ++mStalled;
    mStallChanged.notify_all();
    mStallChanged.wait(lock, [&] { return mStallGeneration != generation; });
    --mStalled;
}

bool FakeWayfoldServer::waitForStalled(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mMutex);
    return mStallChanged.wait_for(lock, timeout, [&] { return mStalled >= count; });
}

void FakeWayfoldServer::releaseStalls() {
    {
        std::lock_guard lock(mMutex);
        ++mStallGeneration;
    }
    mStallChanged.notify_all();
}

void FakeWayfoldServer::addFault(const FaultRule& rule) {
    std::lock_guard lock(mMutex);
    mFaults.push_back(rule);
}

void FakeWayfoldServer::clearFaults() {
    std::lock_guard lock(mMutex);
    mFaults.clear();
}

std::size_t FakeWayfoldServer::faultsPending() const {
    std::lock_guard lock(mMutex);
    return std::count_if(mFaults.begin(), mFaults.end(), [](const FaultRule& rule) { return rule.times != 0; });
}

std::vector<RecordedRequest> FakeWayfoldServer::requests() const {
    std::lock_guard lock(mMutex);
    return {mRequests.begin(), mRequests.end()};
}

std::vector<RecordedRequest> FakeWayfoldServer::requests(const std::string& pathPrefix) const {
    std::vector<RecordedRequest> selected;
    for (auto& request : requests())
        if (request.path.rfind(pathPrefix, 0) == 0) selected.push_back(std::move(request));
    return selected;
}

std::size_t FakeWayfoldServer::countRequests(const std::function<bool(const RecordedRequest&)>& match) const {
    std::lock_guard lock(mMutex);
    std::size_t count = 0;
    for (const auto& request : mRequests) count += match(request);
    return count;
}

void FakeWayfoldServer::clearRequests() {
    std::lock_guard lock(mMutex);
    mRequests.clear();
}

std::vector<std::string> FakeWayfoldServer::violations() const {
    std::lock_guard lock(mMutex);
    return mViolations;
}

void FakeWayfoldServer::clearViolations() {
    std::lock_guard lock(mMutex);
    mViolations.clear();
}

void FakeWayfoldServer::addViolation(std::string text) {
    std::lock_guard lock(mMutex);
    mViolations.push_back(std::move(text));
}

std::string FakeWayfoldServer::addUser(const std::string& email, const std::string& password) {
    return mStore->addUser(email, password);
}

std::string FakeWayfoldServer::userId(const std::string& email) const {
    const auto id = mStore->userIdOf(email);
    if (!id) throw std::invalid_argument("No such user: " + email);
    return formatId(*id);
}

std::string FakeWayfoldServer::addParticipant(const std::string& shareId, const std::string& email) {
    return mStore->addParticipant(shareId, email);
}

void FakeWayfoldServer::accept(const std::string& shareId, const std::string& email) { mStore->accept(shareId, email); }

IdPairText FakeWayfoldServer::createShare(const std::string& ownerEmail, const std::string& name) {
    return mStore->createShare(ownerEmail, name);
}

std::optional<AssetView> FakeWayfoldServer::asset(const std::string& assetId) const { return mStore->asset(assetId); }

std::vector<AssetView> FakeWayfoldServer::children(const std::string& folderId) const {
    return mStore->children(folderId);
}

std::optional<std::string> FakeWayfoldServer::content(const std::string& assetId, std::uint64_t version) const {
    return mStore->content(assetId, version);
}

std::uint64_t FakeWayfoldServer::putContent(const std::string& assetId, const std::string& bytes) {
    return mStore->putContent(assetId, bytes);
}

std::string FakeWayfoldServer::createAsset(const std::string& shareId, const std::string& parentId, bool folder,
                                           const std::string& name, const std::string& extension) {
    return mStore->createAsset(shareId, parentId, folder, name, extension);
}

std::vector<std::string> FakeWayfoldServer::devices(const std::string& email) const { return mStore->devices(email); }

void FakeWayfoldServer::setSetting(const std::string& key, const std::string& jsonValue) {
    mStore->setSetting(key, nlohmann::json::parse(jsonValue));
}

void FakeWayfoldServer::setUpgrade(std::vector<std::uint32_t> version, std::string installer) {
    mStore->setUpgrade(std::move(version), std::move(installer));
}

}  // namespace fake
