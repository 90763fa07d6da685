#include "compat/FileNameText.h"

#include <string_view>

#include "compat/LastError.h"
#include "qcl/Utf.h"

#include <cstdint>
#include <cwchar>

namespace compat
{
std::wstring fileNameToUtf16(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    // A byte that starts no valid sequence is always 0x80-0xFF: ASCII always decodes.
    qcl::utf::decodeUtf8Into(bytes, out,
                             [](unsigned char byte, std::wstring& units)
                             { units += static_cast<wchar_t>(0xDC00 + byte); });
    return out;
}

bool utf16ToFileName(const wchar_t* begin, const wchar_t* end, std::string& bytes)
{
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(end - begin));
    for (const wchar_t* at = begin; at != end; ++at)
    {
        const auto unit = static_cast<std::uint32_t>(*at) & 0xFFFF;
        if (unit == 0 || static_cast<std::uint32_t>(*at) > 0xFFFF)
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF)
        {
            const auto low = at + 1 != end ? static_cast<std::uint32_t>(at[1]) : 0u;
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            qcl::utf::appendUtf8(qcl::utf::combineSurrogates(unit, low), bytes);
            ++at;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
        {
            if (unit < 0xDC80 || unit > 0xDCFF)
                return false;
            bytes += static_cast<char>(unit - 0xDC00);
        }
        else
            qcl::utf::appendUtf8(unit, bytes);
    }
    return true;
}

bool toSystemPath(LPCWSTR path, std::string& systemPath)
{
    if (path == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const wchar_t* begin = path;
    if (std::wcsncmp(begin, longPathPrefix, 4) == 0)
        begin += 4;
    if (!utf16ToFileName(begin, begin + std::wcslen(begin), systemPath))
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return true;
}

std::string percentEncodedPath(const std::string& path)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char c : path)
    {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("/-_.!~*'()").find(static_cast<char>(c)) != std::string_view::npos;
        if (plain)
            text += static_cast<char>(c);
        else
        {
            text += '%';
            text += digits[c >> 4];
            text += digits[c & 15];
        }
    }
    return text;
}
} // namespace compat
