#include "app/Mediator.h"

#include "app/ConfigurationDlg.h"
#include "app/Paths.h"
#include "app/StartFailure.h"
#include "compat/KnownFolders.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "qcl/qcl_scope.h"

#include "FakeUserInterface.h"
#include "support/FakeWayfoldServer.h"
#include "support/ScratchFolder.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using namespace std::chrono_literals;
using fake::FaultKind;
using fake::FaultRule;
namespace fs = std::filesystem;

// The configuration dialog accepts only folders on a disk file system; the temporary-files folder may be a
// memory one.
const bool scratchOnDisk = ::setenv("TMPDIR", std::filesystem::current_path().c_str(), 1) == 0;

const std::string kEmail = "ann@example.com";
const std::string kPassword = "s3cret";

std::wstring wide(const std::string& text)
{
    return qcl::string::utf8ToUtf16(text);
}

// A Mediator driven as the tray window drives it, on the test's thread, with a callback that records what
// reaches the user interface and answers the dialogs as scripted.
class MediatorTest : public testing::Test, public dwl::Mediator::Callback
{
protected:
    MediatorTest()
    {
        EXPECT_TRUE(scratchOnDisk);
        ::setenv("XDG_DATA_HOME", logHome().path().c_str(), 1);
        server.start();
        server.addUser(kEmail, kPassword);
        signInWith(scratch / "home");
        for (const KNOWNFOLDERID* id : {&FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow})
            compat::setKnownFolderForTesting(*id, wide(scratch / "appdata"));
        compat::setKnownFolderForTesting(FOLDERID_Profile, wide(scratch / "home"));
        writeServerList("");
        probe.setServerUrl(server.baseUrl() + "/rest");
        probe.setCredentials(wide(kEmail), wide(kPassword));
        mediator = makeMediator();
    }

    ~MediatorTest() override
    {
        mediator.reset();
        for (const KNOWNFOLDERID* id : {&FOLDERID_LocalAppData, &FOLDERID_LocalAppDataLow, &FOLDERID_Profile})
            compat::setKnownFolderForTesting(*id, std::nullopt);
    }

    void TearDown() override { EXPECT_EQ(server.violations(), std::vector<std::string>()); }

    // One for the process: the log opened by the first test stays open.
    static test::ScratchFolder& logHome()
    {
        static test::ScratchFolder folder;
        return folder;
    }

