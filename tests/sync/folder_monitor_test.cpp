#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "sync/FolderMonitor.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
using namespace std::chrono_literals;
using test::waitUntil;

// Records the byte counts of the callbacks; the first call can be held back to let the kernel queue overflow.
class CallbackLog
{
public:
    void operator()(const void*, unsigned long bytes)
    {
        std::unique_lock lock(mMutex);
        mBytes.push_back(bytes);
        mChanged.notify_all();
        mChanged.wait(lock, [this] { return !mHoldFirst || mBytes.size() > 1 || mReleased; });
    }

    void holdFirstCall() { mHoldFirst = true; }
    void release()
    {
        std::lock_guard lock(mMutex);
        mReleased = true;
        mChanged.notify_all();
    }

    std::size_t count()
    {
        std::lock_guard lock(mMutex);
        return mBytes.size();
    }

    template <class Predicate>
    bool waitUntil(Predicate predicate)
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, 60s, [&] { return predicate(mBytes); });
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<unsigned long> mBytes;
    bool mHoldFirst = false;
    bool mReleased = false;
};

class FolderMonitorTest : public testing::Test
{
protected:
    void SetUp() override
    {
        folder.makeDirectory("root/sub");
        monitor.setFolder(compat::fileNameToUtf16(folder / "root"));
        monitor.setCallback([this](const void* records, unsigned long bytes) { log(records, bytes); });
    }
    void TearDown() override { monitor.stop(); }

    test::ScratchFolder folder;
    CallbackLog log;
    dwl::FolderMonitor monitor;
};

TEST_F(FolderMonitorTest, ChangeRightAfterStartIsSeen)
{
    monitor.start();
    folder.writeFile("root/sub/new");
    EXPECT_TRUE(log.waitUntil([](const auto& bytes) { return !bytes.empty() && bytes.front() > 0; }));
}

TEST_F(FolderMonitorTest, LostRecordsStillCallBackWithZeroBytes)
{
    log.holdFirstCall();
    monitor.start();
    folder.writeFile("root/first");
    ASSERT_TRUE(log.waitUntil([](const auto& bytes) { return bytes.size() == 1; }));
    // While the callback is held, far more records arrive than the kernel queues.
    for (int i = 0; i < 12000; ++i)
        folder.writeFile("root/f" + std::to_string(i));
    log.release();
    EXPECT_TRUE(log.waitUntil([](const auto& bytes) {
        return std::find(bytes.begin() + 1, bytes.end(), 0ul) != bytes.end();
    }));
}

TEST_F(FolderMonitorTest, AReadThroughIsToldOnlyOnceTheChangesMadeBeforeItWerePassedOn)
{
    std::mutex mutex;
    std::vector<unsigned long> readThrough; // the number of callbacks made when each request was told done
    monitor.setReadThroughCallback(
        [&](std::uint64_t)
        {
            std::lock_guard lock(mutex);
            readThrough.push_back(static_cast<unsigned long>(log.count()));
        });
    log.holdFirstCall();
    monitor.start();
    folder.writeFile("root/first");
    ASSERT_TRUE(log.waitUntil([](const auto& bytes) { return bytes.size() == 1; }));
    // Queued while the monitor is busy with the first records, and asked for before they are read.
    folder.writeFile("root/sub/second");
    monitor.requestReadThrough();
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(readThrough.empty());
    }
    log.release();
    ASSERT_TRUE(waitUntil(
        [&]
        {
            std::lock_guard lock(mutex);
            return !readThrough.empty();
        }));
    std::lock_guard lock(mutex);
    EXPECT_GE(readThrough.front(), 2u);
}

TEST_F(FolderMonitorTest, StopsWithoutChangesAndStartsAgain)
{
    monitor.start();
    monitor.stop();
    EXPECT_FALSE(monitor.isRunning());

    monitor.start();
    folder.writeFile("root/after-restart");
    EXPECT_TRUE(log.waitUntil([](const auto& bytes) { return !bytes.empty(); }));
}

TEST_F(FolderMonitorTest, MissingFolderFailsTheStart)
{
    monitor.setFolder(compat::fileNameToUtf16(folder / "absent"));
    try
    {
        monitor.start();
        FAIL() << "start did not throw";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_FILE_NOT_FOUND));
        EXPECT_NE(error.message().find(L"Cannot open '"), std::wstring::npos);
    }
    EXPECT_FALSE(monitor.isRunning());
}
} // namespace
