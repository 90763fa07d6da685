#include "qcl/String.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace qcl::string;

namespace
{
std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values)
        text += static_cast<char>(v);
    return text;
}

std::wstring escape(const std::wstring& text, char32_t delimiter = 0)
{
    std::wostringstream stream;
    stream << escaped(text, delimiter);
    return stream.str();
}

std::wstring escape(const std::string& text, char32_t delimiter = 0)
{
    std::wostringstream stream;
    stream << escaped(text, delimiter);
    return stream.str();
}
} // namespace

TEST(Utf8ToUtf16, ConvertsEveryLengthOfSequenceAndAstralCharactersToSurrogatePairs)
{
    EXPECT_EQ(utf8ToUtf16(std::string("a")), L"a");
    EXPECT_EQ(utf8ToUtf16(bytes({0xC3, 0xA9})), L"\xE9");
    EXPECT_EQ(utf8ToUtf16(bytes({0xE2, 0x82, 0xAC})), L"\x20AC");
    EXPECT_EQ(utf8ToUtf16(bytes({0xF0, 0x9F, 0x98, 0x80})), std::wstring(L"\xD83D\xDE00"));
    EXPECT_EQ(utf8ToUtf16(std::string()), L"");
    EXPECT_EQ(toWString(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(toWString(static_cast<const wchar_t*>(nullptr)), L"");
}

TEST(Utf8ToUtf16, RejectsEveryMalformedForm)
{
    const std::string bad[] = {
        bytes({0xED, 0xA0, 0x80}),       // encoded surrogate
        bytes({0xF4, 0x90, 0x80, 0x80}), // above U+10FFFF
        bytes({0xC2}),                   // cut off at the end
        bytes({0xC0, 0xAF}),             // overlong
        bytes({0xE0, 0x80, 0xAF}),       // overlong
        bytes({0xC3, 0x28}),             // bad continuation
        bytes({0x80}),                   // lone continuation
        bytes({0xF5, 0x80, 0x80, 0x80}), // lead byte out of range
    };
    for (const auto& text : bad)
        EXPECT_THROW(utf8ToUtf16(text), invalid_utf_sequence) << escape(text).size();
}

TEST(Utf8ToUtf16, LongTextCrossesTheInternalBufferIntact)
{
    std::string text;
    std::wstring expected;
    for (int i = 0; i < 1000; ++i)
    {
        text += bytes({0xF0, 0x9F, 0x98, 0x80}) + "x";
        expected += std::wstring(L"\xD83D\xDE00") + L"x";
    }
    EXPECT_EQ(utf8ToUtf16(text), expected);
    EXPECT_EQ(utf16ToUtf8(expected), text);
    std::wostringstream stream;
    stream << text;
    EXPECT_EQ(stream.str(), expected);
}

TEST(Utf16ToUtf8, RejectsUnpairedSurrogates)
{
    EXPECT_EQ(utf16ToUtf8(std::wstring(L"\xD83D\xDE00")), bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_THROW(utf16ToUtf8(std::wstring(L"\xD83D")), invalid_utf_sequence);
    EXPECT_THROW(utf16ToUtf8(std::wstring(L"\xDE00\xD83D")), invalid_utf_sequence);
    EXPECT_THROW(utf16ToUtf8(std::wstring(L"a\xDC00z")), invalid_utf_sequence);
    EXPECT_EQ(utf16ToUtf8Lenient(std::wstring(L"a\xDC00z")), "a" + bytes({0xEF, 0xBF, 0xBD}) + "z");
    EXPECT_EQ(utf8ToUtf16Lenient(bytes({'a', 0xC3, 0x28})), std::wstring(L"a\xFFFD("));
}

TEST(Escaped, WritesPrintableAsciiAndMarksEverythingElse)
{
    EXPECT_EQ(escape(std::wstring(L"a\xE9"
                                  L"b"),
                     U'"'),
              L"\"a[U+E9]b\"");
    EXPECT_EQ(escape(std::wstring(L"\t ~\x7F")), L"[U+9] ~[U+7F]");
    EXPECT_EQ(escape(std::wstring(L"\xDC00x")), L"[xDC00]x");
    EXPECT_EQ(escape(std::wstring(L"\xD800")), L"[xD800]");
    EXPECT_EQ(escape(std::wstring(L"\xD83D\xDE00")), L"[U+1F600]");
    EXPECT_EQ(escape(bytes({0xC3, 0x28})), L"[xC3](");
    EXPECT_EQ(escape(bytes({0xC3, 0xA9}), U'\''), L"'[U+E9]'");
    EXPECT_EQ(escape(bytes({0xED, 0xA0, 0x80})), L"[xED][xA0][x80]");
}

TEST(Escaped, LongOutputCrossesTheInternalBufferIntact)
{
    std::wstring text(1000, L'\xE9');
    std::wstring expected;
    for (int i = 0; i < 1000; ++i)
        expected += L"[U+E9]";
    EXPECT_EQ(escape(text), expected);
}

TEST(WriteHex, WritesUpperCaseWithoutLeadingZeros)
{
    std::wostringstream stream;
    writeHex(stream, std::uint8_t(0));
    stream << L' ';
    writeHex(stream, std::uint32_t(0x10FFFF));
    stream << L' ';
    writeHex(stream, std::uint8_t(0x0A));
    EXPECT_EQ(stream.str(), L"0 10FFFF A");
}

TEST(FormatByteCount, ChangesUnitFrom10000AndRoundsTheLastDivisionHalfUp)
{
    EXPECT_EQ(qcl::formatByteCount(0), L"0 bytes");
    EXPECT_EQ(qcl::formatByteCount(9999), L"9999 bytes");
    EXPECT_EQ(qcl::formatByteCount(10000), L"10 KB");
    EXPECT_EQ(qcl::formatByteCount(10239487), L"9999 KB");
    EXPECT_EQ(qcl::formatByteCount(10239488), L"10000 KB");
    EXPECT_EQ(qcl::formatByteCount(~std::uint64_t(0)), L"16 EB");
}
