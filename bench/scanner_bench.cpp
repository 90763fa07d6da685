// Scan speed of the folder scan against a plain getdents64 + statx walk of the same tree (the practical limit
// of any scan), against the same walk with the per-entry calls that reuse-safe local ids and stored
// attributes need (the floor of this scan), and against a scan that reads every entry's file id by path after
// the pattern listing, the time to arm the change watches of a tree of folders against a plain walk of those
// folders, and the memory a snapshot takes per entry.
//
// The trees are made once under $WAYFOLD_BENCH_DIR (default /tmp/wayfold-bench-scanner) and kept for later
// runs; every folder holds 10 folders and 90 empty files until the entry count is reached.

#include "compat/DirectoryChanges.h"
#include "compat/FileNameText.h"
#include "compat/FileStatus.h"
#include "qcl/File.h"
#include "qcl/FileFinder.h"
#include "qcl/String.h"
#include "sync/FolderScan.h"
#include "sync/Tree.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
std::string benchDirectory()
{
    const char* configured = std::getenv("WAYFOLD_BENCH_DIR");
    std::string base = configured != nullptr && configured[0] == '/' ? configured : "/tmp/wayfold-bench-scanner";
    ::mkdir(base.c_str(), 0755);
    return base;
}

bool exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// A tree of `entries` entries (files and folders); `filesPerFolder` 0 gives folders only.
std::string ensureTree(long entries, int foldersPerFolder, int filesPerFolder)
{
    const std::string root = benchDirectory() + "/tree-" + std::to_string(entries) + "-" +
                             std::to_string(foldersPerFolder) + "-" + std::to_string(filesPerFolder);
    const std::string marker = root + ".complete";
    if (exists(marker))
        return root;
    if (exists(root))
        throw std::runtime_error("Incomplete benchmark tree " + root + ": remove it and run again");
    ::mkdir(root.c_str(), 0755);
    std::deque<std::string> folders{root};
    long made = 0;
    while (made < entries && !folders.empty())
    {
        const std::string folder = folders.front();
        folders.pop_front();
        for (int i = 0; i < foldersPerFolder && made < entries; ++i, ++made)
        {
            const std::string child = folder + "/folder " + std::to_string(i);
            ::mkdir(child.c_str(), 0755);
            folders.push_back(child);
        }
        for (int i = 0; i < filesPerFolder && made < entries; ++i, ++made)
            ::close(::open((folder + "/document " + std::to_string(i) + ".txt").c_str(), O_CREAT | O_WRONLY, 0644));
    }
    std::ofstream(marker) << made << "\n";
    return root;
}

struct LinuxDirent64
{
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Calls `onEntry` for each entry of the open folder but "." and "..", read with getdents64 alone.
template <class OnEntry>
void forEachEntry(int fd, OnEntry onEntry)
{
    alignas(8) char buffer[65536];
    for (;;)
    {
        const long bytes = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (bytes <= 0)
            break;
        for (long offset = 0; offset < bytes;)
        {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += entry->d_reclen;
            if (entry->d_name[0] == '.' &&
                (entry->d_name[1] == 0 || (entry->d_name[1] == '.' && entry->d_name[2] == 0)))
                continue;
            onEntry(*entry);
        }
    }
}

// The practical limit: one getdents64 stream and one statx per entry, nothing else. With `withIds`, the floor
// of a scan that gives reuse-safe local ids and honours the stored hidden, system and temporary attributes:
// per entry also the file handle and the stored attributes that the ids and the skip rules need.
long walk(int parentFd, const char* name, const std::string& path, bool withIds)
{
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    long entries = 0;
    forEachEntry(fd, [&](const LinuxDirent64& entry) {
        struct statx status;
        if (::statx(fd, entry.d_name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &status) != 0)
            return;
        benchmark::DoNotOptimize(status.stx_ino);
        if (withIds)
        {
            benchmark::DoNotOptimize(compat::readStoredAttributesAt(fd, path, entry.d_name, status));
            benchmark::DoNotOptimize(
                compat::fileIndex(status, compat::reuseTag(fd, entry.d_name, 0, status)));
        }
        ++entries;
        if (S_ISDIR(status.stx_mode))
            entries += walk(fd, entry.d_name, withIds ? path + entry.d_name + "/" : path, withIds);
    });
    ::close(fd);
    return entries;
}

long rawWalk(int parentFd, const char* name)
{
    return walk(parentFd, name, {}, false);
}

// Folders only: open and list, the part of arming that any watcher must do.
long plainFolderWalk(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    long folders = 1;
    forEachEntry(fd, [&](const LinuxDirent64& entry) {
        if (entry.d_type == DT_DIR && entry.d_name[0] != '.')
            folders += plainFolderWalk(path + "/" + entry.d_name);
    });
    ::close(fd);
    return folders;
}

long countNodes(const dwl::Tree::Directory& directory)
{
    long count = 0;
    for (const dwl::Tree::Node& child : directory.children())
    {
        ++count;
        if (const auto* folder = child.asDirectory())
            count += countNodes(*folder);
    }
    return count;
}

// The scan as it would be with the pattern listing and a file id read by path for every entry: the same tree
// built the same way, the per-entry calls of the listing plus those of qcl::file::getFileId.
void scanByPath(dwl::Tree::Directory& directory, const std::wstring& path)
{
    constexpr DWORD skipped =
        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_REPARSE_POINT;
    for (qcl::FileFinder finder(path + L"/*"); finder; finder.next())
    {
        const WIN32_FIND_DATAW& entry = finder.data();
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || (entry.dwFileAttributes & skipped) != 0)
            continue;
        const std::wstring fullPath = path + L"/" + name;
        const std::uint64_t localId = qcl::file::getFileId(fullPath);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            auto node = std::make_unique<dwl::Tree::Directory>(localId, name);
            scanByPath(*node, fullPath);
            directory.addChild(std::move(node));
        }
        else
        {
            const std::uint64_t size = (std::uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            const std::uint64_t lastWrite =
                (std::uint64_t(entry.ftLastWriteTime.dwHighDateTime) << 32) | entry.ftLastWriteTime.dwLowDateTime;
            directory.addChild(std::make_unique<dwl::Tree::File>(localId, name, size, lastWrite));
        }
    }
}

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

