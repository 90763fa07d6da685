#include "compat/Registry.h"

#include "compat/LastError.h"
#include "compat/PlatformText.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

struct RegistryKey
{
    compat::RegistryValues values;
};

namespace compat
{
namespace
{
std::wstring upperAscii(std::wstring text)
{
    for (auto& c : text)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// "A\\B\\" and "a\b" name the same key.
std::wstring normalisedKeyPath(const std::wstring& path)
{
    std::wstring result;
    for (wchar_t c : path)
        if (c != L'\\' || (!result.empty() && result.back() != L'\\'))
            result += c;
    while (!result.empty() && result.back() == L'\\')
        result.pop_back();
    return upperAscii(result);
}

std::string environmentOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string userConfigFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return config;
    return environmentOr("HOME", "") + "/.config";
}

RegistryKeys readRegistryFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parseRegistryFile(text.str());
}
} // namespace

RegistryKeys parseRegistryFile(const std::string& text)
{
    RegistryKeys keys;
    RegistryValues* current = nullptr;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[')
        {
            current = line.back() == ']'
                          ? &keys[normalisedKeyPath(text::toUtf16(line.substr(1, line.size() - 2)))]
                          : nullptr;
            continue;
        }
        std::size_t equals = line.find('=');
        if (current == nullptr || equals == std::string::npos)
            continue;
        std::string name = trim(line.substr(0, equals));
        if (name.empty())
            continue;
        (*current)[upperAscii(text::toUtf16(name))] = text::toUtf16(trim(line.substr(equals + 1)));
    }
    return keys;
}

std::string registryFilePath(HKEY root)
{
    if (root == HKEY_CURRENT_USER)
        return environmentOr("QUILLMERE_USER_REGISTRY", userConfigFolder() + "/quillmere/registry.ini");
    if (root == HKEY_LOCAL_MACHINE)
        return environmentOr("QUILLMERE_MACHINE_REGISTRY", "/etc/quillmere/registry.ini");
    return {};
}
} // namespace compat

LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM, HKEY* result)
{
    if (result == nullptr || subKey == nullptr || (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE))
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    auto keys = compat::readRegistryFile(compat::registryFilePath(root));
    auto key = keys.find(compat::normalisedKeyPath(subKey));
    if (key == keys.end())
        return ERROR_FILE_NOT_FOUND;
    *result = new RegistryKey{std::move(key->second)};
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize)
{
    if (key == nullptr || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || reserved != nullptr ||
        (data != nullptr && dataSize == nullptr))
        return ERROR_INVALID_PARAMETER;
    auto value = key->values.find(compat::upperAscii(valueName == nullptr ? L"" : valueName));
    if (value == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = REG_SZ;
    auto needed = static_cast<DWORD>((value->second.size() + 1) * sizeof(wchar_t));
    if (dataSize == nullptr)
        return ERROR_SUCCESS;
    DWORD available = *dataSize;
    *dataSize = needed;
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (available < needed)
        return ERROR_MORE_DATA;
    std::memcpy(data, value->second.c_str(), needed);
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == nullptr || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
