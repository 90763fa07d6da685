#include "app/qt/QtTrayDesktop.h"

#include "app/ConfigurationDlg.h"
#include "app/DisplayErrorMessage.h"
#include "app/MissingWayfoldFolderDlg.h"
#include "app/UnlinkDialog.h"
#include "app/qt/StartFailureReport.h"
#include "compat/FolderBookmarks.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"

#include <QApplication>
#include <QWidget>

namespace dwl::qt
{
bool QtTrayDesktop::openUrl(const std::string& url)
{
    return mUi.shell().openUrl(url);
}

bool QtTrayDesktop::openPath(const std::wstring& path)
{
    return mUi.shell().openFolder(path);
}

void QtTrayDesktop::showError(const std::wstring& text, const std::wstring& details)
{
    displayErrorMessage(mUi.messageBox(), nullptr, text, details, ui::MB_ICONERROR | ui::MB_SYSTEMMODAL);
}

void QtTrayDesktop::showStartFailure(const std::wstring& message)
{
    reportStartFailure(message, &mUi.messageBox());
}

bool QtTrayDesktop::editConfiguration(Configuration& configuration, WayfoldApi& api,
                                      const ServerList& servers, bool passwordOnly)
{
    ConfigurationDlg dialog(configuration, api, servers, mUi,
                            passwordOnly ? ConfigurationDlg::Mode::Password
                                         : ConfigurationDlg::Mode::Configuration);
    return dialog.DoModal(nullptr) == ui::IDOK;
}

TrayDesktop::MissingFolderChoice QtTrayDesktop::askAboutMissingFolder(const std::wstring& folder)
{
    MissingWayfoldFolderDlg dialog(mUi);
    dialog.setWayfoldFolder(folder);
    switch (dialog.DoModal(nullptr))
    {
    case ui::IDRETRY:
        return MissingFolderChoice::Retry;
    case ui::IDABORT:
        return MissingFolderChoice::Unlink;
    default:
        return MissingFolderChoice::Exit;
    }
}

bool QtTrayDesktop::confirmUnlink()
{
    UnlinkDialog dialog(mUi);
    return dialog.DoModal(nullptr) == ui::IDOK;
}

void QtTrayDesktop::bringToFront(Dialog)
{
    // The tray window shows one modal dialog at a time: the one in front of the user's input.
    if (QWidget* dialog = QApplication::activeModalWidget())
    {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void QtTrayDesktop::addFolderBookmark(const std::wstring& folder)
{
    const std::wstring file = compat::folderBookmarksFile();
    if (!compat::setFolderBookmark(file, folder, L"Wayfold"))
        throw qcl::SystemError(qcl::format(L"Cannot add '%1%' to '%2%'", folder, file), GetLastError());
}

void QtTrayDesktop::quit(int exitCode)
{
    QApplication::exit(exitCode);
}
} // namespace dwl::qt
