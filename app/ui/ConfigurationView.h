#pragma once
// The configuration dialog as the configuration logic sees it: the server choice, the account, the folder
// location, the Login and Exit buttons and two links. The same view serves as the password dialog.

#include "app/ui/DialogView.h"
#include "app/ui/MessageBox.h"

#include <string>

namespace dwl::ui
{
class ConfigurationView : public DialogView
{
public:
    // Control ids.
    enum : int
    {
        LoginButton = IDOK,
        ExitButton = IDCANCEL,
        Prompt = 1001,
        FolderLocationEdit = 1002,
        ChangeFolderButton = 1003,
        ServerComboBox = 1005,
        SignUpLink = 1006,
        ForgottenPasswordLink = 1007,
        EmailEdit = 1008,
        PasswordEdit = 1009,
    };

    // Called by the view on the dialog's thread.
    class Events
    {
    public:
        virtual ~Events() = default;
        virtual void OnInitDialog() = 0;
        virtual void OnLogin() = 0;
        // Exit, Escape and the close box.
        virtual void OnCancel() = 0;
        virtual void OnChangeFolder() = 0;
        // SignUpLink or ForgottenPasswordLink clicked.
        virtual void OnLinkClicked(int id) = 0;
        // After postPingEnded.
        virtual void OnPingEnded() = 0;
    };

    // Builds the dialog, calls OnInitDialog, shows it modally and returns the code given to end.
    virtual int run(Events& events) = 0;
    virtual void end(int result) = 0;

    // The server combo box: items in the order added, each shown by its display name.
    virtual void addServer(const std::wstring& displayName) = 0;
    virtual void selectServer(int index) = 0;
    // -1 when none is selected.
    virtual int selectedServer() = 0;

    virtual void setEnabled(int id, bool enabled) = 0;
    // Moves the focus to the control; an edit then has its whole text selected when `selectAll`.
    virtual void setFocus(int id, bool selectAll = false) = 0;
    virtual void setDefaultButton(int id) = 0;

    // May be called from any thread: OnPingEnded is then called on the dialog's thread, unless the dialog
    // has ended meanwhile.
    virtual void postPingEnded() = 0;
};
} // namespace dwl::ui
