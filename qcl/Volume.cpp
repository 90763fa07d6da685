#include "qcl/Volume.h"

#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Path.h"

#include <vector>

namespace qcl::file
{
namespace
{
std::wstring withTrailingSeparator(std::wstring path)
{
    if (path.empty() || path.back() != L'/')
        path += L'/';
    return path;
}
} // namespace

VolumeInformation getVolumeInformation(const std::wstring& root)
{
    const std::wstring longRoot = path::toLongPath(withTrailingSeparator(root), path::maxPathLength);
    std::vector<wchar_t> volumeName(MAX_PATH + 1);
    std::vector<wchar_t> fileSystemName(MAX_PATH + 1);
    DWORD serialNumber = 0;
    DWORD maximumComponentLength = 0;
    DWORD fileSystemFlags = 0;
    if (!::GetVolumeInformationW(longRoot.c_str(), volumeName.data(), static_cast<DWORD>(volumeName.size()),
                                 &serialNumber, &maximumComponentLength, &fileSystemFlags,
                                 fileSystemName.data(), static_cast<DWORD>(fileSystemName.size())))
    {
        const DWORD code = GetLastError();
        throw SystemError(format(L"Cannot retrieve volume information for '%1%'", root), code);
    }
    return {volumeName.data(), serialNumber, maximumComponentLength, fileSystemFlags, fileSystemName.data()};
}

std::wstring getVolumePathName(const std::wstring& path)
{
    const std::wstring longPath = path::toLongPath(path, path::maxPathLength);
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    while (!::GetVolumePathNameW(longPath.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())))
    {
        const DWORD code = GetLastError();
        if (code != ERROR_FILENAME_EXCED_RANGE)
            throw SystemError(format(L"Cannot get volume mount point for '%1%'", path), code);
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

unsigned getDriveType(const std::wstring& path)
{
    return ::GetDriveTypeW(withTrailingSeparator(path).c_str());
}
} // namespace qcl::file
