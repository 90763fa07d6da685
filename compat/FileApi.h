#pragma once
// Windows-shaped file, directory and attribute calls of the stand-in platform layer.
//
// Paths are native Linux paths ("/" separates, no drive). A leading long-path prefix "\\?\" (the exact
// four units of the Windows form, which the path functions put in front of long paths) is dropped before
// any system call; a relative name that really begins with those units must be written "./\\?\...".
// Names are converted to bytes losslessly (see compat/FileNameText.h). Every failure sets the thread's
// last error to the Windows code.

#include "compat/Types.h"

using UINT = unsigned int;

inline constexpr DWORD MAX_PATH = 260;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
inline constexpr DWORD FILE_READ_DATA = 0x0001;
inline constexpr DWORD FILE_LIST_DIRECTORY = 0x0001;
inline constexpr DWORD FILE_WRITE_DATA = 0x0002;
inline constexpr DWORD FILE_APPEND_DATA = 0x0004;
inline constexpr DWORD DELETE = 0x00010000;

inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x100;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x800;
inline constexpr DWORD FILE_ATTRIBUTE_ENCRYPTED = 0x4000;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

inline constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
inline constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;

inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

struct SECURITY_ATTRIBUTES
{
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct OVERLAPPED;

struct LARGE_INTEGER
{
    LONGLONG QuadPart;
};

struct BY_HANDLE_FILE_INFORMATION
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};

struct WIN32_FIND_DATAW
{
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0; // the reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
    DWORD dwReserved1;
    wchar_t cFileName[MAX_PATH];
    wchar_t cAlternateFileName[14];
};

// Sharing modes hold between handles of this and of other processes that use this layer: an open that
// conflicts with the access or sharing of an open handle fails with ERROR_SHARING_VIOLATION. A handle
// opened with no read or write access (attributes only) and OPEN_EXISTING opens nothing: it holds the
// file's metadata as it was when opened. Folders open only with FILE_FLAG_BACKUP_SEMANTICS.
// FILE_ATTRIBUTE_HIDDEN, SYSTEM and TEMPORARY are stored with a file that is created or replaced.
// CREATE_ALWAYS refuses (ERROR_ACCESS_DENIED) to replace a hidden or system file without those
// attributes. CREATE_ALWAYS and OPEN_ALWAYS set ERROR_ALREADY_EXISTS on success when the file existed.
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
// Synchronous only: `overlapped` must be null. Reads once; 0 bytes read at the end of the file.
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped);
// Writes every byte unless an error stops it; `bytesWritten` tells how many went out.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
// The file index is the inode number with a hash of the file handle (inode generation) and the birth
// time mixed into the upper 32 bits: stable across renames, different for a new file that reuses the
// inode.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
BOOL CloseHandle(HANDLE object);

BOOL CreateDirectoryW(LPCWSTR pathName, SECURITY_ATTRIBUTES* security);

// Attributes come from the item itself (links are not followed): DIRECTORY for folders, ARCHIVE for
// regular files (READONLY when the owner may not write), REPARSE_POINT for symbolic links and mount
// points, SYSTEM for devices, pipes and sockets; HIDDEN, SYSTEM and TEMPORARY as stored with the item.
// Names beginning with "." are not hidden.
DWORD GetFileAttributesW(LPCWSTR fileName);
// READONLY sets or clears the write permissions; HIDDEN, SYSTEM and TEMPORARY are stored; the rest is
// ignored.
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes);

// The pattern's last component may hold "*" and "?" (compared without regard to case). Entries come in
// a fixed order: "." and "..", then by upper-cased UTF-16 units. No match fails with
// ERROR_FILE_NOT_FOUND, a missing folder with ERROR_PATH_NOT_FOUND; the end with ERROR_NO_MORE_FILES.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

enum FILE_INFO_BY_HANDLE_CLASS
{
    FileBasicInfo = 0,
    FileIdBothDirectoryInfo = 10,
    FileIdBothDirectoryRestartInfo = 11,
};

// One entry of a folder enumerated by GetFileInformationByHandleEx. Times count 100-nanosecond intervals since
// 1601 as FILETIME does. The name is not terminated; FileNameLength counts its bytes (units times
// sizeof(wchar_t)). EaSize holds the reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set. FileId is the file
// index that GetFileInformationByHandle reports for the entry itself (a link is not followed). NextEntryOffset is 0
// on the last entry of a buffer.
struct FILE_ID_BOTH_DIR_INFO
{
    DWORD NextEntryOffset;
    DWORD FileIndex;
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    LARGE_INTEGER EndOfFile;
    LARGE_INTEGER AllocationSize;
    DWORD FileAttributes;
    DWORD FileNameLength;
    DWORD EaSize;
    BYTE ShortNameLength;
    wchar_t ShortName[12];
    LARGE_INTEGER FileId;
    wchar_t FileName[1];
};

// The times (as in FILE_ID_BOTH_DIR_INFO) and attributes of an open file or folder. ChangeTime moves with
// every change of the content or the metadata, and cannot be set back by anyone.
struct FILE_BASIC_INFO
{
    LARGE_INTEGER CreationTime;
    LARGE_INTEGER LastAccessTime;
    LARGE_INTEGER LastWriteTime;
    LARGE_INTEGER ChangeTime;
    DWORD FileAttributes;
};

// FileBasicInfo fills a FILE_BASIC_INFO for any open handle. The two other classes enumerate a folder opened
// by CreateFileW (FILE_FLAG_BACKUP_SEMANTICS) with its entries' file ids, in the order of FindFirstFileW ("."
// and ".." first). Each call fills `information` with as many entries as fit; FileIdBothDirectoryRestartInfo
// starts again from the first entry. ERROR_NO_MORE_FILES at the end, ERROR_INSUFFICIENT_BUFFER when not even
// one entry fits, ERROR_INVALID_PARAMETER for a handle that is not an open folder or for another class.
// `information` must be aligned for the record (8 bytes).
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS informationClass, void* information,
                                  DWORD bufferSize);

namespace compat
{
// Test hook: store HIDDEN, SYSTEM and TEMPORARY in the process-wide table instead of an extended
// attribute, as on a file system without user extended attributes.
void setExtendedAttributesDisabledForTesting(bool disabled);
} // namespace compat
