// Files and folders opened by CreateFileW, and the calls on their handles.

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/FileObject.h"
#include "compat/FileStatus.h"
#include "compat/HandleTable.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "compat/NewItemModes.h"
#include "compat/ShareLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
using compat::FileObject;

BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL failWithErrno(int error)
{
    compat::setLastErrorFromErrno(error);
    return FALSE;
}

unsigned rightsOf(DWORD access)
{
    unsigned rights = 0;
    if ((access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0)
        rights |= compat::share::Read;
    if ((access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0)
        rights |= compat::share::Write;
    if ((access & (DELETE | GENERIC_ALL)) != 0)
        rights |= compat::share::Delete;
    return rights;
}

HANDLE failOpen(DWORD code)
{
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE failOpenWithErrno(int error, const std::string& path, compat::ErrnoUse use = compat::ErrnoUse::Default)
{
    compat::setLastErrorFromErrno(error, path.c_str(), use);
    return INVALID_HANDLE_VALUE;
}

HANDLE openForAttributesOnly(std::string path, DWORD flags)
{
    auto file = std::make_shared<FileObject>();
    if (const int error = compat::statPath(path, true, file->status); error != 0)
        return failOpenWithErrno(error, path);
    file->isDirectory = S_ISDIR(file->status.stx_mode);
    if (file->isDirectory && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0)
        return failOpen(ERROR_ACCESS_DENIED);
    file->reuseTag = compat::reuseTag(AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW, file->status);
    file->path = std::move(path);
    return compat::insertHandle(std::move(file));
}

int openDescriptor(const std::string& path, int flags, mode_t mode)
{
    // Non-blocking only while opening, so that a named pipe without a writer cannot hang the caller.
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    while (fd == -1 && errno == EINTR);
    if (fd != -1)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
} // namespace

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE)
{
    const bool ownerOnly = security != nullptr && security == compat::ownerOnlyAccess();
    std::string path;
    if (!compat::toSystemPath(fileName, path))
        return INVALID_HANDLE_VALUE;
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING)
        return failOpen(ERROR_INVALID_PARAMETER);
    const unsigned rights = rightsOf(desiredAccess);
    const bool mayRead = (rights & compat::share::Read) != 0;
    const bool mayWrite = (rights & compat::share::Write) != 0;
    if (!mayRead && !mayWrite && creationDisposition == OPEN_EXISTING)
        return openForAttributesOnly(std::move(path), flagsAndAttributes);
    if (creationDisposition == TRUNCATE_EXISTING && !mayWrite)
        return failOpen(ERROR_INVALID_PARAMETER);

    // Opened without O_TRUNC: an existing file is truncated only after the sharing check, so that a
    // refused open leaves another process's file as it was.
    // A private file is never opened through a link, and is made without the umask's say.
    const int access = (mayWrite ? O_RDWR : O_RDONLY) | (ownerOnly ? O_NOFOLLOW : 0);
    const mode_t newMode = ownerOnly ? 0600 : compat::newFileMode;
    const bool mayCreate = creationDisposition == CREATE_NEW || creationDisposition == CREATE_ALWAYS ||
                           creationDisposition == OPEN_ALWAYS;
    bool created = false;
    int fd = -1;
    for (int attempt = 0; fd == -1 && attempt < 100; ++attempt)
    {
        if (mayCreate)
        {
            fd = openDescriptor(path, access | O_CREAT | O_EXCL, newMode);
            if (fd != -1)
            {
                created = true;
                break;
            }
            if (errno != EEXIST || creationDisposition == CREATE_NEW)
                break;
        }
        fd = openDescriptor(path, access, 0);
        if (fd == -1 && errno == EACCES && mayWrite && !mayRead)
        {
            // A write-only file: no sharing marks then.
            fd = openDescriptor(path, O_WRONLY | (access & O_NOFOLLOW), 0);
        }
        if (fd == -1 && errno == EISDIR && (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0)
            fd = openDescriptor(path, O_RDONLY | O_DIRECTORY, 0);
        if (fd != -1 || errno != ENOENT || !mayCreate)
            break; // else the file went away in between: try to create it again
    }
    if (fd == -1)
    {
        const int error = errno;
        return failOpenWithErrno(error, path,
                                 creationDisposition == CREATE_NEW ? compat::ErrnoUse::CreateNewFile
                                                                   : compat::ErrnoUse::Default);
    }

    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->path = path;
    struct statx status;
    if (const int error = compat::statDescriptor(fd, status); error != 0)
        return failOpenWithErrno(error, path);
    if (ownerOnly)
        if (const DWORD code = compat::detail::makeDescriptorPrivate(fd); code != 0)
            return failOpen(code);
    file->isDirectory = S_ISDIR(status.stx_mode);
    if (file->isDirectory)
    {
        if ((flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0)
            return failOpen(ERROR_ACCESS_DENIED);
    }
    else
    {
        file->mayRead = mayRead;
        file->mayWrite = mayWrite;
        if (S_ISREG(status.stx_mode) && !compat::share::acquire(fd, rights, shareMode))
            return failOpen(ERROR_SHARING_VIOLATION);
    }

    // CREATE_ALWAYS gives an existing file the attributes of a new one; TRUNCATE_EXISTING keeps them.
    const bool overwritten = !created && creationDisposition == CREATE_ALWAYS;
    const bool truncated = overwritten || (!created && creationDisposition == TRUNCATE_EXISTING);
    const DWORD stored = flagsAndAttributes & compat::storedAttributeMask;
    const DWORD storedBefore = overwritten ? compat::readStoredAttributes(fd, path, true, status) : 0;
    // As on Windows, replacing a hidden or system file must say so: nothing un-hides it by accident.
    constexpr DWORD protectedBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (overwritten && (storedBefore & protectedBits & ~stored) != 0)
        return failOpen(ERROR_ACCESS_DENIED);
    if (truncated && S_ISREG(status.stx_mode) && ::ftruncate(fd, 0) != 0)
        return failOpenWithErrno(errno, path);
    if ((created || overwritten) && stored != storedBefore)
    {
        if (const int error = compat::writeStoredAttributes(path, true, status, stored); error != 0)
            return failOpenWithErrno(error, path);
    }
    // Made read-only last: a read-only file refuses a change of its extended attributes.
    if (created && (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        ::fchmod(fd, status.stx_mode & 07555) != 0)
        return failOpenWithErrno(errno, path);
    const HANDLE handle = compat::insertHandle(std::move(file));
    const bool existed = !created && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    if (bytesRead != nullptr)
        *bytesRead = 0;
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0))
        return fail(ERROR_INVALID_PARAMETER);
    if (file->isDirectory)
        return fail(ERROR_INVALID_FUNCTION);
    if (!file->mayRead)
        return fail(ERROR_ACCESS_DENIED);
    ssize_t count;
    do
        count = ::read(file->fd, buffer, bytesToRead);
    while (count == -1 && errno == EINTR);
    if (count == -1)
        return failWithErrno(errno);
    if (bytesRead != nullptr)
        *bytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped)
{
    if (bytesWritten != nullptr)
        *bytesWritten = 0;
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && bytesToWrite != 0))
        return fail(ERROR_INVALID_PARAMETER);
    if (file->isDirectory)
        return fail(ERROR_INVALID_FUNCTION);
    if (!file->mayWrite)
        return fail(ERROR_ACCESS_DENIED);
    const auto* at = static_cast<const char*>(buffer);
    DWORD done = 0;
    while (done < bytesToWrite)
    {
        const ssize_t count = ::write(file->fd, at + done, bytesToWrite - done);
        if (count == -1 && errno == EINTR)
            continue;
        if (count <= 0)
        {
            if (bytesWritten != nullptr)
                *bytesWritten = done;
            return failWithErrno(count == 0 ? ENOSPC : errno);
        }
        done += static_cast<DWORD>(count);
    }
    if (bytesWritten != nullptr)
        *bytesWritten = done;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod)
{
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    static constexpr int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (moveMethod > FILE_END)
        return fail(ERROR_INVALID_PARAMETER);
    if (file->fd == -1 || file->isDirectory)
        return fail(ERROR_INVALID_FUNCTION);
    if (moveMethod == FILE_BEGIN && distance.QuadPart < 0)
        return fail(ERROR_NEGATIVE_SEEK);
    const off_t position = ::lseek(file->fd, distance.QuadPart, whence[moveMethod]);
    if (position == -1)
        return errno == EINVAL ? fail(ERROR_NEGATIVE_SEEK) : failWithErrno(errno);
    if (newPosition != nullptr)
        newPosition->QuadPart = position;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle)
{
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    if (!file->mayWrite)
        return fail(ERROR_ACCESS_DENIED);
    return ::fsync(file->fd) == 0 ? TRUE : failWithErrno(errno);
}

