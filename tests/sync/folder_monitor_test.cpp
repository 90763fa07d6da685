#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "sync/FolderMonitor.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace
{
using namespace std::chrono_literals;

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
