// A second name (hard link) of a synchronised document, in another Share or in the same one, leaves the
// document where it is on the server and on the other Device; the second name is left alone and reported
// once, also across a rename of the document's own name and a new version of it from the server.

#include "EndToEndFixture.h"

#include <unistd.h>

namespace enginetest
{
namespace
{
TEST_F(EndToEndTest, HardLinksOfADocumentAreLeftAloneAndReportedOnce)
{
    startBoth();
    writeFile(one / "Team/doc.txt", "in Team");
    writeFile(one / "Other/note.txt", "in Other");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/doc.txt", "in Team"); }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Other/note.txt", "in Other"); }));

    // Shares are compared in the order of their folders' local ids: one link goes into a later Share, the
    // other into an earlier one, and a third name of doc.txt, which sorts after it, lies beside it.
    const std::vector<std::pair<std::string, std::string>> links{{"Team/doc.txt", "Other/doc-link.txt"},
                                                                 {"Other/note.txt", "Team/note-link.txt"},
                                                                 {"Team/doc.txt", "Team/z.txt"}};
    for (const auto& [target, link] : links)
        ASSERT_EQ(::link((one / target).c_str(), (one / link).c_str()), 0) << link;
    // Two later snapshots, the second after the first had reached the other Device.
    for (const std::string name : {"Team/after.txt", "Other/after.txt"})
    {
        writeFile(one / name, "after");
        ASSERT_TRUE(waitUntil([&] { return hasContent(two / name, "after"); })) << name;
    }
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"after.txt", L"doc.txt"}));
    EXPECT_EQ(serverNames(L"Other"), (std::vector<std::wstring>{L"after.txt", L"note.txt"}));
    EXPECT_EQ(listing(two / "Team"), (std::vector<std::string>{"after.txt", "doc.txt"}));
    EXPECT_EQ(listing(two / "Other"), (std::vector<std::string>{"after.txt", "note.txt"}));
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets/[^/]+"), 0u); // no rename, no move
    std::vector<std::wstring> reported;
    EXPECT_EQ(one.engine->reports.count("onDocumentCreationFailed"), 0u);
    for (const std::wstring& path : one.engine->reports.details("onOtherName"))
        reported.push_back(path.substr(one.folder.wstring().size() + 1));
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, (std::vector<std::wstring>{L"Other/doc-link.txt", L"Team/note-link.txt", L"Team/z.txt"}));
}

TEST_F(EndToEndTest, AnOtherNameStaysOneAcrossARenameOfTheDocumentAndANewServerVersion)
{
    startBoth();
    writeFile(one / "Team/doc.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/doc.txt", "first"); }));
    ASSERT_EQ(::link((one / "Team/doc.txt").c_str(), (one / "Team/z.txt").c_str()), 0);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onOtherName") == 1; }));

    // The user renames the document's own name to one that a scan meets after the other name.
    std::filesystem::rename(one / "Team/doc.txt", one / "Team/zz.txt");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/zz.txt", "first"); }));
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"zz.txt"});

    // A new version replaces zz.txt; z.txt keeps the old content and stays another name, also after a restart.
    writeFile(two / "Team/zz.txt", "second, from two");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/zz.txt", "second, from two"); }));
    stop(one);
    start(one);
    writeFile(one / "Team/marker.txt", "marker");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/marker.txt", "marker"); }));
    EXPECT_TRUE(hasContent(one / "Team/z.txt", "first"));
    EXPECT_FALSE(trashHolds("first")); // its other name keeps it; a hidden copy restored from the trash would never sync
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"marker.txt", L"zz.txt"}));
    EXPECT_EQ(listing(two / "Team"), (std::vector<std::string>{"marker.txt", "zz.txt"}));
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
}
} // namespace
} // namespace enginetest
