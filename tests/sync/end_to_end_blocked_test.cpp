// One item that cannot go through holds back nothing else: a server version that meets a local edit, or a
// file that another program holds open (and only then: not where the file system grants no lease at all),
// never replaces the local file, an edit that can never be sent does not hold back the messages that follow,
// a document larger than the free space does not hold back the others, and a path longer than the system's
// limit is still sent.

#include "EndToEndFixture.h"
#include "RefusedLeases.h"
#include "qcl/qcl_scope.h"

#include <csignal>
#include <sys/wait.h>

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
TEST_F(EndToEndTest, AFileAnotherProgramHoldsOpenIsReplacedOnlyOnceItIsClosed)
{
    startBoth();
    writeFile(two / "Team/db.bin", "first");
    writeFile(two / "Team/other.txt", "other");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/db.bin", "first"); }));

    // Another program holds the file open, as a database or an editor that writes in place does.
    const std::string path = one / "Team/db.bin";
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 3, path.c_str(), O_RDWR, 0);
    char program[] = "/bin/sleep";
    char seconds[] = "60";
    char* arguments[] = {program, seconds, nullptr};
    pid_t holder = 0;
    ASSERT_EQ(::posix_spawn(&holder, program, &actions, nullptr, arguments, environ), 0);
    ::posix_spawn_file_actions_destroy(&actions);
    ASSERT_TRUE(waitUntil([&] { return exists("/proc/" + std::to_string(holder) + "/fd/3"); }));

    const std::string contents =
        ".*/assets/" + idText(serverAsset(L"Team", L"db.bin")->assetId) + "/contents";
    const std::size_t fetched = requestCount("GET", contents);
    writeFile(two / "Team/db.bin", "second, from two");
    writeFile(two / "Team/other.txt", "other, second");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/other.txt", "other, second"); }));
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onLocalUpdateBlocked") > 0; }));
    EXPECT_EQ(one.engine->reports.details("onLocalUpdateBlocked").front(), L"db.bin");
    // In use by another program, which the report tells by naming no other cause; and nothing was fetched.
    EXPECT_EQ(one.engine->reports.details("updateBlockedBecause").front(), L"");
    EXPECT_EQ(requestCount("GET", contents), fetched);
    EXPECT_TRUE(hasContent(one / "Team/db.bin", "first"));

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(waitUntil([&] { return hasContent(one / "Team/db.bin", "second, from two"); }));
    EXPECT_TRUE(settlesTo(one / "Team", {"db.bin", "other.txt"}));
}

TEST_F(EndToEndTest, WhereNoWriteLeaseIsEverGrantedServerVersionsStillReplaceTheFiles)
{
    startBoth();
    writeFile(two / "Team/doc.txt", "first, before leases were refused");
    ASSERT_TRUE(
        waitUntil([&] { return hasContent(one / "Team/doc.txt", "first, before leases were refused"); }));

    refusedleases::refusal = EAGAIN;
    const auto grantAgain = qcl::scope::makeGuard([] { refusedleases::refusal = 0; });
    writeFile(two / "Team/doc.txt", "second, from two");
    EXPECT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "second, from two"); }));
    EXPECT_TRUE(settlesTo(one / "Team", {"doc.txt"}));
    EXPECT_TRUE(trashHolds("first, before leases were refused"));
    EXPECT_EQ(one.engine->reports.count("onLocalUpdateBlocked"), 0u);
}

TEST_F(EndToEndTest, ADocumentLargerThanTheFreeSpaceHoldsBackNoOtherDocument)
{
    if (!scratch.mountTmpfs("one/Wayfold", "3m"))
        GTEST_SKIP() << "a tmpfs cannot be mounted here";
    const auto share = server.createShare(kEmail, "Team");
    const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    std::vector<std::string> small;
    for (const char* name : {"a.txt", "b.txt", "c-big.bin", "d.txt", "e.txt", "f.txt", "g.txt"})
    {
        const qcl::uint128 document = probe.createDocument(qcl::string::utf8ToUtf16(name), root);
        const bool big = std::string(name) == "c-big.bin";
        server.putContent(idText(document), big ? std::string(4 << 20, 'B') : std::string("small ") + name);
        if (!big)
            small.push_back(name);
    }
    start(one);
    ASSERT_TRUE(settlesTo(one / "Team", small));
    EXPECT_TRUE(waitUntil([&] { return one.engine->reports.count("onDocumentDownloadFailed") >= 1; }));
    EXPECT_EQ(one.engine->reports.details("onDocumentDownloadFailed").front(), L"c-big.bin");
    stop(one);
}

TEST_F(EndToEndTest, AFileBelowAPathLongerThanTheSystemsLimitIsSent)
{
    // 21 folders of 199 bytes each below the Share: the file's path is longer than 4,200 bytes.
    const std::string part(199, 'p');
    std::filesystem::create_directories(one / "Team");
    int folder = ::open((one / "Team").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::wstring relative;
    for (int depth = 0; depth < 21; ++depth)
    {
        ASSERT_EQ(::mkdirat(folder, part.c_str(), 0755), 0);
        const int inner = ::openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = inner;
        relative += std::wstring(part.begin(), part.end()) + L"/";
    }
    const int file = ::openat(folder, "deep.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(file, "deep", 4), 4);
    ::close(file);
    ::close(folder);
    ASSERT_GT((one / "Team").string().size() + relative.size() + 8, 4200u);

    start(one);
    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Team", relative + L"deep.txt") == "deep"; }));
    stop(one);
}
} // namespace
} // namespace enginetest
