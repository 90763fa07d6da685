// The registry stand-in's INI parser on arbitrary text: never throws, and every key and value name it
// yields is upper-cased as the lookups expect.
#include "compat/Registry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto keys = compat::parseRegistryFile(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& [key, values] : keys)
    {
        for (wchar_t c : key)
            if (c >= L'a' && c <= L'z')
                std::abort();
        for (const auto& [name, text] : values)
            if (name.empty())
                std::abort();
    }
    return 0;
}
