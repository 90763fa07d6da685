#include "app/MainFrame.h"

#include "FakeNotificationArea.h"
#include "FakeScheduler.h"
#include "FakeTrayDesktop.h"
#include "api/ServerError.h"
#include "app/StartFailure.h"
#include "support/LogCapture.h"
#include "support/ScratchFolder.h"
#include "url/Error.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

namespace
{
test::LogCapture logCapture;

using Choice = dwl::TrayDesktop::MissingFolderChoice;
using test::FakeDesktop;

struct FakeEngine : dwl::TrayEngine
{
    void setCallback(dwl::Mediator::Callback* callback) override { this->callback = callback; }
    bool initialise() override { return next(initialiseResults); }
    bool reenterPassword() override { return next(passwordResults); }
    void start() override
    {
        calls += "start ";
        if (failStart)
            throw std::runtime_error("cannot start");
        running = true;
    }
    void stop() override
    {
        calls += "stop ";
        running = false;
    }
    bool isRunning() const override { return running; }
    void unlink() override { calls += "unlink "; }
    void onDeviceUnregistered() override { calls += "unregistered "; }
    void clearDatabaseAndConfiguration() override { calls += "clear "; }
    std::string serverBaseUrl() const override { return "http://wayfold.example"; }
    std::string downloadsUrl() const override { return downloads; }
    std::wstring serverDisplayName() const override { return L"Local <dev>"; }
    std::wstring wayfoldFolder() const override { return L"/home/u/Wayfold"; }
    void startUpgradeDownload(const std::string& url) override { calls += "download(" + url + ") "; }
    void waitForUpgradeDownload() override {}

    // Each call takes the next scripted answer: true, false, or an exception to throw.
    struct Answer
    {
        bool result = true;
        std::function<void()> raise;
    };
    bool next(std::deque<Answer>& answers)
    {
        calls += &answers == &initialiseResults ? "initialise " : "password ";
        Answer answer = answers.empty() ? Answer{} : answers.front();
        if (!answers.empty())
            answers.pop_front();
        if (answer.raise)
            answer.raise();
        return answer.result;
    }

    dwl::Mediator::Callback* callback = nullptr;
    std::deque<Answer> initialiseResults, passwordResults;
    std::string calls, downloads = "http://wayfold.example/downloads";
    bool running = false, failStart = false;
};

struct Frame
{
    explicit Frame(bool create = true)
    {
        if (create)
        {
            frame.OnCreate();
            run();
        }
    }
    void run() { queue.runPending(); }
    bool has(const std::string& action) const
    {
        return std::find(desktop.actions.begin(), desktop.actions.end(), action) != desktop.actions.end();
    }

