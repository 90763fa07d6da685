#pragma once
// Windows-shaped volume calls over statvfs and /proc/self/mountinfo. A volume is a mount; its root
// path is the mount point followed by "/".

#include "compat/Types.h"

inline constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x00000001;
inline constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x00000002;
inline constexpr DWORD FILE_UNICODE_ON_DISK = 0x00000004;
inline constexpr DWORD FILE_READ_ONLY_VOLUME = 0x00080000;
inline constexpr DWORD FILE_SUPPORTS_HARD_LINKS = 0x00400000;

inline constexpr unsigned DRIVE_UNKNOWN = 0;
inline constexpr unsigned DRIVE_NO_ROOT_DIR = 1;
inline constexpr unsigned DRIVE_REMOVABLE = 2;
inline constexpr unsigned DRIVE_FIXED = 3;
inline constexpr unsigned DRIVE_REMOTE = 4;
inline constexpr unsigned DRIVE_CDROM = 5;
inline constexpr unsigned DRIVE_RAMDISK = 6;

// Any path inside the volume is accepted. The volume name is the mount's source (for example
// "/dev/sda1"), the file-system name its type (for example "ext4"), the serial number comes from the
// file-system id. A name that does not fit its buffer fails with ERROR_INSUFFICIENT_BUFFER.
BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           DWORD* volumeSerialNumber, DWORD* maximumComponentLength, DWORD* fileSystemFlags,
                           LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize);

// The mount point of the mount that holds the path (which need not exist), with a trailing "/". A
// buffer that is too small fails with ERROR_FILENAME_EXCED_RANGE.
BOOL GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength);

// From the mount's file-system type: network file systems are DRIVE_REMOTE, memory file systems
// DRIVE_RAMDISK, optical ones DRIVE_CDROM, a block device that the kernel marks removable
// DRIVE_REMOVABLE, the rest DRIVE_FIXED; DRIVE_NO_ROOT_DIR when the path
// does not exist. A null path means the current folder.
unsigned GetDriveTypeW(LPCWSTR rootPathName);
