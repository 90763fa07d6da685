#include "sync/FolderScan.h"

#include "compat/FileApi.h"
#include "compat/FolderReader.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <memory>

namespace dwl
{
namespace
{
constexpr DWORD skippedAttributes =
    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_REPARSE_POINT;

// Names that were not valid UTF-8 on disk hold lone surrogates after the file-name conversion; the server
// could not take them.
bool hasLoneSurrogate(const std::wstring& name)
{
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        const auto unit = static_cast<std::uint32_t>(name[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() &&
            static_cast<std::uint32_t>(name[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(name[i + 1]) <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            return true;
    }
    return false;
}

// Logs why an entry with one of the skipped attributes is left out; the first rule that matches wins.
void logSkippedEntry(const FILE_ID_BOTH_DIR_INFO& entry, const std::wstring& path)
{
    const auto quoted = qcl::string::escaped(path, L'\'');
    if (entry.FileAttributes & FILE_ATTRIBUTE_SYSTEM)
        QCL_LOG_DEBUG(L"Ignored system file or directory " << quoted);
    else if (entry.FileAttributes & FILE_ATTRIBUTE_HIDDEN)
        QCL_LOG_INFO(L"Ignored hidden file or directory " << quoted);
    else if (entry.FileAttributes & FILE_ATTRIBUTE_TEMPORARY)
        QCL_LOG_INFO(L"Ignored temporary file " << quoted);
    else if (entry.EaSize == IO_REPARSE_TAG_MOUNT_POINT)
        QCL_LOG_INFO(L"Ignored mounted volume or junction " << quoted);
    else if (entry.EaSize == IO_REPARSE_TAG_SYMLINK)
        QCL_LOG_INFO(L"Ignored symbolic link " << quoted);
    else
        QCL_LOG_INFO(L"Ignored reparse point " << quoted << L" with reparse tag " << std::hex << entry.EaSize
                                               << std::dec);
}

// The folder went away or became something else between its parent's listing and its own: the scan is
// retried (the change that did it asks for a rescan anyway), rather than reporting a folder that cannot be
// read.
bool isGone(const qcl::SystemError& error)
{
    const int code = error.code().value();
    return code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ||
           code == ERROR_CANT_RESOLVE_FILENAME;
}

// Notes on the ancestors of `directory` that a note lies below them, up to the first that knows it or is not
// attached yet (its notes climb on when it is added to its parent).
void noteUpwards(Tree::Directory& directory)
{
    for (Tree::Directory* ancestor = directory.parent(); ancestor && !ancestor->hasNotesBelow();
         ancestor = ancestor->parent())
        ancestor->noteNotesBelow();
}
} // namespace

// The entries of a folder with their local ids, read with the listing instead of one by one by path. Failures
// are reported as the enumeration by pattern reports them.
class FolderScan::Entries
{
public:
    // Opens the folder at `path`, or the subfolder `name` of the open `parent` at `path`, and reads the first
    // entries; a folder opened before is closed. Throws SystemError "Cannot find '%1%'" (the folder's path
    // joined with "*") when the folder cannot be listed.
    void open(const std::wstring& path) { start(mFolder.open(path), path); }
    void openFrom(int folder, const std::wstring& path) { start(mFolder.openFrom(folder, path), path); }
    void openChild(const Entries& parent, const std::wstring& name, const std::wstring& path)
    {
        start(mFolder.openChild(parent.mFolder, name), path);
    }

    // The next entry, "." and ".." left out; null at the end. Throws SystemError
    // "Cannot enumerate files using handle %1%".
    const FILE_ID_BOTH_DIR_INFO* next()
    {
        if (mEntry == nullptr)
            return nullptr;
        if (!mStarted)
        {
            mStarted = true;
            return mEntry;
        }
        if (mEntry->NextEntryOffset != 0)
        {
            mEntry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
                reinterpret_cast<const unsigned char*>(mEntry) + mEntry->NextEntryOffset);
            return mEntry;
        }
        const int folder = mFolder.descriptor();
        const DWORD code = readNext();
        if (code != ERROR_SUCCESS && code != ERROR_NO_MORE_FILES)
            throw qcl::SystemError(qcl::format(L"Cannot enumerate files using handle %1%", folder), code);
        return mEntry;
    }

private:
    void start(DWORD code, const std::wstring& path)
    {
        mEntry = nullptr;
        mStarted = false;
        if (code == ERROR_SUCCESS)
            code = readNext();
        if (code == ERROR_SUCCESS || code == ERROR_NO_MORE_FILES)
            return;
        throw qcl::SystemError(qcl::format(L"Cannot find '%1%'", Tree::Node::joinPath(path, L"*")), code);
    }

    // Fills the buffer; at the end the entry becomes null and the folder is closed.
    DWORD readNext()
    {
        mEntry = nullptr;
        const DWORD code = mFolder.read(mBuffer.get(), kBufferWords * sizeof(std::uint64_t));
        if (code == ERROR_SUCCESS)
            mEntry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(mBuffer.get());
        return code;
    }

    compat::FolderReader mFolder;
    static constexpr std::size_t kBufferWords = 8192; // 64 KiB, aligned for the records
    // Not zeroed: clearing 64 KiB for every folder cost more than listing a small one.
    std::unique_ptr<std::uint64_t[]> mBuffer = std::make_unique_for_overwrite<std::uint64_t[]>(kBufferWords);
    const FILE_ID_BOTH_DIR_INFO* mEntry = nullptr;
    bool mStarted = false;
};

FolderScan::FolderScan(Checkpoint checkpoint) : mCheckpoint(std::move(checkpoint)) {}

FolderScan::~FolderScan() = default;

void FolderScan::run(Tree::Directory& root, const std::wstring& path)
{
    runFrom(root, path, [&](Entries& entries) { entries.open(path); });
}

void FolderScan::run(Tree::Directory& root, int folder, const std::wstring& path)
{
    runFrom(root, path, [&](Entries& entries) { entries.openFrom(folder, path); });
}

template <class Open> void FolderScan::runFrom(Tree::Directory& root, const std::wstring& path, Open open)
{
    mNodesByLocalId = std::make_unique<Tree::LocalIdIndex>();
    qcl::scope::Guard forgetNodes([this] { mNodesByLocalId.reset(); });
    qcl::scope::Guard closeFolders([this] { mOpenFolders.clear(); });
    mNodesByLocalId->insert(root);
    root.clearScanNotes();
    open(entriesAt(0));
    scan(root, path, 0);
}

void FolderScan::scanSubfolder(Tree::Directory& directory, const Entries& parentEntries, const std::wstring& path,
                               std::size_t depth)
{
    try
    {
        entriesAt(depth).openChild(parentEntries, directory.name(), path);
        scan(directory, path, depth);
    }
    catch (const qcl::SystemError& error)
    {
        // Failures of deeper folders were settled there; a folder that is gone fails the whole scan.
        if (isGone(error))
            throw;
        QCL_LOG_TRACE(L"Left out the content of " << qcl::string::escaped(path, L'\'') << L": "
                                                  << error.message());
        for (Tree::Node& child : directory.children())
            mNodesByLocalId->eraseSubtree(child);
        directory.removeAllChildren();
        directory.clearScanNotes();
        directory.setListingError(static_cast<std::uint32_t>(error.code().value()));
    }
}

FolderScan::Entries& FolderScan::entriesAt(std::size_t depth)
{
    while (mOpenFolders.size() <= depth)
        mOpenFolders.push_back(std::make_unique<Entries>());
    return *mOpenFolders[depth];
}

void FolderScan::scan(Tree::Directory& directory, const std::wstring& path, std::size_t depth)
{
    Entries& entries = *mOpenFolders[depth];
    while (const FILE_ID_BOTH_DIR_INFO* entry = entries.next())
    {
        if (mCheckpoint)
            mCheckpoint();

        std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        // Built only where a log line or a subfolder needs it.
        const auto fullPath = [&path, &name] { return Tree::Node::joinPath(path, name); };
        if (entry->FileAttributes & skippedAttributes)
        {
            logSkippedEntry(*entry, fullPath());
            continue;
        }
        if (hasLoneSurrogate(name))
        {
            QCL_LOG_INFO(L"Ignored file or directory whose name is not valid UTF-8 "
                         << qcl::string::escaped(fullPath(), L'\''));
            continue;
        }

        const auto localId = static_cast<std::uint64_t>(entry->FileId.QuadPart);
        QCL_LOG_TRACE(L"File or directory " << qcl::string::escaped(fullPath(), L'\'') << L", object ID = "
                                            << Tree::formatLocalId(localId));
        if (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            std::wstring subdirectoryPath = fullPath();
            auto node = std::make_unique<Tree::Directory>(localId, std::move(name));
            if (mNodesByLocalId->find(localId))
            {
                // Only a folder mounted twice can do this; entering it again could loop for ever.
                QCL_LOG_INFO(L"Ignored directory " << qcl::string::escaped(subdirectoryPath, L'\'')
                                                   << L" that was met before under another path");
                continue;
            }
            mNodesByLocalId->insert(*node);
            scanSubfolder(*node, entries, subdirectoryPath, depth + 1);
            const bool noted = node->hasScanNotes();
            directory.addChild(std::move(node));
            if (noted)
                directory.noteNotesBelow();
        }
        else
        {
            const auto size = static_cast<std::uint64_t>(entry->EndOfFile.QuadPart);
            const auto lastWrite = static_cast<std::uint64_t>(entry->LastWriteTime.QuadPart);
            const auto change = static_cast<std::uint64_t>(entry->ChangeTime.QuadPart);
            addFile(directory, std::make_unique<Tree::File>(localId, std::move(name), size, lastWrite, change));
        }
    }
}

// A file met before under another name (a hard link) is kept at both places, and both folders are noted; the
// index keeps the first.
void FolderScan::addFile(Tree::Directory& directory, std::unique_ptr<Tree::File> node)
{
    if (Tree::Node* earlier = mNodesByLocalId->find(node->localId()))
    {
        if (earlier->asFile() == nullptr)
        {
            QCL_LOG_INFO(L"Ignored file " << qcl::string::escaped(node->name(), L'\'')
                                          << L" whose local ID belongs to a directory");
            return;
        }
        Tree::Directory& earlierFolder = *earlier->parent();
        earlierFolder.noteRepeatedLocalId();
        noteUpwards(earlierFolder);
        directory.noteRepeatedLocalId();
    }
    else
        mNodesByLocalId->insert(*node);
    directory.addChild(std::move(node));
}
} // namespace dwl