    FakeEngine engine;
    FakeDesktop desktop;
    test::FakeNotificationArea area;
    test::FakeScheduler clock;
    app::RunnableQueue queue{[] {}};
    dwl::CMainFrame frame{engine, desktop, area, queue, [](std::chrono::milliseconds) {}, clock.scheduler()};
};

template <class Error> void reportThreadError(dwl::CMainFrame& frame, Error error)
{
    struct Thread : qcl::NamedThread
    {
        Thread() : NamedThread(L"Command processor") {}
        void run() override {}
    } thread;
    try
    {
        throw error;
    }
    catch (...)
    {
        frame.onThreadError(thread);
    }
}

TEST(MainFrame, WorkerNotificationsShowTheirBalloonsOnTheMainThreadOnlyWhileTheIconIsShown)
{
    dwl::Tree::Directory root(1, L"/home/u/Wayfold");
    auto& share = root.addChild(std::make_unique<dwl::Tree::Directory>(2, L"Plans"));
    auto& folder = share.addChild(std::make_unique<dwl::Tree::Directory>(3, L"Drafts"));
    auto& file = folder.addChild(std::make_unique<dwl::Tree::File>(4, L"a.txt", 0, 0));
    using L = dwl::ui::BalloonLevel;
    const std::vector<std::pair<std::function<void(dwl::CMainFrame&)>, test::Balloon>> table = {
        {[](auto& c) { c.onFileTooBig(L"/w/Plans/big.iso", 5000, 2048); },
         {{},
          L"Document 'big.iso' cannot been added to Quillmere Wayfold because it is bigger than 2048 bytes.",
          L::Error}},
        {[](auto& c) { c.onServerAvailable(); },
         {{}, L"The server is now available.\r\nYour Shares will be updated shortly.", L::Information}},
        {[&](auto& c) { c.onDocumentDownloaded(file, share); },
         {{}, L"'a.txt' has been downloaded to '/home/u/Wayfold/Plans/Drafts'", L::Information}},
        {[](auto& c)
         { c.onDocumentDownloadFailed(L"a.txt", L"/w/P", L"There is not enough space on the disk."); },
         {{},
          L"'a.txt' could not be downloaded to '/w/P'. There is not enough space on the disk.",
          L::Error}},
        {[](auto& c) { c.onDocumentDownloadFailed(L"b.txt", L"/w/P", L""); },
         {{}, L"'b.txt' could not be downloaded to '/w/P'", L::Error}},
        {[](auto& c) { c.onFolderDownloadFailed(L"D", L"/w/P", L"Access is denied."); },
         {{}, L"Folder 'D' could not be downloaded to '/w/P'. Access is denied.", L::Error}},
        {[&](auto& c) { c.onLocalRemovalFailed(share, share, L""); },
         {{}, L"Share 'Plans' has been ended, but could not be removed from your Wayfold folder.", L::Error}},
        {[&](auto& c) { c.onLocalRemovalFailed(folder, share, L""); },
         {{}, L"Folder 'Drafts' could not be removed from Share 'Plans' in your Wayfold folder.", L::Error}},
        {[&](auto& c) { c.onLocalRemovalFailed(file, share, L""); },
         {{}, L"Document 'a.txt' could not be removed from Share 'Plans' in your Wayfold folder.", L::Error}},
        {[&](auto& c) { c.onLocalUpdateBlocked(share, share, L""); },
         {{},
          L"Share 'Plans' has been updated. However, the change cannot be reflected in your Wayfold folder "
          L"as it "
          L"is being used by another program.",
          L::Error}},
        {[&](auto& c) { c.onLocalUpdateBlocked(file, share, L""); },
         {{},
          L"'a.txt' in Share 'Plans' has been updated. However, the change cannot be reflected in your "
          L"Wayfold "
          L"folder as it is being used by another program.",
          L::Error}},
        {[&](auto& c) { c.onLocalUpdateBlocked(file, share, L"Access is denied."); },
         {{},
          L"'a.txt' in Share 'Plans' has been updated. However, the change cannot be reflected in your "
          L"Wayfold folder. Access is denied.",
          L::Error}},
        {[&](auto& c) { c.onLocalUpdateBlocked(share, share, L"Access is denied."); },
         {{},
          L"Share 'Plans' has been updated. However, the change cannot be reflected in your Wayfold folder. "
          L"Access is denied.",
          L::Error}},
        {[&](auto& c)
         { c.onDocumentCreationFailed(L"/home/u/Wayfold/Plans/Drafts/<b>x", share, {}, L"Quota exceeded"); },
         {{},
          L"Document '<b>x' cannot be added to Share 'Plans'. Quota exceeded. Please remove this "
          L"document "
          L"from your Wayfold folder.",
          L::Error}},
        {[&](auto& c) { c.onFolderCreationFailed(L"/home/u/Wayfold/Plans/D", share, {}, L""); },
         {{},
          L"Folder 'D' cannot be added to Share 'Plans'. Please remove this folder from your Wayfold folder.",
          L::Error}},
        {[](auto& c) { c.onShareCreationFailed(L"/home/u/Wayfold/S", {}, L"Refused."); },
         {{}, L"Share 'S' cannot be created on the server. Refused.", L::Error}},
        {[&](auto& c) { c.onItemUnreadable(file, share, L"Access is denied."); },
         {{},
          L"Document 'a.txt' in Share 'Plans' cannot be read. Access is denied. It is synchronised once it can be "
          L"read.",
          L::Error}},
        {[&](auto& c) { c.onItemUnreadable(folder, share, L"Access is denied."); },
         {{},
          L"Folder 'Drafts' in Share 'Plans' cannot be read. Access is denied. What it holds is synchronised once "
          L"it can be read.",
          L::Error}},
        {[&](auto& c) { c.onOtherName(file, share, L"Other/b.txt"); },
         {{}, L"'a.txt' in Share 'Plans' is another name of 'Other/b.txt', synchronised under that name only.",
          L::Error}},
        {[&](auto& c) { c.onDocumentUploadFailed(file, share, {}, L""); },
         {{},
          L"Document 'a.txt' cannot be uploaded to Share 'Plans'. Please remove this document from your "
          L"Wayfold "
          L"folder.",
          L::Error}},
        {[](auto& c) { c.onServerUnavailable(url::NetworkError(7, L"")); },
         {{},
          L"The server is temporarily unavailable.\r\nYour Shares will be updated when the server is "
          L"available.",
          L::Warning}},
    };
    for (const auto& [notify, expected] : table)
    {
        Frame f;
        notify(f.frame);
        EXPECT_TRUE(f.area.balloons.empty()) << "shown on the worker's thread";
        f.run();
        ASSERT_EQ(f.area.balloons.size(), 1u) << qcl::string::utf16ToUtf8(expected.text);
        EXPECT_EQ(f.area.balloons[0], (test::Balloon{L"Quillmere Wayfold", expected.text, expected.level}));
    }

    Frame f;
    f.frame.notifyIcon().Hide();
    f.frame.onServerAvailable();
    f.run();
    EXPECT_TRUE(f.area.balloons.empty());
}

TEST(MainFrame, AFailureThatGoesOnIsShownAgainAboutOnceAnHourUntilItsItemSucceeds)
{
    Frame f;
    dwl::Tree::Directory root(1, L"/home/u/Wayfold");
    auto& share = root.addChild(std::make_unique<dwl::Tree::Directory>(2, L"Plans"));
    auto& file = share.addChild(std::make_unique<dwl::Tree::File>(4, L"y.iso", 0, 0));
    const auto failures = [&](std::chrono::minutes duration)
    {
        std::size_t shown = 0;
        for (auto passed = std::chrono::minutes(0); passed < duration; passed += std::chrono::minutes(1))
        {
            f.area.balloons.clear();
            f.frame.onFileTooBig(L"/home/u/Wayfold/Plans/y.iso", 5000, 2048); // at every scan
            f.run();
            shown += f.area.balloons.size();
            f.clock.pass(std::chrono::minutes(1));
        }
        return shown;
    };
    EXPECT_EQ(failures(std::chrono::minutes(60)), 1u);
    EXPECT_EQ(failures(std::chrono::minutes(180)), 3u); // once an hour
    f.frame.onDocumentUploaded(file, share);
    f.run();
    EXPECT_EQ(failures(std::chrono::minutes(1)), 1u); // failing again after a success: shown at once
}

TEST(MainFrame, AFailureTheEngineReportsOnceIsShownAgainEachHourWhileItGoesOn)
{
    Frame f;
    test::ScratchFolder scratch;
    scratch.makeDirectory("Plans");
    scratch.writeFile("Plans/old.txt");
    dwl::Tree::Directory root(1, qcl::string::utf8ToUtf16(scratch.path()));
    auto& share = root.addChild(std::make_unique<dwl::Tree::Directory>(2, L"Plans"));
    auto& old = share.addChild(std::make_unique<dwl::Tree::File>(3, L"old.txt", 0, 0));
    auto& next = share.addChild(std::make_unique<dwl::Tree::File>(4, L"next.txt", 0, 0));
    const auto hours = [&](int count) // the failures shown meanwhile
    {
        f.area.balloons.clear();
        for (int i = 0; i < count; ++i)
            f.clock.pass(dwl::CMainFrame::kFailureRepeatTime);
        return std::count_if(f.area.balloons.begin(), f.area.balloons.end(),
                             [](const test::Balloon& shown)
                             { return shown.level == dwl::ui::BalloonLevel::Error; });
    };

    // Not removed: shown each hour while the item is there.
    f.frame.onLocalRemovalFailed(old, share, L"Access is denied.");
    f.run();
    EXPECT_EQ(f.area.balloons.size(), 1u);
    ASSERT_EQ(hours(2), 2);
    EXPECT_EQ(f.area.balloons.back(), f.area.balloons.front());
    std::filesystem::remove(scratch / "Plans/old.txt"); // removed on a later try
    EXPECT_EQ(hours(2), 0);

    // Not downloaded: shown each hour until it is.
    f.frame.onDocumentDownloadFailed(L"next.txt", share.getPath(), L"There is not enough space on the disk.");
    f.run();
    EXPECT_EQ(hours(1), 1);
    f.frame.onDocumentDownloaded(next, share);
    f.run();
    EXPECT_EQ(hours(2), 0);
}

TEST(MainFrame, IconAndToolTipFollowAvailabilitySynchronisationAndSleep)
{
    Frame f;
    using P = dwl::ui::TrayPicture;
    EXPECT_EQ(f.area.picture, P::Online);
    EXPECT_EQ(f.area.toolTip, L"Quillmere Wayfold 1.13.0\nConnected to Local <dev>");
    f.frame.setSynchronising(true);
    f.run();
    EXPECT_EQ(f.area.picture, P::Synchronising);
    EXPECT_EQ(f.area.toolTip, L"Quillmere Wayfold 1.13.0\nSynchronising with Local <dev>");
    f.frame.onServerUnavailable(url::NetworkError(7, L""));
    f.run();
    EXPECT_EQ(f.area.picture, P::Offline);
    EXPECT_EQ(f.area.toolTip, L"Quillmere Wayfold 1.13.0\nServer Local <dev> is currently unavailable");
    // Asleep during the outage: the engine starts again from "available, idle" and reports only changes.
    f.frame.OnPowerBroadcast(dwl::PBT_APMSUSPEND);
    f.run();
    EXPECT_EQ(f.area.picture, P::Offline);
    EXPECT_FALSE(f.engine.running);
    f.frame.OnPowerBroadcast(dwl::PBT_APMRESUMESUSPEND);
    EXPECT_EQ(f.area.picture, P::Online);
    EXPECT_EQ(f.area.toolTip, L"Quillmere Wayfold 1.13.0\nConnected to Local <dev>");
    EXPECT_TRUE(f.engine.running);
    // A resume without a suspend starts nothing.
    f.engine.calls.clear();
    f.frame.OnPowerBroadcast(18);
    EXPECT_EQ(f.engine.calls, "");
}

TEST(MainFrame, AFailedResumeSaysSynchronisingStoppedAndEndsWithAnError)
{
    Frame f;
    f.frame.OnPowerBroadcast(dwl::PBT_APMSUSPEND);
    f.engine.failStart = true;
    f.frame.OnPowerBroadcast(dwl::PBT_APMRESUMESUSPEND);
    f.run();
    ASSERT_EQ(f.desktop.errors.size(), 1u);
    EXPECT_NE(f.desktop.errors[0].find(L"stopped synchronising"), std::wstring::npos);
    EXPECT_EQ(f.desktop.exitCode, 1);
}

TEST(MainFrame, UpgradeItemOffersDownloadsAndComesBackAfterTheDownload)
{
    Frame f;
    auto item = [&] { return *f.area.menu.find(dwl::ID_CONTEXTMENU_UPGRADE); };
    auto count = [&](const std::wstring& text)
    {
        return std::count_if(f.area.balloons.begin(), f.area.balloons.end(),
                             [&](const test::Balloon& balloon) { return balloon.text == text; });
    };
    const std::wstring offered =
        L"A newer version of Quillmere Wayfold is available.\nRight click and choose 'Update' to apply.";
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"No Update Available", false}));
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE); // nothing offered yet
    EXPECT_EQ(f.engine.calls.find("download"), std::string::npos);

    // Every check offers it again; the user hears of each version once.
    f.frame.onNewVersionAvailable({1, 14, 2}, "http://x/setup.deb");
    f.frame.onNewVersionAvailable({1, 14, 2}, "http://x/setup.deb");
    f.run();
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"Update to version 1.14.2", true}));
    EXPECT_EQ(count(offered), 1);

    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE);
    EXPECT_NE(f.engine.calls.find("download(http://x/setup.deb)"), std::string::npos);
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"Downloading update (0%)", false}));
    f.frame.onUpgradeDownloadProgress(42);
    f.frame.onNewVersionAvailable({1, 15, 0}, "http://x/later.deb"); // stored, nothing shown
    f.run();
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"Downloading update (42%)", false}));
    EXPECT_EQ(count(offered), 1);

    f.frame.onUpgradeDownloadFailed(L"Cannot use folder '/home/u/.cache': others may write to it");
    f.frame.onUpgradeDownloadProgress(50); // late: the download is over
    f.run();
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"Update to version 1.15.0", true}));
    EXPECT_EQ(f.area.balloons.back().text,
              L"An error occurred while downloading the update. Cannot use folder "
              L"'/home/u/.cache': others may write to it.");

    // Cut by sleep: no error, and it starts again on wake.
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE);
    f.engine.calls.clear();
    f.area.balloons.clear();
    f.frame.OnPowerBroadcast(dwl::PBT_APMSUSPEND);
    f.frame.onUpgradeDownloadFailed(L"cut"); // what the cut download reports
    f.run();
    f.frame.OnPowerBroadcast(dwl::PBT_APMRESUMESUSPEND);
    EXPECT_EQ(f.engine.calls, "stop start download(http://x/later.deb) ");
    EXPECT_TRUE(f.area.balloons.empty());
    EXPECT_EQ(item(), (dwl::ui::MenuItem{dwl::ID_CONTEXTMENU_UPGRADE, L"Downloading update (0%)", false}));

    // A finished download is never run nor opened: its folder is shown, the balloon says where, and the
    // program goes on.
    f.frame.onUpgradeDownloadFinished(L"/tmp/x/setup.deb");
    f.run();
    f.clock.pass(win32::NotifyIcon::kFailureHoldTime); // the failure's balloon before has had its time
    EXPECT_TRUE(f.has("path /tmp/x"));
    EXPECT_FALSE(f.has("path /tmp/x/setup.deb"));
    EXPECT_EQ(
        f.area.balloons.back().text,
        L"Version 1.15.0 of Quillmere Wayfold has been downloaded to '/tmp/x/setup.deb'. Install it from "
        L"there.");
    EXPECT_FALSE(f.desktop.exitCode);
    EXPECT_TRUE(f.engine.running);
}

