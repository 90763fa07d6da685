// Costs of the folder tree: the delta of a snapshot, the database write of one change, loading the tree,
// and the memory a node takes. Each figure has a baseline in the same run (a plain walk of both trees, a
// change without database, a deep copy of the tree).
#include "sync/Serializer.h"
#include "sync/TreeDelta.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <unistd.h>

using dwl::Tree;

namespace
{
// Ten Shares; every directory holds up to 40 files and 8 subdirectories, filled breadth-first.
std::unique_ptr<Tree::Directory> buildTree(std::int64_t nodes)
{
    auto root = std::make_unique<Tree::Directory>(1, L"/home/user/Wayfold");
    std::uint64_t nextId = 2;
    std::deque<Tree::Directory*> pending;
    for (int s = 0; s < 10; ++s)
        pending.push_back(&root->addChild(std::make_unique<Tree::Directory>(nextId++, L"Share " + std::to_wstring(s))));
    while (static_cast<std::int64_t>(nextId) <= nodes && !pending.empty())
    {
        Tree::Directory* directory = pending.front();
        pending.pop_front();
        for (int f = 0; f < 40 && static_cast<std::int64_t>(nextId) <= nodes; ++f)
            directory->addChild(std::make_unique<Tree::File>(nextId++, L"document " + std::to_wstring(f) + L".docx",
                                                             1000 + f, 132000000000000000ull + f));
        for (int d = 0; d < 8 && static_cast<std::int64_t>(nextId) <= nodes; ++d)
            pending.push_back(&directory->addChild(
                std::make_unique<Tree::Directory>(nextId++, L"folder " + std::to_wstring(d))));
    }
    return root;
}

std::unique_ptr<Tree::Directory> copyOf(const Tree::Directory& root)
{
    return std::unique_ptr<Tree::Directory>(root.clone().release()->asDirectory());
}

struct NoCallbacks : dwl::TreeDeltaCallbacks
{
    void onShareRenamed(Tree::Directory*, Tree::Directory*) override {}
    Tree::Directory* onShareAdded(Tree::Directory*) override { return nullptr; }
    void onShareRemoved(Tree::Directory*) override {}
    void onNodeRenamed(Tree::Directory*, Tree::Node*, Tree::Node*) override {}
    void onNodeMoved(Tree::Directory*, Tree::Node*, Tree::Node*, Tree::Directory*) override {}
    Tree::Directory* onDirectoryAdded(Tree::Directory*, Tree::Directory*, Tree::Directory*) override { return nullptr; }
    void onFileAdded(Tree::Directory*, Tree::File*, Tree::Directory*) override { ++added; }
    void onFileModified(Tree::Directory*, Tree::File*, Tree::File*) override {}
    void onNodeRemoved(Tree::Directory*, Tree::Node*) override {}
    void onShareNotRestored(Tree::Directory*) override {}
    void onNodeNotRestored(Tree::Directory*, Tree::Node*) override {}
    std::size_t added = 0;
};

std::uint64_t sumSizes(const Tree::Node& node)
{
    if (const Tree::File* file = node.asFile())
        return file->size();
    std::uint64_t sum = 0;
    for (const Tree::Node& child : node.asDirectory()->children())
        sum += sumSizes(child);
    return sum;
}

void perNode(benchmark::State& state, std::int64_t nodes)
{
    state.SetItemsProcessed(state.iterations() * nodes);
}

// Baseline for the delta: a recursive walk over every node of both trees it compares, the synchronised
// tree and a snapshot copy of it.
void BM_Walk(benchmark::State& state)
{
    auto tree = buildTree(state.range(0));
    auto snapshot = copyOf(*tree);
    for (auto _ : state)
        benchmark::DoNotOptimize(sumSizes(*tree) + sumSizes(*snapshot));
    perNode(state, state.range(0));
}

// A snapshot equal to the synchronised tree: one index lookup and a few comparisons per node.
void BM_DeltaUnchanged(benchmark::State& state)
{
    auto tree = buildTree(state.range(0));
    for (auto _ : state)
    {
        state.PauseTiming();
        auto snapshot = copyOf(*tree);
        state.ResumeTiming();
        NoCallbacks callbacks;
        dwl::determineTreeDelta(callbacks, *tree, *snapshot);
        state.PauseTiming();
        snapshot.reset();
        state.ResumeTiming();
    }
    perNode(state, state.range(0));
}

// 10k new files in one directory of a 10k-node tree: each is looked up by name among its siblings.
void BM_DeltaTenThousandNewFiles(benchmark::State& state)
{
    auto tree = buildTree(10000);
    auto snapshot = copyOf(*tree);
    Tree::Directory& directory = *snapshot->children().front().asDirectory();
    for (std::uint64_t i = 0; i < 10000; ++i)
        directory.addChild(std::make_unique<Tree::File>(1000000 + i, L"new " + std::to_wstring(i), 1, 1));
    std::size_t added = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        auto copy = copyOf(*snapshot);
        state.ResumeTiming();
        NoCallbacks callbacks;
        dwl::determineTreeDelta(callbacks, *tree, *copy);
        added = callbacks.added;
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    state.counters["added"] = static_cast<double>(added);
    perNode(state, 20000);
}

struct ScratchDatabase
{
    std::string path = (std::filesystem::current_path() / ("tree_bench_" + std::to_string(::getpid()) + ".db")).string();
    ScratchDatabase() { removeFiles(); }
    ~ScratchDatabase() { removeFiles(); }
    std::wstring widePath() const { return qcl::string::utf8ToUtf16(path); }
    void removeFiles()
    {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            std::filesystem::remove(path + suffix);
    }
};

// Writes a built tree of `nodes` nodes to the database file.
void storeTree(const ScratchDatabase& database, std::int64_t nodes)
{
    dwl::Serializer serializer;
    serializer.open(database.widePath());
    auto tree = buildTree(nodes);
    serializer.saveTree(*tree);
}

// Baseline: the same change on a tree that no database listens to.
void BM_ChangeInMemory(benchmark::State& state)
{
    auto tree = buildTree(1000);
    Tree::File& file = *tree->children().front().asDirectory()->children().front().asFile();
    std::uint64_t size = 0;
    for (auto _ : state)
        file.setSize(++size);
}

// One change written at once by the serializer: one UPDATE in its own transaction.
void BM_WriteChange(benchmark::State& state)
{
    ScratchDatabase database;
    dwl::Serializer serializer;
    serializer.open(database.widePath());
    auto tree = buildTree(1000);
    serializer.saveTree(*tree);
    Tree::File& file = *tree->children().front().asDirectory()->children().front().asFile();
    std::uint64_t size = 0;
    for (auto _ : state)
        file.setSize(++size);
}

// A directory with ten files added by the serializer: eleven INSERTs in one savepoint.
void BM_WriteSubtree(benchmark::State& state)
{
    ScratchDatabase database;
    dwl::Serializer serializer;
    serializer.open(database.widePath());
    auto tree = buildTree(1000);
    serializer.saveTree(*tree);
    Tree::Directory& share = *tree->children().front().asDirectory();
    std::uint64_t nextId = 10000000;
    for (auto _ : state)
    {
        auto directory = std::make_unique<Tree::Directory>(nextId++, L"added");
        for (int i = 0; i < 10; ++i)
            directory->addChild(std::make_unique<Tree::File>(nextId++, L"file " + std::to_wstring(i), 1, 1));
        share.addChild(std::move(directory));
    }
}

// The same UPDATE through SQLite alone, in the default rollback-journal mode (argument 0) and in
// write-ahead-log mode with synchronous=NORMAL (argument 1): what chose the serializer's journal mode.
void BM_RawUpdate(benchmark::State& state)
{
    ScratchDatabase database;
    storeTree(database, 1000);
    sqlite3* db = nullptr;
    sqlite3_open(database.path.c_str(), &db);
    sqlite3_exec(db,
                 state.range(0) ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                                : "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db, "UPDATE Nodes SET FileSize = ?1 WHERE RecordId = 5", -1, &update, nullptr);
    std::int64_t size = 0;
    for (auto _ : state)
    {
        sqlite3_bind_int64(update, 1, ++size);
        if (sqlite3_step(update) != SQLITE_DONE)
            state.SkipWithError("UPDATE failed");
        sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    sqlite3_close(db);
}

// Baseline for loading: a deep copy of the same tree.
void BM_CopyTree(benchmark::State& state)
{
    auto tree = buildTree(state.range(0));
    for (auto _ : state)
    {
        auto copy = copyOf(*tree);
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    perNode(state, state.range(0));
}

void BM_LoadTree(benchmark::State& state)
{
    ScratchDatabase database;
    storeTree(database, state.range(0));
    dwl::Serializer serializer;
    serializer.open(database.widePath());
    for (auto _ : state)
    {
        auto tree = serializer.loadTree();
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    perNode(state, state.range(0));
}

// The floor of loading: one pass of SQLite alone over the same rows, reading every column the load reads,
// building nothing.
void BM_ScanRows(benchmark::State& state)
{
    ScratchDatabase database;
    storeTree(database, state.range(0));
    sqlite3* db = nullptr;
    sqlite3_open_v2(database.path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM Nodes ORDER BY RecordId", -1, &select, nullptr);
    for (auto _ : state)
    {
        std::int64_t sum = 0;
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        while (sqlite3_step(select) == SQLITE_ROW)
        {
            for (int column : {0, 1, 2, 5, 8, 9, 10, 11})
                sum += sqlite3_column_int64(select, column);
            for (int column : {3, 4, 7})
                sum +=
                    (sqlite3_column_blob(select, column) != nullptr) + sqlite3_column_bytes(select, column);
            sum += (sqlite3_column_text(select, 6) != nullptr) + sqlite3_column_bytes(select, 6);
        }
        sqlite3_reset(select);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(sum);
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    perNode(state, state.range(0));
}

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Heap bytes in use and resident-set growth per node of a built tree, with the local-id index of every
// Share, as the synchronised tree holds them from its first delta on.
void BM_MemoryPerNode(benchmark::State& state)
{
    const std::int64_t nodes = state.range(0);
    double heapPerNode = 0;
    double residentPerNode = 0;
    for (auto _ : state)
    {
        ::malloc_trim(0);
        const auto heapBefore = ::mallinfo2().uordblks;
        const long residentBefore = residentBytes();
        auto tree = buildTree(nodes);
        for (Tree::Node& share : tree->children())
            share.asDirectory()->buildLocalIdIndex();
        heapPerNode = static_cast<double>(::mallinfo2().uordblks - heapBefore) / static_cast<double>(nodes);
        residentPerNode = static_cast<double>(residentBytes() - residentBefore) / static_cast<double>(nodes);
        benchmark::DoNotOptimize(tree.get());
    }
    state.counters["heap_bytes_per_node"] = heapPerNode;
    state.counters["rss_bytes_per_node"] = residentPerNode;
    state.counters["sizeof_file"] = sizeof(Tree::File);
    state.counters["sizeof_directory"] = sizeof(Tree::Directory);
}

} // namespace

BENCHMARK(BM_Walk)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeltaUnchanged)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeltaTenThousandNewFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeInMemory);
BENCHMARK(BM_RawUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteChange)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteSubtree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyTree)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTree)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanRows)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerNode)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
