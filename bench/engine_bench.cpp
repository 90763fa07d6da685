// The synchronisation engine end to end against the fake server on loopback:
// - the first synchronisation of 10,000 and 100,000 documents of 1 KB, 100 a folder, into an empty folder,
// - the upload of 10,000 documents from a full folder into an empty account,
// - the throughput of server messages (document renames applied to the folder).
// Each figure comes with a baseline of the same run, the floor of the same work without the engine: the same
// requests made directly through the REST client, each document read from or written to its own file, a
// download synced, renamed into place and its folder synced. Compare engine/baseline, not absolute times.
// `engine_over_one_file` keeps the former download baseline (every body into one file) for comparison;
// `engine_over_recorded` compares with the floor plus the records the engine keeps in its tree database.

#include "support/FakeWayfoldServer.h"
#include "sync/EngineHarness.h"
#include "sync/Serializer.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace
{
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kDocumentsPerFolder = 100;
constexpr int kUploadFolders = 100;
constexpr int kUploadDocuments = kUploadFolders * kDocumentsPerFolder;
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

int gRuns = 0;

// A name of its own for every run of a case, so that repetitions start from a new account and folder.
std::string runName(const std::string& kind)
{
    return kind + "-" + std::to_string(++gRuns);
}

// Whichever of the engine and its baseline runs first meets the file system as earlier runs left it (inodes
// freed moments before cost more to hand out again, and written-back data competes with syncs): the order
// alternates from run to run, and the median over repetitions is the figure.
bool engineGoesFirst()
{
    return gRuns % 2 == 0;
}

template <class Engine, class Baseline>
void inAlternatingOrder(benchmark::State& state, Engine&& engine, Baseline&& baseline)
{
    state.counters["engine_first"] = engineGoesFirst() ? 1 : 0;
    if (engineGoesFirst())
    {
        engine();
        baseline();
    }
    else
    {
        baseline();
        engine();
    }
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

std::wstring wide(const fs::path& path)
{
    return compat::fileNameToUtf16(path.string());
}

// A descriptor of a folder, for syncing the folder's entries.
struct FolderDescriptor
{
    explicit FolderDescriptor(const fs::path& path)
        : fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd < 0)
            throw std::runtime_error("cannot open " + path.string());
    }
    ~FolderDescriptor() { ::close(fd); }
    int fd;
};

// The records the engine keeps of the same work, for a floor that includes them: the tree database written
// as the engine writes it for each download (the intent before the document is put in place, then its record
// and the end of the intent in one transaction).
class Records
{
public:
    explicit Records(const fs::path& file) : mRoot(std::make_unique<dwl::Tree::Directory>(0, L"/"))
    {
        mDatabase.open(wide(file));
        mDatabase.saveTree(*mRoot);
    }

    dwl::Tree::Directory& addFolder(const dwl::IdPair& folder)
    {
        const std::uint64_t localId = ++mLocalIds;
        auto directory = std::make_unique<dwl::Tree::Directory>(localId, L"f" + std::to_wstring(localId));
        directory->setShareId(folder.first);
        directory->setAssetId(folder.second);
        return mRoot->addChild(std::move(directory));
    }
    dwl::CreationIntent beforePlacing(const dwl::Tree::Directory& folder, const dwl::IdPair& document,
                                      const std::wstring& name)
    {
        const dwl::CreationIntent intent{document.first, folder.assetId(), name, false, document.second};
        mDatabase.add(intent);
        return intent;
    }
    void afterPlacing(dwl::Tree::Directory& folder, const dwl::CreationIntent& intent)
    {
        mDatabase.endWhenRecorded(intent,
                                  [&]
                                  {
                                      auto file = std::make_unique<dwl::Tree::File>(++mLocalIds, intent.name,
                                                                                    kContent.size(), 1);
                                      file->setShareId(intent.shareId);
                                      file->setAssetId(intent.assetId);
                                      folder.addChild(std::move(file));
                                  });
    }

private:
    std::unique_ptr<dwl::Tree::Directory> mRoot;
    dwl::Serializer mDatabase;
    std::uint64_t mLocalIds = 0;
};

