// Both directions of synchronisation between two Devices of one user through the fake server over HTTP.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
using namespace std::chrono_literals;

TEST_F(EndToEndTest, FirstLinkBringsEveryShareDownBeforeAnyMessageAndSendsNothingBack)
{
    const auto projects = server.createShare(kEmail, "Projects");
    const auto specs = probe.createFolder(
        L"Specs", {qcl::uint128::parse(projects.shareId), qcl::uint128::parse(projects.rootId)});
    const auto deep = probe.createFolder(L"Deep", {qcl::uint128::parse(projects.shareId), specs});
    const auto plan = probe.createDocument(L"plan.txt", {qcl::uint128::parse(projects.shareId), deep});
    server.putContent(idText(plan), "the plan");
    server.createShare(kEmail, "Empty");

    start(one);
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Projects/Specs/Deep/plan.txt", "the plan"); }));
    ASSERT_TRUE(waitUntil([&] { return exists(one / "Empty"); }));
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 0; }));
    // Let a full rescan run after the down-synchronisation: it must find nothing to send.
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));
    stop(one);

    EXPECT_EQ(requestCount("POST", ".*/contents"), 0u);
    EXPECT_EQ(requestCount("POST", "/rest/shares"), 0u);
    EXPECT_EQ(listing(one.folder), (std::vector<std::string>{"Empty", "Projects"}));
    // Shares were brought down before the first message was fetched.
    const auto requests = server.requests("/rest/");
    const auto firstChildren = std::find_if(requests.begin(), requests.end(),
                                            [](const auto& r) {
                                                return r.path.find("/children") != std::string::npos ||
                                                       r.path.find("/assets") != std::string::npos;
                                            });
    const auto firstMessage =
        std::find_if(requests.begin(), requests.end(),
                     [](const auto& r) { return r.path.find("/messages") != std::string::npos; });
    EXPECT_LT(firstChildren - requests.begin(), firstMessage - requests.begin());
}

TEST_F(EndToEndTest, NewFoldersAndDocumentsOfOneDeviceReachTheOther)
{
    startBoth();
    writeFile(one / "Team/Notes/todo.txt", "buy milk");

    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"Notes/todo.txt") == "buy milk"; }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/Notes/todo.txt", "buy milk"); }));
    EXPECT_EQ(serverAsset(L"Team", L"Notes/todo.txt")->contentVersion, 1u);
}

TEST_F(EndToEndTest, InPlaceEditsTravelBothWaysAndReplaceTheOldContent)
{
    startBoth();
    writeFile(one / "Team/a.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "first"); }));

    writeFile(one / "Team/a.txt", "second, longer");
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/a.txt", "second, longer"); }));

    writeFile(two / "Team/a.txt", "third");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/a.txt", "third"); }));
    EXPECT_EQ(serverContent(L"Team", L"a.txt"), "third");
    EXPECT_EQ(serverNames(L"Team"), std::vector<std::wstring>{L"a.txt"});
    // The content is in place the moment the names are swapped; the file it displaced goes right after.
    EXPECT_TRUE(settlesTo(one / "Team", {"a.txt"}));
    EXPECT_TRUE(settlesTo(two / "Team", {"a.txt"}));
}
} // namespace
} // namespace enginetest
