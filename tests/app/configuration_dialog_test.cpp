#include "app/ConfigurationDlg.h"

#include "api/ServerList.h"
#include "api/WayfoldApi.h"
#include "app/Paths.h"
#include "app/WayfoldFolder.h"
#include "compat/FileApi.h"
#include "json_spirit/Reader.h"
#include "qcl/String.h"

#include "FakeUserInterface.h"
#include "support/FakeWayfoldServer.h"
#include "support/ScratchFolder.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <sys/acl.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
using dwl::ConfigurationDlg;
using View = dwl::ui::ConfigurationView;
using qcl::string::utf8ToUtf16;

// The folder checks need a disk file system; the temporary-files folder may be a memory one.
const bool scratchOnDisk = ::setenv("TMPDIR", std::filesystem::current_path().c_str(), 1) == 0;

const std::wstring notFound =
    L"The server 'Test server' could not be found.\r\n\r\nCheck the server and try again.";
const std::wstring wrongAccount = L"The email or password you entered is incorrect.\r\n\r\nPlease try again "
                                  L"(make sure your caps lock is off).";

dwl::ServerList serverList(const std::string& baseUrl, const std::string& extra = "")
{
    return dwl::ServerList::loadFromValue(json_spirit::parseMemberList(
        R"(Servers: { "Other": { "DisplayName": "Other server", "BaseUrl": "http://other.example" },
                      "Test": { "DisplayName": "Test server", "BaseUrl": ")" +
        baseUrl + "\"" + extra + R"( } }
           DefaultServer: "Test")"));
}

class ConfigurationDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratchOnDisk);
        server.start();
        servers = serverList(server.baseUrl());
        server.addUser("ann@example.com", "secret");
        configuration.wayfoldFolderLocation = utf8ToUtf16(scratch.path());
    }
    void TearDown() override { server.releaseStalls(); }

    // Runs the dialog as a user who types the account (and the location, when given) and presses Login
    // once; checks of the view after the login are made by `afterLogin`.
    int login(const std::wstring& email, const std::wstring& password,
              std::optional<std::wstring> location = {},
              ConfigurationDlg::Mode mode = ConfigurationDlg::Mode::Configuration,
              std::function<void(test::FakeConfigurationView&)> afterLogin = {})
    {
        ui.configurationScript = [&](test::FakeConfigurationView& view, View::Events& events)
        {
            view.setText(View::EmailEdit, email);
            view.setText(View::PasswordEdit, password);
            if (location)
                view.setText(View::FolderLocationEdit, *location);
            events.OnLogin();
            if (!view.isEnabled(View::LoginButton))
            {
                ASSERT_TRUE(view.waitForPingEnded());
                events.OnPingEnded();
            }
            if (afterLogin)
                afterLogin(view);
        };
        ConfigurationDlg dialog(configuration, api, servers, ui, mode);
        return dialog.DoModal();
    }

    std::vector<std::wstring> messages() const
    {
        std::vector<std::wstring> texts;
        for (const auto& shown : ui.box.shown)
            texts.push_back(shown.text);
        return texts;
    }

    fake::FakeWayfoldServer server;
    dwl::ServerList servers;
    dwl::WayfoldApi api;
    dwl::Configuration configuration;
    test::FakeUserInterface ui;
    test::ScratchFolder scratch;
};

