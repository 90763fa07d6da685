#include "JsonTestSupport.h"
#include "json_spirit/Writer.h"

#include <gtest/gtest.h>

#include <boost/locale/encoding_errors.hpp>

#include <sstream>

namespace json_spirit
{
namespace
{

std::string narrowString(std::string_view utf8)
{
    std::ostringstream out;
    writeString(out, utf8);
    return out.str();
}

std::string narrowString(const std::wstring& utf16)
{
    std::ostringstream out;
    writeString(out, utf16.data(), utf16.data() + utf16.size());
    return out.str();
}

std::wstring written(const Value& value)
{
    std::wostringstream out;
    write(out, value);
    return out.str();
}

TEST(WriterEscaping, ControlCharactersQuotesAndBackslashesAreEscaped)
{
    EXPECT_EQ(narrowString(""), "\"\"");
    EXPECT_EQ(narrowString(std::string_view("\t\"\\\x01\b\f\n\r\x1F\0", 10)),
              R"("\t\"\\\u0001\b\f\n\r\u001f\u0000")");
    EXPECT_EQ(narrowString("/\x7F~"), "\"/\x7F~\"");
    EXPECT_EQ(narrowString(L"\t\"\\\x01/\x7F"), R"("\t\"\\\u0001/)"
                                                "\x7F\"");
}

TEST(WriterEscaping, TheThreeInputFormsGiveTheSameUtf8)
{
    const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring utf16 = L"a\xE9\x20AC\xD83D\xDE00";
    EXPECT_EQ(narrowString(utf8), "\"" + utf8 + "\"");
    EXPECT_EQ(narrowString(utf16), "\"" + utf8 + "\"");
    std::ostringstream pointers;
    writeString(pointers, utf8.data(), utf8.data() + utf8.size());
    EXPECT_EQ(pointers.str(), "\"" + utf8 + "\"");
}

TEST(WriterEscaping, MalformedInputThrowsConversionFailed)
{
    const std::string badUtf8[] = {"\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\x80", "abc\xE2\x82"};
    for (const std::string& bytes : badUtf8)
        EXPECT_THROW(narrowString(bytes), boost::locale::conv::conversion_error);
    const std::wstring badUtf16[] = {L"\xD83D", L"a\xDE00", L"\xD83Dx", L"\xDE00\xD83D"};
    for (const std::wstring& units : badUtf16)
        EXPECT_THROW(narrowString(units), boost::locale::conv::conversion_error);
    EXPECT_THROW(written(Value("\xFF")), boost::locale::conv::conversion_error);
}

TEST(WriterEscaping, BlocksHandedOverBeforeAFaultStayInTheStream)
{
    // A long valid prefix fills several blocks before the lone surrogate at the end is met.
    const std::wstring text = std::wstring(1000, L'x') + L"\xD800";
    std::ostringstream out;
    EXPECT_THROW(writeString(out, text.data(), text.data() + text.size()),
                 boost::locale::conv::conversion_error);
    EXPECT_GT(out.str().size(), 500u);
    EXPECT_EQ(out.str().substr(0, 4), "\"xxx");
}

TEST(WriterValues, ScalarsAreWrittenInTheirFixedForms)
{
    EXPECT_EQ(written(Value()), L"null");
    EXPECT_EQ(written(Value(true)), L"true");
    EXPECT_EQ(written(Value(false)), L"false");
    EXPECT_EQ(written(Value(std::uint64_t{18446744073709551615u})), L"18446744073709551615");
    EXPECT_EQ(written(Value(-1)), L"-1");
    EXPECT_EQ(written(Value(std::numeric_limits<std::int64_t>::min())), L"-9223372036854775808");
    EXPECT_EQ(written(Value(0.1)), L"0.10000000000000001");
    EXPECT_EQ(written(Value(1.0)), L"1.0000000000000000");
    EXPECT_EQ(written(Value(1e300)), L"1.0000000000000001e+300");
    EXPECT_EQ(written(Value("\xF0\x9F\x98\x80\n")), L"\"\xD83D\xDE00\\n\"");
}

TEST(WriterValues, NumbersIgnoreTheStreamsFormatting)
{
    std::wostringstream out;
    out << std::hex << std::showbase;
    out.width(10);
    write(out, Value(Array{Value(255u), Value(-255)}));
    EXPECT_EQ(out.str(), L"[255,-255]");
}

TEST(WriterValues, ContainersAreCompact)
{
    EXPECT_EQ(written(Value(Array{})), L"[]");
    EXPECT_EQ(written(Value(Object{})), L"{}");
    EXPECT_EQ(written(Value(Array{Value(1u), Value(Array{Value()}), Value(Object{{"k", Value("v")}})})),
              L"[1,[null],{\"k\":\"v\"}]");
    EXPECT_EQ(written(Value(Object{{"a\"b", Value(Object{})}})), L"{\"a\\\"b\":{}}");
}

TEST(StreamingWriter, CompactObjectWithNestedContainers)
{
    std::ostringstream out;
    {
        ObjectWriter body(out);
        body.writeKey("type");
        writeString(out, "FOLDER");
        body.writeKey("parent");
        {
            ObjectWriter parent = body.openObject();
            parent.writeKey("uuid");
            parent.stream() << "\"0000-0001\"";
        }
        body.writeKey("names");
        body.openArray().writeStrings({L"a", L"\xE9"});
        body.writeKey("none");
        body.openArray().writeStrings({});
    }
    EXPECT_EQ(out.str(),
              "{\"type\":\"FOLDER\",\"parent\":{\"uuid\":\"0000-0001\"},\"names\":[\"a\",\"\xC3\xA9\"],"
              "\"none\":[]}");
}

TEST(StreamingWriter, CloseWritesTheBracketOnce)
{
    std::ostringstream out;
    ObjectWriter object(out);
    object.close();
    object.close();
    ArrayWriter array(out);
    array.close();
    array.close();
    EXPECT_EQ(out.str(), "{}[]");
}

TEST(StreamingWriter, PrettyLayoutIndentsMembersByDepth)
{
    std::ostringstream out;
    {
        ObjectWriter outer(out, 0, prettyLayout);
        outer.writeKey("a");
        out << 1;
        outer.writeKey("inner");
        ObjectWriter inner = outer.openObject();
        EXPECT_EQ(inner.depth(), 1u);
        inner.writeKey("list");
        inner.openArray().writeStrings({L"x", L"y"});
        inner.writeKey("empty");
        ObjectWriter(out, 2, prettyLayout).close();
    }
    EXPECT_EQ(out.str(),
              "{\n\t\"a\": 1,\n\t\"inner\": {\n\t\t\"list\": [\"x\", \"y\"],\n\t\t\"empty\": {}\n\t}\n}");
}

} // namespace
} // namespace json_spirit