TEST(MainFrame, ADownloadedUpdateIsShownAgainInsteadOfDownloadedOnceMore)
{
    Frame f;
    test::ScratchFolder scratch;
    const std::string installer = scratch.writeFile("setup.deb");
    f.frame.onNewVersionAvailable({1, 14, 0}, "http://x/setup.deb");
    f.run();
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE);
    f.frame.onUpgradeDownloadFinished(qcl::string::utf8ToUtf16(installer));
    f.run();
    f.engine.calls.clear();
    f.desktop.actions.clear();
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE);
    EXPECT_EQ(f.engine.calls, "");
    EXPECT_TRUE(f.has("path " + scratch.path()));

    // Gone from its folder: downloaded again.
    std::filesystem::remove(installer);
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UPGRADE);
    EXPECT_EQ(f.engine.calls, "download(http://x/setup.deb) ");
}

TEST(MainFrame, AFailureIsShownOnceUntilItsItemSucceeds)
{
    Frame f;
    dwl::Tree::Directory root(1, L"/home/u/Wayfold");
    auto& share = root.addChild(std::make_unique<dwl::Tree::Directory>(2, L"Plans"));
    auto& file = share.addChild(std::make_unique<dwl::Tree::File>(3, L"a.txt", 0, 0));
    const auto refused = [&]
    {
        f.frame.onDocumentUploadFailed(file, share,
                                       dwl::make_error_code(dwl::ServerErrorCode::permissionDenied), L"");
    };
    refused();
    refused();
    f.frame.onFileTooBig(L"/home/u/Wayfold/Plans/big.iso", 5000, 2048);
    f.frame.onFileTooBig(L"/home/u/Wayfold/Plans/big.iso", 5000, 2048);
    f.run();
    f.clock.pass(win32::NotifyIcon::kFailureHoldTime);
    ASSERT_EQ(f.area.balloons.size(), 2u);
    EXPECT_EQ(f.area.balloons[0].text,
              L"Document 'a.txt' cannot be uploaded to Share 'Plans'. You do not have permission to perform "
              L"this action. Please remove this document from your Wayfold folder.");

    f.frame.onDocumentUploaded(file, share);
    refused();
    f.frame.onFileTooBig(L"/home/u/Wayfold/Plans/big.iso", 5000, 2048);
    f.run();
    f.clock.pass(win32::NotifyIcon::kFailureHoldTime);
    EXPECT_EQ(f.area.balloons.size(), 3u);
    EXPECT_EQ(f.area.balloons.back().text, f.area.balloons[0].text);
}