TEST_F(ConfigurationDialogTest, SuccessfulLoginStoresTheAccountAndMakesTheFolder)
{
    configuration.deviceId = qcl::uint128::fromHalves(1, 2);
    ASSERT_EQ(dwl::ui::IDOK,
              login(L"ann@example.com", L"secret", L"  " + utf8ToUtf16(scratch.path()) + L"/ "));

    EXPECT_EQ(utf8ToUtf16(scratch.path()), configuration.wayfoldFolderLocation);
    EXPECT_EQ(L"Test", configuration.server);
    EXPECT_EQ(L"ann@example.com", configuration.userName);
    EXPECT_EQ(L"secret", configuration.password);
    EXPECT_EQ(server.userId("ann@example.com"), configuration.userId.str());
    EXPECT_EQ(qcl::uint128::fromHalves(1, 2), configuration.deviceId); // untouched
    EXPECT_TRUE(ui.box.shown.empty());

    const std::wstring folder = dwl::Paths::wayfoldFolder(configuration.wayfoldFolderLocation);
    EXPECT_TRUE(::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const std::wstring description = folder + L"/.directory";
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
              ::GetFileAttributesW(description.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::ifstream file(scratch / "Wayfold/.directory");
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    EXPECT_NE(std::string::npos, text.find("Comment=Your Quillmere Wayfold Shares\n"));
    EXPECT_NE(std::string::npos, text.find("Icon=wayfold\n")); // the installed icon's name
}

struct FailureRow
{
    const char* name;
    std::wstring email;
    std::wstring password;
    std::optional<fake::FaultRule> fault;
    std::wstring message;
    int focus;
    bool selectsAll;
};

TEST_F(ConfigurationDialogTest, EachFailedLoginShowsItsMessageAndMovesTheFocus)
{
    const auto onUsers = [](int status) { return fake::FaultRule::status_("GET", "/rest/users", status); };
    const std::wstring notWayfold =
        L"'Test server' is not an Quillmere Wayfold server\r\n\r\nCheck the server and "
        L"try again.";
    const FailureRow rows[] = {
        {"wrong password", L"ann@example.com", L"wrong", {}, wrongAccount, View::PasswordEdit, true},
        {"not found", L"ann@example.com", L"secret", onUsers(404), notWayfold, View::ServerComboBox, false},
        {"gone", L"ann@example.com", L"secret", onUsers(410), notWayfold, View::ServerComboBox, false},
        {"server error", L"ann@example.com", L"secret", onUsers(500), notFound, View::ServerComboBox, false},
        {"forbidden", L"ann@example.com", L"secret", onUsers(403), notFound, View::ServerComboBox, false},
        // A malformed answer is a fault of the server like a 5xx answer.
        {"malformed answer", L"ann@example.com", L"secret",
         fake::FaultRule::status_("GET", "/rest/users", 200, "{ not json"), notFound, View::ServerComboBox,
         false},
    };
    for (const FailureRow& row : rows)
    {
        SCOPED_TRACE(row.name);
        ui.box.shown.clear();
        server.clearFaults();
        if (row.fault)
            server.addFault(*row.fault);
        const dwl::Configuration before = configuration;
        int focus = 0;
        bool selectsAll = false;
        bool usable = false;
        EXPECT_EQ(-1, login(row.email, row.password, {}, ConfigurationDlg::Mode::Configuration,
                            [&](auto& view)
                            {
                                focus = view.focus;
                                selectsAll = view.focusSelectsAll;
                                usable = view.disabled.empty() && view.defaultButton == View::LoginButton;
                            }));
        EXPECT_EQ(std::vector<std::wstring>{row.message}, messages());
        EXPECT_EQ(dwl::ui::MB_ICONERROR, ui.box.shown.at(0).flags);
        EXPECT_EQ(L"Quillmere Wayfold", ui.box.shown.at(0).caption);
        EXPECT_EQ(row.focus, focus);
        EXPECT_EQ(row.selectsAll, selectsAll);
        EXPECT_TRUE(usable);
        EXPECT_EQ(before, configuration);
    }
}

TEST_F(ConfigurationDialogTest, AnInvalidEmailAddressIsRefusedBeforeAnyRequest)
{
    int focus = 0;
    EXPECT_EQ(-1, login(L"ann.@example.com", L"secret", {}, ConfigurationDlg::Mode::Configuration,
                        [&](auto& view) { focus = view.focus; }));
    EXPECT_EQ(std::vector<std::wstring>{wrongAccount}, messages());
    EXPECT_EQ(View::EmailEdit, focus);
    EXPECT_TRUE(server.requests("/rest/").empty());
}

TEST_F(ConfigurationDialogTest, ARefusedVersionOpensTheDownloadsPageWhenThereIsOne)
{
    const std::wstring oldVersion =
        L"You have an old version of Quillmere Wayfold.\r\nThis version is no longer "
        L"compatible.\r\n\r\nPlease upgrade to a later version of Quillmere Wayfold.";
    for (const std::string downloads : {"", "http://downloads.example/get"})
    {
        SCOPED_TRACE(downloads);
        servers = serverList(server.baseUrl(),
                             downloads.empty() ? "" : R"(, "DownloadsUrl": ")" + downloads + "\"");
        ui.box.shown.clear();
        ui.shellRecord.openedUrls.clear();
        server.addFault(fake::FaultRule::status_("GET", "/rest/users", 406));
        int focus = 0;
        login(L"ann@example.com", L"secret", {}, ConfigurationDlg::Mode::Configuration,
              [&](auto& view) { focus = view.focus; });
        EXPECT_EQ(std::vector<std::wstring>{oldVersion}, messages());
        EXPECT_EQ(downloads.empty() ? std::vector<std::string>{} : std::vector<std::string>{downloads},
                  ui.shellRecord.openedUrls);
        EXPECT_EQ(View::ServerComboBox, focus);
    }
}

TEST_F(ConfigurationDialogTest, UnreachableAndUntrustedServersAreNamed)
{
    // Nothing listens on the port of a stopped server.
    fake::FakeWayfoldServer stopped;
    stopped.start();
    const std::string closedUrl = stopped.baseUrl();
    stopped.stop();
    servers = serverList(closedUrl);
    login(L"ann@example.com", L"secret");
    EXPECT_EQ(std::vector<std::wstring>{notFound}, messages());

    const fake::TestCertificate certificate;
    fake::FakeWayfoldServer secure({.dataFolder = {},
                                    .certificateFile = certificate.certificateFile(),
                                    .privateKeyFile = certificate.privateKeyFile(),
                                    .requestLogLimit = 0});
    secure.start();
    secure.addUser("ann@example.com", "secret");
    servers = serverList(secure.baseUrl(), R"(, "CheckCertificate": true)");
    ui.box.shown.clear();
    login(L"ann@example.com", L"secret");
    EXPECT_EQ(
        std::vector<std::wstring>{L"'Test server' is an untrusted connection\r\n\r\nCheck the server and try "
                                  L"again."},
        messages());
}

TEST_F(ConfigurationDialogTest, PasswordModeChangesOnlyThePassword)
{
    configuration.server = L"Test";
    configuration.userName = L"ann@example.com";
    configuration.password = L"old";
    configuration.wayfoldFolderLocation = L"not even a path";
    std::set<int> disabled;
    std::wstring prompt;
    int focus = 0;
    ui.configurationScript = [&](test::FakeConfigurationView& view, View::Events& events)
    {
        disabled = view.disabled;
        prompt = view.text(View::Prompt);
        focus = view.focus;
        view.setText(View::PasswordEdit, L"secret");
        events.OnLogin();
        ASSERT_TRUE(view.waitForPingEnded());
        events.OnPingEnded();
        EXPECT_EQ(disabled, view.disabled) << "the account's controls stay disabled after the check";
    };
    ConfigurationDlg dialog(configuration, api, servers, ui, ConfigurationDlg::Mode::Password);
    ASSERT_EQ(dwl::ui::IDOK, dialog.DoModal());

    EXPECT_EQ((std::set<int>{View::ServerComboBox, View::EmailEdit, View::FolderLocationEdit,
                             View::ChangeFolderButton, View::SignUpLink}),
              disabled);
    EXPECT_EQ(L"Quillmere Wayfold could not verify your account details.\nPlease re-enter your password.",
              prompt);
    EXPECT_EQ(View::PasswordEdit, focus);
    EXPECT_EQ(L"secret", configuration.password);
    EXPECT_EQ(L"not even a path", configuration.wayfoldFolderLocation);
    EXPECT_TRUE(ui.box.shown.empty());
}

TEST_F(ConfigurationDialogTest, UnsuitableLocationsAreRefusedAndNothingIsStored)
{
    const std::wstring base = utf8ToUtf16(scratch.path());
    scratch.makeDirectory("busy/Wayfold");
    scratch.writeFile("busy/Wayfold/notes.txt");
    scratch.makeDirectory("blocked");
    scratch.writeFile("blocked/Wayfold");
    const std::wstring invalid =
        L"is not a valid location.\r\n\r\nPlease choose a different location and try again.";
    const std::wstring notFixed =
        L"The Wayfold folder must be created on a fixed drive on your local computer.\r\n\r\n"
        L"Please choose a different location and try again.";
    struct Row
    {
        std::wstring location;
        std::wstring message; // the end of it
    };
    std::vector<Row> rows = {
        {L"relative/folder", L"'relative/folder' " + invalid},
        {L"", L"'' " + invalid},
        {base + L"/blocked", L"'" + base + L"/blocked' " + invalid},
        {base + L"/busy",
         L"The Wayfold folder in this location contains content.\r\n\r\nTo use this folder, remove "
         L"all of its content and try again.\r\n\r\nAlternatively, select another location for your "
         L"Wayfold folder."},
    };
    if (scratch.mountTmpfs("memory"))
        rows.push_back({base + L"/memory", notFixed});
    scratch.makeDirectory("frozen");
    if (scratch.bindMount("frozen", "frozen-ro") && ::mount(nullptr, (scratch / "frozen-ro").c_str(), nullptr,
                                                            MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0)
        rows.push_back({base + L"/frozen-ro", notFixed});
    for (const Row& row : rows)
    {
        SCOPED_TRACE(qcl::string::utf16ToUtf8(row.location));
        ui.box.shown.clear();
        int focus = 0;
        EXPECT_EQ(-1, login(L"ann@example.com", L"secret", row.location,
                            ConfigurationDlg::Mode::Configuration, [&](auto& view) { focus = view.focus; }));
        EXPECT_EQ(std::vector<std::wstring>{row.message}, messages());
        EXPECT_EQ(View::FolderLocationEdit, focus);
        EXPECT_TRUE(configuration.userName.empty());
    }
    EXPECT_EQ(std::vector<std::wstring>{base + L"/busy/Wayfold"}, ui.shellRecord.openedFolders);
}

TEST_F(ConfigurationDialogTest, AcceptableExistingFolders)
{
    // Only our own hidden description inside: empty enough.
    scratch.makeDirectory("old/Wayfold");
    ASSERT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / "old")));
    ASSERT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / "old")));

    // The synchronised folder of the same account at the same place is kept, content and all, the user's own
    // folder description too.
    ::unlink((scratch / "old/Wayfold/.directory").c_str());
    scratch.writeFile("old/Wayfold/.directory", "mine");
    scratch.writeFile("old/Wayfold/notes.txt");
    EXPECT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / "old")));
    EXPECT_TRUE(ui.box.shown.empty());
    std::ifstream description(scratch / "old/Wayfold/.directory");
    EXPECT_EQ("mine", std::string((std::istreambuf_iterator<char>(description)), {}));

    // "~/" is the home folder.
    const std::string home = scratch.makeDirectory("home");
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", L"~/sub"));
    EXPECT_EQ(utf8ToUtf16(home) + L"/sub", configuration.wayfoldFolderLocation);
}

