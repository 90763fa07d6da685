#include "compat/LastError.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace
{
thread_local DWORD tLastError = ERROR_SUCCESS;

bool parentFolderExists(const char* path)
{
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const auto slash = text.rfind('/');
    if (slash == std::string::npos)
        return true; // relative name: its parent is the current folder
    const std::string parent = slash == 0 ? std::string("/") : text.substr(0, slash);
    struct stat status;
    return ::stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
} // namespace

DWORD GetLastError()
{
    return tLastError;
}

void SetLastError(DWORD code)
{
    tLastError = code;
}

namespace compat
{
DWORD windowsErrorFromErrno(int error, const char* path, ErrnoUse use)
{
    switch (error)
    {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return path != nullptr && !parentFolderExists(path) ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return use == ErrnoUse::CreateNewFile ? ERROR_FILE_EXISTS : ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EIO:
        return ERROR_IO_DEVICE;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EMLINK:
        return ERROR_TOO_MANY_LINKS;
    case ETIMEDOUT:
        return ERROR_TIMEOUT;
    case ECANCELED:
    case EINTR:
        return ERROR_OPERATION_ABORTED;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case ENOSYS:
        return ERROR_CALL_NOT_IMPLEMENTED;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

DWORD setLastErrorFromErrno(int error, const char* path, ErrnoUse use)
{
    const DWORD code = windowsErrorFromErrno(error, path, use);
    SetLastError(code);
    return code;
}
} // namespace compat
