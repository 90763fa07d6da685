#include "sync/LocalFolder.h"

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/Trash.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/LocalFileOperations.h"
#include "qcl/Log.h"

#include <cerrno>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace dwl
{
namespace
{
using compat::at::ItemStatus;

std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

std::wstring escapedPath(const std::string& path)
{
    std::wostringstream text;
    text << qcl::string::escaped(wide(path));
    return text.str();
}

std::string fileName(const std::wstring& name)
{
    std::string bytes;
    if (!compat::utf16ToFileName(name.data(), name.data() + name.size(), bytes))
        throw qcl::SystemError(qcl::format(L"Cannot use the name '%1%'", name), ERROR_INVALID_NAME);
    return bytes;
}

// The item that the tree records, with the id of a file or folder and its not being hidden or a link.
void checkIdentity(const ItemStatus& status, const Tree::Node& node, const std::string& path)
{
    if (status.fileIndex != node.localId())
        throw LocalFolder::Mismatch(qcl::format(
            L"Actual local ID %2% of file or folder '%1%' does not match the "
            L"expected ID %3% stored in the database",
            escapedPath(path), Tree::formatLocalId(status.fileIndex), Tree::formatLocalId(node.localId())));
    if (status.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        throw LocalFolder::Mismatch(qcl::format(L"File or folder '%1%' is hidden", escapedPath(path)));
    // The scanner never reports what lies behind a link or a mount point, so the tree cannot describe it.
    if (status.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw LocalFolder::Mismatch(
            qcl::format(L"File or folder '%1%' is a symbolic link or mount point", escapedPath(path)));
}

// Whether the file is still the content whose version the tree records.
bool isAsRecorded(const ItemStatus& status, const Tree::File& file)
{
    return !status.isDirectory && status.fileIndex == file.localId() && status.size == file.size() &&
           status.lastWriteTime == file.lastModificationTime();
}

// Tries the free forms of `name` (attempt 1, 2, ...) until `attempt` (0 or an errno value) succeeds; a
// failure other than a taken name goes to `fail` with the candidate, which throws.
template <class Attempt, class Fail>
std::wstring underFreeName(const std::wstring& name,
                           std::wstring (*candidate)(const std::wstring&, std::uint64_t), Attempt attempt,
                           Fail fail)
{
    std::string bytes;
    for (int n = 1; n <= maxCollisionAttempts; ++n)
    {
        const std::wstring free = candidate(name, static_cast<std::uint64_t>(n));
        bytes = fileName(free);
        const int error = attempt(bytes);
        if (error == 0)
            return free;
        if (error != EEXIST)
            break;
    }
    fail(bytes);
    throw qcl::SystemError(qcl::format(L"Cannot find a free name for '%1%'", name), ERROR_ALREADY_EXISTS);
}

std::unordered_map<std::wstring, const Tree::Node*> childrenByName(const Tree::Directory& directory)
{
    std::unordered_map<std::wstring, const Tree::Node*> children;
    for (const Tree::Node& child : directory.children())
        children.emplace(child.name(), &child);
    return children;
}

void syncFolder(int folder, const std::string& path)
{
    if (compat::at::syncFolder(folder) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot flush directory '%1%'", wide(path)), GetLastError());
}

void moveToTrash(int folder, const std::string& name, const std::string& path)
{
    if (!compat::trash::moveToTrashAt(folder, name, path))
        throw qcl::SystemError(qcl::format(L"Cannot move '%1%' to the trash", wide(path)), GetLastError());
}
} // namespace

// ---- Download
// ----------------------------------------------------------------------------------------------------

LocalFolder::Download::~Download()
{
    mFile.close();
    if (!mPlaced && mFolder)
        compat::at::removeFileAt(mFolder->descriptor.get(), mName);
}

commandprocessor::FileFacts LocalFolder::Download::finish()
{
    const std::wstring path = wide(mFolder->path + mName);
    // Visible first, then in place: a hidden file at the document's path would look deleted to the scanner,
    // while a visible download file is never uploaded (its name tells it). Cleared before the flush, so that
    // the flush makes the cleared attribute durable with the content.
    if (compat::at::setHidden(mFile.get(), false) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot set attributes of '%1%'", path), GetLastError());
    qcl::File::flush(mFile.get());
    // What the tree records is read now: a change made once the file is in place must look like an edit.
    const commandprocessor::FileFacts facts = commandprocessor::readFileFacts(mFile.get(), path);
    mFile.closeOrThrow();
    return facts;
}

// ---- LocalFolder
// -------------------------------------------------------------------------------------------------

void LocalFolder::open(const Tree::Directory& root)
{
    close();
    auto folder = std::make_shared<Folder>();
    folder->path = fileName(root.name());
    if (compat::at::openFolder(folder->path, folder->descriptor) != 0 ||
        compat::at::identityOf(folder->descriptor.get(), folder->identity) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot open directory '%1%'", root.name()), GetLastError());
    if (folder->path.empty() || folder->path.back() != '/')
        folder->path += '/';
    folder->localId = root.localId();
    mRoot = std::move(folder);
    mTree = &root;
}

void LocalFolder::close()
{
    mOpened.clear();
    mRoot.reset();
}

LocalFolder::FolderRef LocalFolder::resolve(const Tree::Directory& directory)
{
    if (!mRoot)
        throw qcl::SystemError(L"The Wayfold folder is not open", ERROR_INVALID_HANDLE);
    if (directory.parent() == nullptr)
    {
        if (&directory != mTree)
            throw Mismatch(qcl::format(L"'%1%' is not part of the tree", directory.getPath()));
        return mRoot;
    }
    const FolderRef parent = resolve(*directory.parent());
    const std::string name = fileName(directory.name());
    if (const auto kept = mOpened.find(&directory); kept != mOpened.end())
    {
        const Folder& folder = *kept->second;
        compat::at::Identity now;
        if (folder.localId == directory.localId() && folder.path == parent->path + name + '/' &&
            compat::at::identityAt(parent->descriptor.get(), name, now) == 0 && now == folder.identity)
            return kept->second;
        mOpened.erase(kept);
    }
    FolderRef opened = openChecked(*parent, directory, name);
    // Each entry holds a descriptor: a long walk through many folders must not use up the process's share.
    constexpr std::size_t maxOpenFolders = 256;
    if (mOpened.size() >= maxOpenFolders)
        mOpened.clear();
    mOpened.emplace(&directory, opened);
    return opened;
}

LocalFolder::FolderRef LocalFolder::openChecked(const Folder& parent, const Tree::Directory& directory,
                                                const std::string& name)
{
    const std::string path = parent.path + name;
    auto folder = std::make_shared<Folder>();
    if (const int error = compat::at::openFolderAt(parent.descriptor.get(), name, folder->descriptor);
        error != 0)
    {
        // A link, or anything but a folder, where the tree has a folder.
        if (error == ELOOP || error == ENOTDIR)
            throw Mismatch(
                qcl::format(L"File or folder '%1%' is a symbolic link or mount point", escapedPath(path)));
        throw qcl::SystemError(qcl::format(L"Cannot get file ID of '%1%'", wide(path)), GetLastError());
    }
    folder->path = path + '/';
    ItemStatus status;
    if (compat::at::statusOf(folder->descriptor.get(), folder->path, status) != 0 ||
        compat::at::identityOf(folder->descriptor.get(), folder->identity) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot get file ID of '%1%'", wide(path)), GetLastError());
    checkIdentity(status, directory, path);
    folder->localId = directory.localId();
    return folder;
}

ItemStatus LocalFolder::checkedEntry(const Folder& parent, const Tree::Node& node)
{
    const std::string path = parent.path + fileName(node.name());
    ItemStatus status;
    if (compat::at::statusAt(parent.descriptor.get(), parent.path, fileName(node.name()), status) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot get file ID of '%1%'", wide(path)), GetLastError());
    checkIdentity(status, node, path);
    return status;
}

bool LocalFolder::matches(const Tree::Node& node)
{
    try
    {
        if (const Tree::Directory* directory = node.asDirectory())
            resolve(*directory);
        else if (node.parent() == nullptr)
            throw Mismatch(qcl::format(L"'%1%' is not part of the tree", node.name()));
        else
            checkedEntry(*resolve(*node.parent()), node);
        return true;
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
}

std::pair<std::wstring, std::uint64_t> LocalFolder::createDirectory(const Tree::Directory& parent,
                                                                    const std::wstring& name)
{
    const FolderRef folder = resolve(parent);
    const int fd = folder->descriptor.get();
    std::string made;
    const std::wstring free = underFreeName(
        name, directoryCandidateName,
        [&](const std::string& candidate)
        {
            made = candidate;
            return compat::at::createFolderAt(fd, candidate);
        },
        [&](const std::string& candidate)
        {
            throw qcl::SystemError(
                qcl::format(L"Cannot create directory '%1%'", wide(folder->path + candidate)),
                GetLastError());
        });
    syncFolder(fd, folder->path);
    ItemStatus status;
    if (compat::at::statusAt(fd, folder->path, made, status) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot get file ID of '%1%'", wide(folder->path + made)),
                               GetLastError());
    return {free, status.fileIndex};
}

void LocalFolder::removeEmptyDirectory(const Tree::Directory& parent, const std::wstring& name) noexcept
{
    try
    {
        const FolderRef folder = resolve(parent);
        if (compat::at::removeFolderAt(folder->descriptor.get(), fileName(name)) == 0)
            compat::at::syncFolder(folder->descriptor.get());
    }
    catch (const std::exception&)
    {
    }
}

std::wstring LocalFolder::move(const Tree::Node& node, const Tree::Directory& parent,
                               const std::wstring& name)
{
    const FolderRef from = resolve(*node.parent());
    const FolderRef to = resolve(parent);
    const std::string entry = fileName(node.name());
    const bool sameFolder = from->identity == to->identity;
    const bool isDirectory = node.asDirectory() != nullptr;
    // Read again right before the move: the item must still be the one that the server's change is about.
    checkedEntry(*from, node);
    const std::wstring moved = underFreeName(
        name, isDirectory ? directoryCandidateName : fileCandidateName,
        [&](const std::string& candidate)
        {
            // Already there under this name: nothing to do, and no other name may be picked.
            if (sameFolder && candidate == entry)
                return 0;
            return compat::at::renameAt(from->descriptor.get(), entry, to->descriptor.get(), candidate);
        },
        [&](const std::string& candidate)
        {
            throw qcl::SystemError(qcl::format(isDirectory ? L"Cannot move directory '%1%' to '%2%'"
                                                           : L"Cannot move file '%1%' to '%2%'",
                                               wide(from->path + entry), wide(to->path + candidate)),
                                   GetLastError());
        });
    syncFolder(to->descriptor.get(), to->path);
    if (!sameFolder)
        syncFolder(from->descriptor.get(), from->path);
    return moved;
}

LocalFolder::Download LocalFolder::createDownload(const Tree::Directory& directory,
                                                  const std::wstring& downloadName)
{
    FolderRef folder = resolve(directory);
    Download download;
    download.mName = fileName(downloadName);
    download.mDirectory = &directory;
    const int fd = folder->descriptor.get();
    // One left behind by a killed program carries the same name.
    compat::at::removeFileAt(fd, download.mName);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (compat::at::createFileAt(fd, download.mName, folder->path + download.mName, true, file) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot create file '%1%'", wide(folder->path + download.mName)),
                               GetLastError());
    download.mFile.reset(file);
    download.mFolder = std::move(folder);
    return download;
}

LocalFolder::FolderRef LocalFolder::folderOf(const Download& download)
{
    // The folder may have been moved or replaced while the content arrived: it must still be where the tree
    // records it.
    FolderRef folder = resolve(*download.mDirectory);
    if (folder->identity != download.mFolder->identity)
        throw Mismatch(qcl::format(L"Directory '%1%' was replaced", escapedPath(folder->path)));
    return folder;
}

std::wstring LocalFolder::place(Download& download, const std::wstring& name)
{
    const FolderRef folder = folderOf(download);
    const int fd = folder->descriptor.get();
    const std::wstring placed = underFreeName(
        name, fileCandidateName,
        [&](const std::string& candidate) { return compat::at::renameAt(fd, download.mName, fd, candidate); },
        [&](const std::string& candidate)
        {
            throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'",
                                               wide(folder->path + download.mName),
                                               wide(folder->path + candidate)),
                                   GetLastError());
        });
    download.mPlaced = true;
    syncFolder(fd, folder->path);
    return placed;
}

bool LocalFolder::replace(Download& download, const Tree::File& existing)
{
    const FolderRef folder = folderOf(download);
    const int fd = folder->descriptor.get();
    const std::string target = fileName(existing.name());
    if (compat::at::exchangeAt(fd, download.mName, target) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'",
                                           wide(folder->path + download.mName), wide(folder->path + target)),
                               GetLastError());
    // The file displaced now has the download's name: it must be the version that the tree records, or it
    // holds a save made while the content arrived, and goes back.
    ItemStatus displaced;
    const bool known = compat::at::statusAt(fd, folder->path, download.mName, displaced) == 0;
    if (known && isAsRecorded(displaced, existing))
    {
        download.mPlaced = true;
        compat::at::removeFileAt(fd, download.mName);
        syncFolder(fd, folder->path);
        return true;
    }
    if (compat::at::exchangeAt(fd, download.mName, target) != 0)
    {
        // Cannot happen short of a failing disk; the local file must not be left under the download's name,
        // which the engine ignores: it takes a free form of its own name beside the download.
        download.mPlaced = true;
        underFreeName(
            existing.name(), fileCandidateName,
            [&](const std::string& candidate)
            { return compat::at::renameAt(fd, download.mName, fd, candidate); },
            [](const std::string&) {});
    }
    syncFolder(fd, folder->path);
    return false;
}

// ---- Trash
// -------------------------------------------------------------------------------------------------------

bool LocalFolder::trash(const Tree::Node& node)
{
    if (node.parent() == nullptr)
        throw Mismatch(qcl::format(L"'%1%' is not part of the tree", node.name()));
    const FolderRef parent = resolve(*node.parent());
    checkedEntry(*parent, node);
    return trashSeen(*parent, node);
}

bool LocalFolder::trashSeen(const Folder& parent, const Tree::Node& node)
{
    const std::string entry = fileName(node.name());
    const std::string path = parent.path + entry;
    const int fd = parent.descriptor.get();
    if (const Tree::File* file = node.asFile())
    {
        ItemStatus status;
        if (compat::at::statusAt(fd, parent.path, entry, status) == 0 && !isAsRecorded(status, *file))
        {
            QCL_LOG_INFO(L"Kept '" << escapedPath(path) << L"': it has changes that the server has not seen");
            return false;
        }
        moveToTrash(fd, entry, path);
        return true;
    }
    Folder folder;
    if (compat::at::openFolderAt(fd, entry, folder.descriptor) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot open directory '%1%'", wide(path)), GetLastError());
    folder.path = path + '/';
    const Tree::Directory& directory = *node.asDirectory();
    if (isAllSeen(folder, directory))
    {
        moveToTrash(fd, entry, path);
        return true;
    }
    std::vector<std::string> names;
    if (compat::at::entriesOf(folder.descriptor.get(), names) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot list directory '%1%'", wide(path)), GetLastError());
    const auto children = childrenByName(directory);
    for (const std::string& name : names)
    {
        const auto child = children.find(wide(name));
        ItemStatus status;
        const bool known = child != children.end() &&
                           compat::at::statusAt(folder.descriptor.get(), folder.path, name, status) == 0 &&
                           status.fileIndex == child->second->localId() &&
                           !(status.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT));
        if (known)
            trashSeen(folder, *child->second);
        else
            QCL_LOG_INFO(L"Kept '" << escapedPath(folder.path + name) << L"': the server has not seen it");
    }
    return false;
}

bool LocalFolder::isAllSeen(const Folder& folder, const Tree::Directory& directory)
{
    std::vector<std::string> names;
    if (compat::at::entriesOf(folder.descriptor.get(), names) != 0)
        return false;
    const auto children = childrenByName(directory);
    for (const std::string& name : names)
    {
        const auto child = children.find(wide(name));
        ItemStatus status;
        if (child == children.end() ||
            compat::at::statusAt(folder.descriptor.get(), folder.path, name, status) != 0 ||
            status.fileIndex != child->second->localId() ||
            (status.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT)))
            return false;
        if (const Tree::File* file = child->second->asFile())
        {
            if (!isAsRecorded(status, *file))
                return false;
            continue;
        }
        Folder inner;
        if (compat::at::openFolderAt(folder.descriptor.get(), name, inner.descriptor) != 0)
            return false;
        inner.path = folder.path + name + '/';
        if (!isAllSeen(inner, *child->second->asDirectory()))
            return false;
    }
    return true;
}
} // namespace dwl