TEST(MainFrame, ALongNameIsCutSoThatTheReasonAndTheInstructionStayWhole)
{
    Frame f;
    dwl::Tree::Directory root(1, L"/home/u/Wayfold");
    auto& share = root.addChild(std::make_unique<dwl::Tree::Directory>(2, L"Plans"));
    const std::wstring name(200, L'n');
    f.frame.onDocumentCreationFailed(L"/home/u/Wayfold/Plans/" + name, share,
                                     dwl::make_error_code(dwl::ServerErrorCode::userExceededQuota), L"");
    f.run();
    ASSERT_EQ(f.area.balloons.size(), 1u);
    const std::wstring& shown = f.area.balloons[0].text;
    EXPECT_EQ(shown.size(), win32::NotifyIcon::maxBalloonText);
    EXPECT_EQ(shown.substr(0, 15), L"Document 'nnnnn");
    EXPECT_NE(
        shown.find(L"n\x2026' cannot be added to Share 'Plans'. You have exceeded your usage plan quota. "
                   L"Upgrade your plan to receive more connections. Please remove this document from your "
                   L"Wayfold folder."),
        std::wstring::npos);
}

TEST(MainFrame, ThreadErrorsAskForThePasswordEndOnARefusedVersionOrReportTheFailure)
{
    {
        Frame f;
        f.engine.calls.clear();
        reportThreadError(f.frame, url::HttpAuthenticationError(L""));
        f.run();
        EXPECT_EQ(f.engine.calls, "stop password start ");
        EXPECT_TRUE(f.area.shown);
        EXPECT_FALSE(f.desktop.exitCode);
    }
    for (const std::string downloads : {"http://wayfold.example/downloads", ""})
    {
        Frame f;
        f.engine.downloads = downloads;
        reportThreadError(f.frame, url::NotAcceptableError(L""));
        f.run();
        ASSERT_EQ(f.desktop.errors.size(), 1u);
        EXPECT_EQ(f.desktop.errors[0],
                  L"You have an old version of Quillmere Wayfold.\r\nThis version is no longer "
                  L"compatible. | Please upgrade to a later version of Quillmere Wayfold.");
        EXPECT_EQ(f.has("url " + downloads), !downloads.empty());
        EXPECT_EQ(f.desktop.exitCode, 1);
        EXPECT_FALSE(f.area.shown);
    }
    {
        Frame f;
        reportThreadError(f.frame, std::runtime_error("disk on fire"));
        f.run();
        ASSERT_EQ(f.desktop.errors.size(), 1u);
        EXPECT_NE(f.desktop.errors[0].find(L"| Error in thread 'Command processor': disk on fire"),
                  std::wstring::npos);
        EXPECT_TRUE(f.has("url http://assistance.wayfold.example/app/ask"));
        EXPECT_EQ(f.desktop.exitCode, 1);
    }
}

