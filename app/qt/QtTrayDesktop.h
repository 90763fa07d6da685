#pragma once
// The tray window's desktop on Qt: the dialogs, the error display and the shell of the user interface, the
// user's places, the second instance's hand-over and the end of the event loop.

#include "app/TrayDesktop.h"
#include "app/qt/HandOver.h"
#include "app/ui/UserInterface.h"

namespace dwl::qt
{
class QtTrayDesktop : public TrayDesktop
{
public:
    QtTrayDesktop(ui::UserInterface& ui, HandOver& handOver) : mUi(ui), mHandOver(handOver) {}

    bool openUrl(const std::string& url) override;
    bool openPath(const std::wstring& path) override;
    void showError(const std::wstring& text, const std::wstring& details) override;
    void showStartFailure(const std::wstring& message) override;
    bool editConfiguration(Configuration& configuration, WayfoldApi& api, const ServerList& servers,
                           bool passwordOnly) override;
    MissingFolderChoice askAboutMissingFolder(const std::wstring& folder) override;
    bool confirmUnlink() override;
    void bringToFront(Dialog dialog) override;
    void addFolderBookmark(const std::wstring& folder) override;
    void listenForHandOver() override { mHandOver.listen(); }
    bool handOverToRunningInstance() override { return mHandOver.handOver(); }
    void quit(int exitCode) override;

private:
    ui::UserInterface& mUi;
    HandOver& mHandOver;
};
} // namespace dwl::qt
