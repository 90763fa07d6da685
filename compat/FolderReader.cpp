#include "compat/FolderReader.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace compat
{
namespace
{
constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

DWORD openError(int error)
{
    // The folder itself, not an entry in it, is missing or is no folder.
    return error == ENOENT || error == ENOTDIR ? ERROR_PATH_NOT_FOUND : windowsErrorFromErrno(error);
}
} // namespace

DWORD FolderReader::open(const std::wstring& path)
{
    std::string systemPath;
    if (!toSystemPath(path.c_str(), systemPath))
        return GetLastError();
    int fd;
    do
        fd = ::open(systemPath.c_str(), folderFlags);
    while (fd == -1 && errno == EINTR);
    return opened(fd, std::move(systemPath));
}

DWORD FolderReader::openFrom(int folder, const std::wstring& path)
{
    std::string systemPath;
    if (!toSystemPath(path.c_str(), systemPath))
        return GetLastError();
    int fd;
    do
        fd = ::openat(folder, ".", folderFlags);
    while (fd == -1 && errno == EINTR);
    return opened(fd, std::move(systemPath));
}

DWORD FolderReader::openChild(const FolderReader& parent, const std::wstring& name)
{
    std::string bytes;
    if (parent.mFd == -1 || !utf16ToFileName(name.data(), name.data() + name.size(), bytes))
        return ERROR_INVALID_PARAMETER;
    int fd;
    do
        fd = ::openat(parent.mFd, bytes.c_str(), folderFlags | O_NOFOLLOW);
    while (fd == -1 && errno == EINTR);
    return opened(fd, parent.mPath + bytes);
}

DWORD FolderReader::opened(int fd, std::string path)
{
    close();
    if (fd == -1)
        return openError(errno);
    mFd = fd;
    mPath = std::move(path);
    if (mPath.empty() || mPath.back() != '/')
        mPath += '/';
    return ERROR_SUCCESS;
}

DWORD FolderReader::read(void* buffer, std::size_t bufferSize)
{
    if (mFd == -1)
        return ERROR_NO_MORE_FILES;
    if (!mListed)
    {
        if (const int error = readSortedEntryNames(mFd, mNames); error != 0)
            return windowsErrorFromErrno(error);
        mListed = true;
    }
    const DWORD code = readIdRecords(mFd, mPath, mNames, mNext, buffer, bufferSize);
    if (code == ERROR_NO_MORE_FILES)
        close();
    return code;
}

void FolderReader::close()
{
    if (mFd != -1)
        ::close(mFd);
    mFd = -1;
    mNames.clear();
    mNext = 0;
    mListed = false;
}
} // namespace compat
