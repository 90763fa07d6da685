// Faults that only an ordinary user meets: root ignores file modes, so this program drops to the user
// "nobody" before anything else runs when it is started as root.

#include "EndToEndFixture.h"

#include <grp.h>
#include <sys/stat.h>

namespace enginetest
{
namespace
{
const bool kOrdinaryUser = []
{
    constexpr uid_t nobody = 65534;
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
         ::setresuid(nobody, nobody, nobody) != 0))
        std::abort();
    return true;
}();

TEST_F(EndToEndTest, ADownloadIntoAReadOnlyFolderIsTriedAgainOnceTheFolderCanBeWritten)
{
    ASSERT_TRUE(kOrdinaryUser);
    startBoth();
    writeFile(two / "Team/Locked/first.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/Locked/first.txt", "first"); }));
    for (const bool restart : {false, true})
    {
        const std::string name = restart ? "after-restart.txt" : "while-running.txt";
        ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0555), 0);
        writeFile(two / ("Team/Locked/" + name), "blocked");
        writeFile(two / ("Team/open-" + name), "open");
        ASSERT_TRUE(waitUntil([&] { return hasContent(one / ("Team/open-" + name), "open"); }));
        // Passed after a few cycles, and tried again later.
        const std::size_t failures = one.engine->reports.count("onDocumentDownloadFailed");
        ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDocumentDownloadFailed") > failures; }));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        if (restart)
            stop(one);
        ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0755), 0);
        if (restart)
            start(one);
        EXPECT_TRUE(waitUntil([&] { return hasContent(one / ("Team/Locked/" + name), "blocked"); })) << name;
    }
}
} // namespace
} // namespace enginetest
