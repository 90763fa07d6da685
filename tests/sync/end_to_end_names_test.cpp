// Names between Devices: kept as uploaded where the file system can hold them, made safe (and cut) where it
// cannot, and kept so.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

// A local name cut from a server name: at most 255 bytes, still valid UTF-8, with the server name's start
// and extension and no " (n)".
void expectCutFrom(const std::string& local, const std::wstring& serverName, const std::wstring& extension)
{
    EXPECT_LE(local.size(), 255u);
    const std::wstring wide = qcl::string::utf8ToUtf16(local);
    EXPECT_GT(wide.size(), extension.size() + 50);
    EXPECT_EQ(wide.find(L" ("), std::wstring::npos);
    EXPECT_TRUE(wide.ends_with(extension)) << local;
    EXPECT_EQ(wide.substr(0, wide.size() - extension.size()),
              serverName.substr(0, wide.size() - extension.size()));
}

TEST_F(EndToEndTest, LongServerNamesFitTheFileSystemAndKeepTheirLocalNames)
{
    const std::wstring longName = std::wstring(296, L'a') + L".txt";     // 300 units
    const std::wstring cjkName = std::wstring(100, L'\u6587') + L".txt"; // 304 bytes of UTF-8
    const std::wstring cjkFolderName(100, L'\u76ee');
    const auto share = server.createShare(kEmail, "Long");
    const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    const qcl::uint128 folderId = probe.createFolder(cjkFolderName, root);
    const std::vector<qcl::uint128> documents{probe.createDocument(longName, root),
                                              probe.createDocument(cjkName, root),
                                              probe.createDocument(longName, {root.first, folderId})};
    for (const auto& document : documents)
        server.putContent(idText(document), "v1");

    start(one);
    // Done when the folder and both files are in place with their content (a download in progress has a
    // hidden name of its own, without the extension).
    std::string folder;
    ASSERT_TRUE(waitUntil(
        [&]
        {
            std::size_t files = 0;
            for (const auto& name : listing(one / "Long"))
            {
                if (fs::is_directory(one / "Long" / name))
                    folder = name;
                else if (name.ends_with(".txt"))
                    files += hasContent(one / "Long" / name, "v1");
            }
            return files == 2 && !folder.empty() && listing(one / "Long").size() == 3 &&
                   listing(one / "Long" / folder).size() == 1 &&
                   listing(one / "Long" / folder).front().ends_with(".txt") &&
                   hasContent(one / "Long" / folder / listing(one / "Long" / folder).front(), "v1");
        }));
    const std::vector<std::string> firstNames = listing(one / "Long");
    const fs::path inFolder = one / "Long" / folder / listing(one / "Long" / folder).front();

    // Every version message compares the local name with the server's again; none may move the file.
    for (const std::string content : {"v2", "v3"})
    {
        for (const auto& document : documents)
            server.putContent(idText(document), content);
        for (const auto& name : firstNames)
        {
            if (name == folder)
                continue;
            ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Long" / name, content); })) << name;
        }
        ASSERT_TRUE(waitUntil([&] { return hasContent(inFolder, content); }));
    }
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));
    server.clearRequests();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") >= 3; }));
    stop(one);

    EXPECT_EQ(listing(one.folder), std::vector<std::string>{"Long"});
    EXPECT_EQ(listing(one / "Long"), firstNames);
    EXPECT_EQ(listing(one / "Long" / folder), std::vector<std::string>{inFolder.filename().string()});
    expectCutFrom(folder, cjkFolderName, L"");
    expectCutFrom(inFolder.filename().string(), longName, L".txt");
    for (const auto& name : firstNames)
        if (name != folder)
            expectCutFrom(name, name.starts_with("a") ? longName : cjkName, L".txt");
    // The server keeps its names: nothing was sent back as a rename.
    EXPECT_EQ(serverNames(L"Long"), (std::vector<std::wstring>{longName, cjkName, cjkFolderName}));
    EXPECT_EQ(serverNames(L"Long", cjkFolderName), std::vector<std::wstring>{longName});
    EXPECT_EQ(requestCount("POST", ".*"), 0u);
}

TEST_F(EndToEndTest, NamesThatOnlyWindowsForbidsRoundTripUnchanged)
{
    const std::vector<std::string> names{"CON.txt", "a:b.txt", "ends with dot.", "pipe|star*.txt",
                                         "quest?back\\slash.txt"};
    startBoth();
    for (const auto& name : names)
        writeFile(one / "Team" / name, name);
    std::filesystem::create_directories(one / "Team/Dpkg::Version.");

    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team" / names.back(), names.back()); }));
    std::vector<std::string> expected = names;
    expected.push_back("Dpkg::Version.");
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(settlesTo(two / "Team", expected)) << testing::PrintToString(listing(two / "Team"));
    EXPECT_TRUE(settlesTo(one / "Team", expected)) << testing::PrintToString(listing(one / "Team"));
    for (const auto& name : names)
        EXPECT_TRUE(hasContent(two / "Team" / name, name)) << name;
    EXPECT_EQ(serverNames(L"Team").size(), expected.size());
}

TEST_F(EndToEndTest, AMadeSafeNameIsNotStraightenedAgainOnEveryMessage)
{
    const auto share = server.createShare(kEmail, "Odd");
    const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    const qcl::uint128 tabbed = probe.createDocument(L"a\tb.txt", root);
    server.putContent(idText(tabbed), "v1");
    start(one);
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Odd/ab.txt", "v1"); }));
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));

    // A message about the document that changes nothing locally leaves the scanner running.
    const std::size_t stops = one.engine->reports.count("stopScanner");
    probe.renameDocument({root.first, tabbed}, L"a\tb.txt");
    server.clearRequests();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") >= 3; }));
    EXPECT_EQ(one.engine->reports.count("stopScanner"), stops);
    EXPECT_EQ(listing(one / "Odd"), std::vector<std::string>{"ab.txt"});
}
} // namespace
} // namespace enginetest
