#include "compat/FolderAt.h"

#include "compat/FileApi.h"
#include "compat/FileObject.h"
#include "compat/FileStatus.h"
#include "compat/HandleTable.h"
#include "compat/LastError.h"
#include "compat/NewItemModes.h"
#include "compat/ShareLock.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace compat::at
{
namespace
{
int failed(int error)
{
    setLastErrorFromErrno(error);
    return error;
}

int result(int returned)
{
    if (returned == 0)
    {
        SetLastError(ERROR_SUCCESS);
        return 0;
    }
    return failed(errno);
}

// One entry name: never empty, never "." or "..", never with a "/" that would walk elsewhere.
bool isEntryName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::uint64_t asNumber(const FILETIME& time)
{
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int readIdentity(int folder, const char* name, int flags, Identity& identity)
{
    struct statx status;
    if (::statx(folder, name, flags | AT_NO_AUTOMOUNT, STATX_INO, &status) != 0)
        return failed(errno);
    identity.device = (std::uint64_t(status.stx_dev_major) << 32) | status.stx_dev_minor;
    identity.inode = status.stx_ino;
    return result(0);
}

void describe(const struct statx& status, std::uint32_t reuseTag, DWORD stored, ItemStatus& item)
{
    item.fileIndex = fileIndex(status, reuseTag);
    item.size = reportedSize(status);
    item.lastWriteTime = asNumber(toFileTime(status.stx_mtime));
    item.changeTime = asNumber(toFileTime(status.stx_ctime));
    item.attributes = attributesOf(status, stored, false, nullptr);
    item.isDirectory = S_ISDIR(status.stx_mode);
    item.identity.device = (std::uint64_t(status.stx_dev_major) << 32) | status.stx_dev_minor;
    item.identity.inode = status.stx_ino;
    item.links = status.stx_nlink;
    item.isOwn = status.stx_uid == ::geteuid();
    item.permissions = status.stx_mode & 07777;
}
} // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int Descriptor::release()
{
    const int fd = mFd;
    mFd = -1;
    return fd;
}

void Descriptor::reset(int fd)
{
    if (mFd != -1)
        ::close(mFd);
    mFd = fd;
}

int openFolder(const std::string& path, Descriptor& folder)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
    {
        setLastErrorFromErrno(errno, path.c_str());
        return errno;
    }
    folder.reset(fd);
    return result(0);
}

int openFolderAt(int folder, const std::string& name, Descriptor& opened)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd == -1)
        return failed(errno);
    opened.reset(fd);
    return result(0);
}

int statusOf(int item, const std::string& path, ItemStatus& described)
{
    struct statx status;
    if (const int error = statDescriptor(item, status); error != 0)
        return failed(error);
    const DWORD stored = readStoredAttributes(item, path, false, status);
    describe(status, reuseTag(item, "", AT_EMPTY_PATH, status), stored, described);
    return result(0);
}

int statusAt(int folder, const std::string& folderPath, const std::string& name, ItemStatus& item)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    struct statx status;
    if (const int error = compat::statAt(folder, name.c_str(), status); error != 0)
        return failed(error);
    const DWORD stored = readStoredAttributesAt(folder, folderPath, name.c_str(), status);
    describe(status, reuseTag(folder, name.c_str(), 0, status), stored, item);
    return result(0);
}

int identityOf(int fd, Identity& identity)
{
    return readIdentity(fd, "", AT_EMPTY_PATH, identity);
}

int identityOfPath(const std::string& path, Identity& identity)
{
    return readIdentity(AT_FDCWD, path.c_str(), 0, identity);
}

int identityAt(int folder, const std::string& name, Identity& identity)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    return readIdentity(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, identity);
}

int entriesOf(int folder, std::vector<std::string>& names)
{
    // A listing of its own, so that the caller's descriptor keeps its position and stays open.
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
        return failed(errno);
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr)
    {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    names.clear();
    errno = 0;
    while (const struct dirent* entry = ::readdir(listing))
    {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int error = errno;
    ::closedir(listing);
    return error == 0 ? result(0) : failed(error);
}

int createFolderAt(int folder, const std::string& name)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    return result(::mkdirat(folder, name.c_str(), newFolderMode));
}

int createFileAt(int folder, const std::string& name, const std::string& path, bool hidden, HANDLE& file)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, newFileMode);
    if (fd == -1)
    {
        const int error = errno;
        setLastErrorFromErrno(error, nullptr, ErrnoUse::CreateNewFile);
        return error;
    }
    auto object = std::make_shared<FileObject>();
    object->fd = fd;
    object->mayWrite = true;
    object->path = path;
    if (hidden)
    {
        struct statx status;
        int error = statDescriptor(fd, status);
        if (error == 0)
            error = writeStoredAttributesOf(fd, status, FILE_ATTRIBUTE_HIDDEN);
        if (error != 0)
        {
            ::unlinkat(folder, name.c_str(), 0);
            return failed(error);
        }
    }
    file = insertHandle(std::move(object));
    return result(0);
}

