#include "ValuePrinter.h"
#include "json_spirit/Error.h"
#include "json_spirit/Value.h"

#include <gtest/gtest.h>

#include <boost/locale/encoding_errors.hpp>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

namespace json_spirit
{
namespace
{

Value objectOf(std::initializer_list<std::pair<const std::string, Value>> members)
{
    return Value(Object(members));
}

template <class Call> std::string overflowText(Call call)
{
    try
    {
        call();
    }
    catch (const std::overflow_error& error)
    {
        return error.what();
    }
    return "no overflow_error";
}

TEST(ValueKinds, TagValuesAndTypeNamesFollowTheStoredOrder)
{
    const std::pair<Value, const char*> cases[] = {
        {Value(), "null"},
        {Value(true), "boolean"},
        {Value(-1), "integer"},
        {Value(1u), "unsigned integer"},
        {Value(0.5), "floating point"},
        {Value("x"), "string"},
        {Value(Array{}), "array"},
        {Value(Object{}), "object"},
    };
    std::uint32_t tag = 0;
    for (const auto& [value, name] : cases)
    {
        EXPECT_EQ(static_cast<std::uint32_t>(value.kind()), tag++);
        std::ostringstream text;
        text << value.kind();
        EXPECT_EQ(text.str(), name);
    }
}

TEST(ValueLookups, AbsentEntriesGiveNullWithoutCreatingThem)
{
    const Value object = objectOf({{"a", Value(1u)}});
    EXPECT_TRUE(object["missing"].isNull());
    EXPECT_EQ(object.getObject().size(), 1u);
    EXPECT_TRUE(Value()["any"].isNull());
    EXPECT_TRUE(Value()[0].isNull());
    EXPECT_TRUE(Value(Array{})[0].isNull());
    EXPECT_EQ(&object["missing"], &nullValue());
    EXPECT_EQ(Value(Array{Value(7u)})[0].getUInt(), 7u);
}

TEST(ValueLookups, LookupOnAScalarThrowsTypeError)
{
    const Value number(5u);
    try
    {
        (void)number["a"];
        FAIL();
    }
    catch (const TypeError& error)
    {
        EXPECT_STREQ(error.what(), "Cannot convert unsigned integer JSON value to object");
        EXPECT_EQ(error.expected(), Kind::object);
        EXPECT_EQ(error.actual(), Kind::unsignedInteger);
    }
    try
    {
        (void)number[0];
        FAIL();
    }
    catch (const TypeError& error)
    {
        EXPECT_STREQ(error.what(), "Cannot convert unsigned integer JSON value to array");
    }
    EXPECT_THROW((void)Value("s").getObject(), TypeError);
}

TEST(ValueTruth, EmptyAndZeroPayloadsAreFalse)
{
    EXPECT_FALSE(Value());
    EXPECT_FALSE(Value(false));
    EXPECT_FALSE(Value(0));
    EXPECT_FALSE(Value(0u));
    EXPECT_FALSE(Value(-0.0));
    EXPECT_FALSE(Value(""));
    EXPECT_FALSE(Value(Array{}));
    EXPECT_FALSE(Value(Object{}));
    EXPECT_TRUE(Value("0"));
    EXPECT_TRUE(Value(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(Value(-1));
    EXPECT_TRUE(Value(Array{Value()}));
}

TEST(ValueNumbers, UnsignedAccessorsTakeBothIntegerKindsAndCheckTheRange)
{
    EXPECT_EQ(Value(4294967295u).getUInt(), 4294967295u);
    EXPECT_EQ(Value(std::int64_t{4294967295}).getUInt(), 4294967295u);
    EXPECT_EQ(Value(std::uint64_t{18446744073709551615u}).getUInt64(), 18446744073709551615u);
    EXPECT_EQ(Value(12).getUInt64(), 12u);

    EXPECT_EQ(overflowText([] { Value(-1).getUInt(); }), "-1 cannot be converted to unsigned int");
    EXPECT_EQ(overflowText([] { Value(std::uint64_t{4294967296}).getUInt(); }),
              "4294967296 cannot be converted to unsigned int");
    EXPECT_EQ(overflowText([] { Value(std::int64_t{4294967296}).getUInt(); }),
              "4294967296 cannot be converted to unsigned int");
    EXPECT_EQ(overflowText([] { Value(-1).getUInt64(); }), "-1 cannot be converted to unsigned __int64");

    try
    {
        Value(1.0).getUInt();
        FAIL();
    }
    catch (const TypeError& error)
    {
        EXPECT_STREQ(error.what(), "Cannot convert floating point JSON value to integer");
    }
    EXPECT_THROW(Value("1").getUInt64(), TypeError);
}

TEST(ValueDefaults, NullGivesTheDefaultAndAWrongKindStillThrows)
{
    EXPECT_EQ(Value().getStringOr("dflt"), "dflt");
    EXPECT_EQ(Value().getWStringOr(L"dflt"), L"dflt");
    EXPECT_EQ(Value().getUIntOr(5000000000u), 5000000000u);
    EXPECT_EQ(Value().getUInt64Or(7), 7u);
    EXPECT_TRUE(Value().getBoolOr(true));
    EXPECT_FALSE(Value(false).getBoolOr(true));
    EXPECT_EQ(Value().getWStringArrayOr({L"a"}), std::vector<std::wstring>{L"a"});
    EXPECT_EQ(Value(9u).getUIntOr(1), 9u);

    try
    {
        Value(true).getStringOr("x");
        FAIL();
    }
    catch (const TypeError& error)
    {
        EXPECT_STREQ(error.what(), "Cannot convert boolean JSON value to string");
    }
    EXPECT_THROW(Value(1u).getBoolOr(false), TypeError);
    EXPECT_THROW(Value(std::uint64_t{1} << 32).getUIntOr(1), std::overflow_error);
}

TEST(ValueStrings, PayloadIsCheckedAndConverted)
{
    EXPECT_EQ(Value("").getWString(), L"");
    EXPECT_EQ(Value("a\xC3\xA9").getWString(), L"a\xE9");
    EXPECT_EQ(Value("\xF0\x9F\x98\x80").getWString(), L"\xD83D\xDE00");
    EXPECT_EQ(Value("\xF0\x9F\x98\x80").getString(), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Value(std::string("a\0b", 3)).getString(), std::string("a\0b", 3));

    const char* malformed[] = {
        "\xED\xA0\x80",     // an encoded surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xC0\xAF",         // overlong
        "\xC2",             // cut off
        "\x80",             // stray continuation byte
        "a\xE2\x82",        // cut off after a valid character
    };
    for (const char* bytes : malformed)
    {
        SCOPED_TRACE(bytes);
        EXPECT_THROW(Value(bytes).getWString(), boost::locale::conv::conversion_error);
        EXPECT_THROW(Value(bytes).getString(), boost::locale::conv::conversion_error);
    }
    try
    {
        Value("\xED\xA0\x80").getWString();
    }
    catch (const std::exception& error)
    {
        EXPECT_STREQ(error.what(), "Conversion failed");
    }
    EXPECT_THROW(Value(1u).getWString(), TypeError);
}

TEST(ValueStrings, ListsTellAbsentFromEmpty)
{
    EXPECT_TRUE(Value().getWStringArray().empty());
    EXPECT_EQ(Value(Array{Value("a"), Value("b")}).getWStringArray(),
              (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_THROW(Value(Array{Value("a"), Value(1u)}).getWStringArray(), TypeError);
    EXPECT_THROW(Value("a").getWStringArray(), TypeError);

    EXPECT_FALSE(getOptionalWStringArray(Value()).has_value());
    const auto empty = getOptionalWStringArray(Value(Array{}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(ValueOwnership, CopiesAreIndependentAndSelfMemberAssignmentIsSafe)
{
    Value original = objectOf({{"inner", objectOf({{"list", Value(Array{Value("x"), Value(2u)})}})}});
    Value copy = original;
    copy = Value(Object{});
    EXPECT_EQ(original["inner"]["list"][0].getString(), "x");

    // Assigning a value one of its own members must not read the member after freeing it.
    Value tree = original;
    tree = tree["inner"];
    EXPECT_EQ(tree["list"][1].getUInt(), 2u);
    tree = tree["list"][0];
    EXPECT_EQ(tree.getString(), "x");
}

} // namespace
} // namespace json_spirit