TEST_F(ConfigurationDialogTest, TheFolderMadeIsPrivateAndOneAnotherUserCouldChangeIsRefused)
{
    const mode_t previous = ::umask(0);
    ASSERT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / "new/sub")));
    ::umask(previous);
    for (const char* made : {"new", "new/sub", "new/sub/Wayfold"})
        EXPECT_EQ(std::filesystem::status(scratch / made).permissions(), std::filesystem::perms(0700))
            << made;

    const std::string open = scratch.makeDirectory("open/Wayfold");
    std::filesystem::permissions(open, std::filesystem::perms(0777));
    std::vector<std::string> refused = {"open"};
    std::vector<std::wstring> expected = {
        L"Cannot use folder '" + utf8ToUtf16(open) +
        L"': other users may write to it\r\n\r\nRemove their permission to write (chmod -R go-w '" +
        utf8ToUtf16(open) + L"'; where an access control list grants it, also setfacl -R -b '" +
        utf8ToUtf16(open) + L"') and try again, or choose a different location."};
    const std::string foreign = scratch.makeDirectory("foreign/Wayfold"); // made by another user, empty
    if (::geteuid() == 0 && ::chown(foreign.c_str(), 65534, 65534) == 0)
    {
        refused.push_back("foreign");
        expected.push_back(L"Cannot use folder '" + utf8ToUtf16(foreign) +
                           L"': it belongs to another user\r\n\r\nPlease choose a different location and try "
                           L"again.");
    }
    for (const std::string& location : refused)
    {
        int focus = 0;
        EXPECT_EQ(-1, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / location),
                            ConfigurationDlg::Mode::Configuration, [&](auto& view) { focus = view.focus; }));
        EXPECT_EQ(View::FolderLocationEdit, focus);
    }
    EXPECT_EQ(expected, messages());
    EXPECT_FALSE(std::filesystem::exists(foreign + "/.directory")); // nothing written into it
    EXPECT_EQ(utf8ToUtf16(scratch / "new/sub"), configuration.wayfoldFolderLocation);

    const std::string shared = scratch.makeDirectory("shared/Wayfold");
    std::filesystem::permissions(shared, std::filesystem::perms(0775)); // as umask 002 makes it
    EXPECT_EQ(dwl::ui::IDOK, login(L"ann@example.com", L"secret", utf8ToUtf16(scratch / "shared")));
}

