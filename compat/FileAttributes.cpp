// Folders and attributes by path.

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/FileStatus.h"
#include "compat/LastError.h"
#include "compat/NewItemModes.h"

#include <cerrno>
#include <sys/stat.h>

namespace
{
BOOL failWithErrno(int error, const std::string& path)
{
    compat::setLastErrorFromErrno(error, path.c_str());
    return FALSE;
}

bool isDirectoryLink(const std::string& path, const struct statx& status)
{
    struct statx target;
    return S_ISLNK(status.stx_mode) && compat::statPath(path, true, target) == 0 && S_ISDIR(target.stx_mode);
}
} // namespace

BOOL CreateDirectoryW(LPCWSTR pathName, SECURITY_ATTRIBUTES*)
{
    std::string path;
    if (!compat::toSystemPath(pathName, path))
        return FALSE;
    return ::mkdir(path.c_str(), compat::newFolderMode) == 0 ? TRUE : failWithErrno(errno, path);
}

DWORD GetFileAttributesW(LPCWSTR fileName)
{
    std::string path;
    if (!compat::toSystemPath(fileName, path))
        return INVALID_FILE_ATTRIBUTES;
    struct statx status;
    if (const int error = compat::statPath(path, false, status); error != 0)
    {
        failWithErrno(error, path);
        return INVALID_FILE_ATTRIBUTES;
    }
    const DWORD stored = compat::readStoredAttributes(-1, path, false, status);
    return compat::attributesOf(status, stored, isDirectoryLink(path, status), nullptr);
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes)
{
    std::string path;
    if (!compat::toSystemPath(fileName, path))
        return FALSE;
    struct statx status;
    if (const int error = compat::statPath(path, false, status); error != 0)
        return failWithErrno(error, path);
    const DWORD stored = attributes & compat::storedAttributeMask;
    const bool storedChanges = compat::readStoredAttributes(-1, path, false, status) != stored;
    if (!S_ISREG(status.stx_mode))
    {
        const int error = storedChanges ? compat::writeStoredAttributes(path, false, status, stored) : 0;
        return error == 0 ? TRUE : failWithErrno(error, path);
    }

    // A read-only file refuses a change of its extended attributes: the attribute is written while the
    // owner may write.
    const mode_t mode = status.stx_mode & 07777;
    const bool wasReadOnly = (mode & S_IWUSR) == 0;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const mode_t writable = mode | S_IWUSR;
    const mode_t finalMode = readOnly ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : (wasReadOnly ? writable : mode);
    if (storedChanges)
    {
        if (wasReadOnly && ::chmod(path.c_str(), writable) != 0)
            return failWithErrno(errno, path);
        if (const int error = compat::writeStoredAttributes(path, false, status, stored); error != 0)
        {
            if (wasReadOnly)
                ::chmod(path.c_str(), mode);
            return failWithErrno(error, path);
        }
    }
    const mode_t current = storedChanges && wasReadOnly ? writable : mode;
    if (finalMode != current && ::chmod(path.c_str(), finalMode) != 0)
        return failWithErrno(errno, path);
    return TRUE;
}
