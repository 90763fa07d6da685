// Directory enumeration in a fixed order: "." and "..", then by upper-cased UTF-16 units.

#include "compat/FileApi.h"
#include "compat/DirectoryListing.h"
#include "compat/FileNameText.h"
#include "compat/FileStatus.h"
#include "compat/HandleTable.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace
{
bool hasWildcard(const std::wstring& pattern)
{
    return pattern.find_first_of(L"*?") != std::wstring::npos;
}

struct FindObject : compat::KernelObject
{
    int directoryFd = -1;
    std::string directory; // native path, ends with "/" unless empty
    std::vector<compat::ListedName> entries;
    std::size_t next = 0;

    ~FindObject() override { close(); }
    int close() override
    {
        if (directoryFd == -1)
            return 0;
        const int result = ::close(directoryFd);
        directoryFd = -1;
        return result == 0 ? 0 : errno;
    }
};

// Fills `data` for the next entry that still exists. 0 when done, ERROR_NO_MORE_FILES at the end, else
// the code of the failure.
DWORD fillNext(FindObject& find, WIN32_FIND_DATAW& data)
{
    while (find.next < find.entries.size())
    {
        const compat::ListedName& entry = find.entries[find.next++];
        compat::EntryStatus described;
        const int error = compat::describeEntry(find.directoryFd, find.directory, entry.bytes, described);
        if (error == ENOENT)
            continue; // removed since the listing was read
        if (error != 0)
            return compat::windowsErrorFromErrno(error);
        const struct statx& status = described.status;
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = described.attributes;
        data.dwReserved0 = described.reparseTag;
        data.ftCreationTime = compat::creationTime(status);
        data.ftLastAccessTime = compat::toFileTime(status.stx_atime);
        data.ftLastWriteTime = compat::toFileTime(status.stx_mtime);
        const ULONGLONG size = compat::reportedSize(status);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
        // A name has at most 255 bytes and so at most 255 units: it always fits.
        const std::size_t length = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
        std::copy_n(entry.name.data(), length, data.cFileName);
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_FILES;
}

bool readEntries(FindObject& find, const std::wstring& namePattern, const std::string& directoryPath,
                 const std::string& patternPath)
{
    find.directoryFd = ::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (find.directoryFd == -1)
    {
        compat::setLastErrorFromErrno(errno, patternPath.c_str());
        return false;
    }
    if (const int error = compat::readSortedNames(find.directoryFd, namePattern, find.entries); error != 0)
    {
        compat::setLastErrorFromErrno(error);
        return false;
    }
    return true;
}
} // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data)
{
    std::string patternPath;
    if (!compat::toSystemPath(pattern, patternPath))
        return INVALID_HANDLE_VALUE;
    if (data == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto slash = patternPath.rfind('/');
    const std::string directoryPath =
        slash == std::string::npos ? "." : slash == 0 ? "/" : patternPath.substr(0, slash);
    const std::string nameBytes = slash == std::string::npos ? patternPath : patternPath.substr(slash + 1);
    const std::wstring namePattern = compat::fileNameToUtf16(nameBytes);
    if (namePattern.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto find = std::make_shared<FindObject>();
    find->directory = slash == std::string::npos ? std::string() : patternPath.substr(0, slash + 1);
    if (hasWildcard(namePattern))
    {
        if (!readEntries(*find, namePattern, directoryPath, patternPath))
            return INVALID_HANDLE_VALUE;
    }
    else
    {
        // A plain name finds just that item.
        find->directoryFd = ::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (find->directoryFd == -1)
        {
            compat::setLastErrorFromErrno(errno, patternPath.c_str());
            return INVALID_HANDLE_VALUE;
        }
        find->entries.push_back({nameBytes, namePattern, {}});
    }
    const DWORD result = fillNext(*find, *data);
    if (result != ERROR_SUCCESS)
    {
        SetLastError(result == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : result);
        return INVALID_HANDLE_VALUE;
    }
    return compat::insertHandle(std::move(find));
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data)
{
    const auto find = compat::findHandle<FindObject>(handle);
    if (!find)
        return FALSE;
    if (data == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD result = fillNext(*find, *data);
    if (result != ERROR_SUCCESS)
    {
        SetLastError(result);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    const auto find = compat::removeHandle<FindObject>(handle);
    return find ? TRUE : FALSE;
}
