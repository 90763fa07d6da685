// What the scanner does between snapshots shows only in its log: scans started again after a change during them or
// after them, snapshots that a folder which keeps changing does not hold back, and bursts of change records that must
// come down to one rescan.
#include "compat/DirectoryChanges.h"
#include "compat/FileNameText.h"
#include "sync/Scanner.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>

namespace
{
using namespace std::chrono_literals;
using dwl::Tree;

// Made before any test logs: the logger reads its configuration once, on the first log statement.
test::LogCapture logCapture("TRACE");

// The names of the files anywhere below the root, with their folders' names as prefixes.
void collectNames(const Tree::Directory& directory, const std::string& prefix, std::set<std::string>& names)
{
    for (const Tree::Node& child : directory.children())
    {
        const std::wstring& name = child.name();
        std::string native;
        compat::utf16ToFileName(name.data(), name.data() + name.size(), native);
        if (const Tree::Directory* subdirectory = child.asDirectory())
            collectNames(*subdirectory, prefix + native + "/", names);
        else
            names.insert(prefix + native);
    }
}

class Receiver
{
public:
    void snapshot(Tree::Directory* root)
    {
        std::set<std::string> names;
        collectNames(*root, "", names);
        std::lock_guard lock(mMutex);
        mSnapshots.push_back(std::move(names));
        mChanged.notify_all();
    }
    // The snapshot with this number (from 1), once it came; empty after a time-out, reported as a failure.
    std::set<std::string> waitForSnapshot(std::size_t number)
    {
        std::unique_lock lock(mMutex);
        if (!mChanged.wait_for(lock, 120s, [&] { return mSnapshots.size() >= number; }))
        {
            ADD_FAILURE() << "no snapshot number " << number;
            return {};
        }
        return mSnapshots[number - 1];
    }
    std::size_t count()
    {
        std::lock_guard lock(mMutex);
        return mSnapshots.size();
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::set<std::string>> mSnapshots;
};

// A scanner whose rescan requests the test can hold back: the folder monitor's callback waits for the scanner's
// mutex, so while it is held no change records are read and the kernel's queue fills up.
class HoldableScanner : public dwl::Scanner
{
public:
    std::unique_lock<std::mutex> holdRescanRequests() { return std::unique_lock(mMutex); }
};

// Milliseconds since the epoch of a line that starts "YYYY-MM-DD HH:MM:SS.mmm".
std::chrono::milliseconds lineTime(const std::string& line)
{
    static const std::regex stamp(R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}))");
    std::smatch match;
    if (!std::regex_search(line, match, stamp))
    {
        ADD_FAILURE() << "no time in: " << line;
        return {};
    }
    const auto number = [&](int i) { return std::stoi(match[i].str()); };
    const std::chrono::sys_days day{std::chrono::year(number(1)) / number(2) / number(3)};
    return day.time_since_epoch() + std::chrono::hours(number(4)) + std::chrono::minutes(number(5)) +
           std::chrono::seconds(number(6)) + std::chrono::milliseconds(number(7));
}

class ScannerLogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        root = folder.makeDirectory("root");
        scanner.setSnapshotCallback([this](Tree::Directory* snapshot) { receiver.snapshot(snapshot); });
    }
    void TearDown() override { scanner.stop(); }

    void start(std::chrono::milliseconds quietTime)
    {
        scanner.setQuietTime(quietTime);
        scanner.setFolder(dwl::PinnedFolder::of(compat::fileNameToUtf16(root)));
        scanner.start();
    }
    // The number of the first line at or after `from` with `text`; a failure and the end of the test when none comes.
    std::size_t expectLine(const std::string& text, std::size_t from)
    {
        const auto found = logCapture.waitFor(text, from);
        if (!found)
            throw std::runtime_error("No log line \"" + text + "\" in " + logCapture.logFile());
        return *found;
    }

    test::ScratchFolder folder;
    std::string root;
    Receiver receiver;
    HoldableScanner scanner;
};

