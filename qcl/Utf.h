#pragma once
// The UTF-8 and UTF-16 primitives every converter of the program is built from. Header-only and
// dependency-free, so the platform layer can use them too.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qcl::utf
{
inline bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

inline bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

inline char32_t combineSurrogates(char32_t high, char32_t low)
{
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Decodes the UTF-8 sequence at `at` strictly: lead bytes C2-F4 only, continuation bytes 10xxxxxx,
// no overlong form, no surrogate, nothing above U+10FFFF, nothing cut off by `end`. Returns the
// sequence's length, or 0 when the bytes at `at` start no valid sequence.
inline std::size_t decodeUtf8(const unsigned char* at, const unsigned char* end, char32_t& codePoint)
{
    const unsigned lead = at[0];
    if (lead < 0x80)
    {
        codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        value = lead & 0x07;
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
        value = (value << 6) | (at[i] & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    codePoint = value;
    return length;
}

inline void appendUtf8(char32_t codePoint, std::string& out)
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

// One UTF-16 unit per wchar_t; a code point above U+FFFF becomes a surrogate pair.
inline void appendUtf16(char32_t codePoint, std::wstring& out)
{
    if (codePoint > 0xFFFF)
    {
        codePoint -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
        out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    }
    else
        out += static_cast<wchar_t>(codePoint);
}

// Decodes UTF-8 bytes into UTF-16; `onBadByte(byte, out)` handles each byte that starts no valid
// sequence, after which decoding goes on with the next byte.
template <class OnBadByte>
void decodeUtf8Into(const std::string& bytes, std::wstring& out, OnBadByte onBadByte)
{
    auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    auto* end = at + bytes.size();
    while (at < end)
    {
        char32_t codePoint;
        const std::size_t used = decodeUtf8(at, end, codePoint);
        if (used == 0)
        {
            onBadByte(*at, out);
            ++at;
            continue;
        }
        appendUtf16(codePoint, out);
        at += used;
    }
}

// Walks UTF-16 units (one per wchar_t): `onCodePoint(cp)` for each well-formed code point and
// `onBadUnit(unit)` for each unpaired surrogate or value above 0xFFFF.
template <class OnCodePoint, class OnBadUnit>
void walkUtf16(const wchar_t* begin, const wchar_t* end, OnCodePoint onCodePoint, OnBadUnit onBadUnit)
{
    for (const wchar_t* p = begin; p < end; ++p)
    {
        const auto unit = static_cast<char32_t>(static_cast<std::uint32_t>(*p));
        if (unit > 0xFFFF)
            onBadUnit(unit);
        else if (isHighSurrogate(unit) && p + 1 < end && isLowSurrogate(static_cast<std::uint32_t>(p[1])))
        {
            onCodePoint(combineSurrogates(unit, static_cast<std::uint32_t>(p[1])));
            ++p;
        }
        else if (isHighSurrogate(unit) || isLowSurrogate(unit))
            onBadUnit(unit);
        else
            onCodePoint(unit);
    }
}

// Lenient conversions for texts that must never make the program throw (log lines, error texts,
// settings from the environment): every malformed sequence or unit becomes U+FFFD.
inline std::wstring utf8ToUtf16Lenient(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    decodeUtf8Into(text, out, [](unsigned char, std::wstring& units) { units += wchar_t(0xFFFD); });
    return out;
}

inline std::string utf16ToUtf8Lenient(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    walkUtf16(
        text.data(), text.data() + text.size(), [&out](char32_t codePoint) { appendUtf8(codePoint, out); },
        [&out](char32_t) { appendUtf8(0xFFFD, out); });
    return out;
}
} // namespace qcl::utf
