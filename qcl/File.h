#pragma once
// Throwing wrappers over the file and directory calls. Each failure throws SystemError with the
// thread's last error and a fixed message naming the path or the handle (8 upper-case hexadecimal
// digits). Paths reach the system in their long form (qcl/Path.h).

#include "compat/FileApi.h"
#include "qcl/Handle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace qcl
{
// Operations on an open file handle.
class File
{
public:
    static void flush(HANDLE file);
    // The file index: nFileIndexHigh in the upper 32 bits, nFileIndexLow in the lower.
    static std::uint64_t getFileId(HANDLE file);
    static std::int64_t getSize(HANDLE file);
    static FILETIME getLastWriteTime(HANDLE file);
    // One read; 0 at the end of the file.
    static DWORD read(HANDLE file, void* buffer, DWORD size);
    // Returns the new position.
    static std::int64_t seek(HANDLE file, std::int64_t distance, DWORD moveMethod = FILE_BEGIN);
    // Writes all `size` bytes; 0 bytes does nothing.
    static void write(HANDLE file, const void* buffer, std::size_t size);
};

namespace file
{
// CreateFileW on the long form of `path` (threshold 260); throws "Cannot open '%1%'".
Handle open(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags, HANDLE templateFile = nullptr);
// The same without throwing: `error` receives {code, Windows category} and the result is empty.
Handle open(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags, HANDLE templateFile, std::error_code& error);

// CreateDirectoryW (long form from 248 units on). With `parents`, missing parent folders are created
// first. False with the Windows code in `error` on failure; an existing folder gives
// ERROR_ALREADY_EXISTS (183), which the caller judges.
bool createDirectories(const std::wstring& path, std::error_code& error, bool parents = true,
                       SECURITY_ATTRIBUTES* security = nullptr);

// The file ID of a file or folder, read without opening it for reading or writing; throws
// "Cannot get file ID of '%1%'".
std::uint64_t getFileId(const std::wstring& path);

// True unless the folder holds an entry (other than "." and "..") that has one of `wanted` and none
// of `excluded` among its attributes.
bool isDirectoryEmpty(const std::wstring& path, DWORD excludedAttributes, DWORD wantedAttributes);
} // namespace file
} // namespace qcl