    void writeServerList(const std::string& upgradeInfoUrl)
    {
        std::ofstream(scratch / "Servers.json")
            << R"("DocumentBlackList": ["~\\$.*"]
"FolderBlackList": []
"Servers": { "Local": { "DisplayName": "Local", "BaseUrl": ")"
            << server.baseUrl() << R"(", "MessagePollingIntervalInSeconds": 1, "UpgradeInfoUrl": ")"
            << upgradeInfoUrl << R"(", "DelayBeforeCheckingForUpgradeInSeconds": 0,
  "UpgradeInfoPollingIntervalInSeconds": 0, "UpgradeInfoRetryIntervalInSeconds": 0 } }
"DefaultServer": "Local"
"CountryToServer": {}
)";
    }

    std::unique_ptr<dwl::Mediator> makeMediator()
    {
        auto made = std::make_unique<dwl::Mediator>();
        made->setCallback(this);
        made->setApplicationVersion({1, 13, 0});
        made->setServerListFile(wide(scratch / "Servers.json"));
        made->scanner().setQuietTime(50ms);
        return made;
    }

    // The dialog as a user fills it in: the account, and the Wayfold folder in `location`.
    void signInWith(const std::string& location)
    {
        dialogLocation = location;
        fs::create_directories(fs::path(location) / "Wayfold");
    }

    // ---- Mediator::Callback ----

    void record(const std::string& kind, const std::string& detail = "")
    {
        std::lock_guard lock(mutex);
        reports.emplace_back(kind, detail);
    }
    std::size_t count(const std::string& kind)
    {
        std::lock_guard lock(mutex);
        return std::count_if(reports.begin(), reports.end(),
                             [&](const auto& report) { return report.first == kind; });
    }
    std::vector<std::string> details(const std::string& kind)
    {
        std::lock_guard lock(mutex);
        std::vector<std::string> found;
        for (const auto& [reportKind, detail] : reports)
            if (reportKind == kind)
                found.push_back(detail);
        return found;
    }

    void onFileTooBig(const std::wstring&, std::uint64_t, std::uint64_t) override { record("fileTooBig"); }
    void onServerUnavailable(const url::Error&) override { record("serverUnavailable"); }
    void onServerAvailable() override { record("serverAvailable"); }
    void setSynchronising(bool) override { record("synchronising"); }
    void onThreadError(qcl::NamedThread& thread) override
    {
        record("threadError",
               qcl::string::utf16ToUtf8(thread.name() + L": " + qcl::currentExceptionMessage()));
    }
    void onDocumentDownloaded(const dwl::Tree::File&, const dwl::Tree::Directory&) override
    {
        record("downloaded");
    }
    void onDocumentDownloadFailed(const std::wstring&, const std::wstring&, const std::wstring&) override
    {
        record("documentDownloadFailed");
    }
    void onFolderDownloadFailed(const std::wstring&, const std::wstring&, const std::wstring&) override
    {
        record("folderDownloadFailed");
    }
    void onLocalRemovalFailed(const dwl::Tree::Node&, const dwl::Tree::Directory&,
                              const std::wstring&) override
    {
        record("localRemovalFailed");
    }
    void onLocalUpdateBlocked(const dwl::Tree::Node&, const dwl::Tree::Directory&,
                              const std::wstring&) override
    {
        record("localUpdateBlocked");
    }
    void onDocumentCreationFailed(const std::wstring&, const dwl::Tree::Directory&, const std::error_code&,
                                  const std::wstring&) override
    {
        record("documentCreationFailed");
    }
    void onFolderCreationFailed(const std::wstring&, const dwl::Tree::Directory&, const std::error_code&,
                                const std::wstring&) override
    {
        record("folderCreationFailed");
    }
    void onShareCreationFailed(const std::wstring&, const std::error_code&, const std::wstring&) override
    {
        record("shareCreationFailed");
    }
    void onDocumentUploadFailed(const dwl::Tree::File&, const dwl::Tree::Directory&, const std::error_code&,
                                const std::wstring&) override
    {
        record("documentUploadFailed");
    }
    void onDocumentUploaded(const dwl::Tree::File&, const dwl::Tree::Directory&) override
    {
        record("uploaded");
    }
    void onItemUnreadable(const dwl::Tree::Node&, const dwl::Tree::Directory&, const std::wstring&) override
    {
        record("itemUnreadable");
    }
    void onOtherName(const dwl::Tree::File&, const dwl::Tree::Directory&, const std::wstring&) override
    {
        record("otherName");
    }
    void onWayfoldFolderMissing(const std::wstring& folder) override
    {
        record("folderMissing", qcl::string::utf16ToUtf8(folder));
    }
    void onUnlinkCompleted() override { record("unlinkCompleted"); }
    bool editConfiguration(dwl::Configuration& configuration, dwl::WayfoldApi& api,
                           const dwl::ServerList& servers) override
    {
        record("editConfiguration");
        if (typedEmail)
            return signInThroughTheDialog(configuration, api, servers);
        configuration.server = L"Local";
        configuration.userName = wide(kEmail);
        configuration.password = wide(kPassword);
        configuration.wayfoldFolderLocation = wide(dialogLocation);
        return dialogAccepted;
    }
    bool editPassword(dwl::Configuration& configuration, dwl::WayfoldApi&, const dwl::ServerList&) override
    {
        record("editPassword");
        configuration.password = wide(kPassword);
        return true;
    }
    void createWayfoldShortcutInFavorites(const std::wstring& folder) override
    {
        record("shortcut", qcl::string::utf16ToUtf8(folder));
    }
    void onNewVersionAvailable(const dwl::Version& version, const std::string&) override
    {
        record("newVersion", version.toString());
        if (newVersionHook)
            newVersionHook();
    }
    void onUpgradeDownloadProgress(int percent) override { record("progress", std::to_string(percent)); }
    void onUpgradeDownloadFinished(const std::wstring&) override { record("downloadFinished"); }
    void onUpgradeDownloadFailed(const std::wstring&) override { record("downloadFailed"); }

    // The real dialog, as a user who types `typedEmail` and the password over the stored settings.
    bool signInThroughTheDialog(dwl::Configuration& configuration, dwl::WayfoldApi& api,
                                const dwl::ServerList& servers)
    {
        using View = dwl::ui::ConfigurationView;
        test::FakeUserInterface ui;
        ui.configurationScript = [&](test::FakeConfigurationView& view, View::Events& events)
        {
            view.setText(View::EmailEdit, *typedEmail);
            view.setText(View::PasswordEdit, wide(kPassword));
            events.OnLogin();
            if (!view.isEnabled(View::LoginButton) && view.waitForPingEnded())
                events.OnPingEnded();
        };
        dwl::ConfigurationDlg dialog(configuration, api, servers, ui,
                                     dwl::ConfigurationDlg::Mode::Configuration);
        const bool accepted = dialog.DoModal() == dwl::ui::IDOK;
        for (const auto& shown : ui.box.shown)
            record("message", qcl::string::utf16ToUtf8(shown.text));
        return accepted;
    }

    // ---- the world ----

    // A Share of the user with one folder in it, as another Device would have made it.
    fake::IdPairText shareWithFolder(const std::string& share, const std::string& folder)
    {
        const fake::IdPairText ids = server.createShare(kEmail, share);
        probe.createFolder(wide(folder), {qcl::uint128::parse(ids.shareId), qcl::uint128::parse(ids.rootId)});
        return ids;
    }

    std::vector<std::string> serverNames(const std::string& folderId) const
    {
        std::vector<std::string> names;
        for (const fake::AssetView& child : server.children(folderId))
            names.push_back(child.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    dwl::Configuration storedConfiguration() const
    {
        dwl::Configuration stored = dwl::Configuration::withDefaults();
        dwl::Configuration::load(stored, dwl::Paths::configurationFile());
        return stored;
    }

    std::size_t changingRequests() const
    {
        std::size_t changing = 0;
        for (const fake::RecordedRequest& request : server.requests("/rest/"))
            changing += request.method != "GET";
        return changing;
    }

    test::ScratchFolder scratch;
    fake::FakeWayfoldServer server;
    dwl::WayfoldApi probe;
    std::unique_ptr<dwl::Mediator> mediator;
    std::string dialogLocation = scratch / "home";
    bool dialogAccepted = true;
    std::optional<std::wstring> typedEmail;
    std::function<void()> newVersionHook;
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> reports;
};

TEST_F(MediatorTest, FirstStartBringsSharesDownAndKeepsWorkingAfterAWakeAndAPasswordReentry)
{
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    const fs::path folder = scratch / "home/Wayfold";

    ASSERT_TRUE(mediator->initialise());
    EXPECT_EQ(details("shortcut"), std::vector<std::string>{folder.string()});
    EXPECT_EQ(mediator->tree()->name(), wide(folder));
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(folder / "Projects/Plans"); }));
    ASSERT_EQ(server.devices(kEmail).size(), 1u);
    const dwl::Configuration stored = storedConfiguration();
    EXPECT_EQ(stored.deviceId, qcl::uint128::parse(server.devices(kEmail)[0]));
    EXPECT_FALSE(stored.mustShowConfigurationDialog);
    EXPECT_EQ(stored.version, (dwl::Version{1, 13, 0}));

    // Sleep and wake: no new initialisation, and local changes still reach the server.
    mediator->stop();
    mediator->start();
    fs::create_directory(folder / "Projects/Notes");
    ASSERT_TRUE(test::waitUntil([&] { return serverNames(projects.rootId).size() == 2; }));

    // The server refuses the password: the command processor ends, and the tray window asks again.
    server.addFault(FaultRule::status_("", "/rest/.*", 401));
    ASSERT_TRUE(test::waitUntil([&] { return count("threadError") == 1; }));
    EXPECT_NE(details("threadError")[0].find("Command Processor: "), std::string::npos);
    mediator->stop();
    ASSERT_TRUE(mediator->reenterPassword());
    mediator->start();
    fs::create_directory(folder / "Projects/Later");
    ASSERT_TRUE(test::waitUntil([&] { return serverNames(projects.rootId).size() == 3; }));
    EXPECT_EQ(serverNames(projects.rootId), (std::vector<std::string>{"Later", "Notes", "Plans"}));
    EXPECT_EQ(count("editPassword"), 1u);
    EXPECT_EQ(count("threadError"), 1u);
    EXPECT_EQ(server.devices(kEmail).size(), 1u);
}

