#include "sync/Scanner.h"

#include "qcl/Error.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "sync/FolderScan.h"

#include <algorithm>

namespace dwl
{
namespace
{
constexpr std::int64_t maxRescanInterval = 10LL * 365 * 24 * 3600;
} // namespace

Scanner::Scanner() : qcl::InterruptibleThread(L"Scanner")
{
    mFolderMonitor.setCallback([this](const void*, unsigned long)
                               { noteChange(mFolderMonitor.lastChange(), mFolderMonitor.namesChanged()); });
    mFolderMonitor.setReadThroughCallback(
        [this](std::uint64_t request)
        {
            {
                std::lock_guard lock(mMutex);
                mChangesReadThrough = std::max(mChangesReadThrough, request);
            }
            mCondition.notify_all();
        });
}

Scanner::~Scanner()
{
    stop();
}

void Scanner::setFolder(const PinnedFolder& folder)
{
    mFolder = folder;
    mFolderMonitor.setFolder(folder.path());
    mFolderErrorReported = false;
    mRoot = std::make_unique<Tree::Directory>(folder.localId(), folder.path());
}

void Scanner::requestRescan()
{
    {
        std::lock_guard lock(mMutex);
        mRescanRequested = true;
        mNamesChanged = true; // nothing tells what changed
    }
    mCondition.notify_all();
}

void Scanner::noteChange(std::wstring path, bool namesChanged)
{
    {
        std::lock_guard lock(mMutex);
        mLastChange = std::move(path);
        mRescanRequested = true;
        mNamesChanged = mNamesChanged || namesChanged;
    }
    mCondition.notify_all();
}

void Scanner::run()
{
    mFolderMonitor.start();
    qcl::scope::Guard stopMonitor([this] { mFolderMonitor.stop(); });
    requestRescan();

    // The first scan of a start waits one quiet time at most: the receiver needs a picture of the folder soon
    // (a start after the receiver changed the folder itself drops the snapshot made before), and a folder that
    // keeps changing is scanned again for its next changes anyway.
    bool started = true;
    for (;;)
    {
        bool requested;
        {
            std::unique_lock lock(mMutex);
            const auto requestArrived = [this] {
                checkInterruption();
                return mRescanRequested.load();
            };
            if (mRescanInterval > 0)
            {
                // A configured interval of centuries must not overflow the clock into an immediate deadline.
                const std::int64_t seconds = std::min<std::int64_t>(mRescanInterval, maxRescanInterval);
                mCondition.wait_until(lock, Clock::now() + std::chrono::seconds(seconds), requestArrived);
            }
            else
                mCondition.wait(lock, requestArrived);
            requested = mRescanRequested.exchange(false);
        }
        // The first change since the last snapshot: the next one is sent by this time at the latest.
        const Clock::time_point deadline = Clock::now() + (started ? mQuietTime : mMaxSnapshotDelay);
        started = false;
        mDeadlineReached = false;
        if (requested)
        {
            QCL_LOG_TRACE(L"Received a full rescan request");
            waitForQuietTime(deadline);
        }
        else
            QCL_LOG_TRACE(L"It is time for a regular full rescan");
        rescanTree(deadline);
        sendSnapshot();
    }
}

bool Scanner::waitForQuietTime(Clock::time_point deadline)
{
    QCL_LOG_TRACE(L"Waiting for the file system to quiet down...");
    bool anyRequest = false;
    {
        std::unique_lock lock(mMutex);
        const auto requestArrived = [this] {
            checkInterruption();
            return mRescanRequested.load();
        };
        for (;;)
        {
            const Clock::time_point quietAt = Clock::now() + mQuietTime;
            if (!mCondition.wait_until(lock, std::min(quietAt, deadline), requestArrived))
            {
                mDeadlineReached = mDeadlineReached || (anyRequest && Clock::now() < quietAt);
                break;
            }
            anyRequest = true;
            if (Clock::now() >= deadline)
            {
                mDeadlineReached = true;
                QCL_LOG_TRACE(L"The file system keeps changing: no longer waiting");
                return true;
            }
            QCL_LOG_TRACE(L"A rescan request has been received. Waiting for longer...");
            mRescanRequested = false;
        }
    }
    QCL_LOG_TRACE(L"File system has been quiet for long enough");
    return anyRequest;
}

void Scanner::rescanTree(Clock::time_point deadline)
{
    for (;;)
    {
        try
        {
            const std::wstring path = mRoot->name();
            QCL_LOG_DEBUG(L"Scanning " << qcl::string::escaped(path, L'\'') << L"...");
            // What changed before this point is seen by the scan; a change from now on asks for another.
            mRescanRequested = false;
            mNamesChanged = false;
            mRoot->removeAllChildren();
            {
                const compat::at::Descriptor folder = mFolder.open();
                FolderScan([this] { checkInterruption(); }).run(*mRoot, folder.get(), path);
            }
            // Read through the descriptor, the snapshot is the pinned folder's; the path must still lead there, or
            // the user moved or replaced it meanwhile.
            mFolder.open();
            mFolderErrorReported = false;

            const bool changed = waitForQuietTime(deadline);
            if (mDeadlineReached)
                noteBusyFolder();
            // At the deadline the snapshot goes as it is; whether its removals hold is told as it is sent.
            if (!changed || mDeadlineReached)
                return;
            QCL_LOG_TRACE(L"Received a rescan request just after a full scan finished");
        }
        catch (const PinnedFolder::Lost& error)
        {
            mRoot->removeAllChildren();
            if (!mFolderErrorReported)
            {
                QCL_LOG_ERROR(L"Scan interrupted by error: " << error.message());
                if (mFolderErrorCallback)
                    mFolderErrorCallback(error.message());
            }
            mFolderErrorReported = true;
            // Tried again after a quiet time, or after the deadline at the latest, but never at once.
            waitForQuietTime(std::max(deadline, Clock::now() + mQuietTime));
        }
        catch (const qcl::basic_runtime_error<wchar_t>& error)
        {
            QCL_LOG_ERROR(L"Scan interrupted by error: " << error.message());
            waitForQuietTime(std::max(deadline, Clock::now() + mQuietTime));
        }
    }
}

void Scanner::noteBusyFolder()
{
    std::wstring changing;
    {
        std::lock_guard lock(mMutex);
        changing = mLastChange;
    }
    if (changing == mBusyReported)
        return;
    mBusyReported = changing;
    if (changing.empty())
        QCL_LOG_INFO(L"The Wayfold folder keeps changing: it is scanned without waiting for it to be quiet");
    else
        QCL_LOG_INFO(qcl::string::escaped(changing, L'\'')
                     << L" keeps changing: the Wayfold folder is scanned without waiting for it to be quiet");
}


bool Scanner::readChangesSoFar()
{
    // Far longer than the monitor takes unless the machine is overloaded; a stop request ends the wait at
    // once.
    constexpr auto longest = std::chrono::seconds(5);
    const std::uint64_t request = mFolderMonitor.requestReadThrough();
    std::unique_lock lock(mMutex);
    return mCondition.wait_for(lock, longest,
                               [&]
                               {
                                   checkInterruption();
                                   return mChangesReadThrough >= request;
                               });
}

void Scanner::noteDoubtfulRemovals()
{
    // A change in a folder that no watch reports is never seen.
    const bool allRead = readChangesSoFar();
    if (!allRead)
        QCL_LOG_DEBUG(L"The folder monitor has not passed on every change yet");
    if (mRemovalDoubts.judge(*mRoot, allRead && mFolderMonitor.watchesEverything(), mNamesChanged))
        requestRescan();
}

void Scanner::sendSnapshot()
{
    noteDoubtfulRemovals();
    QCL_LOG_DEBUG(L"Sending snapshot of the Wayfold folder:\n" << *mRoot);
    mSnapshotCallback(mRoot.get());
}
} // namespace dwl
