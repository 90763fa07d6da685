#include "scriblet/Settings.h"

#include "compat/Registry.h"

#include <stdexcept>
#include <vector>

namespace qcl::settings
{
namespace detail
{
HKEY open_key(HKEY root, const wchar_t* section, const wchar_t* subKey)
{
    if (section == nullptr)
        throw std::runtime_error("qcl::settings::detail::open_key: Invalid argument");
    std::wstring path = std::wstring(L"SOFTWARE\\Quillmere\\") + section;
    if (subKey != nullptr)
        path += std::wstring(L"\\") + subKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool read_string(HKEY root, const wchar_t* section, const wchar_t* subKey, const wchar_t* valueName,
                 std::wstring& out)
{
    HKEY key = open_key(root, section, subKey);
    if (key == nullptr)
        return false;
    bool found = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && size >= sizeof(wchar_t))
    {
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD bufferSize = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &bufferSize) == ERROR_SUCCESS)
        {
            // The text ends at its terminating zero (or the end of the data when it has none).
            std::size_t units = bufferSize / sizeof(wchar_t);
            std::wstring text(buffer.data(), units);
            out = text.substr(0, text.find(L'\0'));
            found = true;
        }
    }
    RegCloseKey(key);
    return found;
}
} // namespace detail

bool get_string(std::wstring& out, const wchar_t* section, const wchar_t* subKey, const wchar_t* valueName,
                bool currentUserFirst, bool fallBack)
{
    out.clear();
    if (valueName == nullptr)
        throw std::runtime_error("qcl::settings::get_string: Invalid argument");
    if (currentUserFirst)
    {
        if (detail::read_string(HKEY_CURRENT_USER, section, subKey, valueName, out))
            return true;
        if (!fallBack)
            return false;
    }
    if (detail::read_string(HKEY_LOCAL_MACHINE, section, subKey, valueName, out))
        return true;
    out.clear();
    return false;
}
} // namespace qcl::settings
