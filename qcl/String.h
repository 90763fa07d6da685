#pragma once
// UTF-8 <-> UTF-16 conversion, escaped writing of outside text, hexadecimal digits and byte counts.
//
// std::wstring holds UTF-16 code units, one per wchar_t, on every platform.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

namespace qcl::string
{
// Thrown by every strict converter.
class invalid_utf_sequence : public std::runtime_error
{
public:
    invalid_utf_sequence() : std::runtime_error("Invalid UTF sequence") {}
};

// A view of text: pointer and length in characters.
template <class Char>
class basic_span
{
public:
    basic_span(const Char* text, std::size_t length) : mText(text), mLength(length) {}
    basic_span(const std::basic_string<Char>& text) : mText(text.data()), mLength(text.size()) {}

    const Char* data() const { return mText; }
    const Char* begin() const { return mText; }
    const Char* end() const { return mText + mLength; }
    std::size_t size() const { return mLength; }
    std::basic_string<Char> str() const { return std::basic_string<Char>(mText, mLength); }

private:
    const Char* mText;
    std::size_t mLength;
};

// Strict conversions: malformed input throws invalid_utf_sequence.
void appendUtf8ToUtf16(const char* begin, const char* end, std::wstring& out);
std::wstring utf8ToUtf16(const char* begin, const char* end);
std::wstring utf8ToUtf16(basic_span<char> text);
std::wstring utf8ToUtf16(const std::string& text);

void utf16ToUtf8(const wchar_t* begin, const wchar_t* end, std::string& out);
std::string utf16ToUtf8(basic_span<wchar_t> text);
std::string utf16ToUtf8(const std::wstring& text);

// A null pointer gives an empty string.
std::wstring toWString(const char* utf8);
std::wstring toWString(const wchar_t* text);
std::wstring toWString(basic_span<char> utf8);

// Lenient conversions for log and error texts, which must never throw: each malformed sequence
// becomes U+FFFD.
std::wstring utf8ToUtf16Lenient(const std::string& text);
std::string utf16ToUtf8Lenient(const std::wstring& text);

// Writes UTF-8 text into a wide stream as UTF-16 (strict).
std::wostream& operator<<(std::wostream& stream, const std::string& utf8);

// Outside text for a log line: printable ASCII as it is, every other code point as [U+hex], every
// malformed unit or byte as [xhex], between the delimiters when the delimiter is not 0.
struct EscapedWide
{
    const std::wstring& text;
    char32_t delimiter;
};
struct EscapedNarrow
{
    const std::string& text;
    char32_t delimiter;
};

void writeEscaped(std::wostream& stream, const EscapedWide& request);
void writeEscaped(std::wostream& stream, const EscapedNarrow& request);

inline EscapedWide escaped(const std::wstring& text, char32_t delimiter = 0)
{
    return {text, delimiter};
}
inline EscapedNarrow escaped(const std::string& text, char32_t delimiter = 0)
{
    return {text, delimiter};
}
inline std::wostream& operator<<(std::wostream& stream, const EscapedWide& request)
{
    writeEscaped(stream, request);
    return stream;
}
inline std::wostream& operator<<(std::wostream& stream, const EscapedNarrow& request)
{
    writeEscaped(stream, request);
    return stream;
}

// Upper-case hexadecimal digits, most significant first, no leading zeros.
void writeHex(std::wostream& stream, std::uint8_t byte);
void writeHex(std::wostream& stream, std::uint32_t codePoint);
} // namespace qcl::string

namespace qcl
{
// "9999 bytes", "10 KB", ... "16 EB".
std::wstring formatByteCount(std::uint64_t count);
} // namespace qcl
