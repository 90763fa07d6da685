#include "compat/PlatformText.h"

#include "qcl/Utf.h"

namespace compat::text
{
std::string toUtf8(const std::wstring& utf16)
{
    return qcl::utf::utf16ToUtf8Lenient(utf16);
}

std::wstring toUtf16(const std::string& utf8)
{
    return qcl::utf::utf8ToUtf16Lenient(utf8);
}
} // namespace compat::text