TEST_F(MediatorTest, ACancelledDialogStopsInitialisationAndTheDialogComesOnlyWhenNeeded)
{
    shareWithFolder("Projects", "Plans");
    dialogAccepted = false;
    EXPECT_FALSE(mediator->initialise());
    EXPECT_EQ(count("shortcut"), 0u);

    dialogAccepted = true;
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(scratch / "home/Wayfold/Projects/Plans"); }));
    mediator->stop();
    const qcl::uint128 deviceId = mediator->configuration()->deviceId;
    ASSERT_FALSE(deviceId.isNil());

    // Not asked for and the server is listed: no dialog.
    ASSERT_TRUE(mediator->initialise());
    EXPECT_EQ(count("editConfiguration"), 2u);

    // Asked for again with the same account and folder: the folder's picture and the Device stay, or every
    // file in the folder would be sent again as new.
    mediator->configuration()->mustShowConfigurationDialog = true;
    ASSERT_TRUE(mediator->initialise());
    EXPECT_FALSE(mediator->tree()->children().empty());
    EXPECT_EQ(storedConfiguration().deviceId, deviceId);

    // A server that is not listed any more asks again; a new folder starts from nothing.
    mediator->configuration()->server = L"Gone";
    signInWith(scratch / "elsewhere");
    ASSERT_TRUE(mediator->initialise());
    EXPECT_EQ(count("editConfiguration"), 4u);
    EXPECT_TRUE(mediator->tree()->children().empty());
    EXPECT_EQ(mediator->tree()->name(), wide(scratch / "elsewhere/Wayfold"));
    const dwl::Configuration stored = storedConfiguration();
    EXPECT_TRUE(stored.deviceId.isNil());
    EXPECT_FALSE(stored.mustShowConfigurationDialog);
}

