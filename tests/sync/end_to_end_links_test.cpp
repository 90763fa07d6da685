// A second name (hard link) of a synchronised document, in another Share or in the same one, leaves the
// document where it is on the server and on the other Device; the second name is left alone and reported
// once.

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
} // namespace
} // namespace enginetest
