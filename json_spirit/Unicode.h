#pragma once

// Code point decoding and encoding shared by the accessors, the reader and the writer. Decoding is strict: a
// malformed or overlong sequence, a surrogate, a code point above U+10FFFF or a sequence cut off by the end
// throws boost::locale::conv::conversion_error ("Conversion failed").

#include <cstdint>
#include <string>

#include <boost/locale/encoding_errors.hpp>

#include "qcl/Utf.h"

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
    char32_t codePoint;
    const std::size_t used = qcl::utf::decodeUtf8(reinterpret_cast<const unsigned char*>(next),
                                                  reinterpret_cast<const unsigned char*>(end), codePoint);
    if (used == 0)
        fail();
    next += used;
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

// Writes the UTF-8 form of a code point to `out` (at least 4 bytes of room) and returns the byte count. A
// surrogate unit gets its generalised three-byte form, which decodeUtf8 refuses.
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