TEST_F(MediatorTest, SigningInAgainWithTheAddressInOtherLettersKeepsTheFolderItsPictureAndTheDevice)
{
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(scratch / "home/Wayfold/Projects/Plans"); }));
    mediator->stop();
    const qcl::uint128 deviceId = mediator->configuration()->deviceId;

    mediator->configuration()->mustShowConfigurationDialog = true;
    typedEmail = L"ANN@Example.COM";
    const bool accepted = mediator->initialise();
    EXPECT_EQ(details("message"), std::vector<std::string>()); // the folder's content was accepted
    ASSERT_TRUE(accepted);
    EXPECT_FALSE(mediator->tree()->children().empty());
    EXPECT_EQ(storedConfiguration().deviceId, deviceId);

    mediator->start();
    std::this_thread::sleep_for(2s); // two polling intervals: nothing is sent again as new
    mediator->stop();
    EXPECT_EQ(server.devices(kEmail).size(), 1u);
    EXPECT_EQ(serverNames(projects.rootId), std::vector<std::string>{"Plans"});
}

TEST_F(MediatorTest, WorkerNotificationsPassOnlyWhileRunningButUpgradeReportsAlwaysPass)
{
    writeServerList(server.baseUrl() + "/upgrade/info");
    server.setUpgrade({1, 14, 0}, "installer");
    ASSERT_TRUE(mediator->initialise());

    const auto notifyAll = [&]
    {
        mediator->onServerAvailable();
        mediator->setSynchronising(true);
        mediator->onFileTooBig(L"big", 2, 1);
        mediator->onShareCreationFailed(L"Share", {}, L"why");
        mediator->onUpgradeDownloadProgress(5);
        mediator->onUpgradeDownloadFailed(L"cut");
    };
    notifyAll();
    EXPECT_EQ(count("serverAvailable") + count("synchronising") + count("fileTooBig") +
                  count("shareCreationFailed"),
              0u);
    EXPECT_EQ(count("progress") + count("downloadFailed"), 2u);

    // A failure of a worker while running reaches the user interface...
    newVersionHook = [] { throw 42; };
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return count("threadError") == 1; }));
    EXPECT_NE(details("threadError")[0].find("Upgrade Checker: "), std::string::npos);
    notifyAll();
    EXPECT_EQ(count("fileTooBig") + count("shareCreationFailed"), 2u);
    mediator->stop();

    // ...and one during stop does not. The checker that ended by itself starts again.
    std::atomic<bool> offered{false};
    newVersionHook = [&]
    {
        offered = true;
        test::waitUntil([&] { return !mediator->isRunning(); });
        throw 42;
    };
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return offered.load(); }));
    mediator->stop();
    EXPECT_EQ(count("threadError"), 1u);
    EXPECT_EQ(details("newVersion"), (std::vector<std::string>{"1.14.0", "1.14.0"}));
}

