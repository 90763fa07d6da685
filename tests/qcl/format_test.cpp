#include "qcl/Format.h"
#include "qcl/Uint128.h"

#include <gtest/gtest.h>

using qcl::format;

TEST(Format, MissingArgumentsStayEmptyAndSurplusOnesAreIgnored)
{
    EXPECT_EQ(format(L"Cannot open '%1%'"), L"Cannot open ''");
    EXPECT_EQ(format(L"Cannot create directory '%1%'", std::wstring(L"a"), std::wstring(L"b")),
              L"Cannot create directory 'a'");
    EXPECT_EQ(format(L"Downloading update (%1%%%)", 42), L"Downloading update (42%)");
    EXPECT_THROW(format(L"%1"), boost::io::format_error);
}

TEST(Format, NarrowTextAndArgumentsAreUtf8)
{
    EXPECT_EQ(format("caf\xC3\xA9 %1%", std::string("\xC3\xA9t\xC3\xA9")), L"caf\xE9 \xE9t\xE9");
    EXPECT_EQ(format(L"%1%", "\xC3\xA9"), L"\xE9");
    EXPECT_THROW(format(L"%1%", std::string("\xC3")), qcl::string::invalid_utf_sequence);
}

TEST(Format, WritesIdentifiersHandlesErrorCodesAndNumbers)
{
    const auto id = qcl::uint128::fromHalves(1, 2);
    EXPECT_EQ(format(L"%1% %2%", std::wstring(L"x"), id), L"x 0000-0000-0000-0001-0000-0000-0000-0002");
    EXPECT_EQ(format(L"Cannot close file handle %1%", reinterpret_cast<void*>(0x2A)),
              L"Cannot close file handle 0000002A");
    EXPECT_EQ(format(L"%1%", std::error_code(5, std::generic_category())), L"generic:5");
    EXPECT_EQ(format(L"%1% %2%", 4000000000ul, -5l), L"4000000000 -5");
    EXPECT_EQ(format(L"%1%", 1234567), L"1234567"); // never grouped
    EXPECT_EQ(format(boost::format("%1%: %2%\n"), "key"), "key: \n");
}
