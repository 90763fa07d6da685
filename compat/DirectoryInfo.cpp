// Enumeration of an open folder with the file id of every entry, so that a scan needs no second look at each
// entry by path.

#include "compat/DirectoryListing.h"
#include "compat/FileApi.h"
#include "compat/FileObject.h"
#include "compat/FileStatus.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace compat
{
struct DirectoryEnumeration
{
    std::vector<ListedName> names;
    std::size_t next = 0;
};
} // namespace compat

namespace
{
BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

std::size_t recordSize(const compat::ListedName& entry)
{
    const std::size_t size = offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + entry.name.size() * sizeof(wchar_t);
    return (size + 7) & ~std::size_t(7);
}

LARGE_INTEGER largeInteger(const FILETIME& time)
{
    return {static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime)};
}

void fillRecord(FILE_ID_BOTH_DIR_INFO& record, const compat::ListedName& entry,
                const compat::EntryStatus& described, ULONGLONG fileId)
{
    const struct statx& status = described.status;
    std::memset(&record, 0, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
    record.CreationTime = largeInteger(compat::creationTime(status));
    record.LastAccessTime = largeInteger(compat::toFileTime(status.stx_atime));
    record.LastWriteTime = largeInteger(compat::toFileTime(status.stx_mtime));
    record.ChangeTime = largeInteger(compat::toFileTime(status.stx_ctime));
    record.EndOfFile.QuadPart = static_cast<LONGLONG>(compat::reportedSize(status));
    record.AllocationSize.QuadPart = static_cast<LONGLONG>(status.stx_blocks * 512);
    record.FileAttributes = described.attributes;
    record.FileNameLength = static_cast<DWORD>(entry.name.size() * sizeof(wchar_t));
    record.EaSize = described.reparseTag;
    record.FileId.QuadPart = static_cast<LONGLONG>(fileId);
    std::copy(entry.name.begin(), entry.name.end(), record.FileName);
}
BOOL basicInformation(const compat::FileObject& file, void* information, DWORD bufferSize)
{
    if (information == nullptr || bufferSize < sizeof(FILE_BASIC_INFO))
        return fail(ERROR_INVALID_PARAMETER);
    struct statx status = file.status; // a handle opened for attributes only keeps what it found
    if (file.fd != -1)
        if (const int error = compat::statDescriptor(file.fd, status); error != 0)
        {
            compat::setLastErrorFromErrno(error);
            return FALSE;
        }
    auto* basic = static_cast<FILE_BASIC_INFO*>(information);
    basic->CreationTime = largeInteger(compat::creationTime(status));
    basic->LastAccessTime = largeInteger(compat::toFileTime(status.stx_atime));
    basic->LastWriteTime = largeInteger(compat::toFileTime(status.stx_mtime));
    basic->ChangeTime = largeInteger(compat::toFileTime(status.stx_ctime));
    basic->FileAttributes = compat::attributesOf(
        status, compat::readStoredAttributes(file.fd, file.path, true, status), false, nullptr);
    return TRUE;
}
} // namespace

BOOL GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS informationClass,
                                  void* information, DWORD bufferSize)
{
    const auto file = compat::findHandle<compat::FileObject>(handle);
    if (!file)
        return FALSE;
    if (informationClass == FileBasicInfo)
        return basicInformation(*file, information, bufferSize);
    if ((informationClass != FileIdBothDirectoryInfo && informationClass != FileIdBothDirectoryRestartInfo) ||
        !file->isDirectory || file->fd == -1 || information == nullptr)
        return fail(ERROR_INVALID_PARAMETER);

    std::lock_guard lock(file->enumerationMutex);
    if (!file->enumeration || informationClass == FileIdBothDirectoryRestartInfo)
    {
        auto enumeration = std::make_shared<compat::DirectoryEnumeration>();
        if (const int error = compat::readSortedNames(file->fd, L"*", enumeration->names); error != 0)
        {
            compat::setLastErrorFromErrno(error);
            return FALSE;
        }
        file->enumeration = std::move(enumeration);
    }
    compat::DirectoryEnumeration& enumeration = *file->enumeration;
    const std::string directory =
        file->path.empty() || file->path.back() == '/' ? file->path : file->path + '/';
    const DWORD code = compat::readIdRecords(file->fd, directory, enumeration.names, enumeration.next,
                                             information, bufferSize);
    return code == ERROR_SUCCESS ? TRUE : fail(code);
}

DWORD compat::readIdRecords(int directoryFd, const std::string& directoryPath,
                            const std::vector<ListedName>& names, std::size_t& next, void* buffer,
                            std::size_t bufferSize)
{
    auto* const bytes = static_cast<unsigned char*>(buffer);
    std::size_t used = 0;
    FILE_ID_BOTH_DIR_INFO* previous = nullptr;
    for (; next < names.size(); ++next)
    {
        const ListedName& entry = names[next];
        const std::size_t size = recordSize(entry);
        if (used + size > bufferSize)
        {
            if (previous == nullptr)
                return ERROR_INSUFFICIENT_BUFFER;
            break;
        }
        EntryStatus described;
        int error = describeEntry(directoryFd, directoryPath, entry.bytes, described);
        ULONGLONG fileId = 0;
        if (error == 0)
        {
            const std::uint32_t tag = reuseTag(directoryFd, entry.bytes.c_str(), 0, described.status, &error);
            fileId = fileIndex(described.status, tag);
            if (error != ENOENT)
                error = 0; // a file system without file handles: the tag holds the birth time alone
        }
        if (error == ENOENT)
            continue; // removed since the listing was read
        if (error != 0)
        {
            if (previous != nullptr)
                break; // this entry is tried again by the next call
            return windowsErrorFromErrno(error);
        }
        auto* record = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(bytes + used);
        fillRecord(*record, entry, described, fileId);
        if (previous != nullptr)
            previous->NextEntryOffset = static_cast<DWORD>(reinterpret_cast<unsigned char*>(record) -
                                                           reinterpret_cast<unsigned char*>(previous));
        previous = record;
        used += size;
    }
    return previous == nullptr ? ERROR_NO_MORE_FILES : ERROR_SUCCESS;
}