TEST_F(MediatorTest, UnlinkAndRelinkIntoANewFolderBringsEverythingDownAndDeletesNothingOnTheServer)
{
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    const fs::path first = scratch / "home/Wayfold";
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(first / "Projects/Plans"); }));
    fs::create_directory(first / "Projects/Mine");
    ASSERT_TRUE(test::waitUntil([&] { return serverNames(projects.rootId).size() == 2; }));
    const std::vector<std::string> firstDevices = server.devices(kEmail);

    // As the tray window unlinks: stop, unregister on a task, then clear and initialise again.
    mediator->stop();
    mediator->unlink();
    ASSERT_TRUE(test::waitUntil([&] { return count("unlinkCompleted") == 1; }));
    mediator->onDeviceUnregistered();
    mediator->clearDatabaseAndConfiguration();
    EXPECT_EQ(server.devices(kEmail), std::vector<std::string>());
    EXPECT_TRUE(storedConfiguration().mustShowConfigurationDialog);
    EXPECT_TRUE(storedConfiguration().userName.empty());

    signInWith(scratch / "second");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    const fs::path second = scratch / "second/Wayfold";
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return fs::is_directory(second / "Projects/Plans") && fs::is_directory(second / "Projects/Mine");
        }));
    mediator->stop();

    EXPECT_TRUE(fs::is_directory(first / "Projects/Mine"));
    EXPECT_EQ(serverNames(projects.rootId), (std::vector<std::string>{"Mine", "Plans"}));
    ASSERT_EQ(server.devices(kEmail).size(), 1u);
    EXPECT_NE(server.devices(kEmail), firstDevices);
    for (const fake::RecordedRequest& request : server.requests("/rest/"))
    {
        if (request.method == "DELETE")
        {
            EXPECT_NE(request.path.find("/devices/"), std::string::npos) << request.path;
        }
    }
}

TEST_F(MediatorTest, UnlinkWithoutADeviceCallsNoServerAndClosingAbortsAnUnlinkSilently)
{
    ASSERT_TRUE(mediator->initialise());
    mediator->unlink();
    ASSERT_TRUE(test::waitUntil([&] { return count("unlinkCompleted") == 1; }));
    mediator->onDeviceUnregistered();
    EXPECT_EQ(server.requests("/rest/").size(), 0u);

    mediator->configuration()->deviceId = qcl::uint128::parse(std::string(32, '1'));
    server.addFault(FaultRule::of(FaultKind::Stall, "DELETE", ".*/devices/.*"));
    mediator->unlink();
    ASSERT_TRUE(server.waitForStalled(1));
    mediator.reset();
    server.releaseStalls();
    EXPECT_EQ(count("unlinkCompleted"), 1u);
}

