#pragma once

// Code point decoding and encoding shared by the accessors, the reader and the writer. Decoding is strict: a
// malformed or overlong sequence, a surrogate, a code point above U+10FFFF or a sequence cut off by the end
// throws boost::locale::conv::conversion_error ("Conversion failed").

#include <cstdint>
#include <string>

#include <boost/locale/encoding_errors.hpp>

namespace json_spirit::unicode
{

[[noreturn]] inline void fail()
{
    throw boost::locale::conv::conversion_error();
}

inline bool isSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}
inline bool isLeadingSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isTrailingSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

inline char32_t combineSurrogates(char32_t leading, char32_t trailing)
{
    return 0x10000 + ((leading - 0xD800) << 10) + (trailing - 0xDC00);
}

// Decodes the code point at `next` and moves `next` past it; `next` must be before `end`.
inline char32_t decodeUtf8(const char*& next, const char* end)
{
    const auto lead = static_cast<unsigned char>(*next++);
    if (lead < 0x80)
        return lead;
    int continuationCount;
    char32_t codePoint;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        continuationCount = 1;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        continuationCount = 2;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        continuationCount = 3;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    }
    else
    {
        fail();
    }
    if (end - next < continuationCount)
        fail();
    for (int i = 0; i < continuationCount; ++i)
    {
        const auto byte = static_cast<unsigned char>(*next++);
        if ((byte & 0xC0) != 0x80)
            fail();
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || isSurrogate(codePoint))
        fail();
    return codePoint;
}

// Decodes the code point at `next` (one unit or a surrogate pair) and moves `next` past it.
inline char32_t decodeUtf16(const wchar_t*& next, const wchar_t* end)
{
    const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(*next++));
    if (!isSurrogate(unit))
        return unit;
    if (!isLeadingSurrogate(unit) || next == end)
        fail();
    const auto trailing = static_cast<char32_t>(static_cast<std::uint16_t>(*next));
    if (!isTrailingSurrogate(trailing))
        fail();
    ++next;
    return combineSurrogates(unit, trailing);
}

// Writes the UTF-8 form of a valid code point to `out` (at least 4 bytes of room) and returns the byte count.
inline int encodeUtf8(char32_t codePoint, char* out)
{
    if (codePoint < 0x80)
    {
        out[0] = static_cast<char>(codePoint);
        return 1;
    }
    if (codePoint < 0x800)
    {
        out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
        out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000)
    {
        out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 4;
}

// Writes the UTF-16 form of a valid code point to `out` (at least 2 units of room) and returns the unit
// count.
inline int encodeUtf16(char32_t codePoint, wchar_t* out)
{
    if (codePoint < 0x10000)
    {
        out[0] = static_cast<wchar_t>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    out[0] = static_cast<wchar_t>(0xD800 + (codePoint >> 10));
    out[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

} // namespace json_spirit::unicode
