#include "qcl/Uint128.h"

#include <gtest/gtest.h>

#include <sstream>

using qcl::uint128;

TEST(Uint128, TextFormIsEightGroupsOfFourLowerCaseDigitsHighHalfFirst)
{
    EXPECT_EQ(uint128().str(), "0000-0000-0000-0000-0000-0000-0000-0000");
    const auto value = uint128::fromHalves(0x0123456789ABCDEFull, 0xFEDCBA9876543210ull);
    EXPECT_EQ(value.str(), "0123-4567-89ab-cdef-fedc-ba98-7654-3210");
    std::wostringstream wide;
    wide << std::make_pair(value, uint128());
    EXPECT_EQ(wide.str(), L"(0123-4567-89ab-cdef-fedc-ba98-7654-3210/0000-0000-0000-0000-0000-0000-0000-0000)");
    std::ostringstream narrow;
    narrow << value;
    EXPECT_EQ(narrow.str(), value.str());
}

TEST(Uint128, ParsesEveryAcceptedSpelling)
{
    const auto value = uint128::fromHalves(0x0123456789ABCDEFull, 0xFEDCBA9876543210ull);
    for (const char* text : {"0123-4567-89ab-cdef-fedc-ba98-7654-3210", "0123456789abcdeffedcba9876543210",
                             "0123456789ABCDEFFEDCBA9876543210", "-0123--456789abcdef-fedcba987654321-0"})
        EXPECT_EQ(uint128::parse(std::string(text)), value) << text;
    EXPECT_EQ(uint128::parse(std::wstring(L"0123-4567-89ab-cdef-fedc-ba98-7654-3210")), value);
}

TEST(Uint128, RejectsWrongLengthsTrailersAndForeignCharacters)
{
    const std::string digits(32, 'a');
    for (const std::string& text : {digits.substr(1), digits + "a", digits + "-", digits.substr(1) + " ",
                                    "g" + digits.substr(1), std::string(), std::string("-")})
        EXPECT_THROW(uint128::parse(text), uint128::ParseError) << text;
    try
    {
        uint128::parse(std::string("x"));
    }
    catch (const uint128::ParseError& error)
    {
        EXPECT_EQ(error.message(), L"Cannot parse uint128");
    }
}

TEST(Uint128, ComparesAllBits)
{
    EXPECT_NE(uint128::fromHalves(1, 0), uint128::fromHalves(0, 1));
    EXPECT_TRUE(uint128::fromHalves(0, 5) < uint128::fromHalves(1, 0));
    EXPECT_TRUE(uint128().isNil());
    EXPECT_FALSE(uint128::fromHalves(0, 1).isNil());
}
