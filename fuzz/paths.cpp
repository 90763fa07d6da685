// Paths and file names from outside: the layer's lossless name conversion gives the bytes back, a
// split path joins back unchanged, and canonicalisation stays within its buffer and is idempotent.
#include "compat/FileNameText.h"
#include "compat/PathApi.h"
#include "qcl/Path.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{
std::wstring canonical(const std::wstring& path)
{
    // Exactly the size the contract names, so that AddressSanitizer sees any overrun.
    std::vector<wchar_t> buffer(path.size() + 2);
    if (!PathCanonicalizeW(buffer.data(), path.c_str()))
        std::abort();
    return buffer.data();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring name = compat::fileNameToUtf16(bytes);
    std::string back;
    if (!compat::utf16ToFileName(name.data(), name.data() + name.size(), back))
    {
        // Only a zero byte has no place in a name.
        if (bytes.find('\0') == std::string::npos)
            std::abort();
    }
    else if (back != bytes)
        std::abort();

    // The bytes as a path of units, with "/", "." and the long-path prefix made likely.
    std::wstring path;
    for (const std::uint8_t byte : bytes)
    {
        switch (byte % 8)
        {
        case 0:
            path += L'/';
            break;
        case 1:
            path += L'.';
            break;
        case 2:
            path += L'\\';
            break;
        case 3:
            path += L'?';
            break;
        default:
            path += static_cast<wchar_t>(byte == 0 ? 1 : byte);
        }
    }
    if (qcl::Path(path).toString() != path)
        std::abort();
    const std::wstring once = canonical(path);
    if (canonical(once) != once)
        std::abort();
    return 0;
}
