#pragma once
// The thread's last error code, with the mapping from errno to Windows codes.

#include "compat/Types.h"

DWORD GetLastError();
void SetLastError(DWORD code);

namespace compat
{
// How an errno value is to be read: EEXIST means ERROR_FILE_EXISTS (80) when a new file was being
// created, ERROR_ALREADY_EXISTS (183) otherwise.
enum class ErrnoUse
{
    Default,
    CreateNewFile,
};

// Maps an errno value to the Windows code the callers expect. When `path` is given, ENOENT becomes
// ERROR_PATH_NOT_FOUND (3) if the parent folder of `path` is missing too, else ERROR_FILE_NOT_FOUND (2).
DWORD windowsErrorFromErrno(int error, const char* path = nullptr, ErrnoUse use = ErrnoUse::Default);

// Stores the mapped code as the thread's last error and returns it.
DWORD setLastErrorFromErrno(int error, const char* path = nullptr, ErrnoUse use = ErrnoUse::Default);
} // namespace compat