TEST_F(MediatorTest, AMissingFolderOrAnotherInstanceStopsInitialisation)
{
    fs::remove(scratch / "home/Wayfold");
    std::ofstream(scratch / "home/Wayfold") << "a file";
    try
    {
        mediator->initialise();
        ADD_FAILURE() << "a file is not the Wayfold folder";
    }
    catch (const dwl::Mediator::MissingFolder& error)
    {
        EXPECT_EQ(error.message(), L"Cannot find folder '" + wide(scratch / "home/Wayfold") + L"'");
    }
    fs::remove(scratch / "home/Wayfold");
    EXPECT_THROW(mediator->initialise(), dwl::Mediator::MissingFolder);

    const std::unique_ptr<dwl::Mediator> other = makeMediator();
    EXPECT_THROW(other->initialise(), dwl::Mediator::OtherInstanceAlreadyRunning);
    std::ifstream lock(scratch / "appdata/quillmere/Wayfold/Lock");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(lock), {}),
              "ProcessId: " + std::to_string(::getpid()) + "\r\n");
}

TEST_F(MediatorTest, AWayfoldFolderThatAnotherUserCouldChangeStopsTheStart)
{
    const std::string folder = scratch / "home/Wayfold";
    const auto startFailure = [&]
    {
        try
        {
            mediator->initialise();
        }
        catch (const dwl::StartFailure& failure)
        {
            return failure.message();
        }
        return std::wstring(L"started");
    };
    fs::permissions(folder, fs::perms(0777));
    EXPECT_EQ(startFailure(),
              L"Cannot use folder '" + wide(folder) +
                  L"': other users may write to it.\nRemove their permission to write (chmod -R "
                  L"go-w '" +
                  wide(folder) +
                  L"'; where an access control list grants it, also "
                  L"setfacl -R -b '" +
                  wide(folder) + L"') and start Quillmere Wayfold again.");
    if (::geteuid() == 0)
    {
        fs::permissions(folder, fs::perms(0755));
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(startFailure(), L"Cannot use folder '" + wide(folder) +
                                      L"': it belongs to another user.\nQuillmere Wayfold keeps your Shares "
                                      L"only in a folder of your own: move that one away, or have it moved, "
                                      L"and start Quillmere Wayfold again.");
        ASSERT_EQ(::chown(folder.c_str(), ::geteuid(), ::getegid()), 0);
    }
    fs::permissions(folder, fs::perms(0775)); // as umask 002 makes it
    EXPECT_EQ(startFailure(), L"started");
}

TEST_F(MediatorTest, AListOfServersThatIsMissingUnreadableOrEmptyStopsTheStartNamingIt)
{
    const std::wstring list = wide(scratch / "Servers.json");
    const std::vector<std::pair<std::string, std::wstring>> table = {
        {"", L"Cannot read the list of servers '" + list + L"': "},
        {"\"Servers\": {", L"Cannot read the list of servers '" + list + L"': "},
        {"\"Servers\": {}\n\"DefaultServer\": \"\"", L"The list of servers '" + list + L"' names no server"},
        {"\"DocumentBlackList\": []", L"The list of servers '" + list + L"' names no server"},
    };
    for (const auto& [text, message] : table)
    {
        fs::remove(scratch / "Servers.json");
        if (!text.empty())
            std::ofstream(scratch / "Servers.json") << text;
        const std::unique_ptr<dwl::Mediator> fresh = makeMediator();
        try
        {
            fresh->initialise();
            ADD_FAILURE() << text;
        }
        catch (const dwl::StartFailure& failure)
        {
            EXPECT_EQ(failure.message().substr(0, message.size()), message) << text;
        }
    }
}

TEST_F(MediatorTest, AFolderRenamedWhileRunningOrAsleepIsReportedOnceARunAndNothingIsTouched)
{
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    const fs::path folder = scratch / "home/Wayfold";
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(folder / "Projects/Plans"); }));
    ASSERT_TRUE(test::waitUntil([&] { return count("synchronising") >= 2; }));
    const std::size_t changing = changingRequests();

    fs::rename(folder, scratch / "home/Renamed");
    fs::create_directory(scratch / "home/Renamed/Projects/More");
    ASSERT_TRUE(test::waitUntil([&] { return count("folderMissing") == 1; }));
    // Two polling intervals pass with the folder gone: the engine waits and touches nothing.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    mediator->stop();

    EXPECT_EQ(details("folderMissing"), std::vector<std::string>{folder.string()});

    // Gone while asleep: the scanner cannot even watch it on wake.
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return count("folderMissing") == 2; }));
    mediator->stop();
    EXPECT_EQ(count("threadError"), 0u);
    EXPECT_EQ(changingRequests(), changing);
    EXPECT_EQ(serverNames(projects.rootId), std::vector<std::string>{"Plans"});
    EXPECT_TRUE(fs::is_directory(scratch / "home/Renamed/Projects/Plans"));
}