void BM_RawWalk(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 10, 90);
    long entries = rawWalk(AT_FDCWD, root.c_str()); // warms the cache
    for (auto _ : state)
        entries = rawWalk(AT_FDCWD, root.c_str());
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["entries"] = static_cast<double>(entries);
}

void BM_RawWalkWithIds(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 10, 90);
    long entries = rawWalk(AT_FDCWD, root.c_str()); // warms the cache
    for (auto _ : state)
        entries = walk(AT_FDCWD, root.c_str(), root + "/", true);
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["entries"] = static_cast<double>(entries);
}

void BM_Scan(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 10, 90);
    const std::wstring path = compat::fileNameToUtf16(root);
    long entries = rawWalk(AT_FDCWD, root.c_str()); // warms the cache
    for (auto _ : state)
    {
        auto snapshot = std::make_unique<dwl::Tree::Directory>(0, path);
        dwl::FolderScan().run(*snapshot, path);
        state.PauseTiming();
        entries = countNodes(*snapshot);
        snapshot.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["entries"] = static_cast<double>(entries);
}

void BM_ScanByPath(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 10, 90);
    const std::wstring path = compat::fileNameToUtf16(root);
    long entries = rawWalk(AT_FDCWD, root.c_str()); // warms the cache
    for (auto _ : state)
    {
        auto snapshot = std::make_unique<dwl::Tree::Directory>(0, path);
        scanByPath(*snapshot, path);
        state.PauseTiming();
        entries = countNodes(*snapshot);
        snapshot.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["entries"] = static_cast<double>(entries);
}

void BM_SnapshotMemory(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 10, 90);
    const std::wstring path = compat::fileNameToUtf16(root);
    double heapPerEntry = 0, residentPerEntry = 0;
    for (auto _ : state)
    {
        ::malloc_trim(0);
        const auto heapBefore = ::mallinfo2().uordblks;
        const long residentBefore = residentBytes();
        auto snapshot = std::make_unique<dwl::Tree::Directory>(0, path);
        dwl::FolderScan().run(*snapshot, path);
        const long entries = countNodes(*snapshot);
        heapPerEntry = static_cast<double>(::mallinfo2().uordblks - heapBefore) / static_cast<double>(entries);
        residentPerEntry = static_cast<double>(residentBytes() - residentBefore) / static_cast<double>(entries);
    }
    state.counters["heap_bytes_per_entry"] = heapPerEntry;
    state.counters["rss_bytes_per_entry"] = residentPerEntry;
}

void BM_PlainFolderWalk(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 100, 0);
    long folders = plainFolderWalk(root); // warms the cache
    for (auto _ : state)
        folders = plainFolderWalk(root);
    state.counters["folders"] = static_cast<double>(folders);
}

void BM_ArmWatches(benchmark::State& state)
{
    const std::string root = ensureTree(state.range(0), 100, 0);
    plainFolderWalk(root); // warms the cache
    std::size_t watches = 0;
    for (auto _ : state)
    {
        compat::DirectoryChangeWatcher watcher;
        if (!watcher.open(root))
            state.SkipWithError("cannot watch the tree");
        watches = watcher.watchCount();
        state.PauseTiming();
        watcher.close();
        state.ResumeTiming();
    }
    state.counters["watches"] = static_cast<double>(watches);
}
} // namespace

// Wall time: a scan's cost is mostly system calls, and the kernel's time counts as much as ours.
BENCHMARK(BM_RawWalk)->Arg(10000)->Arg(100000)->Arg(1000000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawWalkWithIds)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(10000)->Arg(100000)->Arg(1000000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanByPath)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotMemory)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFolderWalk)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArmWatches)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
