#include "compat/Environment.h"

#include "compat/LastError.h"
#include "compat/PlatformText.h"

#include <cerrno>
#include <cstdlib>
#include <cwchar>

namespace compat
{
std::optional<std::wstring> environmentVariable(const std::wstring& name)
{
    const char* value = std::getenv(text::toUtf8(name).c_str());
    if (value == nullptr)
        return std::nullopt;
    return text::toUtf16(value);
}
} // namespace compat

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size)
{
    if (name == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto value = compat::environmentVariable(name);
    if (!value)
    {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || size <= value->size())
        return static_cast<DWORD>(value->size() + 1);
    value->copy(buffer, value->size());
    buffer[value->size()] = L'\0';
    return static_cast<DWORD>(value->size());
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value)
{
    if (name == nullptr || *name == L'\0' || std::wcschr(name, L'=') != nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string narrowName = compat::text::toUtf8(name);
    int result = value == nullptr ? ::unsetenv(narrowName.c_str())
                                  : ::setenv(narrowName.c_str(), compat::text::toUtf8(value).c_str(), 1);
    if (result != 0)
    {
        compat::setLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size)
{
    if (source == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring input(source);
    std::wstring result;
    std::size_t position = 0;
    while (position < input.size())
    {
        std::size_t open = input.find(L'%', position);
        std::size_t close = open == std::wstring::npos ? std::wstring::npos : input.find(L'%', open + 1);
        if (close == std::wstring::npos)
        {
            result.append(input, position);
            break;
        }
        result.append(input, position, open - position);
        std::wstring name = input.substr(open + 1, close - open - 1);
        auto value = name.empty() ? std::nullopt : compat::environmentVariable(name);
        if (value)
        {
            result += *value;
            position = close + 1;
        }
        else
        {
            // Keep the "%" and look for a reference starting at the closing one.
            result += L'%';
            result += name;
            position = close;
        }
    }
    if (destination != nullptr && size > result.size())
    {
        result.copy(destination, result.size());
        destination[result.size()] = L'\0';
    }
    return static_cast<DWORD>(result.size() + 1);
}
