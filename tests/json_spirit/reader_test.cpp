#include "JsonTestSupport.h"
#include "json_spirit/Reader.h"

#include <boost/locale/encoding_errors.hpp>
#include <gtest/gtest.h>

#include <string>

namespace json_spirit
{
namespace
{

std::string parseErrorOf(const std::string& text)
{
    return errorText<ParseError>([&] { parse(text); });
}

std::string memberListErrorOf(const std::string& text)
{
    return errorText<ParseError>([&] { parseMemberList(text); });
}

TEST(ReaderNumbers, NonNegativeIsUnsignedNegativeIsIntegerAndNothingIsFloatingPoint)
{
    EXPECT_EQ(parse("0"), Value(0u));
    EXPECT_EQ(parse("  +5 "), Value(5u));
    EXPECT_EQ(parse("007"), Value(7u));
    EXPECT_EQ(parse("-0"), Value(0));
    EXPECT_EQ(parse("-42"), Value(-42));
    EXPECT_EQ(parse("18446744073709551615"), Value(std::uint64_t{18446744073709551615u}));
    EXPECT_EQ(parse("-9223372036854775808"), Value(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(parse("00000000000000000000001"), Value(1u));
}

TEST(ReaderNumbers, OutOfRangeSignOnlyAndFractionsAreRejected)
{
    EXPECT_EQ(parseErrorOf("18446744073709551616"), "Cannot parse JSON: Integer too big");
    EXPECT_EQ(parseErrorOf("99999999999999999999"), "Cannot parse JSON: Integer too big");
    EXPECT_EQ(parseErrorOf("-9223372036854775809"), "Cannot parse JSON: Integer too big");
    EXPECT_EQ(parseErrorOf("-18446744073709551615"), "Cannot parse JSON: Integer too big");
    EXPECT_EQ(parseErrorOf("-"), "Cannot parse JSON: Expected number");
    EXPECT_EQ(parseErrorOf("+x"), "Cannot parse JSON: Expected number");
    EXPECT_EQ(parseErrorOf("- 1"), "Cannot parse JSON: Expected number");
    EXPECT_EQ(parseErrorOf("1.5"), "Cannot parse JSON: Unexpected character after JSON value");
    EXPECT_EQ(parseErrorOf("1e3"), "Cannot parse JSON: Unexpected character after JSON value");
    EXPECT_EQ(parseErrorOf("[1.5]"), "Cannot parse JSON: Expected closing ] at end of array");
}

TEST(ReaderStrings, EscapesGiveTheirCharacters)
{
    EXPECT_EQ(parse(R"("\"\\\/\b\f\n\r\t")"), Value("\"\\/\b\f\n\r\t"));
    EXPECT_EQ(parse(R"("\u0041\u00e9\u20AC")"), Value("A\xC3\xA9\xE2\x82\xAC"));
    EXPECT_EQ(parse(R"("\ud83d\ude00")"), Value("\xF0\x9F\x98\x80"));
    EXPECT_EQ(parse(R"("a\u0000b")").rawString(), std::string("a\0b", 3));
    EXPECT_EQ(parse(R"("")"), Value(""));
}

TEST(ReaderStrings, RawBytesAreCopiedUncheckedExceptLineFeed)
{
    EXPECT_EQ(parse("\"a\tb\rc\x01\"").rawString(), "a\tb\rc\x01");
    // Not UTF-8, yet kept: the accessors are the ones that check.
    EXPECT_EQ(parse("\"\xFF\xED\xA0\x80\"").rawString(), "\xFF\xED\xA0\x80");
    EXPECT_EQ(parseErrorOf("\"a\nb\""),
              "Cannot parse JSON: Expected closing quote \" at the end of quoted string");
}

TEST(ReaderStrings, MalformedEscapesHaveTheirOwnMessages)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"("abc)", "Unexpected end of input in quoted string"},
        {R"("abc\)", "Unexpected end of input after backslash in quoted string"},
        {R"("\x")", "Unexpected character after backslash in quoted string"},
        {R"("\u12")", "Expected 4 hexadecimal digits after \\u in quoted string"},
        {R"("\u12g4")", "Expected 4 hexadecimal digits after \\u in quoted string"},
        {R"("\u)", "Expected 4 hexadecimal digits after \\u in quoted string"},
        {R"("\ud83d\u12")", "Expected 4 hexadecimal digits after \\u in quoted string"},
    };
    for (const auto& [text, message] : cases)
    {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseErrorOf(text), std::string("Cannot parse JSON: ") + message);
    }
}

