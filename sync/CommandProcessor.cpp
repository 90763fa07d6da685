#include "sync/CommandProcessor.h"

#include "qcl/File.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <functional>
#include <mutex>

namespace dwl
{
namespace
{
long long wholeSeconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

std::optional<std::wregex> compileBlacklist(const std::wstring& pattern)
{
    if (pattern.empty())
        return std::nullopt;
    return std::wregex(pattern, std::regex::ECMAScript | std::regex::optimize);
}
} // namespace

CommandProcessor::CommandProcessor(IWayfoldApi& api, Callback& callback)
    : qcl::InterruptibleThread(L"Command Processor"), mApi(api), mCallback(callback)
{
    mFolder.setChangeListener([this] { stopScannerAfterLocalChange(); });
}

CommandProcessor::~CommandProcessor() = default;

void CommandProcessor::setDocumentBlacklist(const std::wstring& pattern)
{
    mDocumentBlacklist = compileBlacklist(pattern);
}

void CommandProcessor::setFolderBlacklist(const std::wstring& pattern)
{
    mFolderBlacklist = compileBlacklist(pattern);
}

void CommandProcessor::postSnapshot(std::unique_ptr<Tree::Directory> snapshot)
{
    std::unique_ptr<Tree::Directory> older;
    {
        std::lock_guard lock(mMutex);
        older = std::move(mPendingSnapshot);
        mPendingSnapshot = std::move(snapshot);
    }
    mCondition.notify_all();
    // The older snapshot is destroyed outside the lock.
}

void CommandProcessor::run()
{
    auto scannerStopper = qcl::scope::makeGuard(
        [this]
        {
            if (mScannerStarted)
            {
                mScannerStarted = false;
                mCallback.stopScanner();
            }
        });
    // Every start (after a sleep too) sends the folder's changes before it applies the server's.
    mFirstSnapshotProcessed = false;
    mFolderLost = false;
    // ...and settles the downloads that the last run left unrecorded, before any snapshot is compared.
    mSettlementDue = true;
    retryPassedShares();

    Clock::time_point deadline = Clock::now();
    const Clock::time_point firstCheckAt = deadline + mFirstSnapshotWait;
    const auto firstCheckAllowed = [&]
    { return mFirstSnapshotProcessed || !mFirstSnapshotAwaited || Clock::now() >= firstCheckAt; };
    for (;;)
    {
        setSynchronising(false);
        checkInterruption();

        if (mSettlementDue)
        {
            settleDownloads();
            mFolder.close();
        }
        if (!mScannerStarted)
        {
            // A pending snapshot may hold changes that this thread made itself while the scanner ran.
            std::unique_ptr<Tree::Directory> stale;
            {
                std::lock_guard lock(mMutex);
                stale = std::move(mPendingSnapshot);
            }
            mCallback.startScanner();
            mScannerStarted = true;
        }

        const bool polling = mPollingInterval.count() != 0;
        waitForWork(firstCheckAllowed() ? deadline : std::max(deadline, firstCheckAt), polling);

        std::unique_ptr<Tree::Directory> snapshot;
        {
            std::lock_guard lock(mMutex);
            snapshot = std::move(mPendingSnapshot);
        }
        // Uploads read their files through the open folder. A snapshot that cannot reach the folder it was made of
        // is dropped: the scan that finds the folder back makes a new one.
        if (snapshot && !openFolder() && mFolderLost)
            snapshot.reset();
        if (snapshot)
        {
            // The first server check waits for a snapshot compared to its end: one stopped by a newer one
            // may not have seen every edit made while the program was stopped.
            if (processNewSnapShot(std::move(snapshot)))
                mFirstSnapshotProcessed = true;
            mFolder.close();
            ++mSnapshotsProcessed;
            snapshot.reset();
        }
        const bool serverCheckDue = Clock::now() >= deadline;
        if (polling && firstCheckAllowed() && serverCheckDue)
        {
            if (mPassedRetryAt && Clock::now() >= *mPassedRetryAt)
                retryPassedShares();
            if (openFolder() && registerDeviceIfNecessary())
            {
                // A Share that cannot be brought down for a local reason holds no message back; a lost server
                // does.
                if (synchroniseCloudData() || !mServerUnavailable)
                    retrieveAndProcessNextServerMessages();
            }
            // Nothing of the folder is held open between checks.
            mFolder.close();
            deadline = Clock::now() + mPollingInterval;
        }
    }
}

bool CommandProcessor::openFolder()
{
    // Opened again for every cycle: the folder must still be where the user sees it.
    try
    {
        mFolder.open(tree(), mPinnedFolder);
        if (mFolderLost)
            QCL_LOG_INFO(L"The Wayfold folder is back");
        mFolderLost = false;
        return true;
    }
    catch (const PinnedFolder::Lost& lost)
    {
        if (!mFolderLost)
        {
            mFolderLost = true;
            QCL_LOG_ERROR(lost.message() << L": nothing is synchronised until it is back");
            mCallback.onWayfoldFolderMissing(lost.message());
        }
        return false;
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_WARN(error.message());
        return false;
    }
}

void CommandProcessor::waitForWork(Clock::time_point deadline, bool serverCheckAllowed)
{
    const auto start = Clock::now();
    std::unique_lock lock(mMutex);
    if (!serverCheckAllowed)
    {
        QCL_LOG_TRACE(L">>> Waiting for something to do...");
        while (!mPendingSnapshot)
        {
            checkInterruption();
            mCondition.wait(lock);
        }
        checkInterruption();
    }
    else
    {
        QCL_LOG_TRACE(L">>> Waiting for " << std::max(0LL, wholeSeconds(deadline - start))
                                          << L" seconds before checking for server messages...");
        while (!mPendingSnapshot && Clock::now() < deadline)
        {
            checkInterruption();
            mCondition.wait_until(lock, deadline);
        }
        checkInterruption();
    }
    QCL_LOG_TRACE(L"<<< Woke up after " << wholeSeconds(Clock::now() - start) << L" seconds because "
                                        << (mPendingSnapshot ? L"there is a snapshot to process"
                                                             : L"it's time to check for server messages"));
}

void CommandProcessor::setSynchronising(bool synchronising)
{
    if (mSynchronising == synchronising)
        return;
    mSynchronising = synchronising;
    mCallback.setSynchronising(synchronising);
}

void CommandProcessor::setCloudDataSynchronised(bool synchronised)
{
    // The setter raises the modification event through which the tree database stores the flag.
    tree().setSynchronised(synchronised);
}

bool CommandProcessor::registerDeviceIfNecessary()
{
    if (!mDeviceId.isNil())
        return true;
    try
    {
        setSynchronising(true);
        mDeviceId = mApi.registerDevice();
        onServerAvailable();
    }
    catch (const url::Error& error)
    {
        onServerUnavailable(error);
        return false;
    }
    if (mNextServerMessageNumber != 0)
    {
        mNextServerMessageNumber = 0;
        mCallback.setNextServerMessageNumber(0);
    }
    // A new Device has seen nothing: every Share must really be brought down again, not just the root.
    setCloudDataSynchronised(false);
    for (Tree::Node& child : tree().children())
        if (Tree::Directory* share = child.asDirectory())
            share->setSynchronised(false);
    QCL_LOG_INFO(L"Registered new Device " << mDeviceId);
    mCallback.onDeviceRegistered(mDeviceId);
    return true;
}

void CommandProcessor::onServerAvailable()
{
    if (!mServerUnavailable)
        return;
    mServerUnavailable = false;
    QCL_LOG_INFO(L"Network connection reestablished.");
    mCallback.onServerAvailable();
}

void CommandProcessor::onServerUnavailable(const url::Error& error)
{
    if (!dynamic_cast<const url::NetworkError*>(&error) &&
        !dynamic_cast<const url::ServerSideError*>(&error) &&
        !dynamic_cast<const url::ConflictError*>(&error))
        throw;
    setSynchronising(false);
    if (mServerUnavailable)
        return;
    mServerUnavailable = true;
    QCL_LOG_WARN(error.message());
    mCallback.onServerUnavailable(error);
}

void CommandProcessor::stopScannerAfterLocalChange()
{
    if (!mScannerStarted)
        return;
    mScannerStarted = false;
    mCallback.stopScanner();
}

void CommandProcessor::forceShareResynchronisation(Tree::Directory& share)
{
    QCL_LOG_INFO(L"Forcing the re-synchronisation of the Wayfold Share "
                 << qcl::string::escaped(share.name(), L'"') << L" (" << share.shareId() << L")");
    setCloudDataSynchronised(false);
    share.setSynchronised(false);
}
bool CommandProcessor::matchesDisk(const Tree::Node& node)
{
    std::wstring failure;
    if (mFolder.matches(node, &failure))
        return true;
    if (!failure.empty())
        noteLocalFailure(failure);
    return false;
}

void CommandProcessor::reportLocalFailure(const std::function<void()>& report)
{
    if (!mCurrentWork || mFailingWork != mCurrentWork)
        report();
}

void CommandProcessor::noteUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                                         const qcl::SystemError& error)
{
    QCL_LOG_INFO(error.message());
    noteLocalFailure(error.message());
    const bool inUse = error.code().value() == static_cast<int>(ERROR_SHARING_VIOLATION);
    reportLocalFailure([&]
                       { mCallback.onLocalUpdateBlocked(node, share, inUse ? L"" : error.systemText()); });
}

