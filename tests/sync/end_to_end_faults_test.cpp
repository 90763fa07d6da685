// Outages, refusals, blacklists and the size limit, end to end through the fake server.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

const std::string kCreateAsset = "/rest/shares/[^/]+/assets";
const std::string kChangeAsset = "/rest/shares/[^/]+/assets/[^/]+";

fake::FaultRule always(fake::FaultRule rule)
{
    rule.times = -1;
    return rule;
}

TEST_F(EndToEndTest, AnOutageIsReportedOnceAndNothingIsLostOrSentTwice)
{
    startBoth();
    writeFile(one / "Team/a.txt", "before");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "before"); }));

    server.addFault(always(fake::FaultRule::of(fake::FaultKind::DropConnection, "", ".*")));
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onServerUnavailable") == 1; }));
    writeFile(one / "Team/a.txt", "during the outage");
    writeFile(one / "Team/new.txt", "new");
    // Several polls and snapshot retries fail while the server is away.
    const std::size_t failed = server.requests("/rest/").size();
    ASSERT_TRUE(waitUntil([&] { return server.requests("/rest/").size() > failed + 6; }));

    server.clearFaults();
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/new.txt", "new"); }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "during the outage"); }));
    EXPECT_EQ(one.engine->reports.count("onServerUnavailable"), 1u);
    EXPECT_EQ(one.engine->reports.count("onServerAvailable"), 1u);
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"a.txt", L"new.txt"}));
    EXPECT_EQ(serverAsset(L"Team", L"new.txt")->contentVersion, 1u);
}

TEST_F(EndToEndTest, RefusedCreationsAreReportedAndNotKept)
{
    startBoth();
    fs::create_directories(one / "Team");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Team"); }));

    server.addFault(fake::FaultRule::status_("POST", kCreateAsset, 403));
    fs::create_directories(one / "Team/Denied");
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onFolderCreationFailed") == 1; }));
    EXPECT_TRUE(serverNames(L"Team").empty());
    // Not kept in the tree: the next snapshot tries again, and now the server accepts.
    writeFile(one / "Team/t1.txt", "1");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Team/Denied") && exists(two / "Team/t1.txt"); }));

    server.addFault(fake::FaultRule::status_("POST", kCreateAsset, 400));
    writeFile(one / "Team/denied.txt", "x");
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDocumentCreationFailed") == 1; }));
    EXPECT_FALSE(serverAsset(L"Team", L"denied.txt").has_value());

    server.addFault(fake::FaultRule::status_("POST", "/rest/shares", 403));
    fs::create_directories(one / "Refused");
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onShareCreationFailed") == 1; }));
    EXPECT_FALSE(serverShare(L"Refused").has_value());

    writeFile(one / "Team/t2.txt", "2");
    ASSERT_TRUE(
        waitUntil([&] { return exists(two / "Refused") && hasContent(two / "Team/denied.txt", "x"); }));
}

TEST_F(EndToEndTest, ARefusedShareRenameBringsTheServerNameBack)
{
    startBoth();
    writeFile(one / "Team/a.txt", "a");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "a"); }));

    server.addFault(fake::FaultRule::status_("POST", kChangeAsset, 403));
    fs::rename(one / "Team", one / "Crew");
    ASSERT_TRUE(waitUntil([&] { return exists(one / "Team/a.txt") && !exists(one / "Crew"); }));
    EXPECT_TRUE(serverShare(L"Team").has_value());
    EXPECT_FALSE(serverShare(L"Crew").has_value());
}

TEST_F(EndToEndTest, ARefusedMoveIsUndoneByBringingTheShareDown)
{
    startBoth();
    writeFile(one / "Team/a.txt", "a");
    fs::create_directories(one / "Team/Sub");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "a") && exists(two / "Team/Sub"); }));

    server.addFault(fake::FaultRule::status_("POST", kChangeAsset, 400));
    fs::rename(one / "Team/a.txt", one / "Team/Sub/a.txt");
    ASSERT_TRUE(
        waitUntil([&] { return hasContent(one / "Team/a.txt", "a") && !exists(one / "Team/Sub/a.txt"); }));
    EXPECT_TRUE(serverAsset(L"Team", L"a.txt").has_value());
    // Later messages still get through.
    writeFile(two / "Team/b.txt", "b");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/b.txt", "b"); }));
}

TEST_F(EndToEndTest, AnUnknownDeviceIsRegisteredAgainAndEverythingComesDownAgain)
{
    startBoth();
    writeFile(one / "Team/a.txt", "a");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "a"); }));

    server.addFault(fake::FaultRule::status_("GET", ".*/messages", 404));
    ASSERT_TRUE(waitUntil(
        [&]
        {
            return one.engine->reports.count("onDeviceRegistered") +
                       two.engine->reports.count("onDeviceRegistered") ==
                   3;
        }));
    writeFile(two / "Team/b.txt", "b");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/b.txt", "b"); }));
    // The new Devices bring every Share down again, so a download may still be under way.
    EXPECT_TRUE(settlesTo(one / "Team", {"a.txt", "b.txt"})) << testing::PrintToString(listing(one / "Team"));
    EXPECT_TRUE(settlesTo(two / "Team", {"a.txt", "b.txt"})) << testing::PrintToString(listing(two / "Team"));
}

