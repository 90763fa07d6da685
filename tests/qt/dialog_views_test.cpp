#include "api/ServerList.h"
#include "api/WayfoldApi.h"
#include "app/ConfigurationDlg.h"
#include "app/MissingWayfoldFolderDlg.h"
#include "app/UnlinkDialog.h"
#include "app/qt/QtUserInterface.h"
#include "json_spirit/Reader.h"

#include "QtTestSupport.h"
#include "support/FakeWayfoldServer.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
using dwl::ConfigurationDlg;
using View = dwl::ui::ConfigurationView;

class DialogViewsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::qtApplication();
        server.start();
        server.addUser("ann@example.com", "secret");
        useServer("Test server", server.baseUrl());
        configuration.wayfoldFolderLocation = L"/home/ann";
    }
    void TearDown() override { server.releaseStalls(); }

    void useServer(const std::string& displayName, const std::string& baseUrl)
    {
        servers = dwl::ServerList::loadFromValue(
            json_spirit::parseMemberList(R"(Servers: { "Test": { "DisplayName": ")" + displayName +
                                         R"(", "BaseUrl": ")" + baseUrl + R"(" } }  DefaultServer: "Test")"));
    }

    int runConfigurationDialog(std::function<void(QWidget&)> user)
    {
        test::whenModalShown(std::move(user));
        ConfigurationDlg dialog(configuration, api, servers, ui);
        return dialog.DoModal();
    }

    // The user fills the dialog in (`fill`) and presses Login; the message box that refuses the login is
    // photographed as `screenshot` and closed, and so is the dialog. What the box showed is kept in
    // `refusalText` and `refusalFormat`.
    void refuseLogin(const std::function<void(QWidget& dialog)>& fill, const std::string& screenshot)
    {
        const int result = runConfigurationDialog(
            [&](QWidget& dialog)
            {
                test::whenModalShown(
                    [&](QWidget& box)
                    {
                        auto& message = dynamic_cast<QMessageBox&>(box);
                        refusalText = message.text();
                        refusalFormat = message.textFormat();
                        EXPECT_TRUE(test::saveScreenshot(box, screenshot));
                        message.button(QMessageBox::Ok)->click();
                        test::control<QPushButton>(dialog, View::ExitButton)->click();
                    },
                    &dialog);
                fill(dialog);
                test::control<QPushButton>(dialog, View::LoginButton)->click();
            });
        EXPECT_EQ(dwl::ui::IDCANCEL, result);
    }

    fake::FakeWayfoldServer server;
    dwl::ServerList servers;
    dwl::WayfoldApi api;
    dwl::Configuration configuration;
    dwl::qt::QtUserInterface ui;
    QString refusalText;
    Qt::TextFormat refusalFormat = Qt::AutoText;
};

TEST_F(DialogViewsTest, ConfigurationDialogShowsItsControlsWithLoginAsDefault)
{
    std::map<int, QString> texts;
    bool loginIsDefault = false;
    const int result = runConfigurationDialog(
        [&](QWidget& dialog)
        {
            EXPECT_TRUE(test::saveScreenshot(dialog, "configuration"));
            texts[0] = dialog.windowTitle();
            for (const int id : {View::Prompt, View::SignUpLink, View::ForgottenPasswordLink})
                texts[id] = test::control<QLabel>(dialog, id)->text();
            for (const int id : {View::ChangeFolderButton, View::LoginButton, View::ExitButton})
                texts[id] = test::control<QPushButton>(dialog, id)->text();
            texts[View::FolderLocationEdit] =
                test::control<QLineEdit>(dialog, View::FolderLocationEdit)->text();
            texts[View::ServerComboBox] =
                test::control<QComboBox>(dialog, View::ServerComboBox)->currentText();
            loginIsDefault = test::control<QPushButton>(dialog, View::LoginButton)->isDefault();
            test::control<QPushButton>(dialog, View::ExitButton)->click();
        });
    EXPECT_EQ(dwl::ui::IDCANCEL, result);
    EXPECT_TRUE(loginIsDefault);
    const std::map<int, QString> expected = {
        {0, "Quillmere Wayfold"},
        {View::Prompt, "Please enter your Quillmere Wayfold account details to login."},
        {View::SignUpLink, "<a href=\"#\">Create an account</a>"},
        {View::ForgottenPasswordLink, "<a href=\"#\">Forgotten your password?</a>"},
        {View::ChangeFolderButton, "&Change..."},
        {View::LoginButton, "&Login"},
        {View::ExitButton, "E&xit"},
        {View::FolderLocationEdit, "/home/ann"},
        {View::ServerComboBox, "Test server"},
    };
    EXPECT_EQ(expected, texts);
}