// The grammar allows a surrogate escape that is not half of a pair; it is kept in its generalised UTF-8 form,
// which the accessors refuse, and an escape after a lone leading one stands on its own.
TEST(ReaderStrings, ALoneSurrogateIsReadAndLeftToTheAccessorsToRefuse)
{
    EXPECT_EQ(parse(R"("\ud83d")").rawString(), "\xED\xA0\xBD");
    EXPECT_EQ(parse(R"("\ude00x")").rawString(), "\xED\xB8\x80x");
    EXPECT_EQ(parse(R"("\ud83d\u0041")").rawString(), "\xED\xA0\xBD" "A");
    EXPECT_EQ(parse(R"("\ud83d\ud83d\ude00")").rawString(), "\xED\xA0\xBD\xF0\x9F\x98\x80");
    EXPECT_EQ(parse(R"("\ud83d\n")").rawString(), "\xED\xA0\xBD\n");
    EXPECT_THROW(parse(R"("\ud83d")").getWString(), boost::locale::conv::conversion_error);
    EXPECT_THROW(parse(R"("\ud83d")").getString(), boost::locale::conv::conversion_error);
}

TEST(ReaderMemory, ATextWhoseValuesHoldMoreThanTheBudgetIsRejected)
{
    std::string small = "[";
    for (int i = 0; i < 1000; ++i)
        small += "[],";
    small += "]";
    EXPECT_EQ(json_spirit::parse(small, 1u << 20).getArray().size(), 1000u);
    EXPECT_THROW(json_spirit::parse(small, 100000), json_spirit::ParseError);
    const std::string members = R"({"a":{"b":"a string of some length","c":[1,2,3]}})";
    EXPECT_NO_THROW(json_spirit::parse(members, 2000));
    EXPECT_THROW(json_spirit::parse(members, 200), json_spirit::ParseError);

    // Read one element at a time, each within the budget, the same array passes a budget it did not whole.
    std::size_t count = 0;
    parseElements(small, 1000, [&](Value&) { ++count; });
    EXPECT_EQ(count, 1000u);
    const auto ignore = [](Value&) {};
    EXPECT_THROW(parseElements("[[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20]]", 1000, ignore), ParseError);
}

TEST(ReaderElements, AnArraysElementsAreHandedOverInTheirOrderAndOnlyAnArrayIsAccepted)
{
    std::vector<Value> seen;
    parseElements(R"( [1 [2] {"a":3},] )", 1000, [&](Value& element) { seen.push_back(element); });
    EXPECT_EQ(seen, (std::vector<Value>{Value(1u), Value(Array{Value(2u)}), Value(Object{{"a", Value(3u)}})}));
    const auto ignore = [](Value&) {};
    EXPECT_THROW(parseElements("{}", 1000, ignore), TypeError);
    EXPECT_THROW(parseElements("null", 1000, ignore), TypeError);
    EXPECT_THROW(parseElements("[1] 2", 1000, ignore), ParseError);
    EXPECT_THROW(parseElements("[1", 1000, ignore), ParseError);
    EXPECT_THROW(parseElements("", 1000, ignore), ParseError);
}

TEST(ReaderContainers, CommasAreOptionalAndOneTrailingCommaIsAccepted)
{
    EXPECT_EQ(parse("[1 2 3]"), Value(Array{Value(1u), Value(2u), Value(3u)}));
    EXPECT_EQ(parse("[1,]"), Value(Array{Value(1u)}));
    EXPECT_EQ(parse(" [ ] "), Value(Array{}));
    EXPECT_EQ(parse(R"({"a":1 "b":2})"), Value(Object{{"a", Value(1u)}, {"b", Value(2u)}}));
    EXPECT_EQ(parse("{a: true, _b2: null,}"), Value(Object{{"a", Value(true)}, {"_b2", Value()}}));
    EXPECT_EQ(parse(R"({"a":1,"a":[false]})"), Value(Object{{"a", Value(Array{Value(false)})}}));
    EXPECT_EQ(parse("\v\f{}\r\n"), Value(Object{}));
    EXPECT_EQ(parseErrorOf("[,1]"), "Cannot parse JSON: Expected closing ] at end of array");
    EXPECT_EQ(parseErrorOf("[1,,2]"), "Cannot parse JSON: Expected closing ] at end of array");
    EXPECT_EQ(parseErrorOf("[1"), "Cannot parse JSON: Expected closing ] at end of array");
    EXPECT_EQ(parseErrorOf(R"({"a":1)"), "Cannot parse JSON: Expected closing } at end of object");
    EXPECT_EQ(parseErrorOf(R"({,"a":1})"), "Cannot parse JSON: Expected closing } at end of object");
    EXPECT_EQ(parseErrorOf(R"({"a" 1})"), "Cannot parse JSON: Expected : after key name in object");
    EXPECT_EQ(parseErrorOf(R"({"a":})"), "Cannot parse JSON: Expected JSON result in object");
}

// Only null, true and false are values among bare words. An unknown word ends the elements of an array
// where it stands, so the array fails on the missing ]: an element is never dropped silently and a number
// is never cut short ("[1e3]" is not [1]).
TEST(ReaderBareWords, UnknownWordsInAnArrayFailOnTheMissingBracket)
{
    for (const char* text : {"[foo]", "[1, foo]", "[12abc]", "[1e3]", "[foo 1]"})
        EXPECT_EQ(parseErrorOf(text), "Cannot parse JSON: Expected closing ] at end of array") << text;
    EXPECT_EQ(parse("[null true false]"), Value(Array{Value(), Value(true), Value(false)}));
}

