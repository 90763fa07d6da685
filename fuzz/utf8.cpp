// Strict decoding either throws or round-trips; the lenient and escaping paths never throw.
#include "qcl/String.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try
    {
        const std::wstring wide = qcl::string::utf8ToUtf16(bytes);
        if (qcl::string::utf16ToUtf8(wide) != bytes)
            std::abort();
    }
    catch (const qcl::string::invalid_utf_sequence&)
    {
    }
    (void)qcl::string::utf8ToUtf16Lenient(bytes);
    std::wostringstream stream;
    stream << qcl::string::escaped(bytes, U'\'');
    // Reinterpret the bytes as UTF-16 units too.
    std::wstring units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    stream << qcl::string::escaped(units);
    (void)qcl::string::utf16ToUtf8Lenient(units);
    return 0;
}