TEST_F(MediatorTest, WithoutFolderMonitoringSharesStillComeDownAndLocalChangesStayLocal)
{
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    ASSERT_TRUE(mediator->initialise());
    mediator->configuration()->mustMonitorFolder = false;
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    const fs::path folder = scratch / "home/Wayfold";
    ASSERT_TRUE(test::waitUntil([&] { return fs::is_directory(folder / "Projects/Plans"); }));
    fs::create_directory(folder / "Projects/Mine");
    // Two polling intervals pass with the folder gone: the engine waits and touches nothing.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    mediator->stop();
    EXPECT_EQ(serverNames(projects.rootId), std::vector<std::string>{"Plans"});
}
} // namespace

namespace
{
std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string idText(const qcl::uint128& id)
{
    std::ostringstream text;
    text << id;
    return text.str();
}

unsigned modeOf(const fs::path& path)
{
    return static_cast<unsigned>(fs::status(path).permissions()) & 0777;
}

std::size_t deletions(const fake::FakeWayfoldServer& server)
{
    return server.countRequests([](const fake::RecordedRequest& request) { return request.method == "DELETE"; });
}
} // namespace

// The path of the Wayfold folder made to lead elsewhere while the engine runs, as `replace` does, while another
// Device adds a Share and edits a document; `undo` puts the folder back before a retry.
TEST_F(MediatorTest, AFolderReplacedWhileRunningIsLeftAloneUntilItIsBackAndNothingIsLost)
{
    const mode_t formerMask = ::umask(0);
    qcl::scope::Guard restoreMask([&] { ::umask(formerMask); });
    const fs::path home = scratch / "home";
    const fs::path folder = home / "Wayfold";
    const fs::path moved = scratch / "Wayfold.moved";
    const fs::path elsewhere = scratch / "elsewhere";
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    const dwl::IdPair root{qcl::uint128::parse(projects.shareId), qcl::uint128::parse(projects.rootId)};
    const std::string notes = idText(probe.createDocument(L"notes.txt", root));
    server.putContent(notes, "v0");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return readFile(folder / "Projects/notes.txt") == "v0"; }));
    // Whatever the umask, what the engine makes is writable by the user alone.
    EXPECT_EQ(modeOf(folder / "Projects"), 0755u);
    EXPECT_EQ(modeOf(folder / "Projects/Plans"), 0755u);
    EXPECT_EQ(modeOf(folder / "Projects/notes.txt"), 0644u);

    struct Replacement
    {
        std::string what;
        std::function<void()> replace;
        fs::path other; // what the path leads to instead, if anything
        std::function<void()> undo;
    };
    std::vector<Replacement> replacements = {
        {"moved away", [&] { fs::rename(folder, moved); }, {}, [&] { fs::rename(moved, folder); }},
        {"an empty folder in its place",
         [&]
         {
             fs::rename(folder, moved);
             fs::create_directory(folder);
         },
         folder,
         [&]
         {
             fs::remove(folder);
             fs::rename(moved, folder);
         }},
        {"a link to another folder in its place",
         [&]
         {
             fs::rename(folder, moved);
             fs::create_directory(elsewhere);
             fs::create_directory_symlink(elsewhere, folder);
         },
         elsewhere,
         [&]
         {
             fs::remove(folder);
             fs::remove(elsewhere);
             fs::rename(moved, folder);
         }},
    };
    if (::geteuid() == 0)
        replacements.push_back({"the folder above swapped by another user",
                                [&]
                                {
                                    fs::rename(home, scratch / "home.moved");
                                    fs::create_directories(folder);
                                    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
                                    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
                                },
                                folder,
                                [&]
                                {
                                    fs::remove_all(home);
                                    fs::rename(scratch / "home.moved", home);
                                }});

    int version = 0;
    for (const Replacement& replacement : replacements)
    {
        SCOPED_TRACE(replacement.what);
        const std::size_t changing = changingRequests();
        const std::size_t missing = count("folderMissing");
        replacement.replace();
        const std::string newShare = "New " + std::to_string(++version);
        server.createShare(kEmail, newShare);
        server.putContent(notes, "v" + std::to_string(version));
        ASSERT_TRUE(test::waitUntil([&] { return count("folderMissing") == missing + 1; }));
        std::this_thread::sleep_for(2s); // two server checks
        mediator->stop();
        EXPECT_EQ(changingRequests(), changing);
        if (!replacement.other.empty())
        {
            EXPECT_TRUE(fs::is_empty(replacement.other));
        }
        // A retry with the other folder in place does not take it.
        EXPECT_ANY_THROW(mediator->initialise());

        replacement.undo();
        ASSERT_TRUE(mediator->initialise());
        mediator->start();
        ASSERT_TRUE(test::waitUntil(
            [&]
            {
                return fs::is_directory(folder / newShare) &&
                       readFile(folder / "Projects/notes.txt") == "v" + std::to_string(version);
            }));
    }
    mediator->stop();
    EXPECT_EQ(deletions(server), 0u);
    EXPECT_EQ(count("threadError"), 0u);
}

