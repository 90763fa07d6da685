// A folder that never stays quiet for the quiet time (a log, a download in progress, a database written about once
// a second) holds nothing back, with the quiet time and the bound of the wait as shipped: at a start its changes go
// up and the server's come down at once, later changes (a removal among them) go up within the bound, and the log
// names the file that keeps changing.

#include "EndToEndFixture.h"

namespace enginetest
{
namespace
{
using namespace std::chrono_literals;

TEST_F(EndToEndTest, AFileWrittenEverySecondHoldsNothingBack)
{
    const auto share = server.createShare(kEmail, "Team");
    server.putContent(server.createAsset(share.shareId, share.rootId, false, "from-server.txt"), "down");
    writeFile(one / "Busy/steady.txt", "steady");
    const BusyWriter writer(one / "Busy/busy.log", 1s);
    one.settings.quietTime = 2s;
    start(one);

    const bool down = waitUntil([&] { return hasContent(one / "Team/from-server.txt", "down"); }, 10s);
    const bool up = waitUntil([&] { return serverContent(L"Busy", L"steady.txt") == "steady"; }, 10s);
    // The snapshot of the scanner's start after the download, then a change while the file keeps changing.
    const std::size_t snapshots = one.engine->snapshots();
    ASSERT_TRUE(waitUntil([&] { return one.engine->snapshots() > snapshots; }, 10s));
    writeFile(one / "Busy/later.txt", "later");
    std::filesystem::remove(one / "Busy/steady.txt");
    const auto changedAt = std::chrono::steady_clock::now();
    const bool later = waitUntil([&] { return serverContent(L"Busy", L"later.txt") == "later"; }, 45s);
    const auto delay = std::chrono::steady_clock::now() - changedAt;
    // Writes to the log during the scans cannot make a scan miss an item: the removal goes too.
    const bool removed = waitUntil([&] { return !serverContent(L"Busy", L"steady.txt"); }, 5s);
    EXPECT_TRUE(down);
    EXPECT_TRUE(up);
    EXPECT_TRUE(later);
    EXPECT_TRUE(removed);
    EXPECT_LT(delay, dwl::Scanner::kMaxSnapshotDelay + 5s);
    stop(one);
    const auto log = readFile(dataHome() / "quillmere/Logging/Wayfold.log");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find((one / "Busy/busy.log").string() + "' keeps changing"), std::string::npos);
}
} // namespace
} // namespace enginetest
