#pragma once
// The worker thread "Scanner": rebuilds a snapshot tree of the Wayfold folder from the disk and hands it to its
// receiver. It scans once when it starts, again after every change that its folder monitor reports once the folder
// has been quiet for a while, and at the rescan interval when one is set. A folder that never stays quiet (a file
// written every second) holds nothing back for long: a snapshot follows the first change after the last one
// within a bounded delay, and a change during a scan asks for another scan rather than throwing this one away.

#include "qcl/Thread.h"
#include "sync/FolderMonitor.h"
#include "sync/PinnedFolder.h"
#include "sync/RemovalDoubts.h"
#include "sync/Tree.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dwl
{
class Scanner : public qcl::InterruptibleThread
{
public:
    // Called on the scanner thread with the snapshot's root, which stays the scanner's: the receiver copies what it
    // keeps, since the next scan clears and refills the same tree.
    using SnapshotCallback = std::function<void(Tree::Directory* root)>;
    // Called on the scanner thread when the folder's path no longer leads to the folder that was given (moved,
    // replaced, unmounted): no snapshot is sent until it is back.
    using FolderErrorCallback = std::function<void(const std::wstring& message)>;

    Scanner();
    ~Scanner() override;

    void setSnapshotCallback(SnapshotCallback callback) { mSnapshotCallback = std::move(callback); }
    void setFolderErrorCallback(FolderErrorCallback callback) { mFolderErrorCallback = std::move(callback); }

    // Before start: the Wayfold folder. Each scan reads that folder through a descriptor opened and checked
    // afresh, and the snapshot root is named by its path.
    void setFolder(const PinnedFolder& folder);
    // Seconds between regular rescans; 0 turns them off.
    void setRescanInterval(std::int64_t seconds) { mRescanInterval = seconds; }
    // How long the folder must be without changes before a scan; 2 seconds unless changed (tests shorten it).
    void setQuietTime(std::chrono::milliseconds quietTime) { mQuietTime = quietTime; }
    // The longest a snapshot waits for quiet after the first change since the last one, however the changes go on.
    static constexpr std::chrono::milliseconds kMaxSnapshotDelay{30000};
    void setMaxSnapshotDelay(std::chrono::milliseconds delay) { mMaxSnapshotDelay = delay; }

    // Callable from any thread.
    void requestRescan();

    // For the owner's error callback on the monitor thread.
    FolderMonitor& folderMonitor() { return mFolderMonitor; }

private:
    using Clock = std::chrono::steady_clock;

    void run() override;
    // Called by the folder monitor with the path that changed last.
    void noteChange(std::wstring path, bool namesChanged);
    // Waits until no change came for the quiet time, or until `deadline`; whether any change came. One that comes
    // once the deadline has passed is left for the next scan. Notes when the deadline cut the wait short.
    bool waitForQuietTime(Clock::time_point deadline);
    void rescanTree(Clock::time_point deadline);
    // A snapshot sent while the folder still changes: says once which item keeps changing.
    void noteBusyFolder();
    // Waits (a bounded time) until the folder monitor has passed on the records of every change made so far;
    // whether it did.
    bool readChangesSoFar();
    // Notes on the snapshot whether its removals are in doubt (see RemovalDoubts), and asks for the scan that
    // settles them.
    void noteDoubtfulRemovals();
    void sendSnapshot();

    SnapshotCallback mSnapshotCallback;
    FolderErrorCallback mFolderErrorCallback;
    PinnedFolder mFolder;
    FolderMonitor mFolderMonitor;
    std::unique_ptr<Tree::Directory> mRoot;
    std::int64_t mRescanInterval = 0;
    std::chrono::milliseconds mQuietTime{2000};
    std::chrono::milliseconds mMaxSnapshotDelay{kMaxSnapshotDelay};
    std::atomic<bool> mRescanRequested{false};
    std::atomic<bool> mNamesChanged{false}; // an entry was made, removed or moved since the scan began
    bool mDeadlineReached = false; // by the wait for quiet, since the first change before this snapshot
    std::wstring mLastChange;      // guarded by the mutex
    std::wstring mBusyReported;    // the item last named as changing while a snapshot was sent
    std::uint64_t mChangesReadThrough = 0; // the last read-through request done; guarded by the mutex
    RemovalDoubts mRemovalDoubts;
    bool mFolderErrorReported = false;
};
} // namespace dwl
