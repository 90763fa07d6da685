#include "compat/FileNameText.h"

#include "compat/LastError.h"

#include <cstdint>
#include <cwchar>

namespace compat
{
namespace
{
// Length of the valid UTF-8 sequence at `at` and its code point, or 0 when the byte there starts none.
std::size_t decodeSequence(const unsigned char* at, const unsigned char* end, char32_t& codePoint)
{
    const unsigned char lead = *at;
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80)
    {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    }
    else
        return 0;
    if (static_cast<std::size_t>(end - at) < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
    {
        if ((at[i] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (at[i] & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

void appendUtf8(char32_t codePoint, std::string& out)
{
    if (codePoint < 0x80)
        out += static_cast<char>(codePoint);
    else if (codePoint < 0x800)
    {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}
} // namespace

std::wstring fileNameToUtf16(const std::string& bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = at + bytes.size();
    while (at != end)
    {
        char32_t codePoint = 0;
        const std::size_t length = decodeSequence(at, end, codePoint);
        if (length == 0)
        {
            out += static_cast<wchar_t>(0xDC00 + *at);
            ++at;
            continue;
        }
        at += length;
        if (codePoint >= 0x10000)
        {
            out += static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        }
        else
            out += static_cast<wchar_t>(codePoint);
    }
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
            appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), bytes);
            ++at;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
        {
            if (unit < 0xDC80 || unit > 0xDCFF)
                return false;
            bytes += static_cast<char>(unit - 0xDC00);
        }
        else
            appendUtf8(unit, bytes);
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
} // namespace compat
