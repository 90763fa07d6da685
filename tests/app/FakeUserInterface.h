#pragma once
// A user interface that records what the dialog logic shows and asks, for tests with no display. Dialog views
// run a script given by the test in place of a user.

#include "app/ui/UserInterface.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace test
{
// A window whose text lives in memory.
class FakeWindow
{
public:
    FakeWindow() : mText(std::make_shared<Text>()), mHandle(compat::insertWindow(mText)) {}
    ~FakeWindow() { compat::removeWindow(mHandle); }
    FakeWindow(const FakeWindow&) = delete;
    FakeWindow& operator=(const FakeWindow&) = delete;

    HWND handle() const { return mHandle; }
    const std::wstring& text() const { return mText->value; }
    void setText(const std::wstring& text) { mText->value = text; }

private:
    struct Text : compat::WindowText
    {
        std::wstring value;
        std::wstring text() const override { return value; }
        void setText(const std::wstring& text) override { value = text; }
    };
    std::shared_ptr<Text> mText;
    HWND mHandle;
};

class RecordingMessageBox : public dwl::ui::MessageBox
{
public:
    struct Shown
    {
        HWND owner;
        std::wstring text;
        std::wstring caption;
        unsigned flags;
    };
    std::vector<Shown> shown;

    int show(HWND owner, const std::wstring& text, const std::wstring& caption, unsigned flags) override
    {
        shown.push_back({owner, text, caption, flags});
        return dwl::ui::IDOK;
    }
};

class RecordingShell : public dwl::ui::Shell
{
public:
    std::vector<std::string> openedUrls;
    std::vector<std::wstring> openedFolders;
    // Answers of the folder browser in turn; none left: cancelled. `browserAccepted` records whether the
    // browser would have let each answer be chosen.
    std::deque<std::wstring> browserAnswers;
    std::vector<bool> browserAccepted;

    bool openUrl(const std::string& url) override
    {
        openedUrls.push_back(url);
        return true;
    }
    bool openFolder(const std::wstring& path) override
    {
        openedFolders.push_back(path);
        return true;
    }
    std::optional<std::wstring>
    browseForFolder(HWND, const std::wstring&, const std::wstring&,
                    const std::function<bool(const std::wstring&)>& canChoose) override
    {
        if (browserAnswers.empty())
            return std::nullopt;
        std::wstring answer = browserAnswers.front();
        browserAnswers.pop_front();
        browserAccepted.push_back(canChoose(answer));
        return answer;
    }
};

class FakeConfigurationView : public dwl::ui::ConfigurationView
{
public:
    using Script = std::function<void(FakeConfigurationView&, Events&)>;

    explicit FakeConfigurationView(Script script) : mScript(std::move(script))
    {
        for (const int id : {Prompt, FolderLocationEdit, EmailEdit, PasswordEdit})
            mControls[id];
    }

    // State the test reads.
    std::vector<std::wstring> servers;
    int selected = -1;
    std::set<int> disabled;
    int focus = 0;
    bool focusSelectsAll = false;
    int defaultButton = LoginButton;
    std::optional<int> result;

    std::wstring text(int id) { return mControls[id].text(); }
    void setText(int id, const std::wstring& text) { mControls[id].setText(text); }
    bool isEnabled(int id) const { return !disabled.contains(id); }

    // Waits until a login check has reported its end; false on time-out.
    bool waitForPingEnded()
    {
        std::unique_lock lock(mMutex);
        const bool ended =
            mPosted.wait_for(lock, std::chrono::seconds(60), [this] { return mPostCount > 0; });
        mPostCount = 0;
        return ended;
    }

    HWND window() override { return mWindow.handle(); }
    std::wstring caption() const { return mWindow.text(); }
    HWND control(int id) override
    {
        const auto found = mControls.find(id);
        return found == mControls.end() ? nullptr : found->second.handle();
    }
    int run(Events& events) override
    {
        events.OnInitDialog();
        if (!result && mScript)
            mScript(*this, events);
        return result.value_or(-1);
    }
    void end(int code) override { result = code; }
    void addServer(const std::wstring& displayName) override { servers.push_back(displayName); }
    void selectServer(int index) override { selected = index; }
    int selectedServer() override { return selected; }
    void setEnabled(int id, bool enabled) override
    {
        if (enabled)
            disabled.erase(id);
        else
            disabled.insert(id);
    }
    void setFocus(int id, bool selectAll) override
    {
        focus = id;
        focusSelectsAll = selectAll;
    }
    void setDefaultButton(int id) override { defaultButton = id; }
    void postPingEnded() override
    {
        std::lock_guard lock(mMutex);
        ++mPostCount;
        mPosted.notify_all();
    }

private:
    Script mScript;
    FakeWindow mWindow;
    std::map<int, FakeWindow> mControls;
    std::mutex mMutex;
    std::condition_variable mPosted;
    int mPostCount = 0;
};

struct ShownDialog
{
    std::wstring caption;
    std::wstring message;
};

// Missing-folder and unlink views: they record what they showed and close with the given answer.
template <class Interface> class FakeButtonDialogView : public Interface
{
public:
    using Shown = ShownDialog;

    FakeButtonDialogView(int answer, std::vector<Shown>& record) : mAnswer(answer), mRecord(record) {}

    HWND window() override { return mWindow.handle(); }
    HWND control(int id) override { return id == Interface::MessageText ? mMessage.handle() : nullptr; }
    int run(const std::function<void()>& onInit) override
    {
        onInit();
        mRecord.push_back({mWindow.text(), mMessage.text()});
        return mAnswer;
    }
    void bringToFront() override {}

private:
    int mAnswer;
    std::vector<Shown>& mRecord;
    FakeWindow mWindow;
    FakeWindow mMessage;
};

class FakeUserInterface : public dwl::ui::UserInterface
{
public:
    RecordingMessageBox box;
    RecordingShell shellRecord;
    // Plays the user of each configuration dialog; checks made inside it see the view while it runs.
    FakeConfigurationView::Script configurationScript;
    int buttonDialogAnswer = dwl::ui::IDCANCEL;
    std::vector<ShownDialog> shownDialogs;

    dwl::ui::MessageBox& messageBox() override { return box; }
    dwl::ui::Shell& shell() override { return shellRecord; }
    std::unique_ptr<dwl::ui::ConfigurationView> newConfigurationView(HWND) override
    {
        return std::make_unique<FakeConfigurationView>(configurationScript);
    }
    std::unique_ptr<dwl::ui::MissingFolderView> newMissingFolderView(HWND) override
    {
        return std::make_unique<FakeButtonDialogView<dwl::ui::MissingFolderView>>(buttonDialogAnswer,
                                                                                  shownDialogs);
    }
    std::unique_ptr<dwl::ui::UnlinkView> newUnlinkView(HWND) override
    {
        return std::make_unique<FakeButtonDialogView<dwl::ui::UnlinkView>>(buttonDialogAnswer, shownDialogs);
    }
};
} // namespace test
