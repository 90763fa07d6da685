// Concurrent edits, edits made while the program was stopped, and restarts with messages waiting.

#include "EndToEndFixture.h"

#include "sync/Serializer.h"

#include <set>

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

class RestartTest : public EndToEndTest
{
protected:
    void SetUp() override
    {
        startBoth();
        writeFile(one / "Team/a.txt", "start");
        ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "start"); }));
    }

    bool converged(const std::string& content)
    {
        return hasContent(one / "Team/a.txt", content) && hasContent(two / "Team/a.txt", content) &&
               serverContent(L"Team", L"a.txt") == content;
    }
};

TEST_F(RestartTest, EditsOnBothDevicesConvergeOnTheLastOneTheServerTook)
{
    writeFile(one / "Team/a.txt", "one first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "one first"); }));
    writeFile(two / "Team/a.txt", "then two");
    ASSERT_TRUE(waitUntil([&] { return converged("then two"); }));

    // At about the same time: whichever the server took last wins on both.
    writeFile(one / "Team/a.txt", "race from one");
    writeFile(two / "Team/a.txt", "race from two");
    ASSERT_TRUE(waitUntil(
        [&]
        {
            const auto server = serverContent(L"Team", L"a.txt");
            return server && serverAsset(L"Team", L"a.txt")->contentVersion >= 5 && converged(*server);
        }));
    EXPECT_TRUE(settlesTo(one / "Team", {"a.txt"})) << testing::PrintToString(listing(one / "Team"));
    EXPECT_TRUE(settlesTo(two / "Team", {"a.txt"})) << testing::PrintToString(listing(two / "Team"));
}

TEST_F(RestartTest, AnEditMadeWhileStoppedSurvivesTheOtherDevicesEditAndReachesTheServer)
{
    stop(two);
    writeFile(one / "Team/a.txt", "from one");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == "from one"; }));
    writeFile(two / "Team/a.txt", "from two, offline");

    start(two);
    ASSERT_TRUE(waitUntil([&] { return converged("from two, offline"); }));
    // The server keeps the other edit in its history.
    const auto document = serverAsset(L"Team", L"a.txt");
    EXPECT_EQ(server.content(idText(document->assetId), document->contentVersion - 1), "from one");
}

TEST_F(RestartTest, DocumentsOfOneNameMadeOnTwoStoppedDevicesAreBothKept)
{
    stop(one);
    stop(two);
    writeFile(one / "Team/Notes.txt", "from one");
    writeFile(two / "Team/Notes.txt", "from two");
    start(two);
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"Notes.txt") == "from two"; }));

    // The other Device never sent a creation of its own, so the server's document is not its to take.
    start(one);
    auto contents = [&](const Device& device)
    {
        std::multiset<std::string> found;
        for (const auto& name : listing(device / "Team"))
            if (name.starts_with("Notes"))
                found.insert(readFile(device / "Team" / name).value_or(""));
        return found;
    };
    const std::multiset<std::string> both{"from one", "from two"};
    ASSERT_TRUE(waitUntil([&] { return contents(one) == both && contents(two) == both; }))
        << testing::PrintToString(listing(one / "Team")) << testing::PrintToString(listing(two / "Team"));
    std::multiset<std::string> onServer;
    for (const auto& child : probe.getChildren({serverShare(L"Team")->shareId, serverShare(L"Team")->rootId}))
        if (child.name == L"Notes.txt")
            onServer.insert(server.content(idText(child.assetId), child.contentVersion).value_or(""));
    EXPECT_EQ(onServer, both);
}

TEST_F(RestartTest, ALocalRenameAndAServerRenameOfOneItemEndInTheSameNameEverywhere)
{
    stop(one);
    fs::rename(one / "Team/a.txt", one / "Team/local.txt");
    const auto document = serverAsset(L"Team", L"a.txt");
    probe.renameDocument({document->shareId, document->assetId}, L"server.txt");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Team/server.txt"); }));

    start(one);
    ASSERT_TRUE(waitUntil(
        [&]
        {
            const auto names = serverNames(L"Team");
            return names.size() == 1 &&
                   listing(one / "Team") == std::vector<std::string>{qcl::string::utf16ToUtf8(names[0])} &&
                   listing(two / "Team") == listing(one / "Team");
        }));
    EXPECT_EQ(serverAsset(L"Team", serverNames(L"Team")[0])->assetId, document->assetId);
    EXPECT_TRUE(hasContent(two / "Team" / listing(two / "Team")[0], "start"));
}

TEST_F(RestartTest, MessagesWaitingAtStartAreAppliedOnceAndAgainWithoutEffect)
{
    stop(two);
    server.clearRequests();
    writeFile(one / "Team/New/n.txt", "new");
    writeFile(one / "Team/a.txt", "edited");
    fs::create_directories(one / "Team/Old");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"New/n.txt") == "new"; }));
    fs::rename(one / "Team/Old", one / "Team/Renamed");
    ASSERT_TRUE(waitUntil([&] { return serverAsset(L"Team", L"Renamed").has_value(); }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == "edited"; }));

    start(two);
    ASSERT_TRUE(waitUntil(
        [&]
        {
            return hasContent(two / "Team/New/n.txt", "new") && hasContent(two / "Team/a.txt", "edited") &&
                   exists(two / "Team/Renamed") && !exists(two / "Team/Old");
        }));
    ASSERT_TRUE(waitUntil(
        [&] { return two.engine->nextServerMessageNumber() == one.engine->nextServerMessageNumber(); }));
    const std::uint64_t applied = two.engine->nextServerMessageNumber();
    stop(two);

    // The same messages once more, as after a crash before the number was stored.
    {
        dwl::Serializer data;
        data.open(compat::fileNameToUtf16(two.dataFile.string()));
        data.setNextServerMessageNumber(0);
    }
    start(two);
    ASSERT_TRUE(waitUntil([&] { return two.engine->nextServerMessageNumber() == applied; }));
    stop(two);
    EXPECT_EQ(listing(two / "Team"), (std::vector<std::string>{"New", "Renamed", "a.txt"}));
    EXPECT_TRUE(hasContent(two / "Team/a.txt", "edited"));
    EXPECT_EQ(requestCount("GET", ".*/contents/latest"), 2u); // n.txt and a.txt, downloaded once each
}
} // namespace
} // namespace enginetest
