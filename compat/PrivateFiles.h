#pragma once
// The program's own data files and folders: kept for their user alone, never reached through a symbolic
// link, and replaced in one step. These stand in for the security descriptor that makes an item private to
// its user and for MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
//
// A private folder is a folder of the user's own with mode 0700; a private file is a regular file of the
// user's own with mode 0600. Modes are set exactly, whatever the process umask. Every call checks the item
// it has open at that moment, not an earlier look at the path. An item of another user is refused with
// ERROR_INVALID_OWNER and left as it is; a symbolic link where a private file belongs is refused with
// ERROR_CANT_RESOLVE_FILENAME and its target is never opened. Paths are native (UTF-8 or the lossless
// form of compat/FileNameText.h). Failures set the thread's last error.

#include "compat/FileApi.h"
#include "compat/Types.h"

#include <cstddef>
#include <string>

namespace compat
{
// Makes `folder` private: created with its missing parents (each 0700) when missing, else corrected to
// 0700. A symbolic link in its place is refused with ERROR_CANT_RESOLVE_FILENAME and neither it nor its
// target is changed; links among its parents are followed, as the user set them up. FALSE with the last
// error on failure.
BOOL keepFolderPrivate(const std::string& folder);
BOOL keepFolderPrivate(LPCWSTR folder);

// Creates the missing folders of `folder`, outermost first, each 0700; existing folders are left as they
// are. FALSE with the last error on failure.
BOOL createPrivateFolders(const std::string& folder);

// Who may change what a folder holds, as its owner and its access ACL (or, without one, its mode) tell.
enum class FolderAccess
{
    OwnersAlone,     // the user's own; besides the user at most the user's own group may write to it, when
                     // it is the process's group and nobody else belongs to it
    OtherOwner,      // it belongs to another user
    WritableByOthers // the user's own, but everybody, a named user or group, or a group with other members
                     // may write to it
};
// The access of the folder open as `folder` (a handle of CreateFileW), read from the open folder itself.
// FALSE with the last error when it cannot be read.
BOOL getFolderAccess(HANDLE folder, FolderAccess& access);
// The access of the folder at `path` (links followed), for one that cannot be opened.
BOOL getFolderAccess(LPCWSTR path, FolderAccess& access);
// The first folder (by name) directly in the open folder `folder` whose access is not OwnersAlone, into
// `name` and `access`; `name` empty when there is none. Links are not followed, and folders that cannot be
// read are judged too. FALSE with the last error when the folder cannot be listed or one in it cannot be
// judged.
BOOL findInnerFolderOpenToOthers(HANDLE folder, std::wstring& name, FolderAccess& access);

// Security attributes for CreateFileW that make the file private: a new file is created 0600, an
// existing one must be a regular file of the user's own and is set to 0600, and a link is never followed.
SECURITY_ATTRIBUTES* ownerOnlyAccess();

// One private file open for reading and writing.
class PrivateFile
{
public:
    enum class Creation
    {
        OpenOrCreate, // an existing file is opened as it is (not truncated)
        CreateNew,    // fails with ERROR_FILE_EXISTS when the name is taken, even by a link
    };

    PrivateFile() = default;
    PrivateFile(PrivateFile&& other) noexcept;
    PrivateFile& operator=(PrivateFile&& other) noexcept;
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;
    ~PrivateFile();

    // Opens `path` as a private file (closing one open before). FALSE with the last error on failure.
    BOOL open(const std::string& path, Creation creation);
    bool isOpen() const { return mDescriptor != -1; }
    void close();

    // Writes every byte at the present position; FALSE with the last error when a write fails.
    BOOL write(const void* data, std::size_t size);
    // Empties the file.
    BOOL truncate();

    // An exclusive advisory lock between processes, waited for. It belongs to this open file, so two
    // PrivateFile objects on one file exclude each other even within one process. Closing releases it.
    BOOL lock();
    BOOL unlock();

private:
    int mDescriptor = -1;
};

// Renames `source` over `target` in one step (an existing target is replaced) and flushes the folder, so that
// after a crash either the old or the new file is found. FALSE with the last error on failure.
BOOL replaceFile(LPCWSTR source, LPCWSTR target);

namespace detail
{
// Checks an open descriptor against the rules of a private file and sets its mode to 0600: 0 when it
// conforms, else the Windows error code. Used by CreateFileW for ownerOnlyAccess().
DWORD makeDescriptorPrivate(int descriptor);
} // namespace detail
} // namespace compat
