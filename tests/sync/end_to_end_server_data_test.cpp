// What the server says is taken as far as it can be used, and never ends the engine: an item whose name
// cannot be used here is left out and reported once (past a few in one listing, in one summary), an answer
// that cannot be read is waited out, and a deletion the engine never heard of (while its Device was unknown
// to the server) is still applied.

#include "EndToEndFixture.h"

#include <cstdio>

namespace enginetest
{
namespace
{
// Every GET of the path gets this body.
void answerAlways(fake::FakeWayfoldServer& server, const std::string& path, const std::string& body)
{
    auto rule = fake::FaultRule::of(fake::FaultKind::Body, "GET", path);
    rule.body = body;
    rule.times = -1;
    server.addFault(rule);
}

std::string shareJson(const fake::IdPairText& share, const std::string& nameJson)
{
    return R"({"uuid":")" + share.shareId + R"(","root":{"uuid":")" + share.rootId + R"(","name":)" + nameJson +
           "}}";
}

TEST_F(EndToEndTest, ServerNamesThatCannotBeUsedHereAreLeftOutAndEverythingElseIsSynchronised)
{
    const auto team = server.createShare(kEmail, "Team");
    const auto odd = server.createShare(kEmail, "Odd");
    const std::string doc = server.createAsset(team.shareId, team.rootId, false, "doc", "txt");
    server.putContent(doc, "content");
    // A Share named with a lone surrogate, as a name typed on another platform may be, and a document whose
    // name is a number.
    const std::string oddJson = shareJson(odd, R"("Odd\ud800")");
    answerAlways(server, "/rest/shares", "[" + shareJson(team, R"("Team")") + "," + oddJson + "]");
    answerAlways(server, "/rest/shares/" + odd.shareId, oddJson);
    answerAlways(server, "/rest/shares/" + team.shareId + "/assets/children",
                 R"([{"uuid":")" + doc + R"(","type":"DOCUMENT","name":"doc","extension":"txt","contentVersion":1},)" +
                     R"({"uuid":"0000-0000-0000-0000-0000-0000-0000-0042","type":"DOCUMENT","name":42}])");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "content"); }));
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 2; }));
    EXPECT_EQ(listing(one.folder), std::vector<std::string>{"Team"});
    EXPECT_EQ(listing(one / "Team"), std::vector<std::string>{"doc.txt"});
    EXPECT_EQ(one.engine->reports.details("onFolderDownloadFailed"),
              std::vector<std::wstring>{L"Odd\xFFFD\xFFFD\xFFFD"});
    EXPECT_EQ(one.engine->reports.details("onDocumentDownloadFailed"),
              std::vector<std::wstring>{L"0000-0000-0000-0000-0000-0000-0000-0042"});

    // An answer that cannot be read is a fault of the server, waited out like an outage.
    auto malformed = fake::FaultRule::of(fake::FaultKind::Body, "GET", ".*/messages");
    malformed.body = R"({"synchEvents":[{"id":)";
    malformed.times = 2;
    server.addFault(malformed);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onServerUnavailable") == 1; }));
    // Only now: a poll already in flight when the fault came would bring the new version past it.
    server.putContent(doc, "second");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "second"); }));
    EXPECT_EQ(one.engine->reports.count("onServerUnavailable"), 1u);
}

TEST_F(EndToEndTest, TwentyThousandItemsThatCannotBeUsedHereAreToldAFewByNameAndTheRestInOneSummary)
{
    const auto team = server.createShare(kEmail, "Team");
    const std::string doc = server.createAsset(team.shareId, team.rootId, false, "doc", "txt");
    server.putContent(doc, "content");
    // A hostile server's listing: as many documents with names that cannot be used here, each another one.
    std::string children =
        R"([{"uuid":")" + doc + R"(","type":"DOCUMENT","name":"doc","extension":"txt","contentVersion":1})";
    for (int i = 0; i < 20000; ++i)
    {
        char id[40];
        std::snprintf(id, sizeof id, "0000-0000-0000-0000-0000-0000-%04x-%04x", i >> 16, i & 0xFFFF);
        children += R"(,{"uuid":")" + std::string(id) + R"(","type":"DOCUMENT","name":"Odd )" +
                    std::to_string(i) + R"(\ud800","contentVersion":1})";
    }
    answerAlways(server, "/rest/shares/" + team.shareId + "/assets/children", children + "]");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "content"); }));
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 2; }));
    const auto reported = one.engine->reports.details("onDocumentDownloadFailed");
    ASSERT_EQ(reported.size(), 6u);
    EXPECT_EQ(reported.front(), L"Odd 0\xFFFD\xFFFD\xFFFD");
    EXPECT_EQ(reported.back(), L"19995 more items");
    EXPECT_EQ(listing(one / "Team"), std::vector<std::string>{"doc.txt"});
}

TEST_F(EndToEndTest, DeletionsMadeWhileTheDeviceWasUnknownToTheServerAreApplied)
{
    start(one);
    writeFile(one / "Team/gone.txt", "gone");
    writeFile(one / "Team/kept.txt", "kept");
    writeFile(one / "Old/x.txt", "x");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"kept.txt") == "kept"; }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"gone.txt") == "gone"; }));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Old", L"x.txt") == "x"; }));
    stop(one);

    // Its messages go with the Device: only bringing the Shares down again can tell what went.
    probe.removeAsset({serverShare(L"Team")->shareId, serverAsset(L"Team", L"gone.txt")->assetId});
    probe.removeShare(serverShare(L"Old")->shareId);
    probe.unregisterDevice(one.deviceId);
    start(one);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDeviceRegistered") == 1; }));
    EXPECT_TRUE(settlesTo(one.folder, {"Team"}));
    EXPECT_TRUE(settlesTo(one / "Team", {"kept.txt"}));
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"kept.txt"});
}

// A document moved while its Share is brought down is in neither listing, yet it is not gone.
TEST_F(EndToEndTest, ADocumentMovedBetweenTwoListingsIsMovedNotRemoved)
{
    start(one);
    writeFile(one / "Team/B/doc.txt", "moved");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"B/doc.txt") == "moved"; }));
    stop(one);
    probe.unregisterDevice(one.deviceId); // so that the Share is brought down at the next start

    // The root is listed before B: the move lands in between.
    auto stall = fake::FaultRule::of(fake::FaultKind::Stall, "GET", ".*/children");
    stall.times = 2;
    server.addFault(stall);
    start(one);
    ASSERT_TRUE(server.waitForStalled(1));
    server.releaseStalls();
    // The released request may still count as stalled: the second stall is the engine's once no fault is left.
    ASSERT_TRUE(waitUntil([&] { return server.faultsPending() == 0; }));
    ASSERT_TRUE(server.waitForStalled(1));
    const auto team = serverShare(L"Team");
    probe.moveAsset({team->shareId, serverAsset(L"Team", L"B/doc.txt")->assetId}, team->rootId);
    server.releaseStalls();
    EXPECT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "moved"); }));
    EXPECT_TRUE(settlesTo(one / "Team/B", {}));
    EXPECT_FALSE(trashHolds("moved"));
}
} // namespace
} // namespace enginetest
