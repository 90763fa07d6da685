// A server version that meets a local edit: the local file is never replaced, and an edit that can never be
// sent does not hold back the messages that follow.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
TEST_F(EndToEndTest, ALocalFileTooBigToSendKeepsItsContentAndLaterMessagesStillArrive)
{
    one.settings.maxUploadSize = 64;
    startBoth();
    writeFile(two / "Team/doc.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "first"); }));

    const std::string big(100, 'B');
    writeFile(one / "Team/doc.txt", big);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onFileTooBig") > 0; }));
    writeFile(two / "Team/doc.txt", "second, from two");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"doc.txt") == "second, from two"; }));

    writeFile(two / "Team/later.txt", "later");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/later.txt", "later"); }));
    EXPECT_TRUE(hasContent(one / "Team/doc.txt", big));
    EXPECT_EQ(listing(one / "Team"), (std::vector<std::string>{"doc.txt", "later.txt"}));
    EXPECT_GE(one.engine->reports.count("onLocalUpdateBlocked"), 1u);
    EXPECT_EQ(serverContent(L"Team", L"doc.txt"), "second, from two");
}

TEST_F(EndToEndTest, ALocalEditWhoseUploadTheServerRefusesKeepsItsContentAndLaterMessagesStillArrive)
{
    const auto share = server.createShare(kEmail, "Team");
    const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    const std::string document = idText(probe.createDocument(L"doc.txt", root));
    server.putContent(document, "first");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "first"); }));

    fake::FaultRule refusal =
        fake::FaultRule::status_("POST", "/rest/shares/[^/]+/assets/[^/]+/contents", 403);
    refusal.times = -1;
    server.addFault(refusal);
    writeFile(one / "Team/doc.txt", "local edit");
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDocumentUploadFailed") > 0; }));
    server.putContent(document, "second, from the server");
    server.putContent(idText(probe.createDocument(L"later.txt", root)), "later");

    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/later.txt", "later"); }));
    EXPECT_TRUE(hasContent(one / "Team/doc.txt", "local edit"));
    EXPECT_EQ(listing(one / "Team"), (std::vector<std::string>{"doc.txt", "later.txt"}));
    EXPECT_GE(one.engine->reports.count("onLocalUpdateBlocked"), 1u);
    EXPECT_EQ(serverContent(L"Team", L"doc.txt"), "second, from the server");
    server.clearFaults();
}
} // namespace
} // namespace enginetest
