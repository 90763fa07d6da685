#pragma once
// Where the Wayfold folder may live, and making it.

#include <string>

namespace dwl
{
// True when `path` (which need not exist yet) lies on a local, writable, fixed file system that keeps
// Unicode names: ext2/3/4, XFS, Btrfs, F2FS, ZFS and the like. Network, FUSE, FAT/exFAT, memory and
// removable file systems are refused, as is an empty path; a failure to ask is logged and refuses.
bool isSuitableVolume(const std::wstring& path);

// Creates the folder with its missing parents (an existing folder is fine) and gives it its description: a
// hidden ".directory" file with the icon and the tip, and the system attribute. Throws qcl::SystemError
// "Cannot create directory '%1%'" when the folder cannot be made or something else is in its place; a
// failure to describe it is only logged, the folder stays usable.
void createWayfoldFolder(const std::wstring& folder);
} // namespace dwl
