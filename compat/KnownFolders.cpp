#include "compat/KnownFolders.h"

#include "compat/LastError.h"
#include "compat/PlatformText.h"
#include "compat/PrivateFiles.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

const KNOWNFOLDERID FOLDERID_LocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const KNOWNFOLDERID FOLDERID_LocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
const KNOWNFOLDERID FOLDERID_Documents = {0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}};
const KNOWNFOLDERID FOLDERID_Links = {0xBFB9D5E0, 0xC6A9, 0x404C, {0xB2, 0xB2, 0xAE, 0x6D, 0xB6, 0xAF, 0x49, 0x68}};
const KNOWNFOLDERID FOLDERID_Profile = {0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};

namespace compat
{
namespace
{
struct Overrides
{
    std::mutex mutex;
    std::map<const KNOWNFOLDERID*, std::wstring> paths;
};

Overrides& overrides()
{
    static Overrides instance;
    return instance;
}

const KNOWNFOLDERID* const knownIds[] = {&FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow, &FOLDERID_Documents,
                                         &FOLDERID_Links, &FOLDERID_Profile};

const KNOWNFOLDERID* canonicalId(REFKNOWNFOLDERID id)
{
    for (auto* known : knownIds)
        if (*known == id)
            return known;
    return nullptr;
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    if (passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

std::optional<std::wstring> defaultFolder(const KNOWNFOLDERID* id)
{
    if (id == &FOLDERID_LocalAppData || id == &FOLDERID_LocalAppDataLow || id == &FOLDERID_Links)
    {
        std::string data;
        if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
            data = xdg;
        else if (std::string home = homeFolder(); !home.empty())
            data = home + "/.local/share";
        else
            return std::nullopt;
        return text::toUtf16(id == &FOLDERID_Links ? data + "/Links" : data);
    }
    std::string home = homeFolder();
    if (home.empty())
        return std::nullopt;
    return text::toUtf16(id == &FOLDERID_Documents ? home + "/Documents" : home);
}

std::optional<std::wstring> folderOf(const KNOWNFOLDERID* id)
{
    {
        std::lock_guard lock(overrides().mutex);
        auto found = overrides().paths.find(id);
        if (found != overrides().paths.end())
            return found->second;
    }
    return defaultFolder(id);
}

HRESULT hresultFromWin32(DWORD code)
{
    return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFF) | 0x80070000u);
}
} // namespace

void setKnownFolderForTesting(REFKNOWNFOLDERID id, std::optional<std::wstring> path)
{
    const KNOWNFOLDERID* known = canonicalId(id);
    if (known == nullptr)
        return;
    std::lock_guard lock(overrides().mutex);
    if (path)
        overrides().paths[known] = std::move(*path);
    else
        overrides().paths.erase(known);
}

std::optional<std::wstring> knownFolderPath(REFKNOWNFOLDERID id, DWORD flags)
{
    wchar_t* path = nullptr;
    HRESULT result = SHGetKnownFolderPath(id, flags, nullptr, &path);
    std::optional<std::wstring> folder;
    if (result == S_OK)
        folder = path;
    CoTaskMemFree(path);
    return folder;
}
} // namespace compat

HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE, LPWSTR* path)
{
    if (path == nullptr)
        return E_INVALIDARG;
    *path = nullptr;
    const KNOWNFOLDERID* known = compat::canonicalId(id);
    if (known == nullptr)
        return E_INVALIDARG;
    auto folder = compat::folderOf(known);
    if (!folder)
        return E_FAIL;
    // Missing folders are made for the user alone, whatever the umask, as the base-directory convention asks.
    if ((flags & KF_FLAG_CREATE) && !compat::createPrivateFolders(compat::text::toUtf8(*folder)))
        return compat::hresultFromWin32(GetLastError());
    auto* buffer = static_cast<wchar_t*>(std::malloc((folder->size() + 1) * sizeof(wchar_t)));
    if (buffer == nullptr)
        return E_OUTOFMEMORY;
    folder->copy(buffer, folder->size());
    buffer[folder->size()] = L'\0';
    *path = buffer;
    return S_OK;
}

void CoTaskMemFree(void* memory)
{
    std::free(memory);
}
