#pragma once
// The configuration dialog: the server, the account and the Wayfold folder's location. Login checks the
// account against the chosen server on a background task before anything is stored; only a successful check
// closes the dialog with the new settings in the record. In password mode it is the password dialog: only the
// password can be changed, and no folder is tested or made.

#include "api/ServerList.h"
#include "app/Configuration.h"
#include "app/ui/UserInterface.h"
#include "qcl/Uint128.h"

#include <future>
#include <memory>
#include <optional>
#include <string>

namespace dwl
{
class WayfoldApi;
class FolderOpenToOthers;

class ConfigurationDlg : private ui::ConfigurationView::Events
{
public:
    enum class Mode
    {
        Configuration,
        Password,
    };

    ConfigurationDlg(Configuration& configuration, WayfoldApi& api, const ServerList& servers,
                     ui::UserInterface& ui, Mode mode = Mode::Configuration);
    // Waits for a login check still running, after aborting its transfer.
    ~ConfigurationDlg() override;
    ConfigurationDlg(const ConfigurationDlg&) = delete;
    ConfigurationDlg& operator=(const ConfigurationDlg&) = delete;

    // Runs the dialog over `parent`: ui::IDOK with the settings stored in the record, ui::IDCANCEL with the
    // record untouched.
    int DoModal(HWND parent = nullptr);

private:
    void OnInitDialog() override;
    void OnLogin() override;
    void OnCancel() override;
    void OnChangeFolder() override;
    void OnLinkClicked(int id) override;
    void OnPingEnded() override;

    // Called inside a catch clause: tells the user what went wrong with the check, by the exception's kind.
    void OnPingFailed();
    void OnPingSucceeded(const qcl::uint128& userId);
    bool CheckIfFolderIsOkOrInformUser(const std::wstring& location);
    void EnableControls(bool enable);
    void LaunchWebBrowser(const std::string& url);

    void abortLoginCheck();
    // The location as typed, trimmed, with a leading "~/" made the home folder; nothing unless absolute.
    std::optional<std::wstring> folderLocationFromEdit();
    bool isConfiguredFolderOfSameAccount(const std::wstring& location);
    void refuseFolder(const FolderOpenToOthers& refusal);
    const ServerList::Server* selectedServer();
    std::wstring text(int control);
    void setText(int control, const std::wstring& text);
    void showError(const std::wstring& shortMessage, const std::wstring& longMessage);

    Configuration& mConfiguration;
    WayfoldApi& mApi;
    const ServerList& mServers;
    ui::UserInterface& mUi;
    const Mode mMode;
    std::unique_ptr<ui::ConfigurationView> mView; // while the dialog runs
    std::future<qcl::uint128> mLoginCheck;        // valid while a check runs
};
} // namespace dwl