TEST(ReaderBareWords, UnknownWordIsNoValueElsewhere)
{
    EXPECT_EQ(parseErrorOf("nul"), "Cannot parse JSON: Expected JSON value");
    EXPECT_EQ(parseErrorOf("True"), "Cannot parse JSON: Expected JSON value");
    EXPECT_EQ(parseErrorOf("{a: foo}"), "Cannot parse JSON: Expected JSON result in object");
    EXPECT_EQ(parseErrorOf("nullx"), "Cannot parse JSON: Expected JSON value");
}

TEST(ReaderTopLevel, ExactlyOneValueSurroundedByWhitespace)
{
    EXPECT_EQ(parse(" null "), Value());
    EXPECT_EQ(parseErrorOf(""), "Cannot parse JSON: Expected JSON value");
    EXPECT_EQ(parseErrorOf(" \n\t"), "Cannot parse JSON: Expected JSON value");
    EXPECT_EQ(parseErrorOf("1 2"), "Cannot parse JSON: Unexpected character after JSON value");
    EXPECT_EQ(parseErrorOf("{} x"), "Cannot parse JSON: Unexpected character after JSON value");
    EXPECT_EQ(parseErrorOf(std::string("1\0", 2)),
              "Cannot parse JSON: Unexpected character after JSON value");
}

TEST(ReaderDepth, NestingIsLimitedTo512Levels)
{
    const auto nested = [](unsigned depth, const char* open, const char* close)
    {
        std::string text;
        for (unsigned i = 0; i < depth; ++i)
            text += open;
        text += "0";
        for (unsigned i = 0; i < depth; ++i)
            text += close;
        return text;
    };
    EXPECT_NO_THROW(parse(nested(maxNestingDepth, "[", "]")));
    EXPECT_NO_THROW(parse("[" + nested(maxNestingDepth - 1, "{a:", "}") + "]"));
    EXPECT_EQ(parseErrorOf(nested(maxNestingDepth + 1, "[", "]")),
              "Cannot parse JSON: Too deeply nested arrays or objects");
    EXPECT_EQ(parseErrorOf(nested(maxNestingDepth + 1, "{a:", "}")),
              "Cannot parse JSON: Too deeply nested arrays or objects");
    // Far deeper input fails the same way instead of exhausting the stack.
    EXPECT_EQ(parseErrorOf(std::string(1000000, '[')),
              "Cannot parse JSON: Too deeply nested arrays or objects");
}

TEST(ReaderMemberList, BraceLessLinesWithOptionalCommasAndBareKeys)
{
    EXPECT_EQ(parseMemberList(""), Value(Object{}));
    EXPECT_EQ(parseMemberList("\xEF\xBB\xBF\r\n\r\n"), Value(Object{}));
    EXPECT_EQ(parseMemberList("Server: \"https://a\"\nVersion: [1,13,0]\n"),
              Value(Object{{"Server", Value("https://a")},
                           {"Version", Value(Array{Value(1u), Value(13u), Value(0u)})}}));
    EXPECT_EQ(parseMemberList("\xEF\xBB\xBF\"Server\": \"x\",\r\nMustMonitorFolder: false,\r\n"),
              Value(Object{{"Server", Value("x")}, {"MustMonitorFolder", Value(false)}}));
    // Only a leading mark is skipped; "null" is an ordinary key here.
    EXPECT_EQ(parseMemberList("null: 1"), Value(Object{{"null", Value(1u)}}));
}

TEST(ReaderMemberList, ErrorsNameTheByteOffsetAfterTheMark)
{
    EXPECT_EQ(memberListErrorOf("{}"), "At position 0: Cannot parse JSON: Unexpected character");
    EXPECT_EQ(memberListErrorOf("\xEF\xBB\xBF  {}"),
              "At position 2: Cannot parse JSON: Unexpected character");
    EXPECT_EQ(memberListErrorOf("a: 1\nb 2\n"),
              "At position 7: Cannot parse JSON: Expected : after key name in object");
    EXPECT_EQ(memberListErrorOf("a: 1\nb: \n"),
              "At position 9: Cannot parse JSON: Expected JSON result in object");
    EXPECT_EQ(memberListErrorOf("a: \"x\\q\""),
              "At position 6: Cannot parse JSON: Unexpected character after backslash in quoted string");
    EXPECT_EQ(memberListErrorOf("a: [1 2 x"),
              "At position 8: Cannot parse JSON: Expected closing ] at end of array");
    EXPECT_EQ(memberListErrorOf("a: 1 2"), "At position 5: Cannot parse JSON: Unexpected character");
}

} // namespace
} // namespace json_spirit
