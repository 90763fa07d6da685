#pragma once
// The Windows version query. The layer reports Windows 6.1 (build 7601) unless a test injects another
// answer.

#include "compat/Types.h"

struct OSVERSIONINFOW
{
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    wchar_t szCSDVersion[128];
};

inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// `dwOSVersionInfoSize` must hold sizeof(OSVERSIONINFOW), else ERROR_INSUFFICIENT_BUFFER.
BOOL GetVersionExW(OSVERSIONINFOW* information);

namespace compat
{
struct ReportedVersion
{
    DWORD major = 6;
    DWORD minor = 1;
    DWORD build = 7601;
    bool fails = false; // the query fails with ERROR_INVALID_FUNCTION
};

// Test hook: the answer of later queries; a default-constructed value restores the normal one.
void setReportedVersionForTesting(const ReportedVersion& version);
} // namespace compat
