// Local names that differ from the server's, and a transfer stopped half-way.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

TEST_F(EndToEndTest, ServerNamesThatAreNotValidLocallyAreChangedOnlyLocally)
{
    const auto share = server.createShare(kEmail, "Odd");
    const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    for (const std::wstring name : {L"a\tb:.txt", L"CON.txt", L"x/y.txt", L"..", L"Same.txt", L"same.txt"})
        server.putContent(idText(probe.createDocument(name, root)), qcl::string::utf16ToUtf8(name));
    // Two Shares of one name, and a local folder that already has it.
    fs::create_directories(one / "Twin");
    server.createShare(kEmail, "Twin");

    start(one);
    ASSERT_TRUE(waitUntil([&] { return listing(one / "Odd").size() == 6; }));
    ASSERT_TRUE(waitUntil([&] { return exists(one / "Twin (2)"); }));
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }));
    server.clearRequests();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") >= 3; }));
    stop(one);

    EXPECT_EQ(listing(one / "Odd"),
              (std::vector<std::string>{"CON.txt", "Same.txt", "_", "ab:.txt", "same.txt", "xy.txt"}));
    EXPECT_TRUE(hasContent(one / "Odd/ab:.txt", "a\tb:.txt"));
    EXPECT_TRUE(hasContent(one / "Odd/_", ".."));
    // The server keeps its names: nothing was sent back as a rename.
    EXPECT_EQ(serverNames(L"Odd"), (std::vector<std::wstring>{L"..", L"CON.txt", L"Same.txt", L"a\tb:.txt",
                                                              L"same.txt", L"x/y.txt"}));
    EXPECT_EQ(requestCount("POST", ".*"), 0u);
}

TEST_F(EndToEndTest, StoppingDuringADownloadEndsQuietlyAndLeavesNoPartialFile)
{
    startBoth();
    writeFile(one / "Team/big.bin", std::string(100000, 'b'));
    ASSERT_TRUE(waitUntil([&] { return hasContent(two / "Team/big.bin", std::string(100000, 'b')); }));
    server.addFault(fake::FaultRule::of(fake::FaultKind::Stall, "GET", ".*/contents/latest"));
    writeFile(one / "Team/big.bin", std::string(100000, 'c'));
    ASSERT_TRUE(server.waitForStalled(1));

    stop(two); // expects no thread error
    server.releaseStalls();
    for (const auto& name : listing(two / "Team"))
        EXPECT_EQ(name, "big.bin");
    EXPECT_TRUE(hasContent(two / "Team/big.bin", std::string(100000, 'b')));
}
} // namespace
} // namespace enginetest
