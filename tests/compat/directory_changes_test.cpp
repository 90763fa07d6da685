#include "compat/DirectoryChanges.h"
#include "compat/LastError.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
using Outcome = compat::DirectoryChangeWatcher::Outcome;

// The names in the records of the last read, in order.
std::vector<std::string> namesIn(const compat::DirectoryChangeWatcher& watcher)
{
    std::vector<std::string> names;
    std::size_t offset = 0;
    while (offset + sizeof(inotify_event) <= watcher.recordBytes())
    {
        inotify_event event;
        std::memcpy(&event, watcher.records() + offset, sizeof event);
        if (event.len > 0)
            names.emplace_back(watcher.records() + offset + sizeof event);
        offset += sizeof event + event.len;
    }
    return names;
}

class DirectoryChangesTest : public testing::Test
{
protected:
    void open()
    {
        ASSERT_TRUE(watcher.open(folder / "root"));
    }

    // Everything before the marker must have gone unnoticed: the first read holds the marker's records alone.
    void expectOnlyMarkerSeen(const std::string& markerDirectory = "root")
    {
        folder.writeFile(markerDirectory + "/marker");
        ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
        for (const std::string& name : namesIn(watcher))
            EXPECT_EQ(name, "marker");
    }

    test::ScratchFolder folder;
    compat::DirectoryChangeWatcher watcher;
};

TEST_F(DirectoryChangesTest, ChangesDeepInTheTreeAreSeen)
{
    folder.makeDirectory("root/a/b/c");
    open();
    EXPECT_EQ(watcher.watchCount(), 4u);

    folder.writeFile("root/a/b/c/new.txt");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_EQ(namesIn(watcher).front(), "new.txt");
}

TEST_F(DirectoryChangesTest, OpensAndReadsAreNotChanges)
{
    folder.makeDirectory("root");
    const std::string file = folder.writeFile("root/existing", "content");
    open();

    char buffer[16];
    const int fd = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_GT(::read(fd, buffer, sizeof buffer), 0);
    ::close(fd);
    expectOnlyMarkerSeen();
}

// A scan under way can miss an item or meet it twice only when a name changes, never by a write.
TEST_F(DirectoryChangesTest, OnlyEntriesMadeRemovedOrMovedChangeNames)
{
    folder.makeDirectory("root");
    const std::string file = folder.writeFile("root/existing", "content");
    open();

    ASSERT_EQ(::truncate(file.c_str(), 1), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_FALSE(watcher.namesChanged());
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_FALSE(watcher.namesChanged());

    ASSERT_EQ(std::rename(file.c_str(), (folder / "root/renamed").c_str()), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_TRUE(watcher.namesChanged());
    ASSERT_EQ(std::remove((folder / "root/renamed").c_str()), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_TRUE(watcher.namesChanged());
}

TEST_F(DirectoryChangesTest, CreatedAndMovedInDirectoriesAreWatched)
{
    folder.makeDirectory("root");
    folder.makeDirectory("outside/moved/inner");
    open();

    folder.makeDirectory("root/created");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    ASSERT_EQ(std::rename((folder / "outside/moved").c_str(), (folder / "root/moved").c_str()), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);

    folder.writeFile("root/created/file");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_EQ(namesIn(watcher).front(), "file");
    folder.writeFile("root/moved/inner/file2");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_EQ(namesIn(watcher).front(), "file2");
}

TEST_F(DirectoryChangesTest, DirectoryMovedOutIsForgotten)
{
    folder.makeDirectory("root/leaving/sub");
    folder.makeDirectory("outside");
    open();
    ASSERT_EQ(std::rename((folder / "root/leaving").c_str(), (folder / "outside/left").c_str()), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_EQ(watcher.watchCount(), 1u);

    folder.writeFile("outside/left/sub/file");
    expectOnlyMarkerSeen();
}

TEST_F(DirectoryChangesTest, DirectoryMovedWithinTheTreeKeepsReporting)
{
    folder.makeDirectory("root/a/sub");
    folder.makeDirectory("root/b");
    open();
    ASSERT_EQ(std::rename((folder / "root/a").c_str(), (folder / "root/b/a").c_str()), 0);
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);

    folder.makeDirectory("root/b/a/sub/newer");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    folder.writeFile("root/b/a/sub/newer/file");
    ASSERT_EQ(watcher.waitForChanges(), Outcome::Changed);
    EXPECT_EQ(namesIn(watcher).front(), "file");
}

TEST_F(DirectoryChangesTest, LinksAndOtherFileSystemsAreNotEntered)
{
    folder.makeDirectory("root");
    folder.makeDirectory("target");
    ASSERT_EQ(::symlink((folder / "target").c_str(), (folder / "root/link").c_str()), 0);
    const bool mounted = folder.mountTmpfs("root/mounted");
    open();

    folder.writeFile("target/file");
    if (mounted)
        folder.writeFile("root/mounted/file");
    expectOnlyMarkerSeen();
    if (!mounted)
        GTEST_SKIP() << "the mount point half needs permission to mount a tmpfs";
}

TEST_F(DirectoryChangesTest, BurstBeyondTheQueueIsAnOverflow)
{
    folder.makeDirectory("root");
    open();
    // The kernel queues 16384 records by default; every file gives at least a create and a close-after-write.
    for (int i = 0; i < 12000; ++i)
        folder.writeFile("root/f" + std::to_string(i));

    Outcome outcome = Outcome::Changed;
    for (int reads = 0; reads < 100000 && outcome == Outcome::Changed; ++reads)
        outcome = watcher.waitForChanges();
    EXPECT_EQ(outcome, Outcome::Overflowed);
}

TEST_F(DirectoryChangesTest, StopRequestEndsTheWaitUntilCleared)
{
    folder.makeDirectory("root");
    open();
    std::thread stopper([this] { watcher.requestStop(); });
    EXPECT_EQ(watcher.waitForChanges(), Outcome::Stopped);
    stopper.join();
    EXPECT_EQ(watcher.waitForChanges(), Outcome::Stopped);

    watcher.clearStopRequest();
    folder.writeFile("root/after");
    EXPECT_EQ(watcher.waitForChanges(), Outcome::Changed);
}

TEST_F(DirectoryChangesTest, MissingRootFails)
{
    EXPECT_FALSE(watcher.open(folder / "absent"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}
// As an ordinary user (root may watch any folder, whatever its mode), in a child process.
TEST(DirectoryChangesAsUser, AFolderThatBecomesReadableIsWatched)
{
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0)
    {
        ::alarm(20); // a change never seen ends the child instead of the wait
        constexpr uid_t nobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
                                 ::setresuid(nobody, nobody, nobody) != 0))
            ::_exit(2);
        int result = 1;
        {
            test::ScratchFolder folder;
            folder.makeDirectory("root/locked");
            ::chmod((folder / "root/locked").c_str(), 0);
            compat::DirectoryChangeWatcher watcher;
            if (watcher.open(folder / "root") && watcher.watchCount() == 1 &&
                ::chmod((folder / "root/locked").c_str(), 0700) == 0 &&
                watcher.waitForChanges() == Outcome::Changed && watcher.watchCount() == 2)
            {
                folder.writeFile("root/locked/new");
                const auto names = watcher.waitForChanges() == Outcome::Changed ? namesIn(watcher)
                                                                                 : std::vector<std::string>();
                result = std::find(names.begin(), names.end(), "new") != names.end() ? 0 : 3;
            }
        }
        ::_exit(result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
} // namespace