TEST_F(EndToEndTest, AuthenticationAndVersionRefusalsEndTheThreadWithTheirError)
{
    for (const int status : {401, 406})
    {
        start(one);
        ASSERT_TRUE(waitUntil(
            [&] { return one.engine->reports.count("onDeviceRegistered") + !one.deviceId.isNil() > 0; }));
        server.addFault(fake::FaultRule::status_("GET", ".*/messages", status));
        ASSERT_TRUE(waitUntil([&] { return !one.engine->isRunning(); }));
        const auto errors = one.engine->reports.details("threadError");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors.front().find(std::to_wstring(status)), std::wstring::npos) << status;
        if (!one.engine->deviceId().isNil())
            one.deviceId = one.engine->deviceId();
        one.engine.reset();
    }
}

TEST_F(EndToEndTest, AFailedFirstUploadIsRepeatedUntilTheContentIsOnTheServer)
{
    startBoth();
    fs::create_directories(one / "Team");
    ASSERT_TRUE(waitUntil([&] { return exists(two / "Team"); }));

    server.addFault(fake::FaultRule::status_("POST", ".*/contents", 503));
    writeFile(one / "Team/a.txt", "content");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "content"); }));
    EXPECT_EQ(serverContent(L"Team", L"a.txt"), "content");
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"a.txt"});
}

TEST_F(EndToEndTest, AnUploadIsSentAgainWhenTheServerClosesTheKeptConnection)
{
    start(one);
    fs::create_directories(one / "Team");
    ASSERT_TRUE(waitUntil([&] { return serverShare(L"Team").has_value(); }));

    server.addFault(fake::FaultRule::of(fake::FaultKind::CloseConnection, "POST", ".*/contents"));
    writeFile(one / "Team/a.txt", std::string(100000, 'a'));
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == std::string(100000, 'a'); }));
    EXPECT_TRUE(one.engine->reports.details("threadError").empty());
    // The engine still runs: a later change gets through too.
    writeFile(one / "Team/b.txt", "b");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"b.txt") == "b"; }));
}

TEST_F(EndToEndTest, AFileRewrittenDuringItsUploadEndsWithItsFinalContentOnTheServer)
{
    start(one);
    writeFile(one / "Team/a.txt", "version one");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == "version one"; }));

    // The server holds the upload once it has the body; the file is then saved again within the same clock
    // tick: same size, same modification time as the content on its way.
    server.addFault(fake::FaultRule::of(fake::FaultKind::Stall, "POST", ".*/contents"));
    writeFile(one / "Team/a.txt", "edit one");
    const auto firstSaved = fs::last_write_time(one / "Team/a.txt");
    ASSERT_TRUE(server.waitForStalled(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // past the file system's clock tick
    writeFile(one / "Team/a.txt", "edit two");
    fs::last_write_time(one / "Team/a.txt", firstSaved);
    server.releaseStalls();
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == "edit two"; }));
}

class LimitsTest : public EndToEndTest
{
protected:
    LimitsTest()
    {
        one.settings.maxUploadSize = 10;
        one.settings.documentBlacklist = L"~\\$.*|.*\\.tmp";
        one.settings.folderBlacklist = L"Temp.*";
    }
};

TEST_F(LimitsTest, BlacklistedNamesAndTooBigFilesNeverReachTheServer)
{
    startBoth();
    writeFile(one / "Team/~$lock.docx", "lock");
    writeFile(one / "Team/x.tmp", "tmp");
    writeFile(one / "Team/TempStuff/inside.txt", "inside");
    writeFile(one / "TempShare/inside.txt", "inside");
    writeFile(one / "Team/max.bin", std::string(10, 'm'));
    writeFile(one / "Team/big.bin", std::string(11, 'b'));

    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/max.bin", std::string(10, 'm')); }));
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"max.bin"});
    EXPECT_FALSE(serverShare(L"TempShare").has_value());
    EXPECT_EQ(one.engine->reports.details("onFileTooBig").size(), 1u);

    // Told again for every snapshot that still holds it.
    writeFile(one / "Team/other.txt", "o");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/other.txt", "o"); }));
    EXPECT_GE(one.engine->reports.count("onFileTooBig"), 2u);
    EXPECT_EQ(listing(two.folder), std::vector<std::string>{"Team"});
}

class NoPollingTest : public EndToEndTest
{
protected:
    NoPollingTest() { one.settings.pollingInterval = std::chrono::milliseconds(0); }
};

TEST_F(NoPollingTest, OnlySnapshotsAreProcessed)
{
    start(one);
    writeFile(one / "Team/a.txt", "a");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"a.txt") == "a"; }));
    stop(one);
    EXPECT_EQ(requestCount("POST", ".*/devices"), 0u);
    EXPECT_EQ(requestCount("GET", ".*/messages"), 0u);
    EXPECT_EQ(one.engine, nullptr);
}
} // namespace
} // namespace enginetest