TEST(MainFrame, SecondInstanceHandsOverAndExitsWithZeroOrSaysItCouldNot)
{
    for (const bool answered : {true, false})
    {
        Frame f(false);
        f.desktop.handOverAnswered = answered;
        f.engine.initialiseResults.push_back(
            {true, [] { throw dwl::Mediator::OtherInstanceAlreadyRunning(); }});
        f.frame.OnCreate();
        f.run();
        EXPECT_TRUE(f.has("hand-over"));
        EXPECT_FALSE(f.has("listen")); // the lock is not ours
        EXPECT_EQ(f.desktop.exitCode, answered ? 0 : 1);
        EXPECT_EQ(f.desktop.startFailures.size(), answered ? 0u : 1u);
        EXPECT_EQ(f.engine.calls.find("start"), std::string::npos);
    }
}

TEST(MainFrame, AStartThatCannotGoOnSaysWhyAndEndsWithOneWithoutCallingItUnexpected)
{
    Frame f(false);
    f.engine.initialiseResults.push_back(
        {true,
         [] { throw dwl::StartFailure(L"Cannot read the list of servers '/opt/w/Servers.json': gone"); }});
    f.frame.OnCreate();
    f.run();
    EXPECT_EQ(f.desktop.startFailures,
              std::vector<std::wstring>{L"Cannot read the list of servers '/opt/w/Servers.json': gone"});
    EXPECT_TRUE(f.desktop.errors.empty());
    EXPECT_FALSE(f.has("url http://assistance.wayfold.example/app/ask"));
    EXPECT_EQ(f.desktop.exitCode, 1);
}

