#include "compat/FileNameText.h"

#include <gtest/gtest.h>

namespace
{
std::string toBytes(const std::wstring& text)
{
    std::string bytes;
    EXPECT_TRUE(compat::utf16ToFileName(text.data(), text.data() + text.size(), bytes));
    return bytes;
}

TEST(FileNameText, EveryByteStringSurvivesTheRoundTrip)
{
    const std::string samples[] = {
        "plain", "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80", "\xFF", "\xC3", "\xE2\x82", "\xED\xA0\x80",
        "\xC0\xAF", "\xF4\x90\x80\x80", "a\x80z", std::string("\xF0\x9F\x98", 3) + "x",
    };
    for (const std::string& bytes : samples)
        EXPECT_EQ(toBytes(compat::fileNameToUtf16(bytes)), bytes);
    for (int byte = 1; byte < 256; ++byte)
    {
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(toBytes(compat::fileNameToUtf16(one)), one) << byte;
    }
}

TEST(FileNameText, InvalidBytesBecomeLoneLowSurrogates)
{
    EXPECT_EQ(compat::fileNameToUtf16("a\xFF"), L"a\xDCFF");
    EXPECT_EQ(compat::fileNameToUtf16("\xF0\x9F\x98\x80"), L"\xD83D\xDE00");
    EXPECT_EQ(compat::fileNameToUtf16("\xED\xA0\x80"), L"\xDCED\xDCA0\xDC80") << "encoded surrogates are invalid";
}

TEST(FileNameText, TextWithoutByteFormIsRefused)
{
    std::string bytes;
    for (const std::wstring& text : {std::wstring(L"\xD800"), std::wstring(L"\xDC00"), std::wstring(L"a\xDBFFz")})
        EXPECT_FALSE(compat::utf16ToFileName(text.data(), text.data() + text.size(), bytes));
}

TEST(FileNameText, SystemPathDropsOnlyTheLeadingLongPathPrefix)
{
    std::string path;
    ASSERT_TRUE(compat::toSystemPath(L"\\\\?\\/home/a", path));
    EXPECT_EQ(path, "/home/a");
    ASSERT_TRUE(compat::toSystemPath(L"/x/\\\\?\\y", path));
    EXPECT_EQ(path, "/x/\\\\?\\y");
}
} // namespace
