#pragma once
// The worker thread "Scanner": rebuilds a snapshot tree of the Wayfold folder from the disk and hands it to its
// receiver. It scans once when it starts, again after every change that its folder monitor reports once the folder
// has been quiet for a while, and at the rescan interval when one is set.

#include "qcl/Thread.h"
#include "sync/FolderMonitor.h"
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
    // Called on the scanner thread when the scanned folder is no longer the folder that was given (replaced,
    // renamed, unmounted): no snapshot is sent until it is back.
    using FolderErrorCallback = std::function<void(const std::wstring& message)>;

    // Thrown by the scan when a rescan request arrives during it.
    class InterruptedScanException
    {
    };

    Scanner();
    ~Scanner() override;

    void setSnapshotCallback(SnapshotCallback callback) { mSnapshotCallback = std::move(callback); }
    void setFolderErrorCallback(FolderErrorCallback callback) { mFolderErrorCallback = std::move(callback); }

    // Before start: the full path of the Wayfold folder. Notes which folder it is (its device and local id) and
    // makes a new, empty snapshot root named by the path. Throws qcl::SystemError when the folder cannot be read.
    void setFolder(const std::wstring& folder);
    // Seconds between regular rescans; 0 turns them off.
    void setRescanInterval(std::int64_t seconds) { mRescanInterval = seconds; }
    // How long the folder must be without changes before a scan; 2 seconds unless changed (tests shorten it).
    void setQuietTime(std::chrono::milliseconds quietTime) { mQuietTime = quietTime; }

    // Callable from any thread.
    void requestRescan();

    // For the owner's error callback on the monitor thread.
    FolderMonitor& folderMonitor() { return mFolderMonitor; }

private:
    void run() override;
    bool waitForQuietTime();
    void rescanTree();
    void checkFolderIdentity() const;
    void sendSnapshot();

    SnapshotCallback mSnapshotCallback;
    FolderErrorCallback mFolderErrorCallback;
    std::wstring mFolder;
    FolderMonitor mFolderMonitor;
    std::unique_ptr<Tree::Directory> mRoot;
    std::int64_t mRescanInterval = 0;
    std::chrono::milliseconds mQuietTime{2000};
    std::atomic<bool> mRescanRequested{false};

    // Which folder was given: a folder replaced or unmounted under the same path is another one.
    std::uint32_t mFolderVolume = 0;
    std::uint64_t mFolderLocalId = 0;
    bool mFolderErrorReported = false;
};
} // namespace dwl
