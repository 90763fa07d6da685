// Renames, moves, editor-style saves and deletions made on one Device reach the server and the other Device.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

class ChangesTest : public EndToEndTest
{
protected:
    // Both Devices hold Team/a.txt ("alpha") and Team/Sub/ (with s.txt).
    void SetUp() override
    {
        startBoth();
        writeFile(one / "Team/a.txt", "alpha");
        writeFile(one / "Team/Sub/s.txt", "sub");
        ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "alpha"); }));
        ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/Sub/s.txt", "sub"); }));
        documentId = serverAsset(L"Team", L"a.txt")->assetId;
        folderId = serverAsset(L"Team", L"Sub")->assetId;
    }

    qcl::uint128 documentId;
    qcl::uint128 folderId;
};

TEST_F(ChangesTest, EditorSaveThroughANewFileKeepsTheDocument)
{
    writeFile(one / "Team/a.txt.new", "alpha, saved");
    fs::rename(one / "Team/a.txt.new", one / "Team/a.txt");

    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "alpha, saved"); }));
    EXPECT_EQ(serverAsset(L"Team", L"a.txt")->assetId, documentId);
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"Sub", L"a.txt"}));
}

TEST_F(ChangesTest, RenamesOfFilesFoldersAndSharesKeepTheirAssets)
{
    fs::rename(one / "Team/a.txt", one / "Team/b.txt");
    fs::rename(one / "Team/Sub", one / "Team/Sub2");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Team/b.txt") && exists(two / "Team/Sub2/s.txt"); }));

    fs::rename(one / "Team/b.txt", one / "Team/B.txt"); // only the letter case differs
    fs::rename(one / "Team", one / "Crew");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Crew/B.txt", "alpha"); }));

    EXPECT_EQ(serverAsset(L"Crew", L"B.txt")->assetId, documentId);
    EXPECT_EQ(serverAsset(L"Crew", L"Sub2")->assetId, folderId);
    EXPECT_EQ(listing(two.folder), std::vector<std::string>{"Crew"});
    EXPECT_EQ(listing(two / "Crew"), (std::vector<std::string>{"B.txt", "Sub2"}));
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
}

TEST_F(ChangesTest, MovesInsideAShareKeepTheAssetAndMovesAcrossSharesMakeANewOne)
{
    fs::rename(one / "Team/a.txt", one / "Team/Sub/a.txt");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/Sub/a.txt", "alpha"); }));
    EXPECT_FALSE(exists(two / "Team/a.txt"));
    EXPECT_EQ(serverAsset(L"Team", L"Sub/a.txt")->assetId, documentId);

    fs::rename(one / "Team/Sub/a.txt", one / "Team/c.txt"); // moved and renamed at once
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/c.txt", "alpha"); }));
    EXPECT_FALSE(exists(two / "Team/Sub/a.txt"));
    EXPECT_EQ(serverAsset(L"Team", L"c.txt")->assetId, documentId);

    fs::create_directories(one / "Other");
    ASSERT_TRUE(waitUntil([&] { return serverShare(L"Other").has_value(); }));
    fs::rename(one / "Team/c.txt", one / "Other/c.txt");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Other/c.txt", "alpha"); }));
    ASSERT_TRUE(waitUntil([&] { return !exists(two / "Team/c.txt"); }));
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"Sub"});
    EXPECT_EQ(serverContent(L"Other", L"c.txt"), "alpha");
    EXPECT_NE(serverAsset(L"Other", L"c.txt")->assetId, documentId);
}

TEST_F(ChangesTest, LocalDeletionsRemoveAssetsChildrenFirstAndTheOtherDeviceTrashesThem)
{
    writeFile(one / "Team/Sub/Deeper/d.txt", "deep");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/Sub/Deeper/d.txt", "deep"); }));
    server.clearRequests();

    fs::remove(one / "Team/a.txt");
    fs::remove_all(one / "Team/Sub");
    ASSERT_TRUE(waitUntil([&] { return listing(two / "Team").empty(); }));
    EXPECT_TRUE(serverNames(L"Team").empty());

    // Children before their folders.
    std::vector<std::string> deleted;
    for (const auto& request : server.requests("/rest/"))
        if (request.method == "DELETE")
            deleted.push_back(request.path);
    ASSERT_EQ(deleted.size(), 5u);
    EXPECT_NE(deleted.back().find(idText(folderId)), std::string::npos);

    // The other Device's copies went to the trash, not away for good.
    const auto trash = listing(dataHome() / "Trash/files");
    EXPECT_NE(std::find(trash.begin(), trash.end(), "a.txt"), trash.end());
    EXPECT_NE(std::find(trash.begin(), trash.end(), "Sub"), trash.end());
}

TEST_F(ChangesTest, RemovingATopLevelFolderDeletesAnOwnedShareAndLeavesAnotherUsersShare)
{
    const auto bobs = server.createShare(kOtherEmail, "Bobs");
    server.addParticipant(bobs.shareId, kEmail);
    server.accept(bobs.shareId, kEmail);
    ASSERT_TRUE(waitUntil([&] { return exists(one / "Bobs") && exists(two / "Bobs"); }));

    fs::create_directories(one / "Keep");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Keep"); }));
    fs::remove_all(one / "Bobs");
    fs::remove_all(one / "Team");
    ASSERT_TRUE(waitUntil([&] { return listing(two.folder) == std::vector<std::string>{"Keep"}; }));
    EXPECT_FALSE(serverShare(L"Team").has_value());
    EXPECT_FALSE(serverShare(L"Bobs").has_value());
    // Bob still has his Share.
    EXPECT_TRUE(server.asset(bobs.rootId).has_value());
}
TEST_F(ChangesTest, AFolderThatLostEveryShareIsNotTakenForTheirDeletion)
{
    fs::remove_all(one / "Team");
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));
    // Two later server checks prove that the snapshot was handled (and held back) before them.
    server.clearRequests();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") >= 2; }));
    stop(one);

    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    EXPECT_TRUE(serverShare(L"Team").has_value());
    EXPECT_TRUE(exists(two / "Team/a.txt"));
}
} // namespace
} // namespace enginetest
