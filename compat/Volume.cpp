#include "compat/VolumeApi.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace
{
struct Mount
{
    std::string mountPoint;
    std::string fileSystemType;
    std::string source;
    std::string device; // "major:minor"
};

// mountinfo writes space, tab, newline and backslash as "\ooo".
std::string unescape(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i)
    {
        const auto isOctal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3))
        {
            out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        }
        else
            out += field[i];
    }
    return out;
}

std::vector<Mount> readMounts()
{
    std::vector<Mount> mounts;
    std::ifstream file("/proc/self/mountinfo");
    std::string line;
    while (std::getline(file, line))
    {
        // id parent major:minor root mount-point options [optional fields...] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, options, field;
        fields >> id >> parent >> device >> root >> mountPoint >> options;
        while (fields >> field && field != "-")
        {
        }
        Mount mount;
        mount.device = device;
        fields >> mount.fileSystemType >> mount.source;
        if (mountPoint.empty() || mount.fileSystemType.empty())
            continue;
        mount.mountPoint = unescape(mountPoint);
        mount.source = unescape(mount.source);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

// The absolute, resolved form of a path that need not exist: its longest existing ancestor resolved,
// the rest appended as written.
std::string resolve(const std::string& path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/')
    {
        char current[PATH_MAX];
        if (::getcwd(current, sizeof current) == nullptr)
            return std::string();
        absolute = std::string(current) + "/" + absolute;
    }
    std::string existing = absolute;
    std::string rest;
    while (true)
    {
        if (char* resolved = ::realpath(existing.c_str(), nullptr))
        {
            std::string result(resolved);
            std::free(resolved);
            if (!rest.empty())
                result += (result == "/" ? "" : "/") + rest;
            return result;
        }
        const auto slash = existing.find_last_of('/');
        if (slash == std::string::npos || existing == "/")
            return absolute;
        const std::string last = existing.substr(slash + 1);
        rest = rest.empty() ? last : last + "/" + rest;
        existing = slash == 0 ? "/" : existing.substr(0, slash);
    }
}

bool isInside(const std::string& path, const std::string& mountPoint)
{
    if (mountPoint == "/")
        return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The mount that holds `path`: the innermost one, and of mounts stacked on one point the last.
bool findMount(const std::string& path, Mount& found)
{
    const std::string resolved = resolve(path);
    bool any = false;
    for (Mount& mount : readMounts())
    {
        if (isInside(resolved, mount.mountPoint) && (!any || mount.mountPoint.size() >= found.mountPoint.size()))
        {
            found = std::move(mount);
            any = true;
        }
    }
    return any;
}

// The kernel marks media that can be taken out (USB sticks, card readers) as removable; a partition carries the
// mark of its disk.
bool isRemovableDevice(const std::string& device)
{
    char resolved[PATH_MAX];
    if (::realpath(("/sys/dev/block/" + device).c_str(), resolved) == nullptr)
        return false;
    const std::string folder = resolved;
    for (const std::string& candidate : {folder + "/removable", folder + "/../removable"})
    {
        std::ifstream flag(candidate);
        char value = 0;
        if (flag >> value)
            return value == '1';
    }
    return false;
}

bool copyOut(const std::string& bytes, LPWSTR buffer, DWORD size, DWORD tooSmall)
{
    if (buffer == nullptr)
        return true;
    const std::wstring text = compat::fileNameToUtf16(bytes);
    if (text.size() + 1 > size)
    {
        SetLastError(tooSmall);
        return false;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}
} // namespace

BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           DWORD* volumeSerialNumber, DWORD* maximumComponentLength, DWORD* fileSystemFlags,
                           LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize)
{
    std::string path;
    if (!compat::toSystemPath(rootPathName, path))
        return FALSE;
    struct statvfs status;
    if (::statvfs(path.c_str(), &status) != 0)
    {
        compat::setLastErrorFromErrno(errno, path.c_str());
        return FALSE;
    }
    Mount mount;
    if (!findMount(path, mount))
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (!copyOut(mount.source, volumeNameBuffer, volumeNameSize, ERROR_INSUFFICIENT_BUFFER) ||
        !copyOut(mount.fileSystemType, fileSystemNameBuffer, fileSystemNameSize, ERROR_INSUFFICIENT_BUFFER))
        return FALSE;
    if (volumeSerialNumber != nullptr)
    {
        const auto id = static_cast<unsigned long long>(status.f_fsid);
        *volumeSerialNumber = static_cast<DWORD>(id) ^ static_cast<DWORD>(id >> 32);
    }
    if (maximumComponentLength != nullptr)
        *maximumComponentLength = static_cast<DWORD>(status.f_namemax);
    if (fileSystemFlags != nullptr)
    {
        *fileSystemFlags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                           FILE_SUPPORTS_HARD_LINKS;
        if ((status.f_flag & ST_RDONLY) != 0)
            *fileSystemFlags |= FILE_READ_ONLY_VOLUME;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL GetVolumePathNameW(LPCWSTR fileName, LPWSTR volumePathName, DWORD bufferLength)
{
    std::string path;
    if (!compat::toSystemPath(fileName, path))
        return FALSE;
    if (path.empty() || volumePathName == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Mount mount;
    if (!findMount(path, mount))
    {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::string root = mount.mountPoint == "/" ? mount.mountPoint : mount.mountPoint + "/";
    return copyOut(root, volumePathName, bufferLength, ERROR_FILENAME_EXCED_RANGE) ? TRUE : FALSE;
}

unsigned GetDriveTypeW(LPCWSTR rootPathName)
{
    std::string path = ".";
    if (rootPathName != nullptr && !compat::toSystemPath(rootPathName, path))
        return DRIVE_NO_ROOT_DIR;
    if (::access(path.c_str(), F_OK) != 0)
        return DRIVE_NO_ROOT_DIR;
    Mount mount;
    if (!findMount(path, mount))
        return DRIVE_UNKNOWN;
    const std::string& type = mount.fileSystemType;
    static const char* const remote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "afs", "ceph",
                                         "fuse.sshfs", "davfs", "fuse.davfs2"};
    static const char* const memory[] = {"tmpfs", "ramfs"};
    static const char* const optical[] = {"iso9660", "udf"};
    const auto isOneOf = [&](const auto& names) {
        return std::find(std::begin(names), std::end(names), type) != std::end(names);
    };
    if (isOneOf(remote))
        return DRIVE_REMOTE;
    if (isOneOf(memory))
        return DRIVE_RAMDISK;
    if (isOneOf(optical))
        return DRIVE_CDROM;
    if (isRemovableDevice(mount.device))
        return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}
