#include "compat/ModuleFolder.h"

#include "compat/PlatformText.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <memory>

namespace compat
{
std::wstring moduleFolderOf(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0)
        return {};
    // The program itself may be reported without a path.
    const char* file = info.dli_fname != nullptr && std::strchr(info.dli_fname, '/') != nullptr ? info.dli_fname
                                                                                                 : "/proc/self/exe";
    std::unique_ptr<char, decltype(&::free)> resolved(::realpath(file, nullptr), &::free);
    if (!resolved)
        return {};
    std::string path(resolved.get());
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return text::toUtf16(path.substr(0, slash == 0 ? 1 : slash));
}
} // namespace compat