TEST_F(DialogViewsTest, PasswordDialogLeavesOnlyThePasswordEditable)
{
    test::whenModalShown(
        [&](QWidget& dialog)
        {
            EXPECT_TRUE(test::saveScreenshot(dialog, "password"));
            EXPECT_FALSE(test::control(dialog, View::EmailEdit)->isEnabled());
            EXPECT_EQ(test::control(dialog, View::PasswordEdit), dialog.focusWidget());
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
    ConfigurationDlg dialog(configuration, api, servers, ui, ConfigurationDlg::Mode::Password);
    EXPECT_EQ(dwl::ui::IDCANCEL, dialog.DoModal());
}

TEST_F(DialogViewsTest, ExitDuringAStalledCheckClosesTheDialog)
{
    server.addFault(fake::FaultRule::of(fake::FaultKind::Stall, "GET", "/rest/users"));
    std::map<int, bool> enabled;
    const int result = runConfigurationDialog(
        [&](QWidget& dialog)
        {
            test::control<QLineEdit>(dialog, View::EmailEdit)->setText("ann@example.com");
            test::control<QLineEdit>(dialog, View::PasswordEdit)->setText("secret");
            test::control<QPushButton>(dialog, View::LoginButton)->click();
            ASSERT_TRUE(server.waitForStalled(1));
            for (const int id : {View::EmailEdit, View::PasswordEdit, View::ServerComboBox, View::LoginButton,
                                 View::ExitButton})
                enabled[id] = test::control(dialog, id)->isEnabled();
            EXPECT_TRUE(test::saveScreenshot(dialog, "configuration-checking"));
            test::control<QPushButton>(dialog, View::ExitButton)->click();
        });
    EXPECT_EQ(dwl::ui::IDCANCEL, result);
    EXPECT_EQ((std::map<int, bool>{{View::EmailEdit, false},
                                   {View::PasswordEdit, false},
                                   {View::ServerComboBox, false},
                                   {View::LoginButton, false},
                                   {View::ExitButton, true}}),
              enabled);
    EXPECT_TRUE(configuration.userName.empty());
}

TEST_F(DialogViewsTest, AServerNameWithMarkupIsShownAsPlainText)
{
    fake::FakeWayfoldServer stopped;
    stopped.start();
    const std::string closedUrl = stopped.baseUrl();
    stopped.stop();
    useServer("<b>Bold</b> &amp; Co", closedUrl);
    refuseLogin([](QWidget& dialog)
                { test::control<QLineEdit>(dialog, View::EmailEdit)->setText("ann@example.com"); },
                "server-not-found");
    EXPECT_EQ(Qt::PlainText, refusalFormat);
    EXPECT_EQ("The server '<b>Bold</b> &amp; Co' could not be found.\n\nCheck the server and try again.",
              refusalText);
}

TEST_F(DialogViewsTest, AWayfoldFolderThatOthersMayWriteToIsRefusedWithWhatToDo)
{
    // On the disk of the build folder: a memory file system is no place for the Wayfold folder.
    const std::filesystem::path location = std::filesystem::current_path() / "open-to-others";
    std::filesystem::create_directories(location /
                                        "Wayfold/Plans"); // a Share folder made by an older version
    std::filesystem::permissions(location / "Wayfold/Plans", std::filesystem::perms(0777));
    refuseLogin(
        [&](QWidget& dialog)
        {
            test::control<QLineEdit>(dialog, View::EmailEdit)->setText("ann@example.com");
            test::control<QLineEdit>(dialog, View::PasswordEdit)->setText("secret");
            test::control<QLineEdit>(dialog, View::FolderLocationEdit)
                ->setText(QString::fromStdString(location));
        },
        "folder-open-to-others");
    std::filesystem::remove_all(location);
    const QString folder = QString::fromStdString(location / "Wayfold");
    EXPECT_EQ(
        "Cannot use folder '" + folder +
            "/Plans': other users may write to it\n\nRemove their permission to write (chmod -R go-w '" +
            folder + "'; where an access control list grants it, also setfacl -R -b '" + folder +
            "') and try again, or choose a different location.",
        refusalText);
}

TEST_F(DialogViewsTest, MissingFolderDialogReturnsTheButtonPressed)
{
    dwl::MissingWayfoldFolderDlg dialog(ui);
    dialog.setWayfoldFolder(L"/home/ann/<i>papers</i>/Wayfold");
    const std::pair<int, std::function<void(QWidget&)>> presses[] = {
        {dwl::ui::IDRETRY, [](QWidget& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {dwl::ui::IDABORT, [](QWidget& d) { test::control<QPushButton>(d, dwl::ui::IDABORT)->click(); }},
        {dwl::ui::IDCANCEL, [](QWidget& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
    };
    QString message;
    for (const auto& [expected, press] : presses)
    {
        test::whenModalShown(
            [&, press = press](QWidget& shown)
            {
                message = test::control<QPlainTextEdit>(shown, 1004)->toPlainText();
                EXPECT_TRUE(test::saveScreenshot(shown, "missing-folder"));
                press(shown);
            });
        EXPECT_EQ(expected, dialog.DoModal(nullptr));
    }
    EXPECT_TRUE(message.contains("original location in \n'/home/ann/<i>papers</i>/' and then click Retry."));
}

TEST_F(DialogViewsTest, UnlinkDialogReturnsTheButtonPressed)
{
    dwl::UnlinkDialog dialog(ui);
    const std::pair<int, std::function<void(QWidget&)>> presses[] = {
        {dwl::ui::IDOK, [](QWidget& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {dwl::ui::IDCANCEL, [](QWidget& d) { test::control<QPushButton>(d, dwl::ui::IDCANCEL)->click(); }},
        {dwl::ui::IDCANCEL, [](QWidget& d) { d.close(); }},
    };
    for (const auto& [expected, press] : presses)
    {
        test::whenModalShown(
            [&, press = press](QWidget& shown)
            {
                EXPECT_TRUE(dialog.isShown());
                EXPECT_TRUE(test::saveScreenshot(shown, "unlink"));
                press(shown);
            });
        EXPECT_EQ(expected, dialog.DoModal(nullptr));
    }
}
} // namespace