TEST(MainFrame, MissingFolderRetriesUnlinksOrExitsAndAStartFailureIsFatal)
{
    Frame f(false);
    auto missing = [] { throw dwl::Mediator::MissingFolder(L"/gone/Wayfold"); };
    f.engine.initialiseResults = {{true, missing}, {true, missing}};
    f.desktop.choices = {Choice::Retry, Choice::Unlink};
    f.frame.OnCreate();
    f.run();
    EXPECT_EQ(f.engine.calls, "initialise initialise unlink ");
    f.frame.onUnlinkCompleted();
    f.run();
    EXPECT_EQ(f.engine.calls, "initialise initialise unlink unregistered clear initialise start ");
    EXPECT_FALSE(f.desktop.exitCode);

    // While running, a vanished folder stops the engine and asks again.
    f.frame.onWayfoldFolderMissing(L"/gone/Wayfold");
    f.run();
    EXPECT_FALSE(f.engine.running);
    EXPECT_EQ(f.desktop.exitCode, 0);

    Frame broken(false);
    broken.engine.initialiseResults.push_back({true, [] { throw std::runtime_error("bad Servers.json"); }});
    broken.frame.OnCreate();
    broken.run();
    EXPECT_EQ(broken.desktop.exitCode, 1);
}

TEST(MainFrame, TheQueryWhetherTheSessionMayEndIsLoggedAndChangesNothing)
{
    Frame f;
    const std::size_t from = logCapture.lineCount();
    f.frame.OnQueryEndSession();
    f.run();
    EXPECT_TRUE(logCapture.waitFor("Received WM_QUERYENDSESSION message with logOff = 0", from));
    EXPECT_TRUE(f.engine.running);
    EXPECT_FALSE(f.desktop.exitCode);
}

