#pragma once
// One file-system call each, on full paths, throwing qcl::SystemError with the Windows code on failure.

#include "compat/FileOperations.h"

#include <string>
#include <system_error>

namespace win32
{
void deleteFile(const std::wstring& path);
// Reports the failure in `error` and returns false instead of throwing.
bool deleteFile(const std::wstring& path, std::error_code& error);

// Exactly these two paths: no renaming, no retry, never replacing the target.
void moveFile(const std::wstring& source, const std::wstring& target);

DWORD getFileAttributes(const std::wstring& path);
void setFileAttributes(const std::wstring& path, DWORD attributes);

// The directory for temporary files.
void tempPath(std::wstring& path);
std::wstring tempPath();

// A new, empty directory under the temporary-files directory, ending in a separator.
std::wstring createTemporaryDirectory();
} // namespace win32
