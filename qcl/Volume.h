#pragma once
// Volumes: the information of the volume that holds a path, its mount point and its drive type.

#include "compat/VolumeApi.h"

#include <cstdint>
#include <string>

namespace qcl::file
{
struct VolumeInformation
{
    std::wstring volumeName;
    std::uint32_t volumeSerialNumber = 0;
    std::uint32_t maximumComponentLength = 0;
    std::uint32_t fileSystemFlags = 0;
    std::wstring fileSystemName;
};

// "/" is appended when missing; throws SystemError "Cannot retrieve volume information for '%1%'".
VolumeInformation getVolumeInformation(const std::wstring& root);

// The mount point of the volume that holds `path`, ending in "/"; throws SystemError
// "Cannot get volume mount point for '%1%'".
std::wstring getVolumePathName(const std::wstring& path);

// A DRIVE_* value of compat/VolumeApi.h; "/" is appended when missing.
unsigned getDriveType(const std::wstring& path);
} // namespace qcl::file
