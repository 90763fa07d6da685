// The REST client against plain libcurl doing the same requests, both against the fake server on loopback:
// getServerMessage and a small JSON POST (a rename, whose body the client sends at most once; plain libcurl
// gives it as POSTFIELDS) per second, and upload and download throughput of a 100 MB document.
//
// Compare each WayfoldApi figure with its PlainCurl twin of the same run. The client's transfers also read the
// speed setting (and, for uploads, the asset) first, as they always do; the baseline makes the transfer alone.

#include "api/WayfoldApi.h"
#include "qcl/File.h"
#include "support/FakeWayfoldServer.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
constexpr std::size_t kDocumentSize = 100 * 1000 * 1000;
const std::string kEmail = "bench@example.com";
const std::string kPassword = "bench";

// One fake server with a user, a registered Device, a Share and a 100 MB document, for the whole run.
struct Fixture
{
    Fixture()
    {
        server.start();
        server.addUser(kEmail, kPassword);
        api.setServerUrl(server.baseUrl() + "/rest");
        api.setCredentials(qcl::string::utf8ToUtf16(kEmail), qcl::string::utf8ToUtf16(kPassword));
        api.setCheckForGenuineServer(true);
        api.setDeviceId(api.registerDevice());
        share = api.createShare(L"Bench", true);
        document = {share.first, api.createDocument(L"big.bin", share)};
        folder = std::filesystem::temp_directory_path() / ("wayfold-http-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        source = folder / "source.bin";
        target = folder / "target.bin";
        std::ofstream(source, std::ios::binary) << std::string(kDocumentSize, 'w');
        std::ofstream(target, std::ios::binary).flush();
        server.putContent(document.second.str(), std::string(kDocumentSize, 'r'));
    }
    ~Fixture()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string url(const std::string& path) const { return server.baseUrl() + "/rest" + path; }
    std::string messagesUrl() { return url("/users/" + api.getUserId().str() + "/devices/" + server.devices(kEmail)[0] + "/messages?length=1&startId=0"); }
    std::string assetPath() const { return "/shares/" + document.first.str() + "/assets/" + document.second.str(); }

    fake::FakeWayfoldServer server;
    dwl::WayfoldApi api;
    dwl::IdPair share;
    dwl::IdPair document;
    std::filesystem::path folder;
    std::filesystem::path source;
    std::filesystem::path target;
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

qcl::Handle openFile(const std::filesystem::path& path)
{
    return qcl::file::open(qcl::string::utf8ToUtf16(path.string()), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

// A plain libcurl handle doing what the client does: credentials, cookies, the same headers, and the CSRF token
// sent back as a header once the server has set it.
class PlainCurl
{
public:
    PlainCurl() : mCurl(curl_easy_init())
    {
        curl_easy_setopt(mCurl, CURLOPT_USERNAME, kEmail.c_str());
        curl_easy_setopt(mCurl, CURLOPT_PASSWORD, kPassword.c_str());
        curl_easy_setopt(mCurl, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(mCurl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(mCurl, CURLOPT_HEADERFUNCTION, &PlainCurl::onHeader);
        curl_easy_setopt(mCurl, CURLOPT_HEADERDATA, this);
    }
    ~PlainCurl()
    {
        curl_slist_free_all(mList);
        curl_easy_cleanup(mCurl);
    }
    void header(const std::string& line) { mHeaders.push_back(line); }
    CURL* handle() { return mCurl; }
    void perform()
    {
        curl_slist_free_all(mList);
        mList = nullptr;
        for (const auto& line : mHeaders)
            mList = curl_slist_append(mList, line.c_str());
        if (!mToken.empty())
            mList = curl_slist_append(mList, ("CSRFToken: " + mToken).c_str());
        curl_easy_setopt(mCurl, CURLOPT_HTTPHEADER, mList);
        if (curl_easy_perform(mCurl) != CURLE_OK)
            throw std::runtime_error("curl failed");
        long status = 0;
        curl_easy_getinfo(mCurl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400)
            throw std::runtime_error("HTTP error " + std::to_string(status));
    }

private:
    static size_t onHeader(char* line, size_t size, size_t count, void* self)
    {
        const std::string text(line, size * count);
        const std::string prefix = "Set-Cookie: CSRFToken=";
        if (text.rfind(prefix, 0) == 0)
            static_cast<PlainCurl*>(self)->mToken = text.substr(prefix.size(), text.find(';') - prefix.size());
        return size * count;
    }

    CURL* mCurl;
    std::vector<std::string> mHeaders;
    curl_slist* mList = nullptr;
    std::string mToken;
};

size_t appendToString(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t writeToFd(char* data, size_t size, size_t count, void* fd)
{
    const size_t n = size * count;
    return ::write(*static_cast<int*>(fd), data, n) == static_cast<ssize_t>(n) ? n : 0;
}

void WayfoldApi_GetServerMessage(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(f.api.getServerMessage(0));
    state.SetItemsProcessed(state.iterations());
}

void PlainCurl_GetServerMessage(benchmark::State& state)
{
    auto& f = fixture();
    PlainCurl curl;
    const std::string url = f.messagesUrl();
    curl.header("Accept: application/vnd.quillmere.wayfold-v3+json");
    curl.header("Accept-Charset: utf-8");
    std::string body;
    curl_easy_setopt(curl.handle(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEFUNCTION, &appendToString);
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEDATA, &body);
    for (auto _ : state)
    {
        body.clear();
        curl.perform();
    }
    state.SetItemsProcessed(state.iterations());
}

void WayfoldApi_RenameDocument(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state)
        f.api.renameDocument(f.document, L"big.bin");
    state.SetItemsProcessed(state.iterations());
}

void PlainCurl_RenameDocument(benchmark::State& state)
{
    auto& f = fixture();
    PlainCurl curl;
    const std::string url = f.url(f.assetPath());
    const std::string body = R"({"name":"big","extension":"bin"})";
    curl.header("Content-Type: application/vnd.quillmere.wayfold-v2+json");
    curl.header("Accept: application/vnd.quillmere.wayfold-v2+json");
    curl.header("Accept-Charset: utf-8");
    std::string answer;
    curl_easy_setopt(curl.handle(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.handle(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl.handle(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEFUNCTION, &appendToString);
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEDATA, &answer);
    for (auto _ : state)
    {
        answer.clear();
        curl.perform();
    }
    state.SetItemsProcessed(state.iterations());
}

void WayfoldApi_Download100MB(benchmark::State& state)
{
    auto& f = fixture();
    const qcl::Handle file = openFile(f.target);
    for (auto _ : state)
        f.api.downloadContent(f.document, file.get());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDocumentSize));
}

void PlainCurl_Download100MB(benchmark::State& state)
{
    auto& f = fixture();
    PlainCurl curl;
    const std::string url = f.url(f.assetPath() + "/contents/latest");
    int fd = ::open(f.target.c_str(), O_WRONLY | O_CLOEXEC);
    curl_easy_setopt(curl.handle(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEFUNCTION, &writeToFd);
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEDATA, &fd);
    for (auto _ : state)
    {
        ::lseek(fd, 0, SEEK_SET);
        curl.perform();
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDocumentSize));
}

void WayfoldApi_Upload100MB(benchmark::State& state)
{
    auto& f = fixture();
    const qcl::Handle file = openFile(f.source);
    for (auto _ : state)
        f.api.uploadContent(f.document, file.get());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDocumentSize));
}

void PlainCurl_Upload100MB(benchmark::State& state)
{
    auto& f = fixture();
    PlainCurl curl;
    const std::string url = f.url(f.assetPath() + "/contents");
    curl.header("Accept: */*");
    curl.header("Accept-Charset: utf-8");
    std::string answer;
    curl_easy_setopt(curl.handle(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEFUNCTION, &appendToString);
    curl_easy_setopt(curl.handle(), CURLOPT_WRITEDATA, &answer);
    for (auto _ : state)
    {
        curl_mime* form = curl_mime_init(curl.handle());
        curl_mimepart* part = curl_mime_addpart(form);
        curl_mime_name(part, "file");
        curl_mime_filedata(part, f.source.c_str());
        curl_mime_filename(part, "*");
        curl_mime_type(part, "application/octet-stream");
        curl_easy_setopt(curl.handle(), CURLOPT_MIMEPOST, form);
        curl.perform();
        curl_mime_free(form);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDocumentSize));
}

BENCHMARK(WayfoldApi_GetServerMessage)->MinTime(2.0)->UseRealTime();
BENCHMARK(PlainCurl_GetServerMessage)->MinTime(2.0)->UseRealTime();
BENCHMARK(WayfoldApi_RenameDocument)->MinTime(2.0)->UseRealTime();
BENCHMARK(PlainCurl_RenameDocument)->MinTime(2.0)->UseRealTime();
BENCHMARK(WayfoldApi_Download100MB)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainCurl_Download100MB)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WayfoldApi_Upload100MB)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainCurl_Upload100MB)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