void CommandProcessor::retryPassedShares()
{
    mPassedRetryAt.reset();
    for (Tree::Node& child : tree().children())
        if (const Tree::Directory* share = child.asDirectory(); share && !share->isSynchronised())
        {
            setCloudDataSynchronised(false);
            return;
        }
}

void CommandProcessor::schedulePassedRetry()
{
    // Twice the pause each time the same work is passed again, from two polling intervals to an hour.
    constexpr int maxDoublings = 6;
    const auto base = std::max<std::chrono::milliseconds>(mPollingInterval, std::chrono::milliseconds(1));
    const auto pause = std::min<std::chrono::milliseconds>(base * (2 << std::min(mPasses, maxDoublings)),
                                                           std::chrono::hours(1));
    ++mPasses;
    mPassedRetryAt = Clock::now() + pause;
}

bool CommandProcessor::mustPassAfterLocalFailure(std::uint64_t work)
{
    if (mFailingWork != work)
    {
        mFailingWork = work;
        mFailedCycles = 0;
    }
    else if (mLastLocalFailure.empty() && mSnapshotsAtLastFailure == mSnapshotsProcessed)
        return false; // the disk did not match the tree, and was not scanned since: the user's change is on its way
    mSnapshotsAtLastFailure = mSnapshotsProcessed;
    if (++mFailedCycles < kLocalFailureCycles)
        return false;
    clearLocalFailures(work);
    return true;
}

