#pragma once
// The open Wayfold folder, through which the command processor makes every change that server data asks for.
//
// An item is found from the folder's descriptor one name at a time along the tree, never through a symbolic
// link and never outside the folder: a folder on the way is opened only while it carries the local id that
// the tree records and is not hidden, and is kept open until close(). Whenever a folder is used again, each
// folder on the way is checked to be still the one kept open, under the tree's name in the folder above.
// Each change reads the item it acts on again at the moment it commits, and commits in one step: another
// program may change anything at any moment, and a check made earlier proves nothing. Every new directory
// entry is synced with its folder; a sync that fails is tried again later, while the entry counts as made.

#include "compat/FolderAt.h"
#include "qcl/Error.h"
#include "qcl/Handle.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/PinnedFolder.h"
#include "sync/Tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dwl
{
class LocalFolder
{
    struct Folder;
    using FolderRef = std::shared_ptr<const Folder>;

public:
    // The disk no longer matches the tree on the way to an item (the user has just renamed, replaced, removed
    // or hidden something that the scanner has not reported yet): the change waits for a later cycle.
    class Mismatch : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        using qcl::basic_runtime_error<wchar_t>::basic_runtime_error;
    };

    // A new hidden file beside its target that a download is written to; removed again unless put in place.
    // It stays open until it is placed, so that what the tree records of it is read from the file itself.
    class Download
    {
    public:
        Download(Download&&) = default;
        ~Download();

        HANDLE handle() const { return mFile.get(); }
        // The file's local id, known from its creation on.
        std::uint64_t localId() const { return mFacts.localId; }
        // Once the content is written: its size and time, read from the file.
        const commandprocessor::FileFacts& written();
        // Makes the file visible and its content and name durable.
        void finish();
        // What the tree records of it; the change time is read once it is in place.
        const commandprocessor::FileFacts& facts() const { return mFacts; }
        bool isPlaced() const { return mPlaced; }

    private:
        friend class LocalFolder;
        Download() = default;
        void placed();

        const Tree::Directory* mDirectory = nullptr;
        FolderRef mFolder;
        std::string mName;
        qcl::Handle mFile;
        commandprocessor::FileFacts mFacts;
        bool mPlaced = false;
    };

    // What a move did: the name taken, and for a file the change time that the move gave it when the file was
    // provably the recorded version before the move (0 otherwise: not known, which proves nothing).
    struct Moved
    {
        std::wstring name;
        std::uint64_t changeTime = 0;
    };

    // Whether the item is provably still the version of the file that the tree records: its change time, which
    // any change moves, is the one recorded (a change time not known, 0, proves nothing).
    static bool isAsRecorded(const compat::at::ItemStatus& status, const Tree::File& file);
    // The same but for the change time: the item has the recorded id, size and modification time, which an
    // edit that kept the size and the time, or a change of metadata alone, leaves as they were. That is what
    // decides an edit; it does not prove that nothing changed.
    static bool hasRecordedContent(const compat::at::ItemStatus& status, const Tree::File& file);
    // Whether the item is the file of `expected` (id, size and modification time), whatever moved it since.
    static bool isSameContent(const compat::at::ItemStatus& status, const compat::at::ItemStatus& expected);

    // Told after each change that a scan can see (a hidden download file being written is none).
    void setChangeListener(std::function<void()> listener) { mChangeListener = std::move(listener); }

    // Opens the pinned folder as the folder of the tree's root: throws PinnedFolder::Lost when the path no longer
    // leads to it, and qcl::SystemError. From then on each change checks that the path still leads there: one that
    // finds it moved or replaced is a Mismatch.
    void open(const Tree::Directory& root, const PinnedFolder& folder);
    // Closes the folder and every folder in it that was kept open; folder syncs that failed are tried again.
    void close();
    bool isOpen() const { return mRoot != nullptr; }

    // Whether the disk matches the tree on the way to the node and at the node; logs why not. Never throws
    // for a file-system failure: its text goes to `failure` (a disk that no longer matches the tree is none).
    bool matches(const Tree::Node& node, std::wstring* failure = nullptr);

    // The status of the entry `name` in the folder of `directory` (links are not followed); none when there is
    // no such entry. Throws Mismatch or qcl::SystemError.
    std::optional<compat::at::ItemStatus> statusOf(const Tree::Directory& directory, const std::wstring& name);

    // A new folder in the folder of `parent`, under a free form of `name`: its name and local id.
    std::pair<std::wstring, std::uint64_t> createDirectory(const Tree::Directory& parent,
                                                           const std::wstring& name);
    // Removes an empty folder that createDirectory made; nothing when it is gone or holds something.
    void removeEmptyDirectory(const Tree::Directory& parent, const std::wstring& name) noexcept;

    // Moves or renames the item of the node into the folder of `parent` under a free form of `name`. The
    // item must still carry the node's local id.
    Moved move(const Tree::Node& node, const Tree::Directory& parent, const std::wstring& name);

    // The hidden file `downloadName` in the folder of `directory`. An entry left there by an earlier run is
    // removed when it is a download of this engine (hidden, empty, or a file for which `isOwnFile` answers
    // true for its local id); any other is the user's, and is moved beside `documentName` under a free form
    // of it.
    Download createDownload(const Tree::Directory& directory, const std::wstring& downloadName,
                            const std::wstring& documentName, const std::function<bool(std::uint64_t)>& isOwnFile);
    // Puts a finished download in place under a free form of `name`; returns that name.
    std::wstring place(Download& download, const std::wstring& name);
    // Before the content is fetched into `download`: whether the file of `existing` can be replaced by it
    // now. Throws qcl::SystemError ERROR_SHARING_VIOLATION when another program holds the file open (it
    // refused a write lease where the folder's file system grants them), Mismatch when the file is gone.
    void checkReplaceable(const Download& download, const Tree::File& existing);
    // Puts a finished download in place of the file of `existing` in one step, when that file still has the
    // content that the tree records. When it has not (it was saved meanwhile), nothing changes, or what it
    // displaced goes back, and false is returned. A file that another program holds open is not replaced:
    // qcl::SystemError ERROR_SHARING_VIOLATION. Where the folder's file system grants no write lease, the
    // file is replaced without one. The displaced file is removed only when it is provably the recorded
    // version (its change time, under a lease that kept every writer out and that no open tried to break);
    // any other goes to the trash under its own name. When it cannot go there, the swap is undone and the
    // trash's failure thrown.
    bool replace(Download& download, const Tree::File& existing);

    // Opens the file `name` in the folder of `directory` for an upload: for reading, with reading the only
    // thing others may do meanwhile. Throws Mismatch or qcl::SystemError.
    qcl::Handle openForUpload(const Tree::Directory& directory, const std::wstring& name);

    // Swaps two entries of the folder of `directory` in one step.
    void exchange(const Tree::Directory& directory, const std::wstring& first, const std::wstring& second);
    // Removes the file `name` when it is still the file of `expected`; whether it did.
    bool removeFileIfSame(const Tree::Directory& directory, const std::wstring& name,
                          const compat::at::ItemStatus& expected);
    // Moves the file `name`, displaced by a download, to the trash under the name of `recorded` when it still
    // has the content that `recorded` records; whether it did. One with other names (hard links) is left to them,
    // as replace() leaves it.
    bool trashDisplaced(const Tree::Directory& directory, const std::wstring& name, const Tree::File& recorded);
    // Moves the entry `name` to a free form of `wantedName` in the same folder; returns the name taken.
    std::wstring moveAside(const Tree::Directory& directory, const std::wstring& name, const std::wstring& wantedName);

    // Moves the item of the node to the trash as far as the server has seen it: a file whose content differs
    // from the tree's record (size or modification time), and in a folder every entry that the tree does not
    // know or that changed, stay in place with the folders that hold them. What changed between the check and
    // the move comes back. Whether the whole item went.
    bool trash(const Tree::Node& node);

private:
    struct Folder
    {
        compat::at::Descriptor descriptor;
        std::string path; // ends with "/"
        compat::at::Identity identity;
        std::uint64_t localId = 0; // of the node it was opened for
        // Whether its file system grants write leases, once a download in it was asked for one.
        mutable std::optional<bool> grantsLeases;
    };

    // The folder of the directory node, each folder on the way checked; throws Mismatch or qcl::SystemError.
    FolderRef resolve(const Tree::Directory& directory);
    // Opens the folder of the directory node in its parent's folder and checks it against the node.
    FolderRef openChecked(const Folder& parent, const Tree::Directory& directory, const std::string& name);
    // The status of the node's entry in its resolved parent, checked against the node; throws Mismatch.
    compat::at::ItemStatus checkedEntry(const Folder& parent, const Tree::Node& node);
    // The folder of the directory node when its entry `entry` is the file of `expected`; null otherwise.
    FolderRef folderHolding(const Tree::Directory& directory, const std::string& entry,
                            const compat::at::ItemStatus& expected);
    // The folder of the download, which must still be where the tree records it; throws Mismatch.
    FolderRef folderOf(const Download& download);
    // After a change: tells the listener and makes the folder's entries durable (when that fails, it is
    // tried again at close()).
    void changed(const FolderRef& folder);
    void notifyChange();
    void sync(const FolderRef& folder);
    std::wstring moveUnderFreeName(const Folder& folder, const std::string& entry, const std::wstring& name);
    // Whether write leases can be had in the folder, asked once on the download's own new file.
    bool grantsLeases(const Folder& folder, const Download& download);
    // A write lease on the file `target` of the folder, or none where the folder's file system grants none or
    // the file cannot have one (another owner's). Throws qcl::SystemError ERROR_SHARING_VIOLATION when
    // another program has the file open, Mismatch when it is gone.
    compat::at::Descriptor leaseTarget(const Folder& folder, const Download& download,
                                       const std::string& target);
    // Moves the file `entry`, displaced by a download and not to be lost, beside the document under a free
    // form of its name.
    void keepBeside(const FolderRef& folder, const std::string& entry, const std::wstring& documentName);
    // The file `entry`, displaced by a download from `formerName`, leaves the folder: to its other names,
    // removed when `provenLease` (the lease under which it was checked, when its check proved it the recorded
    // version) was never broken, else to the trash. Throws qcl::SystemError when the trash cannot take it.
    void settleDisplaced(const Folder& folder, const std::string& entry, const std::string& formerName,
                         const compat::at::Descriptor* provenLease);
    // The file `entry`, displaced by a download from `formerName`, is about to leave the folder. When it has other
    // names (hard links), they stay behind as other names of a version the tree no longer records: they are hidden,
    // so that no scan takes them for a new document, and `entry` is removed, its content kept by them. False when
    // it has no other name (or they cannot be hidden), and nothing was done.
    bool leaveToOtherNames(const Folder& folder, const std::string& entry, const std::string& formerName);
    bool trashSeen(const Folder& parent, const Tree::Node& node);
    bool isAllSeen(const Folder& folder, const Tree::Directory& directory);

    const Tree::Directory* mTree = nullptr;
    PinnedFolder mPinned;
    FolderRef mRoot;
    // Folders opened since open(), by node. An entry whose node has gone (even one whose address a new node
    // took) is harmless: it is used only when it passes the checks of resolve() for the node asking.
    std::unordered_map<const Tree::Directory*, FolderRef> mOpened;
    std::vector<FolderRef> mUnsynced;
    std::function<void()> mChangeListener;
};
} // namespace dwl
