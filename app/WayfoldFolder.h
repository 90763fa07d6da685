#pragma once
// Where the Wayfold folder may live, and making it.

#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/Handle.h"

#include <string>

namespace dwl
{
// A Wayfold folder that another user could change: it, or a Share folder directly in it, belongs to another
// user, or others may write to it. Whatever lies in it would be sent to the server under this user's account.
class FolderOpenToOthers : public qcl::basic_runtime_error<wchar_t>
{
public:
    // `folder`: the one found open to others, `wayfoldFolder` or a folder in it.
    FolderOpenToOthers(const std::wstring& folder, compat::FolderAccess access, std::wstring wayfoldFolder);
    // What the user can do about it, at sign-in or at the start of the program.
    std::wstring remedy(bool atStart) const;

private:
    compat::FolderAccess mAccess;
    std::wstring mWayfoldFolder;
};

// True when `path` (which need not exist yet) lies on a local, writable, fixed file system that keeps
// Unicode names: ext2/3/4, XFS, Btrfs, F2FS, ZFS and the like. Network, FUSE, FAT/exFAT, memory and
// removable file systems are refused, as is an empty path; a failure to ask is logged and refuses.
bool isSuitableVolume(const std::wstring& path);

// Creates the folder with its missing parents (an existing folder is fine) and gives it its description: a
// hidden ".directory" file with the icon and the tip, and the system attribute. Every folder it makes is the
// user's alone (0700), whatever the umask, so that nobody else reaches what the folder holds. Throws
// qcl::SystemError "Cannot create directory '%1%'" when the folder cannot be made or something else is in its
// place, and FolderOpenToOthers (see openUsersOwnFolder) for a folder another user could change, before
// anything is written into it; a failure to describe it is only logged, the folder stays usable.
void createWayfoldFolder(const std::wstring& folder);

// Opens the Wayfold folder and checks the folder it opened and the folders directly in it (the Shares):
// FolderOpenToOthers when another user could change one of them (one that the user's own group may write to
// is the user's set-up and accepted, as long as nobody else belongs to that group), or when the folder
// belongs to another user and cannot be opened; qcl::SystemError when it cannot be opened as a folder.
qcl::Handle openUsersOwnFolder(const std::wstring& folder);
} // namespace dwl