int openFileAt(int folder, const std::string& name, const std::string& path, DWORD shareMode, HANDLE& file)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    int fd;
    do
        fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd == -1 && errno == EINTR);
    if (fd == -1)
        return failed(errno);
    Descriptor owned(fd);
    struct statx status;
    if (const int error = statDescriptor(fd, status); error != 0)
        return failed(error);
    // Only plain files: a named pipe or a device is nothing to read content from.
    if (!S_ISREG(status.stx_mode))
        return failed(S_ISDIR(status.stx_mode) ? EISDIR : EINVAL);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!share::acquire(fd, share::Read, shareMode))
    {
        SetLastError(ERROR_SHARING_VIOLATION);
        return EBUSY;
    }
    auto object = std::make_shared<FileObject>();
    object->fd = owned.release();
    object->mayRead = true;
    object->path = path;
    file = insertHandle(std::move(object));
    return result(0);
}

int setHidden(HANDLE file, bool hidden)
{
    const auto object = findHandle<FileObject>(file);
    if (!object)
        return EBADF;
    struct statx status;
    int error = statDescriptor(object->fd, status);
    if (error == 0)
        error = writeStoredAttributesOf(object->fd, status, hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
    return error == 0 ? result(0) : failed(error);
}

int takePermissions(HANDLE file, std::uint32_t permissions)
{
    const auto object = findHandle<FileObject>(file);
    if (!object)
        return EBADF;
    return result(::fchmod(object->fd, static_cast<mode_t>(permissions) & 0755));
}

int hideAt(int folder, const std::string& folderPath, const std::string& name)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    struct statx status;
    int error = compat::statAt(folder, name.c_str(), status);
    if (error == 0)
    {
        const DWORD stored = readStoredAttributesAt(folder, folderPath, name.c_str(), status);
        error = writeStoredAttributes(folderPath + name, false, status, stored | FILE_ATTRIBUTE_HIDDEN);
    }
    return error == 0 ? result(0) : failed(error);
}

int renameAt(int fromFolder, const std::string& from, int toFolder, const std::string& to)
{
    if (!isEntryName(from) || !isEntryName(to))
        return failed(EINVAL);
    return result(::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE));
}

int leaseFileAt(int folder, const std::string& name, Descriptor& lease)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    // Without O_NONBLOCK, a lease of another program would hold the open up until that program lets go.
    Descriptor file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file)
        return failed(errno);
    // An open by another program while the lease is held is announced by a signal, SIGIO unless told otherwise,
    // which would end the process; SIGURG is ignored unless a handler is set.
    if (::fcntl(file.get(), F_SETSIG, SIGURG) != 0 || ::fcntl(file.get(), F_SETLEASE, F_WRLCK) != 0)
        return failed(errno);
    lease = std::move(file);
    return result(0);
}

int probeWriteLease(HANDLE file)
{
    const auto object = findHandle<FileObject>(file);
    if (!object || object->fd == -1)
        return failed(EBADF);
    // While it is held, an open by another program announces itself with a signal (see leaseFileAt).
    if (::fcntl(object->fd, F_SETSIG, SIGURG) != 0 || ::fcntl(object->fd, F_SETLEASE, F_WRLCK) != 0)
        return failed(errno);
    ::fcntl(object->fd, F_SETLEASE, F_UNLCK);
    return result(0);
}

bool isLeaseUnbroken(int lease)
{
    // A lease being broken reads as what it is to become.
    return ::fcntl(lease, F_GETLEASE) == F_WRLCK;
}

int exchangeAt(int folder, const std::string& first, const std::string& second)
{
    if (!isEntryName(first) || !isEntryName(second))
        return failed(EINVAL);
    return result(::renameat2(folder, first.c_str(), folder, second.c_str(), RENAME_EXCHANGE));
}

int removeFileAt(int folder, const std::string& name)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    return result(::unlinkat(folder, name.c_str(), 0));
}

int removeFolderAt(int folder, const std::string& name)
{
    if (!isEntryName(name))
        return failed(EINVAL);
    return result(::unlinkat(folder, name.c_str(), AT_REMOVEDIR));
}

int syncFolder(int folder)
{
    return result(::fsync(folder));
}
} // namespace compat::at
