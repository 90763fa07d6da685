// Each item keeps one identity on both sides: a creation whose answer was lost is not made twice, a change of
// metadata alone is no edit (nor, since it cannot be told from one, an edit that keeps the size and the time, whose
// file goes to the trash when a newer server version comes), and a name the server gives is taken as soon as it is
// free.

#include "EndToEndFixture.h"

#include <sys/stat.h>
#include <sys/xattr.h>

namespace enginetest
{
namespace
{
const std::string kAssets = "/rest/shares/[^/]+/assets";

std::size_t sharesNamed(dwl::WayfoldApi& api, const std::wstring& name)
{
    const auto shares = api.getShares();
    return std::count_if(shares.begin(), shares.end(), [&](const auto& share) { return share.name == name; });
}

// The server acts on each request, then the kept connection dies before the answer: the transport does not
// send it again, and the engine takes what the server made.
TEST_F(EndToEndTest, ALostAnswerToACreationOrAnUploadLeavesOneItemAndOneVersion)
{
    start(one);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDeviceRegistered") == 1; }));
    const auto loseOnce = [&](const std::string& path)
    { server.addFault(fake::FaultRule::of(fake::FaultKind::AnswerLost, "POST", path)); };

    loseOnce("/rest/shares");
    writeFile(one / "Lost/first.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Lost", L"first.txt") == "first"; }));

    loseOnce(kAssets);
    writeFile(one / "Lost/doc.txt", "document");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Lost", L"doc.txt") == "document"; }));

    loseOnce(kAssets);
    writeFile(one / "Lost/Sub/inner.txt", "inner");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Lost", L"Sub/inner.txt") == "inner"; }));

    loseOnce(kAssets + "/[^/]+/contents");
    writeFile(one / "Lost/doc.txt", "edited");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Lost", L"doc.txt") == "edited"; }));

    EXPECT_EQ(server.faultsPending(), 0u); // each answer was lost, on a kept connection
    EXPECT_EQ(sharesNamed(probe, L"Lost"), 1u);
    EXPECT_EQ(serverNames(L"Lost"), (std::vector<std::wstring>{L"Sub", L"doc.txt", L"first.txt"}));
    EXPECT_EQ(serverNames(L"Lost", L"Sub"), std::vector<std::wstring>{L"inner.txt"});
    EXPECT_EQ(serverAsset(L"Lost", L"doc.txt")->contentVersion, 2u);
    EXPECT_EQ(requestCount("POST", "/rest/shares"), 1u);
    EXPECT_EQ(requestCount("POST", kAssets), 4u);
    EXPECT_EQ(requestCount("POST", kAssets + "/[^/]+/contents"), 4u);
    EXPECT_EQ(listing(one.folder), std::vector<std::string>{"Lost"});
    EXPECT_EQ(listing(one / "Lost"), (std::vector<std::string>{"Sub", "doc.txt", "first.txt"}));
}

// A lost answer whose connection is new (or that arrives cut short after its headers) is taken over the same way.
TEST_F(EndToEndTest, ACreationWhoseAnswerIsCutShortTakesTheItemTheServerMade)
{
    start(one);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDeviceRegistered") == 1; }));
    server.addFault(fake::FaultRule::of(fake::FaultKind::DropConnection, "POST", "/rest/shares"));
    server.addFault(fake::FaultRule::of(fake::FaultKind::DropConnection, "POST", kAssets));
    writeFile(one / "Cut/doc.txt", "document");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Cut", L"doc.txt") == "document"; }));
    EXPECT_EQ(sharesNamed(probe, L"Cut"), 1u);
    EXPECT_EQ(serverNames(L"Cut"), std::vector<std::wstring>{L"doc.txt"});
}

TEST_F(EndToEndTest, AChangeOfMetadataAloneSendsNothingForAThousandDocuments)
{
    const auto share = server.createShare(kEmail, "Team");
    for (int folder = 0; folder < 10; ++folder)
    {
        const std::string folderId = server.createAsset(share.shareId, share.rootId, true, "f" + std::to_string(folder));
        for (int document = 0; document < 100; ++document)
            server.putContent(server.createAsset(share.shareId, folderId, false, std::to_string(document) + ".txt"),
                              "content " + std::to_string(document));
    }
    start(one);
    ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDocumentDownloaded") == 1000; },
                          std::chrono::seconds(120)));
    writeFile(one / "Team/before.txt", "before");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"before.txt") == "before"; }));
    server.clearRequests();

    // A mode, an owner, an extended attribute and a link made elsewhere change no content.
    const std::filesystem::path outside = scratch.makeDirectory("links");
    int linked = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(one / "Team"))
    {
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0750 : 0640);
        if (!entry.is_regular_file())
            continue;
        ASSERT_EQ(::lchown(entry.path().c_str(), 0, 0), 0);
        ASSERT_EQ(::setxattr(entry.path().c_str(), "user.tag", "red", 3, 0), 0);
        if (++linked % 10 == 0)
        {
            ASSERT_EQ(::link(entry.path().c_str(), (outside / std::to_string(linked)).c_str()), 0);
        }
    }
    writeFile(one / "Team/after.txt", "after");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"after.txt") == "after"; }));
    EXPECT_EQ(requestCount("POST", ".*/contents"), 1u);
}

