#include "compat/PlatformText.h"

#include <cstdint>

namespace compat::text
{
namespace
{
constexpr char32_t replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
        out += static_cast<char>(c);
    else if (c < 0x800)
    {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::wstring& out, char32_t c)
{
    if (c < 0x10000)
        out += static_cast<wchar_t>(c);
    else
    {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
}
} // namespace

std::string toUtf8(const std::wstring& utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i)
    {
        char32_t unit = static_cast<std::uint32_t>(utf16[i]) & 0xFFFF;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < utf16.size())
        {
            char32_t next = static_cast<std::uint32_t>(utf16[i + 1]) & 0xFFFF;
            if (next >= 0xDC00 && next < 0xE000)
            {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? replacement : unit);
    }
    return out;
}

std::wstring toUtf16(const std::string& utf8)
{
    std::wstring out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size())
    {
        auto byte = static_cast<unsigned char>(utf8[i]);
        int length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length != 0 && i + length <= utf8.size();
        for (int k = 1; valid && k < length; ++k)
        {
            auto continuation = static_cast<unsigned char>(utf8[i + k]);
            valid = (continuation & 0xC0) == 0x80;
            c = (c << 6) | (continuation & 0x3F);
        }
        static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)))
            valid = false;
        if (valid)
        {
            appendUtf16(out, c);
            i += length;
        }
        else
        {
            appendUtf16(out, replacement);
            ++i;
        }
    }
    return out;
}
} // namespace compat::text
