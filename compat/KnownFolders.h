#pragma once
// The shell's known folders, Windows-shaped, over the XDG base directories:
//   LocalAppData, LocalAppDataLow: $XDG_DATA_HOME (when absolute), else $HOME/.local/share
//   Documents:                     $HOME/Documents
//   Links:                         the local application-data folder + "/Links"
//   Profile:                       $HOME
// Tests replace any of them with setKnownFolderForTesting.

#include "compat/Types.h"

#include <optional>
#include <string>

struct KNOWNFOLDERID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend bool operator==(const KNOWNFOLDERID&, const KNOWNFOLDERID&) = default;
};
using REFKNOWNFOLDERID = const KNOWNFOLDERID&;

extern const KNOWNFOLDERID FOLDERID_LocalAppData;
extern const KNOWNFOLDERID FOLDERID_LocalAppDataLow;
extern const KNOWNFOLDERID FOLDERID_Documents;
extern const KNOWNFOLDERID FOLDERID_Links;
extern const KNOWNFOLDERID FOLDERID_Profile;

inline constexpr DWORD KF_FLAG_DEFAULT = 0x00000000;
inline constexpr DWORD KF_FLAG_CREATE = 0x00008000;

// Returns the folder in `*path`, a buffer to be freed with CoTaskMemFree (also on failure, where it
// is null). With KF_FLAG_CREATE the folder and its parents are made when missing, each 0700. Failures:
// E_INVALIDARG for an unknown id or a null `path`, E_FAIL when no home folder is known, and the
// Windows error as an HRESULT (0x8007xxxx) when the folder cannot be made.
HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, LPWSTR* path);

void CoTaskMemFree(void* memory);

namespace compat
{
// Replaces the folder of `id` by `path` for this process; nothing restores the default.
void setKnownFolderForTesting(REFKNOWNFOLDERID id, std::optional<std::wstring> path);

// SHGetKnownFolderPath as a string: nothing on failure.
std::optional<std::wstring> knownFolderPath(REFKNOWNFOLDERID id, DWORD flags = KF_FLAG_DEFAULT);
} // namespace compat
