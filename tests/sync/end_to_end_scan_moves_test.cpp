// A document or a folder moved while a scan runs may be in neither place in that scan's snapshot; it is moved
// on the server, never deleted and made again without its history. That holds in a folder that never stays
// quiet (its snapshots are taken at the deadline) while the folder monitor reads its records late, as on a
// loaded machine, and in folders that no watch reports (the system's limit of watches reached), where a
// removal is still sent once a second snapshot confirms it. This program puts its own read, openat and
// inotify_add_watch in front of the C library's: to delay the monitor's reads, to move items right before the
// scan opens a folder, and to refuse watches.

#include "EndToEndFixture.h"
#include "qcl/qcl_scope.h"

#include <atomic>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace
{
// How long each read of change records waits first.
std::atomic<int> gChangeReadDelayMs{0};
// Paths that get no watch, as if the system's limit of watches were reached: those holding this text.
std::string gUnwatched; // set while no engine runs
// Runs once, on the next opening of a folder of this name in its parent's folder, as a scan opens it.
std::mutex gOpenHookMutex;
std::string gOpenHookName;
std::function<void()> gOpenHook;

template <class Function> Function real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool readsChangeRecords(int fd)
{
    char target[64];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
    return length > 0 && std::string_view(target, static_cast<std::size_t>(length)) == "anon_inode:inotify";
}
} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size)
{
    static const auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    if (const int delay = gChangeReadDelayMs; delay > 0 && readsChangeRecords(fd))
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return next(fd, buffer, size);
}

extern "C" int openat(int folder, const char* path, int flags, ...)
{
    static const auto next = real<int (*)(int, const char*, int, ...)>("openat");
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE)
    {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    if ((flags & O_DIRECTORY) && (flags & O_NOFOLLOW) && (flags & O_TMPFILE) != O_TMPFILE)
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(gOpenHookMutex);
            if (gOpenHook && gOpenHookName == path)
                hook = std::exchange(gOpenHook, {});
        }
        if (hook)
            hook();
    }
    return next(folder, path, flags, mode);
}

extern "C" int inotify_add_watch(int fd, const char* path, uint32_t mask)
{
    static const auto next = real<int (*)(int, const char*, uint32_t)>("inotify_add_watch");
    if (!gUnwatched.empty() && std::string_view(path).find(gUnwatched) != std::string_view::npos)
    {
        errno = ENOSPC;
        return -1;
    }
    return next(fd, path, mask);
}

namespace enginetest
{
namespace
{
using namespace std::chrono_literals;

// Runs `move` right before a scan opens the folder `name`, once; true when it ran within the time.
bool moveWhenTheScanOpens(const std::string& name, const std::function<void()>& move)
{
    std::atomic<bool> moved{false};
    {
        std::lock_guard lock(gOpenHookMutex);
        gOpenHookName = name;
        gOpenHook = [&]
        {
            move();
            moved = true;
        };
    }
    const bool ran = waitUntil([&] { return moved.load(); });
    std::lock_guard lock(gOpenHookMutex);
    gOpenHook = {};
    return ran;
}

TEST_F(EndToEndTest, ItemsMovedDuringTheScanOfABusyFolderWhoseRecordsAreReadLateAreMovedNotDeleted)
{
    one.settings.maxSnapshotDelay = 1s;
    writeFile(one / "Busy/A/keep.txt", "keep");
    writeFile(one / "Busy/B/doc.txt", "doc");
    writeFile(one / "Busy/B/Sub/inner.txt", "inner");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Busy", L"B/Sub/inner.txt") == "inner"; }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Busy", L"B/doc.txt") == "doc"; }));
    const auto document = serverAsset(L"Busy", L"B/doc.txt")->assetId;
    const auto folder = serverAsset(L"Busy", L"B/Sub")->assetId;

    // Written more often than the quiet time: every snapshot is taken at the deadline.
    const BusyWriter writer(one / "Busy/busy.log", 50ms);
    gChangeReadDelayMs = 400;
    const auto readInTime = qcl::scope::makeGuard([] { gChangeReadDelayMs = 0; });
    ASSERT_TRUE(waitUntil([&] { return serverAsset(L"Busy", L"busy.log").has_value(); }));
    // B is scanned after A: what moves from B to A meanwhile is in neither.
    ASSERT_TRUE(moveWhenTheScanOpens("B",
                                     [&]
                                     {
                                         std::filesystem::rename(one / "Busy/B/doc.txt",
                                                                 one / "Busy/A/doc.txt");
                                         std::filesystem::rename(one / "Busy/B/Sub", one / "Busy/A/Sub");
                                     }));

    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Busy", L"A/Sub/inner.txt") == "inner"; }));
    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Busy", L"A/doc.txt") == "doc"; }));
    EXPECT_EQ(serverAsset(L"Busy", L"A/doc.txt")->assetId, document);
    EXPECT_EQ(serverAsset(L"Busy", L"A/Sub")->assetId, folder);
    EXPECT_EQ(serverNames(L"Busy", L"B"), std::vector<std::wstring>{});
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    stop(one);
}

TEST_F(EndToEndTest, InFoldersNoWatchReportsAMoveDuringAScanIsAMoveAndARemovalStillGoes)
{
    gUnwatched = "/Cold";
    const auto watchAgain = qcl::scope::makeGuard([] { gUnwatched.clear(); });
    writeFile(one / "Cold/A/keep.txt", "keep");
    writeFile(one / "Cold/B/doc.txt", "cold");
    writeFile(one / "Cold/gone.txt", "gone");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Cold", L"B/doc.txt") == "cold"; }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Cold", L"gone.txt") == "gone"; }));
    const auto document = serverAsset(L"Cold", L"B/doc.txt")->assetId;

    // No record tells of these; a change in a watched folder has the folder scanned.
    std::thread poke(
        [&]
        {
            std::this_thread::sleep_for(300ms);
            writeFile(one / "Team/poke.txt", "poke");
        });
    const bool moved =
        moveWhenTheScanOpens("B",
                             [&]
                             {
                                 std::filesystem::rename(one / "Cold/B/doc.txt", one / "Cold/A/doc.txt");
                                 std::filesystem::remove(one / "Cold/gone.txt");
                             });
    poke.join();
    ASSERT_TRUE(moved);

    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Cold", L"A/doc.txt") == "cold"; }));
    EXPECT_EQ(serverAsset(L"Cold", L"A/doc.txt")->assetId, document);
    EXPECT_TRUE(waitUntil([&] { return !serverAsset(L"Cold", L"gone.txt"); }));
    EXPECT_EQ(requestCount("DELETE", ".*/assets/" + idText(document)), 0u);
    stop(one);
}
} // namespace
} // namespace enginetest