TEST_F(ScannerLogTest, ChangeDuringAScanLetsItEndAndAsksForAnotherAfterTheQuietTime)
{
    // Enough entries that the first scan (about half a second here) is still running when the change made at its
    // start is noticed.
    for (int d = 0; d < 10; ++d)
    {
        folder.makeDirectory("root/d" + std::to_string(d));
        for (int i = 0; i < 1000; ++i)
            folder.writeFile("root/d" + std::to_string(d) + "/f" + std::to_string(i));
    }
    const auto quietTime = 300ms;
    start(quietTime);
    receiver.waitForSnapshot(1);
    // (The first scan of a start waits for one quiet time at most, and sends what it found.)
    const std::size_t from = logCapture.lineCount();
    folder.writeFile("root/d0/changed-before-scan");

    const std::size_t scanning = expectLine("Scanning '" + root + "'...", from);
    folder.writeFile("root/d9/changed-during-scan");
    const std::size_t waiting = expectLine("A rescan request has been received. Waiting for longer...", scanning);
    const std::size_t received = expectLine("\tReceived a rescan request just after a full scan finished", waiting);
    const std::size_t rescanning = expectLine("Scanning '" + root + "'...", received);
    expectLine("Sending snapshot of the Wayfold folder", rescanning);
    EXPECT_EQ(logCapture.count("Sending snapshot", from, rescanning), 0u) << "a snapshot was sent before the change";
    EXPECT_EQ(logCapture.count("Scan interrupted", from), 0u);
    EXPECT_EQ(logCapture.count("Scanning '", scanning + 1, rescanning), 0u) << "the first scan was not finished";
    // Truncation to milliseconds in the log can shorten the gap by one.
    const auto& lines = logCapture.lines();
    EXPECT_GE(lineTime(lines[rescanning]) - lineTime(lines[waiting]), quietTime - 1ms)
        << lines[waiting] << "\n" << lines[rescanning];

    const std::set<std::string> snapshot = receiver.waitForSnapshot(2);
    EXPECT_EQ(snapshot.size(), 10002u);
    EXPECT_TRUE(snapshot.count("d9/changed-during-scan"));
}

TEST_F(ScannerLogTest, AFolderThatKeepsChangingIsScannedWithinTheBoundAndTheChangingFileNamedOnce)
{
    scanner.setMaxSnapshotDelay(1500ms);
    start(1s);
    receiver.waitForSnapshot(1);
    const std::size_t from = logCapture.lineCount();

    // A write every 300 ms: the folder is never quiet for the quiet time.
    const auto startedAt = std::chrono::steady_clock::now();
    for (int i = 0; receiver.count() < 3 && i < 100; ++i)
    {
        folder.writeFile("root/busy.log", std::string(static_cast<std::size_t>(i), 'x'));
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_EQ(receiver.count(), 3u);
    EXPECT_LT(std::chrono::steady_clock::now() - startedAt, 10s);
    EXPECT_EQ(logCapture.count("'" + root + "/busy.log' keeps changing", from), 1u);
}

TEST_F(ScannerLogTest, ChangeWhileWaitingAfterAScanStartsAFullScanBeforeAnySnapshot)
{
    // Long enough for the test to make its change while the scanner waits after the scan.
    start(2s);
    receiver.waitForSnapshot(1);
    const std::size_t from = logCapture.lineCount();
    folder.writeFile("root/before");

    const std::size_t scanning = expectLine("Scanning '" + root + "'...", from);
    expectLine("Waiting for the file system to quiet down...", scanning);
    folder.writeFile("root/after");

    const std::size_t received = expectLine("\tReceived a rescan request just after a full scan finished", scanning);
    const std::size_t rescanning = expectLine("Scanning '" + root + "'...", received);
    EXPECT_EQ(logCapture.count("Sending snapshot", from, rescanning), 0u);
    EXPECT_EQ(receiver.waitForSnapshot(2), (std::set<std::string>{"after", "before"}));
}

TEST_F(ScannerLogTest, FullBufferAndLostRecordsGiveOneRescan)
{
    start(1s);
    receiver.waitForSnapshot(1);
    const std::size_t from = logCapture.lineCount();

    // More records than the kernel queues: every file gives at least its creation and its close after writing.
    std::size_t queueLimit = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queueLimit;
    if (queueLimit > 200000)
        GTEST_SKIP() << "the kernel queues " << queueLimit << " change records, too many to overflow here";
    const std::size_t files = queueLimit / 2 + 1;
    {
        auto held = scanner.holdRescanRequests();
        folder.writeFile("root/first");
        expectLine("Notification buffer filled with", from);
        for (std::size_t i = 0; i < files; ++i)
            folder.writeFile("root/f" + std::to_string(i));
    }

    const std::set<std::string> snapshot = receiver.waitForSnapshot(2);
    EXPECT_EQ(snapshot.size(), files + 1);
    EXPECT_TRUE(logCapture.find("Notification buffer filled with 0 bytes out of 65536", from)) << "no record was lost";
    std::size_t largest = 0;
    static const std::regex filled(R"(Notification buffer filled with (\d+) bytes)");
    for (std::size_t i = from; i < logCapture.lines().size(); ++i)
    {
        std::smatch match;
        if (std::regex_search(logCapture.lines()[i], match, filled))
            largest = std::max<std::size_t>(largest, std::stoul(match[1].str()));
    }
    EXPECT_GT(largest, compat::DirectoryChangeWatcher::bufferSize - 4096) << "no read filled the buffer";
    EXPECT_EQ(logCapture.count("Scanning '" + root + "'...", from), 1u);
    EXPECT_EQ(logCapture.count("Sending snapshot of the Wayfold folder", from), 1u);
    EXPECT_EQ(logCapture.count("Scan interrupted", from), 0u);
    EXPECT_EQ(receiver.count(), 2u);
}
} // namespace
