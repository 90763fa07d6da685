#pragma once
// Deletion into the trash: the stand-in for the shell's delete with undo, over the freedesktop.org Trash.
//
// An item goes to the trash of its own file system: the home trash ($XDG_DATA_HOME/Trash) when it lives on the same
// file system, else the trash at the top of its mount ($topdir/.Trash/$uid when an administrator prepared a sticky
// $topdir/.Trash, otherwise $topdir/.Trash-$uid). The item is renamed into files/ under a free name and described by
// a record in info/. Nothing is ever copied across file systems or deleted for good: when no trash can be used the
// deletion fails.

#include "compat/FolderAt.h"
#include "compat/Types.h"

#include <string>

using UINT = unsigned int;
using HWND = void*;
using FILEOP_FLAGS = WORD;

inline constexpr UINT FO_MOVE = 1;
inline constexpr UINT FO_COPY = 2;
inline constexpr UINT FO_DELETE = 3;
inline constexpr UINT FO_RENAME = 4;

inline constexpr FILEOP_FLAGS FOF_SILENT = 0x0004;
inline constexpr FILEOP_FLAGS FOF_NOCONFIRMATION = 0x0010;
inline constexpr FILEOP_FLAGS FOF_ALLOWUNDO = 0x0040;
inline constexpr FILEOP_FLAGS FOF_NOCONFIRMMKDIR = 0x0200;
inline constexpr FILEOP_FLAGS FOF_NOERRORUI = 0x0400;

struct SHFILEOPSTRUCTW
{
    HWND hwnd;
    UINT wFunc;
    const wchar_t* pFrom; // list of paths, each NUL-terminated, ended by one more NUL
    const wchar_t* pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    void* hNameMappings;
    const wchar_t* lpszProgressTitle;
};

// Only deletion into the trash (FO_DELETE with FOF_ALLOWUNDO) is provided: each path of pFrom goes to the trash
// of its file system. Returns 0 on success, else the Windows error code of the first path that failed (the paths
// before it stay in the trash). Any other operation returns ERROR_NOT_SUPPORTED and changes nothing.
int SHFileOperationW(SHFILEOPSTRUCTW* operation);

namespace compat::trash
{
// Moves the item at the absolute native path into the trash of its file system. False with the last error set when
// it fails; the item is then left where it was.
bool moveToTrash(const std::string& path);

// The same for the entry `entry` of the open folder `folder`, which is found at `path` (the trash is chosen by
// the path, and its record names the path). The entry is moved through the descriptor, so that a link put in
// place of a folder on the way cannot send anything else to the trash. The record and both trash folders are
// synced.
// Where an item went in the trash: the item and its record.
struct Trashed
{
    std::string item;
    std::string record;
};
bool moveToTrashAt(int folder, const std::string& entry, const std::string& path, Trashed* trashed = nullptr);
// Moves a trashed item back to the entry `entry` of the open folder `folder`, never over another item, and
// drops its record. 0 or the errno value (EEXIST: the entry is taken).
int moveBackFromTrash(const Trashed& trashed, int folder, const std::string& entry);
// The status of a trashed item, read without following a link. 0 or the errno value.
int statusOfTrashed(const Trashed& trashed, compat::at::ItemStatus& status);

// The trash folder that moveToTrash would use for the item at `path` (which must exist), or empty with the last
// error set when none can be used. Creates the trash folder when it is missing.
std::string trashFolderFor(const std::string& path);

// The text of a .trashinfo record.
std::string trashInfoText(const std::string& recordedPath, const std::string& deletionDate);
} // namespace compat::trash