// The floor of one download: a file of its own beside the target, the body, a data sync, the rename into
// place and a sync of the folder; with `records`, also the engine's records of it.
void downloadDurably(dwl::WayfoldApi& api, const dwl::IdPair& document, const fs::path& folder, int folderFd,
                     const std::string& name, Records* records, dwl::Tree::Directory* recorded)
{
    const fs::path download = folder / (".download-" + name);
    {
        qcl::Handle file =
            qcl::file::open(wide(download), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
        api.downloadContent(document, file.get());
        qcl::File::flush(file.get());
    }
    std::optional<dwl::CreationIntent> intent;
    if (records)
        intent = records->beforePlacing(*recorded, document, qcl::string::utf8ToUtf16(name));
    if (::renameat2(AT_FDCWD, download.c_str(), AT_FDCWD, (folder / name).c_str(), RENAME_NOREPLACE) != 0 ||
        ::fsync(folderFd) != 0)
        throw std::runtime_error("cannot put " + name + " in place");
    if (records)
        records->afterPlacing(*recorded, *intent);
}

// The first synchronisation's requests straight through the REST client: the Share list, the children of
// every folder, and every document downloaded durably into a folder made for it.
void downloadSharesDurably(dwl::WayfoldApi& api, const fs::path& target, Records* records = nullptr)
{
    for (const auto& share : api.getShares())
    {
        const fs::path shareFolder = target / qcl::string::utf16ToUtf8(share.name);
        fs::create_directory(shareFolder);
        std::vector<std::pair<dwl::IdPair, fs::path>> folders{{{share.shareId, share.rootId}, shareFolder}};
        while (!folders.empty())
        {
            const auto [folder, path] = folders.back();
            folders.pop_back();
            const FolderDescriptor folderFd(path);
            dwl::Tree::Directory* recorded = records ? &records->addFolder(folder) : nullptr;
            for (const auto& child : api.getChildren(folder))
            {
                const std::string name = qcl::string::utf16ToUtf8(child.name);
                if (child.type == dwl::IWayfoldApi::Asset::Folder)
                {
                    fs::create_directory(path / name);
                    folders.push_back({{child.shareId, child.assetId}, path / name});
                }
                else
                {
                    downloadDurably(api, {child.shareId, child.assetId}, path, folderFd.fd, name, records,
                                    recorded);
                }
            }
        }
    }
}

void BM_FirstSynchronisation(benchmark::State& state)
{
    Bench& b = bench();
    const int documentCount = static_cast<int>(state.range(0));
    const std::string email = runName("down-" + std::to_string(documentCount)) + "@example.com";
    b.server.addUser(email, kPassword);
    dwl::WayfoldApi api;
    b.signIn(api, email);
    const dwl::IdPair share = api.createShare(L"Bench", true);
    std::vector<dwl::IdPair> documents;
    for (int f = 0; f < documentCount / kDocumentsPerFolder; ++f)
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
        const fs::path run = b.folder / email;
        fs::remove_all(run);
        fs::create_directories(run / "baseline");

        double oneFileSeconds = 0;
        double baseline = 0;
        double recordedBaseline = 0;
        double total = 0;
        std::size_t requests = 0;
        const auto runBaselines = [&]
        {
            // The former baseline: the same downloads into one file, nothing made durable.
            const fs::path oneFile = run / "baseline.bin";
            const auto oneFileStart = Clock::now();
            for (const auto& document : documents)
            {
                qcl::Handle file = qcl::file::open(wide(oneFile), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                   FILE_ATTRIBUTE_NORMAL);
                api.downloadContent(document, file.get());
            }
            oneFileSeconds = seconds(Clock::now() - oneFileStart);

            const auto baselineStart = Clock::now();
            downloadSharesDurably(api, run / "baseline");
            baseline = seconds(Clock::now() - baselineStart);

            fs::create_directories(run / "recorded");
            const auto recordedStart = Clock::now();
            {
                Records records(run / "records.db");
                downloadSharesDurably(api, run / "recorded", &records);
            }
            recordedBaseline = seconds(Clock::now() - recordedStart);
        };
        const auto runEngine = [&]
        {
            const fs::path local = run / "engine";
            fs::create_directories(local / "Wayfold");
            dwl::WayfoldApi engineApi;
            b.signIn(engineApi, email);
            b.server.clearRequests();
            const auto start = Clock::now();
            enginetest::Engine engine(engineApi, local / "Wayfold", local / "Data", settings());
            engine.start();
            enginetest::waitUntil([&]
                                  { return engine.reports.count("onDocumentDownloaded") == documents.size(); },
                                  std::chrono::hours(1), std::chrono::milliseconds(2));
            total = seconds(Clock::now() - start);
            requests = b.restRequests();
            engine.stop();
        };
        inAlternatingOrder(state, runEngine, runBaselines);
        reportCounters(state, total, baseline, requests, documents.size());
        state.counters["engine_over_one_file"] = total / oneFileSeconds;
        state.counters["engine_over_recorded"] = total / recordedBaseline;
    }
}
BENCHMARK(BM_FirstSynchronisation)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// The upload's requests straight through the REST client: a Share for the folder, a folder for every
// folder, and every document created and its content sent from its own file.
void uploadFolderDirectly(dwl::WayfoldApi& api, const fs::path& shareFolder, const std::wstring& shareName)
{
    const dwl::IdPair share = api.createShare(shareName, true);
    std::vector<std::pair<qcl::uint128, fs::path>> folders{{share.second, shareFolder}};
    while (!folders.empty())
    {
        const auto [folderId, path] = folders.back();
        folders.pop_back();
        for (const auto& entry : fs::directory_iterator(path))
        {
            const std::wstring name = wide(entry.path().filename());
            if (entry.is_directory())
            {
                folders.push_back({api.createFolder(name, {share.first, folderId}), entry.path()});
                continue;
            }
            qcl::Handle file = qcl::file::open(wide(entry.path()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
            const qcl::uint128 id = api.createDocument(name, {share.first, folderId});
            api.uploadContent({share.first, id}, file.get());
        }
    }
}

void BM_UploadIntoAnEmptyAccount(benchmark::State& state)
{
    Bench& b = bench();
    const std::string name = runName("up");
    const std::string email = name + "@example.com";
    b.server.addUser(email, kPassword);
    const fs::path local = b.folder / name;
    for (int f = 0; f < kUploadFolders; ++f)
    {
        fs::create_directories(local / "Wayfold/Bench" / ("folder " + std::to_string(f)));
        for (int d = 0; d < kDocumentsPerFolder; ++d)
            std::ofstream(local / "Wayfold/Bench" / ("folder " + std::to_string(f)) /
                          ("doc " + std::to_string(d) + ".txt"))
                << kContent;
    }

    for (auto _ : state)
    {
        double baseline = 0;
        double total = 0;
        std::size_t requests = 0;
        const auto runBaseline = [&]
        {
            dwl::WayfoldApi api;
            b.signIn(api, "baseline-" + email);
            b.server.addUser("baseline-" + email, kPassword);
            const auto baselineStart = Clock::now();
            uploadFolderDirectly(api, local / "Wayfold/Bench", L"Baseline");
            baseline = seconds(Clock::now() - baselineStart);
        };
        const auto runEngine = [&]
        {
            dwl::WayfoldApi engineApi;
            b.signIn(engineApi, email);
            b.server.clearRequests();
            const auto isUpload = [](const fake::RecordedRequest& request)
            { return request.method == "POST" && request.path.ends_with("/contents"); };
            const auto start = Clock::now();
            enginetest::Engine engine(engineApi, local / "Wayfold", local / "Data", settings());
            engine.start();
            // Counting walks the server's request log under its lock: polled seldom, so that the server is
            // not held up (the figure is late by at most a tenth of a second in tens of seconds).
            enginetest::waitUntil([&] { return b.server.countRequests(isUpload) >= kUploadDocuments; },
                                  std::chrono::hours(1), std::chrono::milliseconds(100));
            total = seconds(Clock::now() - start);
            requests = b.restRequests();
            engine.stop();
        };
        inAlternatingOrder(state, runEngine, runBaseline);
        reportCounters(state, total, baseline, requests, kUploadDocuments);
    }
}
BENCHMARK(BM_UploadIntoAnEmptyAccount)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ServerMessages(benchmark::State& state)
{
    Bench& b = bench();
    const std::string email = runName("messages") + "@example.com";
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
        const fs::path local = b.folder / email;
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
