#include "qcl/String.h"

#include "qcl/Utf.h"

#include <array>
#include <cstring>

namespace qcl::string
{
namespace
{
using utf::appendUtf8;
using utf::decodeUtf8;
using utf::walkUtf16;

constexpr std::size_t kBufferUnits = 256;

// Appends UTF-16 units through a fixed buffer that is flushed into `sink` when it fills and at the end.
template <class Sink>
class UnitBuffer
{
public:
    explicit UnitBuffer(Sink sink) : mSink(sink) {}
    ~UnitBuffer() noexcept(false) { flush(); }

    void put(wchar_t unit)
    {
        if (mUsed == mUnits.size())
            flush();
        mUnits[mUsed++] = unit;
    }
    void putCodePoint(std::uint32_t codePoint)
    {
        if (codePoint > 0xFFFF)
        {
            codePoint -= 0x10000;
            put(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
            put(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
        }
        else
            put(static_cast<wchar_t>(codePoint));
    }
    void putAscii(const char* text)
    {
        for (; *text; ++text)
            put(static_cast<wchar_t>(*text));
    }
    void putHex(std::uint32_t value)
    {
        static const char digits[] = "0123456789ABCDEF";
        char text[9];
        int n = 0;
        do
        {
            text[n++] = digits[value & 0xF];
            value >>= 4;
        } while (value != 0);
        while (n > 0)
            put(static_cast<wchar_t>(text[--n]));
    }
    void flush()
    {
        if (mUsed != 0)
            mSink(mUnits.data(), mUsed);
        mUsed = 0;
    }

private:
    Sink mSink;
    std::array<wchar_t, kBufferUnits> mUnits;
    std::size_t mUsed = 0;
};

template <class Sink>
UnitBuffer<Sink> makeBuffer(Sink sink)
{
    return UnitBuffer<Sink>(sink);
}

template <class Sink>
void decodeInto(const char* begin, const char* end, UnitBuffer<Sink>& buffer)
{
    auto* p = reinterpret_cast<const unsigned char*>(begin);
    auto* stop = reinterpret_cast<const unsigned char*>(end);
    while (p < stop)
    {
        char32_t codePoint;
        const std::size_t used = decodeUtf8(p, stop, codePoint);
        if (used == 0)
            throw invalid_utf_sequence();
        buffer.putCodePoint(codePoint);
        p += used;
    }
}

} // namespace

void appendUtf8ToUtf16(const char* begin, const char* end, std::wstring& out)
{
    auto buffer = makeBuffer([&out](const wchar_t* units, std::size_t n) { out.append(units, n); });
    decodeInto(begin, end, buffer);
}

std::wstring utf8ToUtf16(const char* begin, const char* end)
{
    std::wstring out;
    out.reserve(static_cast<std::size_t>(end - begin));
    appendUtf8ToUtf16(begin, end, out);
    return out;
}

std::wstring utf8ToUtf16(basic_span<char> text)
{
    return utf8ToUtf16(text.begin(), text.end());
}

std::wstring utf8ToUtf16(const std::string& text)
{
    return utf8ToUtf16(text.data(), text.data() + text.size());
}

void utf16ToUtf8(const wchar_t* begin, const wchar_t* end, std::string& out)
{
    walkUtf16(
        begin, end, [&out](std::uint32_t codePoint) { appendUtf8(codePoint, out); },
        [](std::uint32_t) { throw invalid_utf_sequence(); });
}

std::string utf16ToUtf8(basic_span<wchar_t> text)
{
    std::string out;
    out.reserve(text.size());
    utf16ToUtf8(text.begin(), text.end(), out);
    return out;
}

std::string utf16ToUtf8(const std::wstring& text)
{
    return utf16ToUtf8(basic_span<wchar_t>(text));
}

std::wstring toWString(const char* utf8)
{
    return utf8 == nullptr ? std::wstring() : utf8ToUtf16(utf8, utf8 + std::strlen(utf8));
}

std::wstring toWString(const wchar_t* text)
{
    return text == nullptr ? std::wstring() : std::wstring(text);
}

std::wstring toWString(basic_span<char> utf8)
{
    return utf8ToUtf16(utf8);
}

std::wstring utf8ToUtf16Lenient(const std::string& text)
{
    return utf::utf8ToUtf16Lenient(text);
}

std::string utf16ToUtf8Lenient(const std::wstring& text)
{
    return utf::utf16ToUtf8Lenient(text);
}

std::wostream& operator<<(std::wostream& stream, const std::string& utf8)
{
    auto buffer = makeBuffer(
        [&stream](const wchar_t* units, std::size_t n) { stream.write(units, static_cast<std::streamsize>(n)); });
    decodeInto(utf8.data(), utf8.data() + utf8.size(), buffer);
    return stream;
}

namespace
{
template <class Buffer>
void putEscapedCodePoint(Buffer& buffer, std::uint32_t codePoint)
{
    if (codePoint >= 32 && codePoint <= 126)
        buffer.put(static_cast<wchar_t>(codePoint));
    else
    {
        buffer.putAscii("[U+");
        buffer.putHex(codePoint);
        buffer.put(L']');
    }
}

template <class Buffer>
void putBad(Buffer& buffer, std::uint32_t value)
{
    buffer.putAscii("[x");
    buffer.putHex(value);
    buffer.put(L']');
}
} // namespace

void writeEscaped(std::wostream& stream, const EscapedWide& request)
{
    auto buffer = makeBuffer(
        [&stream](const wchar_t* units, std::size_t n) { stream.write(units, static_cast<std::streamsize>(n)); });
    if (request.delimiter != 0)
        buffer.putCodePoint(request.delimiter);
    const std::wstring& text = request.text;
    walkUtf16(
        text.data(), text.data() + text.size(), [&buffer](std::uint32_t cp) { putEscapedCodePoint(buffer, cp); },
        [&buffer](std::uint32_t unit) { putBad(buffer, unit); });
    if (request.delimiter != 0)
        buffer.putCodePoint(request.delimiter);
}

void writeEscaped(std::wostream& stream, const EscapedNarrow& request)
{
    auto buffer = makeBuffer(
        [&stream](const wchar_t* units, std::size_t n) { stream.write(units, static_cast<std::streamsize>(n)); });
    if (request.delimiter != 0)
        buffer.putCodePoint(request.delimiter);
    auto* p = reinterpret_cast<const unsigned char*>(request.text.data());
    auto* stop = p + request.text.size();
    while (p < stop)
    {
        char32_t codePoint;
        const std::size_t used = decodeUtf8(p, stop, codePoint);
        if (used == 0)
        {
            putBad(buffer, *p);
            ++p;
            continue;
        }
        putEscapedCodePoint(buffer, codePoint);
        p += used;
    }
    if (request.delimiter != 0)
        buffer.putCodePoint(request.delimiter);
}

void writeHex(std::wostream& stream, std::uint8_t byte)
{
    writeHex(stream, static_cast<std::uint32_t>(byte));
}

void writeHex(std::wostream& stream, std::uint32_t codePoint)
{
    auto buffer = makeBuffer(
        [&stream](const wchar_t* units, std::size_t n) { stream.write(units, static_cast<std::streamsize>(n)); });
    buffer.putHex(codePoint);
}
} // namespace qcl::string

namespace qcl
{
std::wstring formatByteCount(std::uint64_t count)
{
    static const wchar_t* const units[] = {L" bytes", L" KB", L" MB", L" GB", L" TB", L" PB", L" EB"};
    std::size_t unit = 0;
    while (count >= 10000)
    {
        const bool roundUp = (count & 0x200) != 0;
        count >>= 10;
        ++unit;
        if (count < 10000)
        {
            if (roundUp)
                count += 1; // may reach 10000: the unit stays
            break;
        }
    }
    return std::to_wstring(count) + units[unit];
}
} // namespace qcl