TEST(MainFrame, EndOfSessionDuringTheUnlinkDialogClosesWithZeroAndUnlinksNothing)
{
    Frame f;
    f.desktop.duringUnlinkDialog = [&]
    {
        f.frame.OnCommand(dwl::ID_CONTEXTMENU_UNLINK); // a second request only raises the dialog
        f.frame.OnEndSession(true);
        f.frame.onServerAvailable(); // a late worker report
    };
    f.frame.OnCommand(dwl::ID_CONTEXTMENU_UNLINK);
    f.run();
    EXPECT_TRUE(f.has("front"));
    EXPECT_EQ(f.desktop.exitCode, 0);
    EXPECT_EQ(f.engine.calls.find("unlink"), std::string::npos);
    EXPECT_FALSE(f.area.shown);
    EXPECT_TRUE(f.area.balloons.empty());
}

TEST(MainFrame, AThrowingRunnableShowsTheUnexpectedErrorAndEndsWithAnError)
{
    Frame f;
    f.frame.post([] { throw std::runtime_error("bug"); });
    f.run();
    ASSERT_EQ(f.desktop.errors.size(), 1u);
    EXPECT_EQ(f.desktop.exitCode, 1);
    f.frame.onServerAvailable();
    f.run();
    EXPECT_TRUE(f.area.balloons.empty());
}

TEST(MainFrame, ReasonTextUsesTheServersFixedTextsOrEndsTheMessageWithAFullStop)
{
    Frame f(false);
    EXPECT_EQ(dwl::CMainFrame::getReasonText(dwl::make_error_code(dwl::ServerErrorCode::shareNotFound), L"x"),
              L"The Share does not exist.");
    EXPECT_EQ(dwl::CMainFrame::getReasonText(dwl::make_error_code(dwl::ServerErrorCode::unknown), L"No"),
              L"No.");
    EXPECT_EQ(dwl::CMainFrame::getReasonText({}, L"Done."), L"Done.");
    EXPECT_EQ(dwl::CMainFrame::getReasonText({}, L""), L"");
}
} // namespace
