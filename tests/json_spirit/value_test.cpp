#include "JsonTestSupport.h"
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

using Conversion = boost::locale::conv::conversion_error;

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

TEST(ValueLookups, AbsentEntriesGiveTheSharedNullWithoutCreatingThem)
{
    const Value object(Object{{"a", Value(1u)}});
    EXPECT_EQ(&object["missing"], &nullValue());
    EXPECT_EQ(object.getObject().size(), 1u);
    EXPECT_EQ(&Value()["any"], &nullValue());
    EXPECT_EQ(&Value()[0], &nullValue());
    EXPECT_EQ(&Value(Array{})[0], &nullValue());
    EXPECT_EQ(Value(Array{Value(7u)})[0].getUInt(), 7u);
}

TEST(ValueLookups, LookupOnAScalarThrowsTypeError)
{
    EXPECT_EQ(errorText<TypeError>([] { (void)Value(5u)["a"]; }),
              "Cannot convert unsigned integer JSON value to object");
    EXPECT_EQ(errorText<TypeError>([] { (void)Value(5u)[0]; }),
              "Cannot convert unsigned integer JSON value to array");
    EXPECT_EQ(errorText<TypeError>([] { (void)Value("s").getObject(); }),
              "Cannot convert string JSON value to object");
    const TypeError error(Kind::object, Kind::unsignedInteger);
    EXPECT_EQ(error.expected(), Kind::object);
    EXPECT_EQ(error.actual(), Kind::unsignedInteger);
}

TEST(ValueTruth, EmptyAndZeroPayloadsAreFalse)
{
    for (const Value& value : {Value(), Value(false), Value(0), Value(0u), Value(-0.0), Value(""),
                               Value(Array{}), Value(Object{})})
        EXPECT_FALSE(value) << value.kind();
    for (const Value& value :
         {Value("0"), Value(std::numeric_limits<double>::quiet_NaN()), Value(-1), Value(Array{Value()})})
        EXPECT_TRUE(value) << value.kind();
}

TEST(ValueNumbers, UnsignedAccessorsTakeBothIntegerKindsAndCheckTheRange)
{
    EXPECT_EQ(Value(4294967295u).getUInt(), 4294967295u);
    EXPECT_EQ(Value(std::int64_t{4294967295}).getUInt(), 4294967295u);
    EXPECT_EQ(Value(std::uint64_t{18446744073709551615u}).getUInt64(), 18446744073709551615u);
    EXPECT_EQ(Value(12).getUInt64(), 12u);

    using Overflow = std::overflow_error;
    EXPECT_EQ(errorText<Overflow>([] { Value(-1).getUInt(); }), "-1 cannot be converted to unsigned int");
    EXPECT_EQ(errorText<Overflow>([] { Value(std::uint64_t{4294967296}).getUInt(); }),
              "4294967296 cannot be converted to unsigned int");
    EXPECT_EQ(errorText<Overflow>([] { Value(std::int64_t{4294967296}).getUInt(); }),
              "4294967296 cannot be converted to unsigned int");
    EXPECT_EQ(errorText<Overflow>([] { Value(-1).getUInt64(); }),
              "-1 cannot be converted to unsigned __int64");

    EXPECT_EQ(errorText<TypeError>([] { Value(1.0).getUInt(); }),
              "Cannot convert floating point JSON value to integer");
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

    EXPECT_EQ(errorText<TypeError>([] { Value(true).getStringOr("x"); }),
              "Cannot convert boolean JSON value to string");
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
        EXPECT_EQ(errorText<Conversion>([&] { Value(bytes).getWString(); }), "Conversion failed") << bytes;
        EXPECT_THROW(Value(bytes).getString(), Conversion) << bytes;
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
    EXPECT_EQ(getOptionalWStringArray(Value(Array{})), std::vector<std::wstring>{});
}

TEST(ValueOwnership, CopiesAreIndependentAndSelfMemberAssignmentIsSafe)
{
    const Value original(Object{{"inner", Value(Object{{"list", Value(Array{Value("x"), Value(2u)})}})}});
    Value copy = original;
    copy = Value(Object{});
    EXPECT_EQ(original["inner"]["list"][0].getString(), "x");

    // Assigning a value one of its own members must not read the member after freeing it.
    Value tree = original;
    tree = tree["inner"];
    EXPECT_EQ(tree["list"][1].getUInt(), 2u);
    tree = tree["list"][0];
    EXPECT_EQ(tree, Value("x"));
}

} // namespace
} // namespace json_spirit
