#include "JsonTestSupport.h"
#include "json_spirit/Reader.h"
#include "json_spirit/Writer.h"

#include "qcl/String.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace json_spirit
{
namespace
{

Value reparsed(const Value& value)
{
    std::wostringstream out;
    write(out, value);
    return parse(qcl::string::utf16ToUtf8(out.str()));
}

// Every code point class that escaping treats differently: controls, quote, backslash, slash, DEL, two- and
// three-byte characters and a surrogate pair.
std::string awkwardText()
{
    std::string text;
    for (char c = 0; c < 0x7F; ++c)
        text += c;
    return text + "\x7F\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
}

TEST(RoundTrip, WrittenValuesReadBackEqual)
{
    const std::string documents[] = {
        R"({"uuid":"0123-4567-89ab-cdef-fedc-ba98-7654-3210","size":18446744073709551615,"delta":-9223372036854775808,)"
        R"("names":["a","\u00e9","\ud83d\ude00"],"nested":{"empty":{},"list":[[],[null,true,false]]}})",
        R"([0,-1,"\"\\\/\b\f\n\r\t\u0001"])",
        "\"\"",
    };
    for (const std::string& text : documents)
    {
        SCOPED_TRACE(text);
        const Value value = parse(text);
        EXPECT_EQ(reparsed(value), value);
    }
    const Value awkward(Object{{awkwardText(), Value(awkwardText())}});
    EXPECT_EQ(reparsed(awkward), awkward);
}

// nlohmann-json is an independent reader and writer: our strings must mean the same to it, both ways.
TEST(RoundTrip, StringsAgreeWithAnIndependentImplementation)
{
    const std::string text = awkwardText();

    std::ostringstream ours;
    writeString(ours, text);
    EXPECT_EQ(nlohmann::json::parse(ours.str()).get<std::string>(), text);

    const std::wstring wide = qcl::string::utf8ToUtf16(text);
    std::ostringstream oursFromWide;
    writeString(oursFromWide, wide.data(), wide.data() + wide.size());
    EXPECT_EQ(oursFromWide.str(), ours.str());

    for (const bool asciiOnly : {false, true})
    {
        const std::string theirs = nlohmann::json(text).dump(-1, ' ', asciiOnly);
        EXPECT_EQ(parse(theirs).getString(), text);
    }
}

TEST(RoundTrip, StreamingWriterOutputIsValidJson)
{
    std::ostringstream out;
    {
        ObjectWriter body(out);
        body.writeKey("name");
        writeString(out, "a \"quoted\" name\n");
        body.writeKey("list");
        body.openArray().writeStrings({L"x", L"\xD83D\xDE00"});
        body.writeKey("parent");
        ObjectWriter parent = body.openObject();
        parent.writeKey("uuid");
        writeString(out, "1");
    }
    const nlohmann::json theirs = nlohmann::json::parse(out.str());
    EXPECT_EQ(theirs["name"], "a \"quoted\" name\n");
    EXPECT_EQ(theirs["list"][1], "\xF0\x9F\x98\x80");
    EXPECT_EQ(parse(out.str())["parent"]["uuid"].getString(), "1");
}

} // namespace
} // namespace json_spirit
