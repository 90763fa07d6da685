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

#include <algorithm>
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

compat::trash::Trashed moveToTrash(int folder, const std::string& name, const std::string& path)
{
    compat::trash::Trashed trashed;
    if (!compat::trash::moveToTrashAt(folder, name, path, &trashed))
        throw qcl::SystemError(qcl::format(L"Cannot move '%1%' to the trash", wide(path)), GetLastError());
    return trashed;
}

// A missing entry on the way means the user moved or removed something that the scanner has not reported
// yet: like a changed one, it waits for a later cycle.
[[noreturn]] void throwLookupError(const std::wstring& what, const std::string& path, int error)
{
    if (error == ENOENT)
        throw LocalFolder::Mismatch(qcl::format(L"File or folder '%1%' is gone", escapedPath(path)));
    if (error == ELOOP)
        throw LocalFolder::Mismatch(
            qcl::format(L"File or folder '%1%' is a symbolic link or mount point", escapedPath(path)));
    throw qcl::SystemError(qcl::format(what, wide(path)), GetLastError());
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

const commandprocessor::FileFacts& LocalFolder::Download::written()
{
    mFacts = commandprocessor::readFileFacts(mFile.get(), wide(mFolder->path + mName));
    return mFacts;
}

void LocalFolder::Download::finish()
{
    const std::wstring path = wide(mFolder->path + mName);
    // Visible first, then in place: a hidden file at the document's path would look deleted to the scanner,
    // while a visible download file is never uploaded (its name tells it). Cleared before the flush, so that
    // the flush makes the cleared attribute durable with the content.
    if (compat::at::setHidden(mFile.get(), false) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot set attributes of '%1%'", path), GetLastError());
    qcl::File::flush(mFile.get());
}

void LocalFolder::Download::placed()
{
    mPlaced = true;
    // The move into place gave the file a new change time, which is what the tree records.
    try
    {
        mFacts.changeTime = commandprocessor::changeTimeOf(mFile.get(), wide(mFolder->path + mName));
    }
    catch (const qcl::SystemError&)
    {
        mFacts.changeTime = 0; // not known: the next scan records it
    }
    mFile.close();
}

// ---- LocalFolder
// -------------------------------------------------------------------------------------------------

// The change time moves with any change, even one that keeps the size and the modification time; a move also
// moves it, so it proves only what the engine recorded itself, and one not known (0) proves nothing.
bool LocalFolder::isAsRecorded(const ItemStatus& status, const Tree::File& file)
{
    return hasRecordedContent(status, file) && file.changeTime() != 0 && status.changeTime == file.changeTime();
}

bool LocalFolder::hasRecordedContent(const ItemStatus& status, const Tree::File& file)
{
    return !status.isDirectory && status.fileIndex == file.localId() && status.size == file.size() &&
           status.lastWriteTime == file.lastModificationTime();
}

bool LocalFolder::isSameContent(const ItemStatus& status, const ItemStatus& expected)
{
    return status.isDirectory == expected.isDirectory && status.fileIndex == expected.fileIndex &&
           status.size == expected.size && status.lastWriteTime == expected.lastWriteTime;
}

void LocalFolder::open(const Tree::Directory& root, const PinnedFolder& pinned)
{
    close();
    auto folder = std::make_shared<Folder>();
    folder->descriptor = pinned.open();
    folder->path = fileName(pinned.path());
    if (compat::at::identityOf(folder->descriptor.get(), folder->identity) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot open directory '%1%'", pinned.path()), GetLastError());
    if (folder->path.empty() || folder->path.back() != '/')
        folder->path += '/';
    folder->localId = root.localId();
    mRoot = std::move(folder);
    mTree = &root;
    mPinned = pinned;
}

void LocalFolder::close()
{
    mOpened.clear();
    mRoot.reset();
    std::erase_if(mUnsynced,
                  [](const FolderRef& folder) { return compat::at::syncFolder(folder->descriptor.get()) == 0; });
}

void LocalFolder::changed(const FolderRef& folder)
{
    notifyChange();
    sync(folder);
}

void LocalFolder::notifyChange()
{
    if (mChangeListener)
        mChangeListener();
}

void LocalFolder::sync(const FolderRef& folder)
{
    if (compat::at::syncFolder(folder->descriptor.get()) == 0)
        return;
    // The entry is made and counts as made: only its durability is pending, and is tried again.
    QCL_LOG_WARN(L"Cannot flush directory " << qcl::string::escaped(wide(folder->path), L'\'') << L": "
                                            << qcl::SystemError(L"", GetLastError()).message()
                                            << L"; it is tried again later");
    if (std::find(mUnsynced.begin(), mUnsynced.end(), folder) == mUnsynced.end())
        mUnsynced.push_back(folder);
}

LocalFolder::FolderRef LocalFolder::resolve(const Tree::Directory& directory)
{
    if (!mRoot)
        throw qcl::SystemError(L"The Wayfold folder is not open", ERROR_INVALID_HANDLE);
    if (directory.parent() == nullptr)
    {
        if (&directory != mTree)
            throw Mismatch(qcl::format(L"'%1%' is not part of the tree", directory.getPath()));
        // Moved away or replaced since it was opened, the folder is no longer what the user has at its place.
        if (!mPinned.isStillAtPath())
            throw Mismatch(qcl::format(L"The Wayfold folder '%1%' is no longer at its place", mPinned.path()));
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
        // Anything but a folder where the tree has a folder.
        if (error == ENOTDIR)
            throw Mismatch(
                qcl::format(L"File or folder '%1%' is a symbolic link or mount point", escapedPath(path)));
        throwLookupError(L"Cannot get file ID of '%1%'", path, error);
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
    const std::string name = fileName(node.name());
    const std::string path = parent.path + name;
    ItemStatus status;
    if (const int error = compat::at::statusAt(parent.descriptor.get(), parent.path, name, status); error != 0)
        throwLookupError(L"Cannot get file ID of '%1%'", path, error);
    checkIdentity(status, node, path);
    return status;
}

bool LocalFolder::matches(const Tree::Node& node, std::wstring* failure)
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
    catch (const Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        if (failure)
            *failure = error.message();
        return false;
    }
}

std::optional<ItemStatus> LocalFolder::statusOf(const Tree::Directory& directory, const std::wstring& name)
{
    const FolderRef folder = resolve(directory);
    const std::string entry = fileName(name);
    ItemStatus status;
    if (const int error = compat::at::statusAt(folder->descriptor.get(), folder->path, entry, status); error != 0)
    {
        if (error == ENOENT)
            return std::nullopt;
        throw qcl::SystemError(qcl::format(L"Cannot get file ID of '%1%'", wide(folder->path + entry)),
                               GetLastError());
    }
    return status;
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
    changed(folder);
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
            changed(folder);
    }
    catch (const std::exception&)
    {
    }
}

LocalFolder::Moved LocalFolder::move(const Tree::Node& node, const Tree::Directory& parent,
                                     const std::wstring& name)
{
    const FolderRef from = resolve(*node.parent());
    const FolderRef to = resolve(parent);
    const std::string entry = fileName(node.name());
    const bool sameFolder = from->identity == to->identity;
    const bool isDirectory = node.asDirectory() != nullptr;
    // Read again right before the move: the item must still be the one that the server's change is about.
    const ItemStatus before = checkedEntry(*from, node);
    std::string target;
    Moved moved;
    moved.name = underFreeName(
        name, isDirectory ? directoryCandidateName : fileCandidateName,
        [&](const std::string& candidate)
        {
            target = candidate;
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
    if (sameFolder && target == entry)
        return moved;
    changed(to);
    if (!sameFolder)
        sync(from);
    // The change time the move gave the file proves the recorded version only when the one before did.
    ItemStatus status;
    if (!isDirectory && isAsRecorded(before, *node.asFile()) &&
        compat::at::statusAt(to->descriptor.get(), to->path, target, status) == 0 && isSameContent(status, before))
        moved.changeTime = status.changeTime;
    return moved;
}

std::wstring LocalFolder::moveUnderFreeName(const Folder& folder, const std::string& entry,
                                            const std::wstring& name)
{
    const int fd = folder.descriptor.get();
    return underFreeName(
        name, fileCandidateName,
        [&](const std::string& candidate) { return compat::at::renameAt(fd, entry, fd, candidate); },
        [&](const std::string& candidate)
        {
            throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'", wide(folder.path + entry),
                                               wide(folder.path + candidate)),
                                   GetLastError());
        });
}

LocalFolder::Download LocalFolder::createDownload(const Tree::Directory& directory,
                                                  const std::wstring& downloadName,
                                                  const std::wstring& documentName,
                                                  const std::function<bool(std::uint64_t)>& isOwnFile)
{
    FolderRef folder = resolve(directory);
    Download download;
    download.mName = fileName(downloadName);
    download.mDirectory = &directory;
    const int fd = folder->descriptor.get();
    if (ItemStatus left; compat::at::statusAt(fd, folder->path, download.mName, left) == 0)
    {
        // Left by a run that ended before the download was put in place or settled; an empty one, by a run
        // that ended between making the file and hiding it. Any other visible file that is not one of this
        // engine's downloads holds bytes of the user's, which are never deleted.
        const bool own = !left.isDirectory &&
                         ((left.attributes & FILE_ATTRIBUTE_HIDDEN) != 0 || left.size == 0 ||
                          (isOwnFile && isOwnFile(left.fileIndex)));
        if (own)
        {
            if (compat::at::removeFileAt(fd, download.mName) == 0 && (left.attributes & FILE_ATTRIBUTE_HIDDEN) == 0)
                changed(folder);
        }
        else
        {
            const std::wstring aside = moveUnderFreeName(*folder, download.mName, documentName);
            QCL_LOG_WARN(L"Moved " << escapedPath(folder->path + download.mName) << L", which is not a download of this "
                                   << L"Device's, to " << qcl::string::escaped(aside, L'\''));
            changed(folder);
        }
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (compat::at::createFileAt(fd, download.mName, folder->path + download.mName, true, file) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot create file '%1%'", wide(folder->path + download.mName)),
                               GetLastError());
    download.mFile.reset(file);
    download.mFolder = std::move(folder);
    download.mFacts.localId =
        commandprocessor::readFileFacts(download.mFile.get(), wide(download.mFolder->path + download.mName))
            .localId;
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
    const std::wstring placed = moveUnderFreeName(*folder, download.mName, name);
    download.placed();
    changed(folder);
    return placed;
}

bool LocalFolder::grantsLeases(const Folder& folder, const Download& download)
{
    if (!folder.grantsLeases)
    {
        // Asked on a file that nobody else can have open: a refusal here is the file system's, whatever the
        // file.
        const int error = compat::at::probeWriteLease(download.mFile.get());
        folder.grantsLeases = error == 0;
        if (error != 0)
            QCL_LOG_DEBUG(L"No write lease can be had in " << escapedPath(folder.path) << L" ("
                                                           << qcl::SystemError(L"", GetLastError()).message()
                                                           << L"): its files are replaced without one");
    }
    return *folder.grantsLeases;
}

compat::at::Descriptor LocalFolder::leaseTarget(const Folder& folder, const Download& download,
                                                const std::string& target)
{
    compat::at::Descriptor lease;
    if (!grantsLeases(folder, download))
        return lease;
    // A program that holds the file open would go on writing to a file no longer in the folder. A write lease
    // is granted only while nobody has the file open, and while it is held every open waits: nothing can write
    // to the file between the check and the swap.
    const std::string path = folder.path + target;
    if (const int error = compat::at::leaseFileAt(folder.descriptor.get(), target, lease); error == EAGAIN)
        throw qcl::SystemError(qcl::format(L"Cannot replace '%1%': another program has it open", wide(path)),
                               ERROR_SHARING_VIOLATION);
    else if (error == ENOENT || error == ELOOP)
        throwLookupError(L"Cannot open '%1%'", path, error);
    return lease;
}

void LocalFolder::checkReplaceable(const Download& download, const Tree::File& existing)
{
    const FolderRef folder = folderOf(download);
    leaseTarget(*folder, download, fileName(existing.name()));
}

bool LocalFolder::replace(Download& download, const Tree::File& existing)
{
    const FolderRef folder = folderOf(download);
    const int fd = folder->descriptor.get();
    const std::string target = fileName(existing.name());
    const std::string path = folder->path + target;
    // Without a lease (a file system that grants none, a file of another owner) a write may still land
    // between the check and the swap, and what the swap displaced is checked again below.
    const compat::at::Descriptor lease = leaseTarget(*folder, download, target);
    ItemStatus before;
    const int error = lease ? compat::at::statusOf(lease.get(), path, before)
                            : compat::at::statusAt(fd, folder->path, target, before);
    if (error != 0)
        throwLookupError(L"Cannot get file ID of '%1%'", path, error);
    constexpr DWORD notRecorded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
    if (!hasRecordedContent(before, existing) || (before.attributes & notRecorded) != 0)
        return false;
    // The new version is for whom the former one was: a private document stays private, a program stays one.
    if (compat::at::takePermissions(download.handle(), before.permissions) != 0)
        QCL_LOG_WARN(L"Cannot give the new version of '" << escapedPath(path) << L"' the permissions of the former: "
                                                         << qcl::SystemError(L"", GetLastError()).systemText());
    if (compat::at::exchangeAt(fd, download.mName, target) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'",
                                           wide(folder->path + download.mName), wide(path)),
                               GetLastError());
    // From here the download's name holds the displaced file, which is never the download's to remove.
    download.mPlaced = true;
    changed(folder);
    // Unless it is the file checked (another may have taken the name in between, or, without a lease, been
    // saved), it goes back.
    compat::at::Identity displacedIdentity;
    ItemStatus displaced;
    const bool asChecked =
        lease ? compat::at::identityAt(fd, download.mName, displacedIdentity) == 0 &&
                    displacedIdentity == before.identity
              : compat::at::statusAt(fd, folder->path, download.mName, displaced) == 0 &&
                    isSameContent(displaced, before) && displaced.identity == before.identity;
    if (asChecked)
    {
        try
        {
            settleDisplaced(*folder, download.mName, target,
                            lease && isAsRecorded(before, existing) ? &lease : nullptr);
        }
        catch (const qcl::SystemError&)
        {
            // Kept where it was rather than anywhere the user would not look for it: the update waits.
            if (compat::at::exchangeAt(fd, download.mName, target) == 0)
            {
                download.mPlaced = false;
                sync(folder);
                throw;
            }
            download.placed();
            keepBeside(folder, download.mName, existing.name());
            return true;
        }
        download.placed();
        sync(folder);
        return true;
    }
    if (compat::at::exchangeAt(fd, download.mName, target) == 0)
    {
        download.mPlaced = false;
        sync(folder);
        return false;
    }
    download.placed();
    keepBeside(folder, download.mName, existing.name());
    return true;
}

void LocalFolder::keepBeside(const FolderRef& folder, const std::string& entry,
                             const std::wstring& documentName)
{
    // Cannot happen short of a failing disk; the user's file must not stay under the download's name, which
    // the engine ignores: it goes beside the download, under a free form of its name.
    const std::wstring kept = moveUnderFreeName(*folder, entry, documentName);
    QCL_LOG_WARN(L"Kept the former '" << escapedPath(folder->path + fileName(documentName)) << L"' as "
                                      << qcl::string::escaped(kept, L'\''));
    sync(folder);
}

void LocalFolder::settleDisplaced(const Folder& folder, const std::string& entry,
                                  const std::string& formerName, const compat::at::Descriptor* provenLease)
{
    if (leaveToOtherNames(folder, entry, formerName))
        return;
    // Only a file provably the recorded version is removed, and only when nobody tried to open it meanwhile:
    // such an open waits for the lease, and would then write to a file that is nowhere. Any other file may
    // hold an edit that kept its size and time, and is kept in the trash.
    if (provenLease && compat::at::isLeaseUnbroken(provenLease->get()))
    {
        compat::at::removeFileAt(folder.descriptor.get(), entry);
        return;
    }
    const std::string path = folder.path + formerName;
    moveToTrash(folder.descriptor.get(), entry, path);
    QCL_LOG_INFO(L"Moved the former '"
                 << escapedPath(path) << L"' to the trash: "
                 << (provenLease ? L"a program opened it while it was replaced"
                                 : L"it may hold a change that kept its size and time"));
}

qcl::Handle LocalFolder::openForUpload(const Tree::Directory& directory, const std::wstring& name)
{
    const FolderRef folder = resolve(directory);
    const std::string entry = fileName(name);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (const int error =
            compat::at::openFileAt(folder->descriptor.get(), entry, folder->path + entry, FILE_SHARE_READ, file);
        error != 0)
        throwLookupError(L"Cannot open '%1%'", folder->path + entry, error);
    return qcl::Handle(file);
}

void LocalFolder::exchange(const Tree::Directory& directory, const std::wstring& first, const std::wstring& second)
{
    const FolderRef folder = resolve(directory);
    if (compat::at::exchangeAt(folder->descriptor.get(), fileName(first), fileName(second)) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'", wide(folder->path) + first,
                                           wide(folder->path) + second),
                               GetLastError());
    changed(folder);
}

LocalFolder::FolderRef LocalFolder::folderHolding(const Tree::Directory& directory, const std::string& entry,
                                                  const ItemStatus& expected)
{
    FolderRef folder = resolve(directory);
    ItemStatus status;
    if (compat::at::statusAt(folder->descriptor.get(), folder->path, entry, status) != 0 ||
        !isSameContent(status, expected))
        return nullptr;
    return folder;
}

bool LocalFolder::removeFileIfSame(const Tree::Directory& directory, const std::wstring& name,
                                   const ItemStatus& expected)
{
    const std::string entry = fileName(name);
    const FolderRef folder = folderHolding(directory, entry, expected);
    if (!folder)
        return false;
    if (compat::at::removeFileAt(folder->descriptor.get(), entry) != 0)
        throw qcl::SystemError(qcl::format(L"Cannot delete '%1%'", wide(folder->path + entry)), GetLastError());
    changed(folder);
    return true;
}

bool LocalFolder::trashDisplaced(const Tree::Directory& directory, const std::wstring& name,
                                 const Tree::File& recorded)
{
    const std::string entry = fileName(name);
    const FolderRef folder = resolve(directory);
    ItemStatus status;
    if (compat::at::statusAt(folder->descriptor.get(), folder->path, entry, status) != 0 ||
        !hasRecordedContent(status, recorded))
        return false;
    const std::string formerName = fileName(recorded.name());
    if (!leaveToOtherNames(*folder, entry, formerName))
        moveToTrash(folder->descriptor.get(), entry, folder->path + formerName);
    changed(folder);
    return true;
}

bool LocalFolder::leaveToOtherNames(const Folder& folder, const std::string& entry, const std::string& formerName)
{
    // Read right before: a name removed meanwhile must not leave this one the last.
    ItemStatus status;
    if (compat::at::statusAt(folder.descriptor.get(), folder.path, entry, status) != 0 || status.links < 2)
        return false;
    if (compat::at::hideAt(folder.descriptor.get(), folder.path, entry) != 0)
    {
        QCL_LOG_WARN(L"Cannot hide the other names (hard links) of the former '"
                     << escapedPath(folder.path + formerName)
                     << L"': " << qcl::SystemError(L"", GetLastError()).message());
        return false;
    }
    // Not into the trash: a copy restored from there would carry the hidden attribute and never be synchronised.
    compat::at::removeFileAt(folder.descriptor.get(), entry);
    QCL_LOG_INFO(L"Hid the other names (hard links) of the former '"
                 << escapedPath(folder.path + formerName)
                 << L"': they keep its content as they were, not synchronised");
    return true;
}

std::wstring LocalFolder::moveAside(const Tree::Directory& directory, const std::wstring& name,
                                    const std::wstring& wantedName)
{
    const FolderRef folder = resolve(directory);
    const std::wstring moved = moveUnderFreeName(*folder, fileName(name), wantedName);
    changed(folder);
    return moved;
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
    // What was moved must be what was checked: an item saved in between comes back, under a free name when
    // its own was taken meanwhile, and the next snapshot sends it.
    const auto moveBack = [&](const compat::trash::Trashed& trashed)
    {
        QCL_LOG_INFO(L"Moved '" << escapedPath(path) << L"' back from the trash: it changed while it was moved");
        const std::wstring name = underFreeName(
            node.name(), node.asDirectory() ? directoryCandidateName : fileCandidateName,
            [&](const std::string& candidate) { return compat::trash::moveBackFromTrash(trashed, fd, candidate); },
            [&](const std::string&)
            {
                throw qcl::SystemError(qcl::format(L"Cannot move '%1%' back from the trash", wide(path)),
                                       GetLastError());
            });
        compat::at::syncFolder(fd);
        return name;
    };
    if (const Tree::File* file = node.asFile())
    {
        ItemStatus status;
        if (const int error = compat::at::statusAt(fd, parent.path, entry, status); error != 0)
            throwLookupError(L"Cannot get file ID of '%1%'", path, error);
        // What goes to the trash is kept there: the recorded content is enough, whatever changed its metadata.
        if (!hasRecordedContent(status, *file))
        {
            QCL_LOG_INFO(L"Kept '" << escapedPath(path) << L"': it has changes that the server has not seen");
            return false;
        }
        const compat::trash::Trashed trashed = moveToTrash(fd, entry, path);
        notifyChange();
        ItemStatus moved;
        if (compat::trash::statusOfTrashed(trashed, moved) != 0 || !isSameContent(moved, status))
        {
            moveBack(trashed);
            return false;
        }
        return true;
    }
    Folder folder;
    if (const int error = compat::at::openFolderAt(fd, entry, folder.descriptor); error != 0)
        throwLookupError(L"Cannot open directory '%1%'", path, error);
    folder.path = path + '/';
    const Tree::Directory& directory = *node.asDirectory();
    if (isAllSeen(folder, directory))
    {
        const compat::trash::Trashed trashed = moveToTrash(fd, entry, path);
        notifyChange();
        // The folder stays open through the move: what it holds now is what went.
        if (!isAllSeen(folder, directory))
        {
            moveBack(trashed);
            return false;
        }
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
            if (!hasRecordedContent(status, *file))
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
