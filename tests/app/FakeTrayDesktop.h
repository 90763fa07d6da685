#pragma once
// A desktop for the tray window that records what it is asked to open and show, and answers its dialogs as
// the test says.

#include "app/TrayDesktop.h"
#include "qcl/String.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace test
{
struct FakeDesktop : dwl::TrayDesktop
{
    bool openUrl(const std::string& url) override { return record("url " + url); }
    bool openPath(const std::wstring& path) override
    {
        return record("path " + qcl::string::utf16ToUtf8(path));
    }
    void showError(const std::wstring& text, const std::wstring& details) override
    {
        errors.push_back(text + L" | " + details);
    }
    void showStartFailure(const std::wstring& message) override { startFailures.push_back(message); }
    bool editConfiguration(dwl::Configuration& configuration, dwl::WayfoldApi& api, const dwl::ServerList& servers,
                           bool passwordOnly) override
    {
        return !configure || configure(configuration, api, servers, passwordOnly);
    }
    MissingFolderChoice askAboutMissingFolder(const std::wstring&) override
    {
        record("missing-folder");
        MissingFolderChoice choice = choices.empty() ? MissingFolderChoice::Exit : choices.front();
        if (!choices.empty())
            choices.pop_front();
        return choice;
    }
    bool confirmUnlink() override
    {
        record("confirm-unlink");
        if (duringUnlinkDialog)
            duringUnlinkDialog();
        return confirm;
    }
    void bringToFront(Dialog) override { record("front"); }
    void addFolderBookmark(const std::wstring&) override {}
    void listenForHandOver() override { record("listen"); }
    bool handOverToRunningInstance() override
    {
        record("hand-over");
        return handOverAnswered;
    }
    void quit(int exitCode) override { this->exitCode = exitCode; }

    bool record(const std::string& what)
    {
        actions.push_back(what);
        return true;
    }

    std::vector<std::string> actions;
    std::vector<std::wstring> errors;
    std::vector<std::wstring> startFailures;
    // Plays the user of the configuration and password dialogs; none: accepted as they are.
    std::function<bool(dwl::Configuration&, dwl::WayfoldApi&, const dwl::ServerList&, bool)> configure;
    std::deque<MissingFolderChoice> choices;
    std::function<void()> duringUnlinkDialog;
    bool confirm = true;
    bool handOverAnswered = true;
    std::optional<int> exitCode;
};
} // namespace test
