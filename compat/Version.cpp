#include "compat/VersionApi.h"

#include "compat/LastError.h"

#include <cstring>
#include <mutex>

namespace
{
std::mutex versionMutex;
compat::ReportedVersion reportedVersion;
} // namespace

BOOL GetVersionExW(OSVERSIONINFOW* information)
{
    if (information == nullptr || information->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW))
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    compat::ReportedVersion version;
    {
        std::lock_guard lock(versionMutex);
        version = reportedVersion;
    }
    if (version.fails)
    {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    std::memset(information, 0, sizeof *information);
    information->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    information->dwMajorVersion = version.major;
    information->dwMinorVersion = version.minor;
    information->dwBuildNumber = version.build;
    information->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

namespace compat
{
void setReportedVersionForTesting(const ReportedVersion& version)
{
    std::lock_guard lock(versionMutex);
    reportedVersion = version;
}
} // namespace compat
