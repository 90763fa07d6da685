// The tray window over the real Mediator and engine, against the fake server: what the icon and the balloons
// say while the engine really runs.

#include "app/MainFrame.h"
#include "app/MediatorEngine.h"

#include "FakeNotificationArea.h"
#include "FakeTrayDesktop.h"
#include "compat/KnownFolders.h"
#include "support/FakeWayfoldServer.h"
#include "support/ScratchFolder.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace
{
using namespace std::chrono_literals;
using fake::FaultRule;
namespace fs = std::filesystem;

const std::string kEmail = "ann@example.com";
const std::string kPassword = "s3cret";

std::wstring wide(const std::string& text)
{
    return qcl::string::utf8ToUtf16(text);
}

FaultRule always(FaultRule rule)
{
    rule.times = -1;
    return rule;
}

class TrayEngineTest : public testing::Test
{
protected:
    TrayEngineTest()
    {
        ::setenv("XDG_DATA_HOME", logHome().path().c_str(), 1);
        server.start();
        server.addUser(kEmail, kPassword);
        for (const KNOWNFOLDERID* id : {&FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow})
            compat::setKnownFolderForTesting(*id, wide(scratch / "appdata"));
        compat::setKnownFolderForTesting(FOLDERID_Profile, wide(scratch / "home"));
        fs::create_directories(scratch / "home/Wayfold");
        probe.setServerUrl(server.baseUrl() + "/rest");
        probe.setCredentials(wide(kEmail), wide(kPassword));
        desktop.configure =
            [this](dwl::Configuration& configuration, dwl::WayfoldApi&, const dwl::ServerList&, bool)
        {
            configuration.server = L"Local";
            configuration.userName = wide(kEmail);
            configuration.password = wide(kPassword);
            configuration.wayfoldFolderLocation = wide(scratch / "home");
            return true;
        };
    }

    ~TrayEngineTest() override
    {
        frame.reset();
        mediator.reset();
        for (const KNOWNFOLDERID* id : {&FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow, &FOLDERID_Profile})
            compat::setKnownFolderForTesting(*id, std::nullopt);
    }

    static test::ScratchFolder& logHome()
    {
        static test::ScratchFolder folder;
        return folder;
    }

    // Starts the program's tray window on the engine, with messages polled every second and, when
    // `upgradeInfo` is given, an upgrade check every second.
    void startTray(bool upgradeInfo = false)
    {
        std::ofstream(scratch / "Servers.json")
            << R"("Servers": { "Local": { "DisplayName": "Local", "BaseUrl": ")" << server.baseUrl()
            << R"(", "MessagePollingIntervalInSeconds": 1, "UpgradeInfoUrl": ")"
            << (upgradeInfo ? server.baseUrl() + "/upgrade/info" : "") << R"(",
  "DelayBeforeCheckingForUpgradeInSeconds": 0, "UpgradeInfoPollingIntervalInSeconds": 1 } }
"DefaultServer": "Local"
)";
        mediator = std::make_unique<dwl::Mediator>();
        mediator->setServerListFile(wide(scratch / "Servers.json"));
        mediator->scanner().setQuietTime(50ms);
        engine = std::make_unique<dwl::MediatorEngine>(*mediator);
        frame.emplace(*engine, desktop, area, queue, [](std::chrono::milliseconds) {});
        frame->OnCreate();
        queue.runPending();
    }

    // Runs the tray window's work until the condition holds; false after `timeout`.
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 30s)
    {
        return test::waitUntil(
            [&]
            {
                queue.runPending();
                return condition();
            },
            timeout);
    }
    void runFor(std::chrono::milliseconds duration)
    {
        runUntil([] { return false; }, duration);
    }

    std::size_t balloons(const std::wstring& text) const
    {
        return std::count_if(area.balloons.begin(), area.balloons.end(),
                             [&](const test::Balloon& balloon) { return balloon.text == text; });
    }
    std::size_t requests(const std::string& method, const std::string& pathPart) const
    {
        return server.countRequests(
            [&](const fake::RecordedRequest& request)
            { return request.method == method && request.path.find(pathPart) != std::string::npos; });
    }

    test::ScratchFolder scratch;
    fake::FakeWayfoldServer server;
    dwl::WayfoldApi probe;
    test::FakeDesktop desktop;
    test::FakeNotificationArea area;
    app::RunnableQueue queue{[] {}};
    std::unique_ptr<dwl::Mediator> mediator;
    std::unique_ptr<dwl::MediatorEngine> engine;
    std::optional<dwl::CMainFrame> frame;
};