// Restored from a copy while the program is stopped (a backup, or a move to another disk with cp -a): the same
// names and contents, new local ids, and what was made since the copy missing.
TEST_F(MediatorTest, AFolderOrAShareRestoredFromACopyLosesNothingAndAnEmptyFolderInItsPlaceDeletesNothing)
{
    const fs::path folder = scratch / "home/Wayfold";
    const auto copy = [](const fs::path& from, const fs::path& to)
    { ASSERT_EQ(std::system(("cp -a '" + from.string() + "' '" + to.string() + "'").c_str()), 0); };
    const auto restore = [](const fs::path& from, const fs::path& to)
    {
        fs::remove_all(to);
        fs::rename(from, to);
    };
    const fake::IdPairText projects = shareWithFolder("Projects", "Plans");
    const dwl::IdPair root{qcl::uint128::parse(projects.shareId), qcl::uint128::parse(projects.rootId)};
    server.putContent(idText(probe.createDocument(L"notes.txt", root)), "the plan");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return readFile(folder / "Projects/notes.txt") == "the plan"; }));
    std::ofstream(folder / "Projects/Plans/mine.txt") << "mine";
    ASSERT_TRUE(test::waitUntil([&] { return count("uploaded") == 1; }));
    mediator->stop();
    copy(folder, scratch / "backup");

    // Made after the copy was taken.
    server.createShare(kEmail, "Later");
    server.putContent(idText(probe.createDocument(L"later.txt", root)), "later");
    mediator->start();
    ASSERT_TRUE(test::waitUntil([&] { return fs::exists(folder / "Projects/later.txt"); }));
    mediator->stop();
    const std::size_t changing = changingRequests();

    restore(scratch / "backup", folder);
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    ASSERT_TRUE(test::waitUntil(
        [&] { return readFile(folder / "Projects/later.txt") == "later" && fs::is_directory(folder / "Later"); }));
    copy(folder / "Projects", scratch / "Projects");
    mediator->stop();
    restore(scratch / "Projects", folder / "Projects");
    ASSERT_TRUE(mediator->initialise());
    mediator->start();
    std::this_thread::sleep_for(2s); // the first snapshot and two server checks
    mediator->stop();
    EXPECT_EQ(changingRequests(), changing);
    EXPECT_EQ(readFile(folder / "Projects/notes.txt"), "the plan");
    EXPECT_EQ(readFile(folder / "Projects/Plans/mine.txt"), "mine");

    fs::rename(folder, scratch / "home/Wayfold.old");
    fs::create_directory(folder);
    EXPECT_THROW(mediator->initialise(), dwl::Mediator::MissingFolder);
    EXPECT_EQ(changingRequests(), changing);
}
