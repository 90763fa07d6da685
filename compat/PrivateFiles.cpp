#include "compat/PrivateFiles.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/WriteAll.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace compat
{
namespace
{
constexpr mode_t privateFolderMode = 0700;
constexpr mode_t privateFileMode = 0600;

BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL failWithErrno(int error, const std::string& path, ErrnoUse use = ErrnoUse::Default)
{
    setLastErrorFromErrno(error, path.c_str(), use);
    return FALSE;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Sets the mode of the item a descriptor refers to. A descriptor opened with O_PATH cannot be changed
// directly; its /proc entry leads to the very same item without another lookup of the name.
int setMode(int descriptor, mode_t mode)
{
    if (::fchmod(descriptor, mode) == 0)
        return 0;
    if (errno != EBADF)
        return errno;
    const std::string entry = "/proc/self/fd/" + std::to_string(descriptor);
    return ::chmod(entry.c_str(), mode) == 0 ? 0 : errno;
}

// 0 when the item is of the given type and the user's own, after its mode was set; else the Windows code.
DWORD conform(int descriptor, mode_t type, mode_t mode)
{
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0)
        return windowsErrorFromErrno(errno);
    if (S_ISLNK(status.st_mode))
        return ERROR_CANT_RESOLVE_FILENAME;
    if ((status.st_mode & S_IFMT) != type)
        return type == S_IFDIR ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED;
    if (status.st_uid != ::geteuid())
        return ERROR_INVALID_OWNER;
    if ((status.st_mode & 07777) != mode)
        if (const int error = setMode(descriptor, mode); error != 0)
            return windowsErrorFromErrno(error);
    return 0;
}

// Creates one folder with exactly the private mode (the umask may have taken bits away).
int makeFolder(const std::string& folder)
{
    if (::mkdir(folder.c_str(), privateFolderMode) != 0)
        return errno;
    return ::fchmodat(AT_FDCWD, folder.c_str(), privateFolderMode, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}
} // namespace

BOOL createPrivateFolders(const std::string& folder)
{
    int error = makeFolder(folder);
    if (error == ENOENT && folderOf(folder) != folder)
    {
        if (!createPrivateFolders(folderOf(folder)))
            return FALSE;
        error = makeFolder(folder);
    }
    if (error != 0 && error != EEXIST)
        return failWithErrno(error, folder);
    return TRUE;
}

BOOL keepFolderPrivate(const std::string& folder)
{
    if (!createPrivateFolders(folder))
        return FALSE;
    // O_PATH: the folder is checked and corrected whatever its present mode. O_NOFOLLOW: a link in its place
    // is opened itself, and refused.
    const int descriptor = ::open(folder.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return failWithErrno(errno, folder);
    const DWORD code = conform(descriptor, S_IFDIR, privateFolderMode);
    ::close(descriptor);
    return code == 0 ? TRUE : fail(code);
}

BOOL keepFolderPrivate(LPCWSTR folder)
{
    std::string systemPath;
    return toSystemPath(folder, systemPath) && keepFolderPrivate(systemPath);
}

SECURITY_ATTRIBUTES* ownerOnlyAccess()
{
    static SECURITY_ATTRIBUTES ownerOnly = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    return &ownerOnly;
}

PrivateFile::PrivateFile(PrivateFile&& other) noexcept : mDescriptor(std::exchange(other.mDescriptor, -1)) {}

PrivateFile& PrivateFile::operator=(PrivateFile&& other) noexcept
{
    if (this != &other)
    {
        close();
        mDescriptor = std::exchange(other.mDescriptor, -1);
    }
    return *this;
}

PrivateFile::~PrivateFile()
{
    close();
}

BOOL PrivateFile::open(const std::string& path, Creation creation)
{
    close();
    const int flags =
        O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | (creation == Creation::CreateNew ? O_EXCL : 0);
    int descriptor;
    do
        descriptor = ::open(path.c_str(), flags, privateFileMode);
    while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return failWithErrno(errno, path,
                             creation == Creation::CreateNew ? ErrnoUse::CreateNewFile : ErrnoUse::Default);
    if (const DWORD code = detail::makeDescriptorPrivate(descriptor); code != 0)
    {
        ::close(descriptor);
        return fail(code);
    }
    mDescriptor = descriptor;
    return TRUE;
}

void PrivateFile::close()
{
    if (mDescriptor != -1)
        ::close(std::exchange(mDescriptor, -1));
}

BOOL PrivateFile::write(const void* data, std::size_t size)
{
    return writeAll(mDescriptor, data, size) ? TRUE : fail(windowsErrorFromErrno(errno));
}

BOOL PrivateFile::truncate()
{
    return ::ftruncate(mDescriptor, 0) == 0 ? TRUE : fail(windowsErrorFromErrno(errno));
}

BOOL PrivateFile::lock()
{
    int result;
    do
        result = ::flock(mDescriptor, LOCK_EX);
    while (result != 0 && errno == EINTR);
    return result == 0 ? TRUE : fail(windowsErrorFromErrno(errno));
}

BOOL PrivateFile::unlock()
{
    return ::flock(mDescriptor, LOCK_UN) == 0 ? TRUE : fail(windowsErrorFromErrno(errno));
}

BOOL replaceFile(LPCWSTR source, LPCWSTR target)
{
    std::string from;
    std::string to;
    if (!toSystemPath(source, from) || !toSystemPath(target, to))
        return FALSE;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return failWithErrno(errno, to);
    const int folder = ::open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return failWithErrno(errno, to);
    const bool flushed = ::fsync(folder) == 0;
    const int error = errno;
    ::close(folder);
    return flushed ? TRUE : failWithErrno(error, to);
}

namespace detail
{
DWORD makeDescriptorPrivate(int descriptor)
{
    return conform(descriptor, S_IFREG, privateFileMode);
}
} // namespace detail
} // namespace compat
