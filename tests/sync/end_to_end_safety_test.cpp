// What the user saves while the engine brings the server's changes in is never lost: a save made during a
// download survives it, and a server deletion keeps what the server has not seen.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
const std::string kContents = "/rest/shares/[^/]+/assets/[^/]+/contents/latest";

TEST_F(EndToEndTest, ASaveMadeWhileADownloadRunsSurvivesAndReachesTheServerAsANewerVersion)
{
    startBoth();
    for (const bool byRename : {false, true})
    {
        const std::string name = byRename ? "renamed.txt" : "in-place.txt";
        writeFile(two / ("Team/" + name), "first");
        ASSERT_TRUE(waitUntil([&] { return hasContent(one / ("Team/" + name), "first"); }));

        // The next download stops half-way, while the hidden download file grows beside the document.
        fake::FaultRule hold = fake::FaultRule::of(fake::FaultKind::HoldMidBody, "GET", kContents);
        server.addFault(hold);
        const std::string serverVersion = "from two: " + std::string(64 * 1024, 's');
        writeFile(two / ("Team/" + name), serverVersion);
        ASSERT_TRUE(server.waitForStalled(1, std::chrono::seconds(30)));

        const std::string saved = "saved on one while the download ran";
        if (byRename)
        {
            writeFile(one / "Team/save.tmp", saved);
            std::filesystem::rename(one / "Team/save.tmp", one / ("Team/" + name));
        }
        else
            writeFile(one / ("Team/" + name), saved);
        server.releaseStalls();

        ASSERT_TRUE(
            waitUntil([&] { return serverContent(L"Team", qcl::string::utf8ToUtf16(name)) == saved; }));
        ASSERT_TRUE(waitUntil([&] { return hasContent(two / ("Team/" + name), saved); }));
        EXPECT_TRUE(hasContent(one / ("Team/" + name), saved));
        // The version that lost locally stays in the server's history.
        const auto document = serverAsset(L"Team", qcl::string::utf8ToUtf16(name));
        ASSERT_TRUE(document);
        EXPECT_EQ(server.content(idText(document->assetId), document->contentVersion - 1), serverVersion);
    }
    EXPECT_TRUE(settlesTo(one / "Team", {"in-place.txt", "renamed.txt"}));
}

TEST_F(EndToEndTest, AServerDeletionKeepsAnEditedDocumentAndFilesTheServerHasNotSeen)
{
    startBoth();
    writeFile(two / "Team/edited.txt", "v1");
    writeFile(two / "Team/unchanged.txt", "same");
    writeFile(two / "Team/Folder/known.txt", "known");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/Folder/known.txt", "known"); }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/unchanged.txt", "same"); }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/edited.txt", "v1"); }));

    // One's next message request waits while the server deletes and one's user edits: the deletions meet
    // changes that no snapshot has reported.
    server.addFault(
        fake::FaultRule::of(fake::FaultKind::Stall, "GET",
                            "/rest/users/[^/]+/devices/" + idText(one.engine->deviceId()) + "/messages"));
    ASSERT_TRUE(server.waitForStalled(1, std::chrono::seconds(30)));
    const auto share = serverShare(L"Team");
    for (const wchar_t* path : {L"edited.txt", L"unchanged.txt", L"Folder"})
        probe.removeAsset({share->shareId, serverAsset(L"Team", path)->assetId});
    writeFile(one / "Team/edited.txt", "v2, edited on one");
    writeFile(one / "Team/Folder/new.txt", "new on one");
    server.releaseStalls();

    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"edited.txt") == "v2, edited on one"; }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"Folder/new.txt") == "new on one"; }));
    EXPECT_TRUE(settlesTo(one / "Team", {"Folder", "edited.txt"}));
    EXPECT_EQ(listing(one / "Team/Folder"), std::vector<std::string>{"new.txt"});
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/Folder/new.txt", "new on one"); }));
    const auto trashed = listing(dataHome() / "Trash/files");
    for (const char* name : {"known.txt", "unchanged.txt"})
        EXPECT_NE(std::find(trashed.begin(), trashed.end(), name), trashed.end()) << name;
}
} // namespace
} // namespace enginetest
