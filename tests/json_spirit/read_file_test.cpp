#include "JsonTestSupport.h"
#include "json_spirit/Reader.h"

#include "../support/ScratchFolder.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include <gtest/gtest.h>

namespace json_spirit
{
namespace
{

std::wstring widePath(const std::string& native)
{
    return qcl::string::utf8ToUtf16(native);
}

TEST(ReadFile, ReadsTheMemberListOfAConfigurationFile)
{
    test::ScratchFolder folder;
    const std::string content = "\xEF\xBB\xBF"
                                "Version: [1,13,0]\r\n"
                                "\"WayfoldFolderLocation\": \"/home/\xC3\xA9l\xC3\xA8ve\"\r\n"
                                "DocumentBlackList: [\"*.tmp\", \"~*\"]\r\n";
    const Value configuration = readFile(widePath(folder.writeFile("Configuration", content)));
    EXPECT_EQ(configuration["Version"][1].getUInt(), 13u);
    EXPECT_EQ(configuration["WayfoldFolderLocation"].getWString(), L"/home/\xE9l\xE8ve");
    EXPECT_EQ(configuration["DocumentBlackList"].getWStringArray(),
              (std::vector<std::wstring>{L"*.tmp", L"~*"}));
    EXPECT_TRUE(configuration["Proxy"].isNull());
}

TEST(ReadFile, ContentLongerThanOneChunkIsReadWhole)
{
    test::ScratchFolder folder;
    std::string content;
    for (int i = 0; i < 1000; ++i)
        content += "key" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    const Value members = readFile(widePath(folder.writeFile("Servers.json", content)));
    EXPECT_EQ(members.getObject().size(), 1000u);
    EXPECT_EQ(members["key999"].getUInt(), 999u);
}

TEST(ReadFile, EmptyFileGivesAnEmptyObject)
{
    test::ScratchFolder folder;
    EXPECT_EQ(readFile(widePath(folder.writeFile("empty", ""))), Value(Object{}));
}

TEST(ReadFile, MissingFileThrowsSystemErrorWithTheWindowsCode)
{
    test::ScratchFolder folder;
    try
    {
        readFile(widePath(folder / "missing"));
        FAIL();
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.code().value(), 2);
        EXPECT_NE(error.message().find(L"missing"), std::wstring::npos);
    }
}

TEST(ReadFile, ParseErrorsCarryTheirPosition)
{
    test::ScratchFolder folder;
    EXPECT_EQ(
        errorText<ParseError>([&] { readFile(widePath(folder.writeFile("bad", "\xEF\xBB\xBF{\"a\": 1}"))); }),
        "At position 0: Cannot parse JSON: Unexpected character");
}

} // namespace
} // namespace json_spirit
