// The synchronisation engine end to end against the fake server on loopback:
// - the first synchronisation of 10,000 documents of 1 KB in 100 folders into an empty folder,
// - the upload of the same tree from a full folder into an empty account,
// - the throughput of server messages (document renames applied to the folder).
// Each figure comes with a baseline of the same run: the same transfers (or message reads) made directly
// through the REST client, without the engine; compare engine/baseline, not absolute times.

#include "support/FakeWayfoldServer.h"
#include "sync/EngineHarness.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace
{
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 100;
constexpr int kDocumentsPerFolder = 100;
constexpr int kDocuments = kFolders * kDocumentsPerFolder;
constexpr int kMessages = 1000;
const std::string kPassword = "bench";
const std::string kContent(1000, 'c');

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

struct Bench
{
    Bench()
    {
        server.start();
        folder = fs::temp_directory_path() / ("wayfold-engine-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("XDG_DATA_HOME", (folder / "data-home").c_str(), 1);
    }
    ~Bench()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    void signIn(dwl::WayfoldApi& api, const std::string& email)
    {
        api.setServerUrl(server.baseUrl() + "/rest");
        api.setCredentials(qcl::string::utf8ToUtf16(email), qcl::string::utf8ToUtf16(kPassword));
    }

    std::size_t restRequests() { return server.requests("/rest/").size(); }

    fake::FakeWayfoldServer server;
    fs::path folder;
};

Bench& bench()
{
    static Bench instance;
    return instance;
}

enginetest::EngineSettings settings()
{
    enginetest::EngineSettings settings;
    settings.pollingInterval = std::chrono::milliseconds(1000);
    settings.quietTime = std::chrono::milliseconds(200);
    return settings;
}

void reportCounters(benchmark::State& state, double engineSeconds, double baselineSeconds,
                    std::size_t requests, std::size_t items)
{
    state.SetIterationTime(engineSeconds);
    state.counters["total_s"] = engineSeconds;
    state.counters["items_per_s"] = items / engineSeconds;
    state.counters["requests_per_item"] = double(requests) / items;
    state.counters["baseline_s"] = baselineSeconds;
    state.counters["engine_over_baseline"] = engineSeconds / baselineSeconds;
}

void BM_FirstSynchronisation(benchmark::State& state)
{
    Bench& b = bench();
    const std::string email = "down@example.com";
    b.server.addUser(email, kPassword);
    dwl::WayfoldApi api;
    b.signIn(api, email);
    const dwl::IdPair share = api.createShare(L"Bench", true);
    std::vector<dwl::IdPair> documents;
    for (int f = 0; f < kFolders; ++f)
    {
        const qcl::uint128 folderId = api.createFolder(L"folder " + std::to_wstring(f), share);
        for (int d = 0; d < kDocumentsPerFolder; ++d)
        {
            const qcl::uint128 id =
                api.createDocument(L"doc " + std::to_wstring(d) + L".txt", {share.first, folderId});
            b.server.putContent(id.str(), kContent);
            documents.push_back({share.first, id});
        }
    }

    for (auto _ : state)
    {
        // Baseline: the same downloads straight through the REST client into one file.
        const fs::path target = b.folder / "baseline.bin";
        const auto baselineStart = Clock::now();
        for (const auto& document : documents)
        {
            qcl::Handle file = qcl::file::open(compat::fileNameToUtf16(target.string()), GENERIC_WRITE, 0,
                                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
            api.downloadContent(document, file.get());
        }
        const double baseline = seconds(Clock::now() - baselineStart);

        const fs::path local = b.folder / "down";
        fs::create_directories(local / "Wayfold");
        dwl::WayfoldApi engineApi;
        b.signIn(engineApi, email);
        b.server.clearRequests();
        const auto start = Clock::now();
        enginetest::Engine engine(engineApi, local / "Wayfold", local / "Data", settings());
        engine.start();
        enginetest::waitUntil([&] { return engine.reports.count("onDocumentDownloaded") == kDocuments; },
                              std::chrono::hours(1));
        const double total = seconds(Clock::now() - start);
        const std::size_t requests = b.restRequests();
        engine.stop();
        reportCounters(state, total, baseline, requests, kDocuments);
    }
}
BENCHMARK(BM_FirstSynchronisation)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_UploadIntoAnEmptyAccount(benchmark::State& state)
{
    Bench& b = bench();
    const std::string email = "up@example.com";
    b.server.addUser(email, kPassword);
    const fs::path local = b.folder / "up";
    for (int f = 0; f < kFolders; ++f)
    {
        fs::create_directories(local / "Wayfold/Bench" / ("folder " + std::to_string(f)));
        for (int d = 0; d < kDocumentsPerFolder; ++d)
            std::ofstream(local / "Wayfold/Bench" / ("folder " + std::to_string(f)) /
                          ("doc " + std::to_string(d) + ".txt"))
                << kContent;
    }

    for (auto _ : state)
    {
        // Baseline: creating and uploading the same documents straight through the REST client.
        dwl::WayfoldApi api;
        b.signIn(api, "baseline-" + email);
        b.server.addUser("baseline-" + email, kPassword);
        const fs::path source = local / "Wayfold/Bench/folder 0/doc 0.txt";
        const auto baselineStart = Clock::now();
        const dwl::IdPair share = api.createShare(L"Baseline", true);
        for (int f = 0; f < kFolders; ++f)
        {
            const qcl::uint128 folderId = api.createFolder(L"folder " + std::to_wstring(f), share);
            for (int d = 0; d < kDocumentsPerFolder; ++d)
            {
                const qcl::uint128 id =
                    api.createDocument(L"doc " + std::to_wstring(d) + L".txt", {share.first, folderId});
                qcl::Handle file =
                    qcl::file::open(compat::fileNameToUtf16(source.string()), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
                api.uploadContent({share.first, id}, file.get());
            }
        }
        const double baseline = seconds(Clock::now() - baselineStart);

        dwl::WayfoldApi engineApi;
        b.signIn(engineApi, email);
        b.server.clearRequests();
        const auto start = Clock::now();
        enginetest::Engine engine(engineApi, local / "Wayfold", local / "Data", settings());
        engine.start();
        enginetest::waitUntil(
            [&]
            {
                std::size_t uploads = 0;
                for (const auto& request : b.server.requests("/rest/shares/"))
                    uploads += request.method == "POST" && request.path.ends_with("/contents");
                return uploads >= kDocuments;
            },
            std::chrono::hours(1), std::chrono::milliseconds(250));
        const double total = seconds(Clock::now() - start);
        const std::size_t requests = b.restRequests();
        engine.stop();
        reportCounters(state, total, baseline, requests, kDocuments);
    }
}
BENCHMARK(BM_UploadIntoAnEmptyAccount)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ServerMessages(benchmark::State& state)
{
    Bench& b = bench();
    const std::string email = "messages@example.com";
    b.server.addUser(email, kPassword);
    dwl::WayfoldApi api;
    b.signIn(api, email);
    const dwl::IdPair share = api.createShare(L"Bench", true);
    std::vector<qcl::uint128> documents;
    for (int d = 0; d < kMessages; ++d)
    {
        documents.push_back(api.createDocument(L"doc " + std::to_wstring(d) + L".txt", share));
        b.server.putContent(documents.back().str(), kContent);
    }

    for (auto _ : state)
    {
        const fs::path local = b.folder / "messages";
        fs::create_directories(local / "Wayfold");
        dwl::WayfoldApi engineApi;
        b.signIn(engineApi, email);
        auto engine =
            std::make_unique<enginetest::Engine>(engineApi, local / "Wayfold", local / "Data", settings());
        engine->start();
        enginetest::waitUntil([&] { return engine->reports.count("onDocumentDownloaded") == kMessages; },
                              std::chrono::hours(1));
        const qcl::uint128 deviceId = engine->deviceId();
        engine.reset();
        const std::uint64_t first =
            enginetest::Engine(engineApi, local / "Wayfold", local / "Data", settings(), deviceId)
                .nextServerMessageNumber();
        // The engine reads one message at a time from its stored number; the baseline does the same.

        // Baseline: reading as many messages and asset properties straight through the REST client.
        dwl::WayfoldApi reader;
        b.signIn(reader, email);
        reader.setDeviceId(deviceId);
        const auto baselineStart = Clock::now();
        for (int m = 0; m < kMessages; ++m)
        {
            reader.getServerMessage(first);
            reader.getAssetProperties({share.first, documents[m]});
        }
        const double baseline = seconds(Clock::now() - baselineStart);

        // The renames wait for the engine, which then applies them one message at a time.
        for (int m = 0; m < kMessages; ++m)
            api.renameDocument({share.first, documents[m]}, L"renamed " + std::to_wstring(m) + L".txt");
        b.server.clearRequests();
        const auto start = Clock::now();
        engine = std::make_unique<enginetest::Engine>(engineApi, local / "Wayfold", local / "Data",
                                                      settings(), deviceId);
        engine->start();
        const fs::path shareFolder = local / "Wayfold/Bench";
        enginetest::waitUntil(
            [&]
            {
                int renamed = 0;
                for (const auto& entry : fs::directory_iterator(shareFolder))
                    renamed += entry.path().filename().string().starts_with("renamed ");
                return renamed == kMessages;
            },
            std::chrono::hours(1), std::chrono::milliseconds(50));
        const double total = seconds(Clock::now() - start);
        const std::size_t requests = b.restRequests();
        engine->stop();
        reportCounters(state, total, baseline, requests, kMessages);
    }
}
BENCHMARK(BM_ServerMessages)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
} // namespace

BENCHMARK_MAIN();