TEST_F(TrayEngineTest, AfterAnOutageAndASleepTheIconSaysConnectedOnceTheServerIsBack)
{
    using P = dwl::ui::TrayPicture;
    startTray();
    ASSERT_TRUE(runUntil([&] { return requests("GET", "/messages") > 0; }));
    EXPECT_NE(area.picture, P::Offline);

    server.addFault(always(FaultRule::status_("", "/rest/.*", 503)));
    ASSERT_TRUE(runUntil([&] { return area.picture == P::Offline; }));
    EXPECT_EQ(area.toolTip, L"Quillmere Wayfold 1.13.0\nServer Local is currently unavailable");

    frame->OnPowerBroadcast(dwl::PBT_APMSUSPEND);
    server.clearFaults();
    frame->OnPowerBroadcast(dwl::PBT_APMRESUMESUSPEND);
    const std::size_t polled = requests("GET", "/messages");
    ASSERT_TRUE(runUntil([&] { return requests("GET", "/messages") >= polled + 2; }));
    EXPECT_NE(area.picture, P::Offline);
    EXPECT_EQ(area.toolTip.find(L"unavailable"), std::wstring::npos)
        << qcl::string::utf16ToUtf8(area.toolTip);
}

TEST_F(TrayEngineTest, ADocumentRefusedTwoFoldersBelowAShareIsShownOnceWithTheShareAndTheQuotaReason)
{
    const fake::IdPairText projects = server.createShare(kEmail, "Projects");
    const qcl::uint128 shareId = qcl::uint128::parse(projects.shareId);
    const qcl::uint128 a = probe.createFolder(L"A", {shareId, qcl::uint128::parse(projects.rootId)});
    probe.createFolder(L"B", {shareId, a});
    startTray();
    const fs::path folder = scratch / "home/Wayfold/Projects/A/B";
    ASSERT_TRUE(runUntil([&] { return fs::is_directory(folder); }));

    server.addFault(
        always(FaultRule::status_("POST", "/rest/shares/.*/assets", 403,
                                  R"({"key":"user.exceededQuota","message":"Quota of user 42."})")));
    std::ofstream(folder / "plan.txt") << "plan";
    const std::wstring refused =
        L"Document 'plan.txt' cannot be added to Share 'Projects'. You have exceeded your usage plan quota. "
        L"Upgrade your plan to receive more connections. Please remove this document from your Wayfold "
        L"folder.";
    ASSERT_TRUE(runUntil([&] { return balloons(refused) == 1; }));

    // Every later snapshot tries it again and is refused again; the user is told once.
    const std::size_t tried = requests("POST", "/assets");
    std::ofstream(folder / "~$lock") << "ignored"; // a new snapshot, with nothing new to send
    ASSERT_TRUE(runUntil([&] { return requests("POST", "/assets") > tried; }));
    runFor(500ms);
    EXPECT_EQ(balloons(refused), 1u);
}

TEST_F(TrayEngineTest, AnOfferedVersionIsAnnouncedOncePerRunThoughEveryCheckAndWakeOffersItAgain)
{
    server.setUpgrade({1, 14, 0}, "installer");
    startTray(true);
    const std::wstring offered =
        L"A newer version of Quillmere Wayfold is available.\nRight click and choose 'Update' to apply.";
    ASSERT_TRUE(runUntil([&] { return requests("GET", "/upgrade/info") >= 2; }));
    frame->OnPowerBroadcast(dwl::PBT_APMSUSPEND);
    frame->OnPowerBroadcast(dwl::PBT_APMRESUMESUSPEND);
    const std::size_t checked = requests("GET", "/upgrade/info");
    ASSERT_TRUE(runUntil([&] { return requests("GET", "/upgrade/info") >= checked + 2; }));
    runFor(200ms);
    EXPECT_EQ(balloons(offered), 1u);
    EXPECT_EQ(area.menu.find(dwl::ID_CONTEXTMENU_UPGRADE)->text, L"Update to version 1.14.0");
}
} // namespace