TEST_F(EndToEndTest, AnEditThatKeepsTheSizeAndTheTimeIsNotSentAndGoesToTheTrashBeforeANewerServerVersion)
{
    startBoth();
    writeFile(two / "Team/fixed.bin", "AAAA");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/fixed.bin", "AAAA"); }));
    // Let the scanner see the file as downloaded before it changes.
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));

    // A tool that rewrites a fixed-size container and sets its time back: no different from a change of mode.
    const auto path = one / "Team/fixed.bin";
    struct stat before{};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    writeFile(path, "BBBB");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    writeFile(one / "Team/marker.txt", "marker");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"marker.txt") == "marker"; }));
    EXPECT_EQ(serverContent(L"Team", L"fixed.bin"), "AAAA");

    writeFile(two / "Team/fixed.bin", "CCCC");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/fixed.bin", "CCCC"); }));
    EXPECT_TRUE(waitUntil([] { return trashHolds("BBBB"); }));
}

TEST_F(EndToEndTest, AChangeOfMetadataAloneNeverMakesOldContentTheNewest)
{
    startBoth();
    writeFile(two / "Team/doc.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "first"); }));
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));
    stop(one);

    // While one is stopped, two saves a newer version and one's user changes the file's mode only.
    writeFile(two / "Team/doc.txt", "second, from two");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"doc.txt") == "second, from two"; }));
    ASSERT_EQ(::chmod((one / "Team/doc.txt").c_str(), 0600), 0);
    start(one);

    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "second, from two"); }));
    EXPECT_EQ(serverContent(L"Team", L"doc.txt"), "second, from two");
    // The file it replaced may have held an edit that kept its size and time: it is in the trash.
    EXPECT_TRUE(waitUntil([] { return trashHolds("first"); }));
}

TEST_F(EndToEndTest, AServerNameIsTakenAsSoonAsItsLocalFormIsFree)
{
    startBoth();
    writeFile(two / "Team/a.txt", "was a");
    writeFile(two / "Team/b.txt", "was b");
    writeFile(two / "Team/notes.txt", "was notes");
    writeFile(two / "Team/other.txt", "was other");
    ASSERT_TRUE(settlesTo(one / "Team", {"a.txt", "b.txt", "notes.txt", "other.txt"}));
    const auto share = serverShare(L"Team");
    const auto id = [&](const wchar_t* name) { return serverAsset(L"Team", name)->assetId; };
    const qcl::uint128 a = id(L"a.txt"), b = id(L"b.txt"), notes = id(L"notes.txt"), other = id(L"other.txt");
    const auto rename = [&](const qcl::uint128& asset, const std::wstring& to)
    { probe.renameDocument({share->shareId, asset}, to); };

    // A swap, and a name handed on: each first rename meets the other document still under the wanted name.
    rename(a, L"b.txt");
    rename(b, L"a.txt");
    rename(other, L"notes.txt");
    rename(notes, L"moved.txt");
    ASSERT_TRUE(settlesTo(one / "Team", {"a.txt", "b.txt", "moved.txt", "notes.txt"}));
    EXPECT_TRUE(hasContent(one / "Team/a.txt", "was b"));
    EXPECT_TRUE(hasContent(one / "Team/b.txt", "was a"));
    EXPECT_TRUE(hasContent(one / "Team/notes.txt", "was other"));
    EXPECT_TRUE(hasContent(one / "Team/moved.txt", "was notes"));
}

// A file replaced by a folder of its name on another Device: here the folder waits under "x (2)" until the
// file's deletion frees the name.
TEST_F(EndToEndTest, ANameThatAServerDeletionFreesIsTakenByTheItemWaitingForIt)
{
    start(one);
    writeFile(one / "Team/x", "file");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"x") == "file"; }));
    const auto share = serverShare(L"Team");
    const qcl::uint128 file = serverAsset(L"Team", L"x")->assetId;
    probe.createFolder(L"x", {share->shareId, share->rootId});
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::is_directory(one / "Team/x (2)"); }));
    probe.removeAsset({share->shareId, file});
    ASSERT_TRUE(settlesTo(one / "Team", {"x"}));
    EXPECT_TRUE(std::filesystem::is_directory(one / "Team/x"));
}
} // namespace
} // namespace enginetest
