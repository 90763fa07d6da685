#pragma once
// What the tray window asks of the desktop and of the engine. The program implements both over Qt and
// dwl::Mediator; tests use recording fakes, so the tray window's logic runs without a display or a server.

#include "app/Configuration.h"
#include "app/Mediator.h"
#include "app/Version.h"

#include <string>

namespace dwl
{
class TrayDesktop
{
public:
    enum class MissingFolderChoice
    {
        Retry,
        Unlink,
        Exit,
    };
    enum class Dialog
    {
        Configuration,
        Unlink,
    };

    virtual ~TrayDesktop() = default;

    // Hand an address, a folder or a file to the desktop's handler for it; false when none took it.
    virtual bool openUrl(const std::string& url) = 0;
    virtual bool openPath(const std::wstring& path) = 0;
    // The error message of the program (logged at error level first), modal.
    virtual void showError(const std::wstring& text, const std::wstring& details) = 0;
    // The program cannot start (StartFailure): the message on standard error, in the log and in the error
    // message.
    virtual void showStartFailure(const std::wstring& message) = 0;

    // Modal dialogs; false or Exit when the user cancelled.
    virtual bool editConfiguration(Configuration& configuration, WayfoldApi& api, const ServerList& servers,
                                   bool passwordOnly) = 0;
    virtual MissingFolderChoice askAboutMissingFolder(const std::wstring& folder) = 0;
    virtual bool confirmUnlink() = 0;
    virtual void bringToFront(Dialog dialog) = 0;

    // The shortcut to the Wayfold folder among the user's places.
    virtual void addFolderBookmark(const std::wstring& folder) = 0;

    // The second instance's hand-over: the first listens once it holds the instance lock; the second asks it
    // to open the Wayfold folder.
    virtual void listenForHandOver() = 0;
    virtual bool handOverToRunningInstance() = 0;

    // Ends the event loop, modal dialogs included; the program exits with `exitCode`.
    virtual void quit(int exitCode) = 0;
};

// The engine as the tray window drives it.
class TrayEngine
{
public:
    virtual ~TrayEngine() = default;

    virtual void setCallback(Mediator::Callback* callback) = 0;
    virtual bool initialise() = 0;
    virtual bool reenterPassword() = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    virtual void unlink() = 0;
    virtual void onDeviceUnregistered() = 0;
    virtual void clearDatabaseAndConfiguration() = 0;

    virtual std::string serverBaseUrl() const = 0;
    virtual std::string downloadsUrl() const = 0;
    virtual std::wstring serverDisplayName() const = 0;
    virtual std::wstring wayfoldFolder() const = 0;

    virtual void startUpgradeDownload(const std::string& url) = 0;
    // Returns at once when no download runs; otherwise aborts it and waits for its end.
    virtual void waitForUpgradeDownload() = 0;
};
} // namespace dwl
