#pragma once
// The Windows-shaped calls that delete, move and remove items, and the temporary-files directory. Paths follow the
// rules of compat/FileApi.h; every failure sets the thread's last error to the Windows code.

#include "compat/FileApi.h"

// Removes a file or a link (never what the link leads to); a folder fails with ERROR_ACCESS_DENIED.
BOOL DeleteFileW(LPCWSTR fileName);

// Moves or renames a file or folder. Never replaces: an existing target fails with ERROR_ALREADY_EXISTS, except
// that moving an entry onto itself (the same name in the same folder) succeeds and changes nothing. Another file
// system fails with ERROR_NOT_SAME_DEVICE.
BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName);

// Removes an empty folder. A mount point fails (ERROR_SHARING_VIOLATION) and a link to a folder is not a folder.
BOOL RemoveDirectoryW(LPCWSTR pathName);

// The temporary-files directory ($TMPDIR when it is an absolute path, else /tmp) with a trailing "/". Returns its
// length without the terminating NUL, or the size needed (with the NUL) when the buffer is too small.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);