// Root may write anywhere, so the folder checks are made as an ordinary user: setpriv starts this program
// again (only CheckFoldersAsOrdinaryUser) as that user, in the group given, with a list of "location TAB
// refusal" lines (no refusal: the folder is used).
constexpr uid_t kOrdinaryUser = 65534;
constexpr uid_t kOtherUser = 12345;
constexpr gid_t kOtherGroup = 12345;
constexpr gid_t kGroupOfTheUserAlone = 54321; // no member, nobody's primary group
constexpr gid_t kSharedGroup = 0;             // root's

const char* const kChecksVariable = "WAYFOLD_ORDINARY_USER_FOLDER_CHECKS";

// Runs the checks listed in `checks` in a new process of this program as the ordinary user; its exit status.
int checkAsOrdinaryUser(const std::string& folder, gid_t group, const std::string& checks)
{
    const std::string list = folder + "/checks-" + std::to_string(group);
    std::ofstream(list) << checks;
    char self[PATH_MAX] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return -1;
    std::vector<std::string> arguments = {"setpriv",
                                          "--reuid=" + std::to_string(kOrdinaryUser),
                                          "--regid=" + std::to_string(group),
                                          "--clear-groups",
                                          self,
                                          "--gtest_filter=*.CheckFoldersAsOrdinaryUser"};
    std::vector<std::string> environment = {
        std::string(kChecksVariable) + "=" + list, "HOME=" + folder, "XDG_DATA_HOME=" + folder + "/data",
        "ASAN_OPTIONS=detect_leaks=0", "PATH=" + std::string(std::getenv("PATH"))};
    std::vector<char*> argv, envp;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
    {
        // Its scratch folders are made in the folder it starts in.
        if (::chdir(folder.c_str()) == 0)
            ::execvpe("setpriv", argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ConfigurationDialog, FoldersOtherUsersMayWriteToAreRefusedToAnOrdinaryUserAtSignInAndAtStart)
{
    if (::geteuid() != 0 || ::system("command -v setpriv >/dev/null") != 0)
        GTEST_SKIP() << "needs root and setpriv to stage folders of other users and groups";
    test::ScratchFolder scratch;
    ::chmod(scratch.path().c_str(), 0755);
    ASSERT_EQ(::chown(scratch.path().c_str(), kOrdinaryUser, kGroupOfTheUserAlone), 0);
    const auto stage = [&](const std::string& folder, mode_t mode, gid_t group, const char* acl = nullptr)
    {
        const std::string path = scratch.makeDirectory(folder);
        ASSERT_EQ(::chown(path.c_str(), kOrdinaryUser, group), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        if (acl)
        {
            const acl_t entries = ::acl_from_text(acl);
            ASSERT_NE(entries, nullptr) << acl;
            ASSERT_EQ(::acl_set_file(path.c_str(), ACL_TYPE_ACCESS, entries), 0) << acl;
            ::acl_free(entries);
        }
    };
    for (const char* location :
         {"user-acl", "group-acl", "masked-acl", "share", "foreign", "shared-group", "own-group"})
        stage(location, 0755, kGroupOfTheUserAlone);
    // The mode of these shows 0770, as if the user's own group could write.
    stage("user-acl/Wayfold", 0700, kGroupOfTheUserAlone, "u::rwx,u:12345:rwx,g::---,m::rwx,o::---");
    stage("group-acl/Wayfold", 0700, kGroupOfTheUserAlone, "u::rwx,g::---,g:12345:rwx,m::rwx,o::---");
    // What chmod go-w leaves of such an entry: it may read, and no longer write.
    stage("masked-acl/Wayfold", 0700, kGroupOfTheUserAlone, "u::rwx,u:12345:rwx,g::---,m::r-x,o::---");
    stage("share/Wayfold", 0755, kGroupOfTheUserAlone); // after chmod go-w on what an older version made
    stage("share/Wayfold/Plans", 0777, kGroupOfTheUserAlone);
    stage("foreign/Wayfold", 0700, kOtherGroup);
    ASSERT_EQ(::chown((scratch / "foreign/Wayfold").c_str(), kOtherUser, kOtherGroup), 0);
    stage("shared-group/Wayfold", 0770, kSharedGroup);
    stage("own-group/Wayfold", 0775, kGroupOfTheUserAlone); // as umask 002 makes it

    const auto line = [&](const std::string& location, const std::string& refused, const std::string& why)
    {
        return scratch / location + "\t" +
               (why.empty() ? "" : "Cannot use folder '" + scratch / refused + "': " + why) + "\n";
    };
    const std::string othersMayWrite = "other users may write to it";
    EXPECT_EQ(checkAsOrdinaryUser(scratch.path(), kGroupOfTheUserAlone,
                                  line("user-acl", "user-acl/Wayfold", othersMayWrite) +
                                      line("group-acl", "group-acl/Wayfold", othersMayWrite) +
                                      line("share", "share/Wayfold/Plans", othersMayWrite) +
                                      line("foreign", "foreign/Wayfold", "it belongs to another user") +
                                      line("masked-acl", "", "") + line("own-group", "", "")),
              0);
    EXPECT_EQ(checkAsOrdinaryUser(scratch.path(), kSharedGroup,
                                  line("shared-group", "shared-group/Wayfold", othersMayWrite)),
              0);
}

TEST_F(ConfigurationDialogTest, CheckFoldersAsOrdinaryUser)
{
    const char* list = std::getenv(kChecksVariable);
    if (list == nullptr)
        GTEST_SKIP() << "run by FoldersOtherUsersMayWriteToAreRefusedToAnOrdinaryUserAtSignInAndAtStart";
    ASSERT_NE(::geteuid(), 0u);
    std::ifstream checks(list);
    std::string location, refusal;
    int checked = 0;
    for (; std::getline(checks, location, '\t') && std::getline(checks, refusal); ++checked)
    {
        SCOPED_TRACE(location);
        const std::wstring expected = utf8ToUtf16(refusal);
        // At start.
        try
        {
            dwl::openUsersOwnFolder(dwl::Paths::wayfoldFolder(utf8ToUtf16(location)));
            EXPECT_EQ(expected, L"");
        }
        catch (const dwl::FolderOpenToOthers& error)
        {
            EXPECT_EQ(expected, error.message());
        }
        // At sign-in.
        ui.box.shown.clear();
        const int result = login(L"ann@example.com", L"secret", utf8ToUtf16(location));
        if (expected.empty())
        {
            EXPECT_EQ(dwl::ui::IDOK, result);
            EXPECT_TRUE(ui.box.shown.empty());
        }
        else
        {
            EXPECT_EQ(-1, result);
            ASSERT_EQ(1u, ui.box.shown.size());
            EXPECT_EQ(expected + L"\r\n\r\n", ui.box.shown[0].text.substr(0, expected.size() + 4));
        }
    }
    EXPECT_GT(checked, 0);
}

TEST_F(ConfigurationDialogTest, TheFolderBrowserOffersOnlySuitableFoldersAndReopensOnRefusal)
{
    scratch.makeDirectory("busy/Wayfold");
    scratch.writeFile("busy/Wayfold/notes.txt");
    const std::wstring busy = utf8ToUtf16(scratch / "busy");
    const std::wstring fine = utf8ToUtf16(scratch.makeDirectory("fine"));
    ui.shellRecord.browserAnswers = {busy, fine, L"/proc"};
    std::wstring chosen;
    ui.configurationScript = [&](test::FakeConfigurationView& view, View::Events& events)
    {
        events.OnChangeFolder();
        chosen = view.text(View::FolderLocationEdit);
        events.OnCancel();
    };
    ConfigurationDlg dialog(configuration, api, servers, ui);
    EXPECT_EQ(dwl::ui::IDCANCEL, dialog.DoModal());
    EXPECT_EQ(fine, chosen);
    EXPECT_EQ((std::vector<bool>{true, true}), ui.shellRecord.browserAccepted);
    EXPECT_EQ(1u, ui.box.shown.size()); // the busy folder's

    ui.shellRecord.browserAccepted.clear();
    EXPECT_EQ(std::vector<bool>{}, ui.shellRecord.browserAccepted);
    ui.shellRecord.browserAnswers = {L"/proc"};
    ConfigurationDlg again(configuration, api, servers, ui);
    again.DoModal();
    EXPECT_EQ(std::vector<bool>{false}, ui.shellRecord.browserAccepted);
}

TEST_F(ConfigurationDialogTest, ExitDuringAStalledCheckAbortsItAndALateCompletionIsIgnored)
{
    server.addFault(fake::FaultRule::of(fake::FaultKind::Stall, "GET", "/rest/users"));
    bool exitEnabledDuringCheck = false;
    bool accountDisabledDuringCheck = false;
    ui.configurationScript = [&](test::FakeConfigurationView& view, View::Events& events)
    {
        view.setText(View::EmailEdit, L"ann@example.com");
        view.setText(View::PasswordEdit, L"secret");
        events.OnLogin();
        ASSERT_TRUE(server.waitForStalled(1));
        exitEnabledDuringCheck = view.isEnabled(View::ExitButton);
        accountDisabledDuringCheck = !view.isEnabled(View::EmailEdit) && !view.isEnabled(View::LoginButton);
        events.OnCancel(); // returns once the check has ended
        ASSERT_TRUE(view.waitForPingEnded());
        events.OnPingEnded();
    };
    ConfigurationDlg dialog(configuration, api, servers, ui);
    EXPECT_EQ(dwl::ui::IDCANCEL, dialog.DoModal());
    EXPECT_TRUE(exitEnabledDuringCheck);
    EXPECT_TRUE(accountDisabledDuringCheck);
    EXPECT_TRUE(ui.box.shown.empty());
    EXPECT_TRUE(configuration.userName.empty());
}
} // namespace
