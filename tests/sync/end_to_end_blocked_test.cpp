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
} // namespace
} // namespace enginetest
