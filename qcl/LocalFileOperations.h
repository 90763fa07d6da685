#pragma once
// The operations through which the engine changes the Wayfold folder: create or move under a free name (the
// file-name rules of LocalFileNames.h, with " (n)" on collision), and delete into the trash.

#include "compat/FileOperations.h"
#include "compat/Trash.h"
#include "qcl/File.h"

#include <string>

namespace dwl
{
// How many names a create or move tries before it gives up with the last "already exists" error.
inline constexpr int maxCollisionAttempts = 10000;

// The flags with which the engine deletes: silently, without confirmation, into the trash.
inline constexpr FILEOP_FLAGS engineDeleteFlags =
    FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;

// Each takes the parent folder (a separator is appended when missing and the parent is not empty) and the name
// as the server gave it, and returns the name under which the item was made or moved (the name only).
std::wstring createDirectory(std::wstring parent, const std::wstring& name, SECURITY_ATTRIBUTES* security = nullptr);

// Creates a new file with CREATE_NEW and the given values; the open handle goes into `file` (whose former handle
// is closed first).
std::wstring createUniqueFile(qcl::Handle& file, std::wstring parent, const std::wstring& name, DWORD desiredAccess,
                              DWORD shareMode, DWORD flagsAndAttributes, SECURITY_ATTRIBUTES* security = nullptr,
                              HANDLE templateFile = nullptr);

// Moving an item onto itself (same parent, same free name) succeeds without change.
std::wstring moveDirectory(const std::wstring& source, std::wstring parent, const std::wstring& name);
std::wstring moveFile(const std::wstring& source, std::wstring parent, const std::wstring& name);

// Deletes a file or a whole directory tree into the trash of its file system, whatever the length of the path.
// When no trash can be used it fails (qcl::basic_runtime_error<wchar_t>) and the item stays.
void deleteFileOrDirectory(const std::wstring& path, FILEOP_FLAGS flags = engineDeleteFlags, HWND window = nullptr);

// One shell file operation on one source path; throws qcl::basic_runtime_error<wchar_t> when it fails or was
// aborted.
void shellFileOperation(const std::wstring& from, const std::wstring& to, UINT operation, FILEOP_FLAGS flags,
                        HWND window = nullptr);
} // namespace dwl
