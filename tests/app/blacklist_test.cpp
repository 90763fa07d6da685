#include "app/Blacklist.h"

#include <gtest/gtest.h>

#include <regex>

TEST(BlacklistTest, ItemsMatchWholeNamesAsAlternativesAndBadItemsAreLeftOut)
{
    EXPECT_EQ(dwl::joinBlacklist({}), L"");
    EXPECT_EQ(dwl::joinBlacklist({L"[unclosed"}), L"");

    const std::wregex blacklist(dwl::joinBlacklist({L"~\\$.*", L"[unclosed", L"Thumbs\\.db|desktop\\.ini", L"(a"}));
    const struct
    {
        const wchar_t* name;
        bool listed;
    } names[] = {{L"~$report.docx", true}, {L"Thumbs.db", true},   {L"desktop.ini", true},
                 {L"xThumbs.db", false},   {L"Thumbs.dbx", false}, {L"report~$.docx", false},
                 {L"[unclosed", false},    {L"(a", false}};
    for (const auto& name : names)
        EXPECT_EQ(std::regex_match(name.name, blacklist), name.listed);
}