namespace
{
// The current status of an open file, or the one taken when a handle for attributes only was opened.
bool statusOf(const FileObject& file, struct statx& status)
{
    if (file.fd == -1)
    {
        status = file.status;
        return true;
    }
    if (const int error = compat::statDescriptor(file.fd, status); error != 0)
    {
        compat::setLastErrorFromErrno(error);
        return false;
    }
    return true;
}
} // namespace

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size)
{
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    if (size == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    struct statx status;
    if (!statusOf(*file, status))
        return FALSE;
    size->QuadPart = static_cast<LONGLONG>(compat::reportedSize(status));
    return TRUE;
}

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    struct statx status;
    if (!statusOf(*file, status))
        return FALSE;
    if (creation != nullptr)
        *creation = compat::creationTime(status);
    if (lastAccess != nullptr)
        *lastAccess = compat::toFileTime(status.stx_atime);
    if (lastWrite != nullptr)
        *lastWrite = compat::toFileTime(status.stx_mtime);
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* information)
{
    const auto file = compat::findHandle<FileObject>(handle);
    if (!file)
        return FALSE;
    if (information == nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    struct statx status;
    if (!statusOf(*file, status))
        return FALSE;
    const DWORD stored = compat::readStoredAttributes(file->fd, file->path, true, status);
    const std::uint32_t reuseTag =
        file->fd == -1 ? file->reuseTag : compat::reuseTag(file->fd, "", AT_EMPTY_PATH, status);
    const ULONGLONG index = compat::fileIndex(status, reuseTag);
    const ULONGLONG size = compat::reportedSize(status);
    information->dwFileAttributes = compat::attributesOf(status, stored, false, nullptr);
    information->ftCreationTime = compat::creationTime(status);
    information->ftLastAccessTime = compat::toFileTime(status.stx_atime);
    information->ftLastWriteTime = compat::toFileTime(status.stx_mtime);
    information->dwVolumeSerialNumber = compat::volumeSerialNumber(status);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = status.stx_nlink;
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    auto object = compat::removeHandle<compat::KernelObject>(handle);
    if (!object)
        return FALSE;
    if (object.use_count() > 1)
        return TRUE; // a call in progress on another thread holds it; its release closes it
    const int error = object->close();
    return error == 0 ? TRUE : failWithErrno(error);
}
