#pragma once
// The command processor thread: the only thread that changes the tree, the tree database and the server once
// the engine runs. Each cycle applies the pending local snapshot (CommandProcessorOutbound.cpp), then, when
// the polling interval has passed, registers the Device if needed, brings every Share down once and applies
// the server messages (CommandProcessorInbound.cpp).

#include "api/IWayfoldApi.h"
#include "api/ServerError.h"
#include "qcl/Error.h"
#include "qcl/Thread.h"
#include "qcl/Uint128.h"
#include "sync/CreationIntents.h"
#include "sync/LocalFolder.h"
#include "sync/ScanNotes.h"
#include "sync/Tree.h"
#include "sync/TreeDelta.h"
#include "url/Error.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace dwl
{
class CommandProcessor : private qcl::InterruptibleThread, private TreeDeltaCallbacks
{
public:
    // How the engine reports to its owner. Called on the command processor thread, never under its mutex.
    class Callback
    {
    public:
        virtual void onDeviceRegistered(const qcl::uint128& deviceId) = 0;
        virtual void onFileTooBig(const std::wstring& path, std::uint64_t size,
                                  std::uint64_t maximumSize) = 0;
        virtual void onServerUnavailable(const url::Error& error) = 0;
        virtual void onServerAvailable() = 0;
        virtual void setSynchronising(bool synchronising) = 0;
        virtual void setNextServerMessageNumber(std::uint64_t number) = 0;
        virtual void onDocumentDownloaded(const Tree::File& file, const Tree::Directory& share) = 0;
        // The item's name, the local folder it was to go to, and why it failed: the system's text for the
        // cause ("There is not enough space on the disk."), with no path in it.
        virtual void onDocumentDownloadFailed(const std::wstring& name, const std::wstring& folderPath,
                                              const std::wstring& reason) = 0;
        virtual void onFolderDownloadFailed(const std::wstring& name, const std::wstring& parentPath,
                                            const std::wstring& reason) = 0;
        virtual void onLocalRemovalFailed(const Tree::Node& node, const Tree::Directory& share,
                                          const std::wstring& reason) = 0;
        // A server change that cannot be made to the node's item now: `reason` is the cause (the system's
        // text, "Access is denied.", or the engine's), empty when another program has the item open.
        virtual void onLocalUpdateBlocked(const Tree::Node& node, const Tree::Directory& share,
                                          const std::wstring& reason) = 0;
        // The server refused a new item or a document's content. `path` is the item's local path, `share`
        // the Share it belongs to; `code` is the refusal's code (in the "Wayfold" category when the server
        // named one) and `message` the server's own text for it, empty when it gave none; neither holds an
        // address or an id.
        virtual void onDocumentCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                              const std::error_code& code, const std::wstring& message) = 0;
        virtual void onFolderCreationFailed(const std::wstring& path, const Tree::Directory& share,
                                            const std::error_code& code, const std::wstring& message) = 0;
        virtual void onShareCreationFailed(const std::wstring& path, const std::error_code& code,
                                           const std::wstring& message) = 0;
        virtual void onDocumentUploadFailed(const Tree::File& file, const Tree::Directory& share,
                                            const std::error_code& code, const std::wstring& message) = 0;
        // The document's content is on the server: an earlier failure of the document is over.
        virtual void onDocumentUploaded(const Tree::File& /*file*/, const Tree::Directory& /*share*/) {}
        // An item the engine cannot read (its mode, its owner): a document is not sent, and what a folder holds
        // is left as it was, until it can be read. `item` is its node (the snapshot's while it is new), `share`
        // the Share that holds it, `reason` the system's text for the cause. Reported once while it stays so.
        virtual void onItemUnreadable(const Tree::Node& item, const Tree::Directory& share,
                                      const std::wstring& reason) = 0;
        // Another name (hard link) of a document, left alone: `name` is its node in the snapshot, `share` the
        // Share that holds it, `syncedPath` the path, below the Wayfold folder, of the name it is synchronised
        // under.
        virtual void onOtherName(const Tree::File& name, const Tree::Directory& share,
                                 const std::wstring& syncedPath) = 0;
        // The path of the Wayfold folder no longer leads to the folder pinned at the start (moved away, replaced,
        // unmounted): nothing is done in the folder or on the server until it is back. Once each time it goes.
        virtual void onWayfoldFolderMissing(const std::wstring& reason) = 0;
        virtual void startScanner() = 0;
        virtual void stopScanner() = 0;

    protected:
        ~Callback() = default;
    };

    // Ends a tree delta because a newer snapshot is waiting.
    struct StoppedTreeDelta
    {
    };
    // Ends the down-synchronisation of one Share that cannot be brought in line now.
    struct StoppedSynchronisation
    {
    };

    CommandProcessor(IWayfoldApi& api, Callback& callback);
    ~CommandProcessor();

    // Settings; all are in place before the thread starts.
    void setDeviceId(const qcl::uint128& deviceId) { mDeviceId = deviceId; }
    const qcl::uint128& deviceId() const { return mDeviceId; }
    void setTree(Tree::Directory& root) { mTree = &root; }
    // The Wayfold folder, which the tree's root describes.
    void setFolder(const PinnedFolder& folder) { mPinnedFolder = folder; }
    void setMaxUploadSize(std::uint64_t bytes) { mMaxUploadSize = bytes; }
    // 0 turns the polling of server messages off.
    void setPollingInterval(std::chrono::milliseconds interval) { mPollingInterval = interval; }
    void setSnapshotRetryInterval(std::chrono::milliseconds interval) { mSnapshotRetryInterval = interval; }
    void setNextServerMessageNumber(std::uint64_t number) { mNextServerMessageNumber = number; }
    std::uint64_t nextServerMessageNumber() const { return mNextServerMessageNumber; }
    // Names matched whole; an empty pattern matches nothing.
    void setDocumentBlacklist(const std::wstring& pattern);
    void setFolderBlacklist(const std::wstring& pattern);
    // When set (the default), the first server check waits for the first snapshot, so that edits made while
    // the program was stopped are known before any server message is applied. Owners that run no scanner
    // clear it.
    void setFirstSnapshotAwaited(bool awaited) { mFirstSnapshotAwaited = awaited; }
    // How long at most the first server check waits for that snapshot: 30 seconds unless changed, the longest
    // a folder that keeps changing holds a snapshot back (Scanner::kMaxSnapshotDelay).
    void setFirstSnapshotWait(std::chrono::milliseconds wait) { mFirstSnapshotWait = wait; }
    // Where creations are noted until their answer is recorded; by default, in memory only.
    void setCreationIntents(CreationIntents& intents) { mIntents = &intents; }

    // Before a start: the next run reports the server's availability and the synchronising state afresh.
    void forgetReportedStates()
    {
        mServerUnavailable = false;
        mSynchronising = false;
    }

    // Scanner thread: hands a snapshot over, replacing one not yet processed.
    void postSnapshot(std::unique_ptr<Tree::Directory> snapshot);

    using qcl::InterruptibleThread::interrupt;
    using qcl::InterruptibleThread::stop;
    using qcl::NamedThread::exception;
    using qcl::NamedThread::isRunning;
    using qcl::NamedThread::join;
    using qcl::NamedThread::name;
    using qcl::NamedThread::setErrorCallback;
    using qcl::NamedThread::start;
    // For owners that hand the thread object to an error callback.
    qcl::NamedThread& thread() { return *this; }

private:
    using Clock = std::chrono::steady_clock;

    // What straightening a server item's place reached: the local directory and, for documents, the file.
    struct Straightened
    {
        bool retry = false;
        Tree::Directory* directory = nullptr;
        Tree::File* file = nullptr;
    };
    using Ancestors = std::vector<IWayfoldApi::AssetProperties::Ancestor>;

    // CommandProcessor.cpp: the cycle and the state shared by both directions.
    void run() override;
    void waitForWork(Clock::time_point deadline, bool serverCheckDue);
    // Opens the Wayfold folder for the work of a cycle; false when it cannot be, and mFolderLost tells whether
    // that is because its path leads elsewhere.
    bool openFolder();
    void setSynchronising(bool synchronising);
    void setCloudDataSynchronised(bool synchronised);
    bool registerDeviceIfNecessary();
    void onServerAvailable();
    // Inside a catch block only: what is not a loss of the server is thrown on.
    void onServerUnavailable(const url::Error& error);
    // Called once the folder was changed from server data: a scan running meanwhile, or a snapshot made
    // before, may hold the change half-made or not at all, and is dropped when the scanner starts again.
    // An attempt that fails before it changes anything leaves the scanner running, so that a change that
    // keeps failing does not keep every scan from finishing.
    void stopScannerAfterLocalChange();
    void forceShareResynchronisation(Tree::Directory& share);
    // Detaches every node that claims the local id while the item at its path carries another one (an item
    // that is gone and whose id was reused), and lets its Share be brought down again. Whether any was
    // dropped.
    bool dropStaleNodesOfLocalId(std::uint64_t localId);
    Tree::Directory& tree() { return *mTree; }

    // CommandProcessorInbound.cpp: server messages and down-synchronisation.
    void retrieveAndProcessNextServerMessages();
    bool processServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processShareCreatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processShareUpdatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processShareDeletedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processFolderCreatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processFolderUpdatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processDocumentUpdatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processVersionCreatedServerMessage(const IWayfoldApi::ServerMessage& message);
    bool processDocumentOrFolderDeleted(const IWayfoldApi::ServerMessage& message);
    bool processOtherServerMessage(const IWayfoldApi::ServerMessage& message);
    std::optional<IWayfoldApi::Share> getShareProperties(const qcl::uint128& shareId);
    std::optional<IWayfoldApi::AssetProperties> getAssetProperties(const qcl::uint128& shareId,
                                                                   const qcl::uint128& assetId);
    bool synchroniseCloudData();
    // Recorded Shares that the server no longer lists, and does not give when asked for: removed as after a
    // server deletion. Whether every one is done with.
    bool removeUnlistedShares(const std::vector<IWayfoldApi::Share>& listed);
    void synchroniseShare(const IWayfoldApi::Share& share);
    // What the walk of a Share's folders found: the assets listed, and the folders whose own listing was not
    // read (passed, left out, not accessible).
    struct ShareListing
    {
        std::set<qcl::uint128> listed;
        std::set<qcl::uint128> unread;
    };
    void synchroniseDirectory(const IWayfoldApi::Share& share, Ancestors& ancestors, ShareListing& listing);
    // Recorded items of the Share that no listing named are removed as after a server deletion, except below
    // a folder whose listing was not read; an item that cannot be removed now counts as passed.
    void removeUnlistedItems(const qcl::uint128& shareId, const ShareListing& listing);
    // A Share or asset of the server that cannot be synchronised here (its `problem`): left out, noted in the
    // log and reported once. `where` is the local folder it would go to.
    void leaveOut(const qcl::uint128& id, bool folder, const std::wstring& name, const std::wstring& where,
                  const std::wstring& problem);
    void leaveOut(const IWayfoldApi::Asset& asset, const std::wstring& where);
    // At the end of a listing (the down-synchronisation, a run of server messages): the items left out past
    // the first few, which were not told one by one, are told in one summary.
    void tellLeftOutSummary();
    // The local folder of the Share, or the Wayfold folder when it has none.
    std::wstring placeOfShare(const qcl::uint128& shareId);
    bool synchroniseDocument(const IWayfoldApi::Share& share, const IWayfoldApi::AssetProperties& asset);
    Straightened straightenAncestors(const IWayfoldApi::Share& share, const Ancestors& ancestors);
    Straightened straightenDocument(const IWayfoldApi::Share& share,
                                    const IWayfoldApi::AssetProperties& asset);
    Tree::Directory* createLocalShare(const IWayfoldApi::Share& share);
    bool deleteLocalShare(Tree::Directory& share);
    bool removeLocalItem(Tree::Node& node, Tree::Directory& share);
    // Whether the item of the node must move to follow its server name and place: it is elsewhere, or under
    // another name than the first local form of the server name (a " (n)" form only while that is free).
    bool mustFollowName(const Tree::Node& node, const Tree::Directory& parent, const std::wstring& serverName);
    // Items left under a " (n)" form of a name that a move or a deletion just vacated follow their server names.
    void revisitVacatedNames();
    void followServerName(const qcl::uint128& shareId, const qcl::uint128& assetId);
    // Moves or renames the item of the node on disk and in the tree; false when it is to be tried again.
    bool moveLocalNode(Tree::Node& node, Tree::Directory& parent, const std::wstring& name,
                       Tree::Directory& share, const wchar_t* kind, const wchar_t* serverKind,
                       const qcl::uint128& assetId);
    // A new local folder for a server folder; null when it is to be tried again.
    Tree::Directory* createLocalDirectory(Tree::Directory& parent, const qcl::uint128& assetId,
                                          const std::wstring& name, const qcl::uint128& shareId);
    // Whether the disk matches the tree at the node (see LocalFolder::matches); a failure to read it counts
    // as a local failure of the current work.
    bool matchesDisk(const Tree::Node& node);
    // Tells the user of a local failure, unless the work that failed is being retried and was reported
    // already.
    void reportLocalFailure(const std::function<void()>& report);
    // A change of the node's item on disk failed for a local reason: logged, kept for the pass line and told
    // (see reportLocalFailure), with the system's text of the cause, or none when another program has the
    // item open.
    void noteUpdateBlocked(const Tree::Node& node, const Tree::Directory& share, const qcl::SystemError& error);
    // Counts the failure of the work (a server message, or the down-synchronisation); true when it has failed
    // for a local reason in enough cycles in a row to be passed.
    bool mustPassAfterLocalFailure(std::uint64_t work);
    void clearLocalFailures(std::uint64_t work);
    // Work passed after local failures is tried again: at every start, and after pauses that grow each time.
    void retryPassedShares();
    void schedulePassedRetry();
    bool downloadFile(Tree::Directory& directory, const IWayfoldApi::Asset& asset, const std::wstring& name,
                      std::uint64_t versionNumber, Tree::File* existing);
    // An update of a document that failed for a local reason (its file in use, its folder not writable) is
    // tried again only after a pause, which grows with each failure: whether the document's is still running.
    bool isUpdateHeldBack(const qcl::uint128& assetId);
    void holdUpdateBack(const qcl::uint128& assetId);
    // Records a download in the tree, ending its intent; false when that failed (settled at the next cycle).
    bool recordDownload(const CreationIntent& placing, const std::function<void()>& record);
    bool isOwnDownload(const qcl::uint128& assetId, std::uint64_t localId);
    // Keeps the reason of a local failure of the current work (not a disk that no longer matches the tree),
    // for the line that passes the work.
    void noteLocalFailure(const std::wstring& reason) { mLastLocalFailure = reason; }
    // ": " and that reason, or nothing.
    std::wstring lastFailureText() const { return mLastLocalFailure.empty() ? L"" : L": " + mLastLocalFailure; }
    // Adds a node made from server data; a stale node holding the same local id is dropped first.
    Tree::Node& addLocalNode(Tree::Directory& parent, std::unique_ptr<Tree::Node> node);

    // CommandProcessorOutbound.cpp: local changes and uploads.
    // Whether the snapshot was compared to its end (not stopped by a newer one).
    bool processNewSnapShot(std::unique_ptr<Tree::Directory> snapshot);
    bool runTreeDelta(Tree::Directory& snapshot);
    void waitBeforeRetryingSnapshot();
    void checkIfMustStopTreeDelta();
    void onShareRenamed(Tree::Directory* oldShare, Tree::Directory* newShare) override;
    Tree::Directory* onShareAdded(Tree::Directory* newShare) override;
    void onShareRemoved(Tree::Directory* oldShare) override;
    void onNodeRenamed(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode) override;
    void onNodeMoved(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode,
                     Tree::Directory* oldDestination) override;
    Tree::Directory* onDirectoryAdded(Tree::Directory* oldShare, Tree::Directory* newDirectory,
                                      Tree::Directory* oldDestination) override;
    void onFileAdded(Tree::Directory* oldShare, Tree::File* newFile,
                     Tree::Directory* oldDestination) override;
    void onFileModified(Tree::Directory* oldShare, Tree::File* oldFile, Tree::File* newFile) override;
    void onNodeRemoved(Tree::Directory* oldShare, Tree::Node* oldNode) override;
    void onShareNotRestored(Tree::Directory* oldShare) override;
    void onNodeNotRestored(Tree::Directory* oldShare, Tree::Node* oldNode) override;
    bool isBlacklisted(const std::optional<std::wregex>& blacklist, const std::wstring& name) const;
    // CommandProcessorIntents.cpp: items whose record was cut short.
    // Records or undoes what the download intents left: run before any snapshot is compared with the tree.
    void settleDownloads();
    void settleDownload(const CreationIntent& intent);
    // The file of an unrecorded download of the document found in the folder, recorded now; null when there
    // is none.
    Tree::File* adoptPlacedDownload(Tree::Directory& directory, const IWayfoldApi::Asset& asset);
    // Creates the folder or document of the intent on the server for the new item `local`, noting the intent
    // first. When the intent is noted already, an earlier request may have been carried out without its
    // answer reaching the tree: the server asset of that name and kind that no node describes (for a document,
    // one still without content) is then taken instead of a new one. A file that is a download of this engine
    // (its local id is a download intent's) is its document's: the intent is put in `download`. The caller
    // forgets the intent once the answer is recorded.
    qcl::uint128 createAsset(const CreationIntent& intent, const Tree::Node& local,
                             std::optional<CreationIntent>& download);
    // The same for a Share: one that an earlier request made (empty) or whose folder this engine made is
    // taken instead of a new one.
    IdPair createShare(const CreationIntent& intent);
    // The server's children of the folder, read once a delta attempt.
    const std::vector<IWayfoldApi::Asset>& serverChildren(const IdPair& folder);

    // Upload (CommandProcessorOutbound.cpp).
    // The file of the snapshot's node in the folder of `directory`, opened for the upload; none when it must
    // not be uploaded now. One that cannot be read is reported once.
    qcl::Handle openFileForUpload(Tree::Directory& directory, const Tree::File& file);
    bool isTooBigToUpload(std::uint64_t size) const;
    // Sends the content of `content`, the snapshot's file opened by openFileForUpload (nothing when that
    // failed).
    void uploadFile(Tree::Directory& share, Tree::File& file, const Tree::File& snapshotFile, qcl::Handle content);

    IWayfoldApi& mApi;
    Callback& mCallback;
    LocalFolder mFolder;
    PinnedFolder mPinnedFolder;
    bool mFolderLost = false; // reported, until the folder is back
    qcl::uint128 mDeviceId;
    Tree::Directory* mTree = nullptr;
    std::uint64_t mMaxUploadSize = 0;
    std::unique_ptr<Tree::Directory> mPendingSnapshot; // guarded by the thread's mutex
    std::chrono::milliseconds mPollingInterval{0};
    std::chrono::milliseconds mSnapshotRetryInterval{std::chrono::seconds(60)};
    std::uint64_t mNextServerMessageNumber = 0;
    std::optional<std::wregex> mDocumentBlacklist;
    std::optional<std::wregex> mFolderBlacklist;
    bool mServerUnavailable = false;
    bool mScannerStarted = false;
    bool mSynchronising = false;
    bool mFirstSnapshotAwaited = true;
    std::chrono::milliseconds mFirstSnapshotWait{std::chrono::seconds(30)};
    bool mSettlementDue = true; // download intents to settle before the next snapshot
    std::set<std::uint64_t> mUnsettledFolders; // by local id: their content waits for the settlement
    std::wstring mLastLocalFailure;
    std::size_t mItemsPassed = 0; // by the down-synchronisation of the current Share
    // Names that moves and deletions made by server data left free, by the server folder that held them.
    struct Vacated
    {
        qcl::uint128 shareId;
        qcl::uint128 parentId;
        std::wstring name;
    };
    std::vector<Vacated> mVacated;
    bool mFirstSnapshotProcessed = false;
    MemoryCreationIntents mOwnIntents;
    CreationIntents* mIntents = &mOwnIntents;
    std::set<qcl::uint128> mRefusedUploads; // documents whose last upload the server refused
    struct BlockedUpdate
    {
        Clock::time_point retryAt;
        std::chrono::milliseconds pause{0};
        std::wstring reason; // for the line that passes the work
    };
    std::map<qcl::uint128, BlockedUpdate> mBlockedUpdates;                // by document
    std::set<std::pair<std::uint64_t, std::wstring>> mUnreadableReported; // files, by local id and path
    // Work that fails for a local reason (not a lost server) is passed after this many cycles in a row, each
    // with a snapshot of the folder since the one before, so that one item cannot hold back every later
    // change.
    static constexpr int kLocalFailureCycles = 3;
    static constexpr std::uint64_t kDownSynchronisation = UINT64_MAX; // the work key beside message numbers
    std::optional<std::uint64_t> mCurrentWork;
    std::optional<std::uint64_t> mFailingWork;
    int mFailedCycles = 0;
    int mPasses = 0;
    std::optional<Clock::time_point> mPassedRetryAt;
    std::uint64_t mSnapshotsProcessed = 0;
    std::uint64_t mSnapshotsAtLastFailure = 0;
    std::map<qcl::uint128, std::vector<IWayfoldApi::Asset>>
        mServerChildren; // by folder, for one delta attempt
    ScanNotes mScanNotes; // unreadable folders and second names of files, reported once
    RenewedFolders mRenewedFolders; // restored or moved, and not compared for removals yet
    std::set<qcl::uint128> mLeftOut;         // Shares and assets of the server reported as left out
    static constexpr std::size_t kLeftOutRemembered = 10000;
    static constexpr std::size_t kLeftOutToldEachListing = 5;
    std::size_t mLeftOutTold = 0;            // one by one, in the current listing
    std::size_t mLeftOutUntold = 0;          // past those, for the summary
    std::wstring mLeftOutWhere;              // where the first of those would have gone
    std::set<qcl::uint128> mRemovalsFailing; // assets whose local removal failed and was reported
};
} // namespace dwl
