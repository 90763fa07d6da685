#pragma once
// The open Wayfold folder, through which the command processor makes every change that server data asks for.
//
// An item is found from the folder's descriptor one name at a time along the tree, never through a symbolic
// link and never outside the folder: a folder on the way is opened only while it carries the local id that
// the tree records and is not hidden, and is kept open until close(). Whenever a folder is used again, each
// folder on the way is checked to be still the one kept open, under the tree's name in the folder above.
// Each change reads the item it acts on again at the moment it commits, and commits in one step: another
// program may change anything at any moment, and a check made earlier proves nothing. Every new directory
// entry is synced with its folder.

#include "compat/FolderAt.h"
#include "qcl/Error.h"
#include "qcl/Handle.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/Tree.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace dwl
{
class LocalFolder
{
    struct Folder;
    using FolderRef = std::shared_ptr<const Folder>;

public:
    // The disk no longer matches the tree on the way to an item (the user has just renamed, replaced or
    // hidden something that the scanner has not reported yet): the change waits for a later cycle.
    class Mismatch : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        using qcl::basic_runtime_error<wchar_t>::basic_runtime_error;
    };

    // A new hidden file beside its target that a download is written to; removed again unless put in place.
    class Download
    {
    public:
        Download(Download&&) = default;
        ~Download();

        HANDLE handle() const { return mFile.get(); }
        // Once the content is written: flushes it to disk, makes the file visible and returns what the tree
        // will record of it.
        commandprocessor::FileFacts finish();

    private:
        friend class LocalFolder;
        Download() = default;

        const Tree::Directory* mDirectory = nullptr;
        FolderRef mFolder;
        std::string mName;
        qcl::Handle mFile;
        bool mPlaced = false;
    };

    // Opens the folder named by the root of the tree (its full path). Throws qcl::SystemError.
    void open(const Tree::Directory& root);
    // Closes the folder and every folder in it that was kept open.
    void close();

    // Whether the disk matches the tree on the way to the node and at the node; logs why not. Never throws
    // for a file-system failure.
    bool matches(const Tree::Node& node);

    // A new folder in the folder of `parent`, under a free form of `name`: its name and local id.
    std::pair<std::wstring, std::uint64_t> createDirectory(const Tree::Directory& parent,
                                                           const std::wstring& name);
    // Removes an empty folder that createDirectory made; nothing when it is gone or holds something.
    void removeEmptyDirectory(const Tree::Directory& parent, const std::wstring& name) noexcept;

    // Moves or renames the item of the node into the folder of `parent` under a free form of `name`, and
    // returns that name. The item must still carry the node's local id.
    std::wstring move(const Tree::Node& node, const Tree::Directory& parent, const std::wstring& name);

    // The hidden file `downloadName` in the folder of `directory`; one left there by an earlier run is
    // replaced.
    Download createDownload(const Tree::Directory& directory, const std::wstring& downloadName);
    // Puts a finished download in place under a free form of `name`; returns that name.
    std::wstring place(Download& download, const std::wstring& name);
    // Puts a finished download in place of the file of `existing` in one step. When the file that it
    // displaced is no longer what the tree records (it was saved meanwhile), it is put back and false is
    // returned.
    bool replace(Download& download, const Tree::File& existing);

    // Moves the item of the node to the trash as far as the server has seen it: a file that differs from the
    // tree's record, and in a folder every entry that the tree does not know or that changed, stay in place
    // with the folders that hold them. Whether the whole item went.
    bool trash(const Tree::Node& node);

private:
    struct Folder
    {
        compat::at::Descriptor descriptor;
        std::string path; // ends with "/"
        compat::at::Identity identity;
        std::uint64_t localId = 0; // of the node it was opened for
    };

    // The folder of the directory node, each folder on the way checked; throws Mismatch or qcl::SystemError.
    FolderRef resolve(const Tree::Directory& directory);
    // Opens the folder of the directory node in its parent's folder and checks it against the node.
    FolderRef openChecked(const Folder& parent, const Tree::Directory& directory, const std::string& name);
    // The status of the node's entry in its resolved parent, checked against the node; throws Mismatch.
    compat::at::ItemStatus checkedEntry(const Folder& parent, const Tree::Node& node);
    // The folder of the download, which must still be where the tree records it; throws Mismatch.
    FolderRef folderOf(const Download& download);
    bool trashSeen(const Folder& parent, const Tree::Node& node);
    bool isAllSeen(const Folder& folder, const Tree::Directory& directory);

    const Tree::Directory* mTree = nullptr;
    FolderRef mRoot;
    // Folders opened since open(), by node. An entry whose node has gone (even one whose address a new node
    // took) is harmless: it is used only when it passes the checks of resolve() for the node asking.
    std::unordered_map<const Tree::Directory*, FolderRef> mOpened;
};
} // namespace dwl
