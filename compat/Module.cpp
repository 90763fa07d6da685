#include "compat/ModuleApi.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

namespace
{
HMODULE programModule()
{
    static HMODULE const handle = ::dlopen(nullptr, RTLD_LAZY);
    return handle;
}

std::string programPath()
{
    std::string path(256, '\0');
    while (true)
    {
        const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0)
            return std::string();
        if (static_cast<std::size_t>(length) < path.size())
        {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}
} // namespace

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
{
    std::string path;
    if (module == nullptr || module == programModule())
        path = programPath();
    else
    {
        link_map* map = nullptr;
        if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = map->l_name;
    }
    if (path.empty())
    {
        compat::setLastErrorFromErrno(errno != 0 ? errno : ENOENT);
        return 0;
    }
    const std::wstring text = compat::fileNameToUtf16(path);
    if (size == 0 || buffer == nullptr)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < size)
    {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(text.size());
    }
    std::copy_n(text.begin(), size - 1, buffer);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName)
{
    if (moduleName == nullptr)
        return programModule();
    std::string name;
    if (!compat::toSystemPath(moduleName, name))
        return nullptr;
    HMODULE module = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (module == nullptr)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ::dlclose(module); // RTLD_NOLOAD added a reference
    return module;
}

HMODULE LoadLibraryW(LPCWSTR fileName)
{
    std::string name;
    if (!compat::toSystemPath(fileName, name))
        return nullptr;
    HMODULE module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

BOOL FreeLibrary(HMODULE module)
{
    if (module == nullptr || ::dlclose(module) != 0)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* procName)
{
    if (module == nullptr || procName == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(module, procName);
    if (address == nullptr)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return address;
}

namespace compat
{
HMODULE moduleOfAddress(const void* address)
{
    // glibc's dlopen handles are the link maps of the objects, so the map is the module handle.
    Dl_info info;
    link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || map == nullptr)
        return nullptr;
    return map;
}
} // namespace compat
