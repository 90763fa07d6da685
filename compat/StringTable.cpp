#include "compat/LastError.h"
#include "compat/ModuleApi.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace
{
struct Tables
{
    std::mutex mutex;
    std::map<std::pair<HMODULE, UINT>, std::wstring> strings;
};

Tables& tables()
{
    static Tables instance;
    return instance;
}
} // namespace

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax)
{
    if (instance == nullptr)
        instance = GetModuleHandleW(nullptr);
    Tables& t = tables();
    std::lock_guard lock(t.mutex);
    const auto found = t.strings.find({instance, id});
    if (found == t.strings.end() || found->second.empty())
    {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    const std::wstring& text = found->second;
    if (buffer == nullptr || bufferMax < 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (bufferMax == 0)
    {
        // The text stays where it is for as long as it is not replaced.
        *reinterpret_cast<const wchar_t**>(buffer) = text.c_str();
        return static_cast<int>(text.size());
    }
    const auto length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(bufferMax) - 1);
    std::copy_n(text.begin(), length, buffer);
    buffer[length] = 0;
    return static_cast<int>(length);
}

namespace compat
{
void registerStrings(HMODULE module, std::initializer_list<StringResource> strings)
{
    Tables& t = tables();
    std::lock_guard lock(t.mutex);
    for (const StringResource& string : strings)
        t.strings[{module, string.id}] = string.text;
}
} // namespace compat