void CommandProcessor::clearLocalFailures(std::uint64_t work)
{
    if (mFailingWork != work)
        return;
    mFailingWork.reset();
    mFailedCycles = 0;
}

bool CommandProcessor::dropStaleNodesOfLocalId(std::uint64_t localId)
{
    std::vector<Tree::Node*> claimants;
    std::function<void(Tree::Node&)> collect = [&](Tree::Node& node)
    {
        if (node.localId() == localId && node.parent())
            claimants.push_back(&node);
        if (Tree::Directory* directory = node.asDirectory())
            for (Tree::Node& child : directory->children())
                collect(child);
    };
    collect(tree());

    bool dropped = false;
    for (Tree::Node* node : claimants)
    {
        const std::wstring path = node->getPath();
        try
        {
            if (qcl::file::getFileId(path) == localId)
                continue;
        }
        catch (const qcl::SystemError&)
        {
        }
        QCL_LOG_WARN(L"Dropped the node of '" << qcl::string::escaped(path) << L"' whose local ID "
                                              << Tree::formatLocalId(localId) << L" belongs to another item");
        Tree::Node* share = node;
        while (share->parent() != &tree())
            share = share->parent();
        if (share != node)
            forceShareResynchronisation(*share->asDirectory());
        else
            setCloudDataSynchronised(false);
        node->detach();
        dropped = true;
    }
    return dropped;
}
} // namespace dwl
