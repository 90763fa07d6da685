#pragma once
// Status of files as the Windows-shaped calls report it: times, file index, volume serial number and
// attributes, from statx.

#include "compat/FileApi.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace compat
{
// 0 or the errno value.
int statPath(const std::string& path, bool followLinks, struct statx& status);
int statAt(int directory, const char* name, struct statx& status); // does not follow links
int statDescriptor(int fd, struct statx& status);

FILETIME toFileTime(const struct statx_timestamp& time);
FILETIME creationTime(const struct statx& status); // the birth time, or the last change when unknown
// A tag that changes when a deleted file's inode number is handed to a new file: a hash of the file
// handle (which carries the inode's generation on ext4, XFS, Btrfs and tmpfs) and the birth time; the
// birth time alone is too coarse, since it counts in clock ticks. `flags` as for name_to_handle_at;
// `handleError`, when given, receives 0 or the errno value of reading the file handle.
std::uint32_t reuseTag(int directory, const char* path, int flags, const struct statx& status,
                       int* handleError = nullptr);
// The inode number with the reuse tag mixed into the upper 32 bits.
ULONGLONG fileIndex(const struct statx& status, std::uint32_t reuseTag);
DWORD volumeSerialNumber(const struct statx& status);
ULONGLONG reportedSize(const struct statx& status); // 0 for anything but a regular file

// Attributes of the item described by `status` (not following links) with the stored HIDDEN, SYSTEM and
// TEMPORARY bits; `reparseTag` receives the tag that goes with FILE_ATTRIBUTE_REPARSE_POINT.
// `isDirectoryLink` tells whether a symbolic link leads to a folder.
DWORD attributesOf(const struct statx& status, DWORD stored, bool isDirectoryLink, DWORD* reparseTag);

// The stored attribute bits (HIDDEN, SYSTEM, TEMPORARY): in the extended attribute
// "user.wayfold.attributes", or in a process-wide table where the file system refuses it.
inline constexpr DWORD storedAttributeMask =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
// Reads through `fd` when it is not -1, else through `path` (following links or not).
DWORD readStoredAttributes(int fd, const std::string& path, bool followLinks, const struct statx& status);
// The same for `name` in the open folder `directory` (links not followed), read relative to the folder where the
// system can; `directoryPath` is the folder's path, empty or ending with "/".
DWORD readStoredAttributesAt(int directory, const std::string& directoryPath, const char* name,
                             const struct statx& status);
// 0 or the errno value.
int writeStoredAttributes(const std::string& path, bool followLinks, const struct statx& status, DWORD bits);
// The same through an open descriptor (not one opened with O_PATH).
int writeStoredAttributesOf(int fd, const struct statx& status, DWORD bits);
} // namespace compat
