#pragma once
// The program's one icon in the desktop's notification area: added with retries while the tray host is not
// ready, its picture and tool tip, balloons, the context menu with its default item, and adding it again when
// the tray host restarts. Failures of the tray host are logged, never thrown. Main thread only.

#include "app/ui/NotificationArea.h"

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace win32
{
using Sleeper = std::function<void(std::chrono::milliseconds)>;
// Runs `action` on the main thread once `delay` has passed, unless the program ends first.
using Scheduler = std::function<void(std::chrono::milliseconds delay, std::function<void()> action)>;

// Runs `operation` until it returns true: once, then up to 50 more times, `wait` apart. False when every
// attempt failed. `sleep` replaces the real wait in tests.
bool trySeveralTimes(std::chrono::milliseconds wait, const std::function<bool()>& operation,
                     const Sleeper& sleep = {});

// `text` cut to at most `units` UTF-16 units, never inside a surrogate pair.
std::wstring cutText(const std::wstring& text, std::size_t units);

class NotifyIcon
{
public:
    static constexpr std::size_t maxToolTip = 127;
    static constexpr std::size_t maxBalloonText = 255;
    static constexpr std::size_t maxBalloonTitle = 63;

    enum class Activation
    {
        Context,
        Click,
        DoubleClick,
        Other,
    };

    // A warning or error balloon keeps the one balloon slot this long. Those that come meanwhile wait their
    // turn, each to keep the slot as long; an information balloon that comes meanwhile is shown once they all
    // had theirs (only the last of them). So no failure is hidden by another, nor by lesser news.
    static constexpr std::chrono::seconds kFailureHoldTime{10};
    // Failures beyond this many waiting are logged and counted, and one balloon after the waiting ones says
    // how many more there are (see setMoreProblemsText).
    static constexpr std::size_t kMaxWaitingFailures = 5;

    // Without a scheduler a warning or error holds nothing and nothing waits.
    explicit NotifyIcon(dwl::ui::NotificationArea& area, Sleeper sleep = {}, Scheduler schedule = {});
    ~NotifyIcon();
    NotifyIcon(const NotifyIcon&) = delete;
    NotifyIcon& operator=(const NotifyIcon&) = delete;

    // Where the default menu command goes when the icon is clicked (the owner posts it to itself).
    void setOwner(std::function<void(unsigned command)> postCommand)
    {
        mPostCommand = std::move(postCommand);
    }
    // The picture shown from the next add or SetToolTip on.
    void setPicture(dwl::ui::TrayPicture picture) { mPicture = picture; }
    dwl::ui::TrayPicture picture() const { return mPicture; }
    const std::wstring& toolTip() const { return mToolTip; }

    void setContextMenu(const dwl::ui::ContextMenu& menu);
    // The text of the balloon that stands for `count` failures that did not get one of their own.
    void setMoreProblemsText(std::function<std::wstring(unsigned count)> text)
    {
        mMoreProblemsText = std::move(text);
    }
    const dwl::ui::ContextMenu& contextMenu() const { return mMenu; }

    // Adds the icon, retrying for about five seconds. From then on the icon counts as added, even when the
    // tray host never took it, so that its restart brings the icon back.
    void AddIconToTaskbar();
    bool isAdded() const { return mAdded; }
    void SetToolTip(const std::wstring& text);
    // Shows the balloon now, or when the failures before it have had their time (see kFailureHoldTime).
    void ShowBalloon(const std::wstring& text, const std::wstring& title, dwl::ui::BalloonLevel level);
    void Hide();

    // Events from the tray host.
    void onActivated(Activation activation);
    void onTrayHostRestarted();
    // The last balloon reached the screen only now (the notification service left it unanswered): a failure
    // keeps the slot for its whole time from now on.
    void onBalloonShownLate();

private:
    struct Balloon
    {
        std::wstring text;
        std::wstring title;
        dwl::ui::BalloonLevel level;
    };

    void show(const Balloon& balloon);
    void showAndHold(const Balloon& balloon);
    void endHold(unsigned hold);

    dwl::ui::NotificationArea& mArea;
    Sleeper mSleep;
    Scheduler mSchedule;
    unsigned mHold = 0; // the number of the last hold begun
    bool mHolding = false;
    std::deque<Balloon> mWaitingFailures;
    std::optional<Balloon> mMoreProblems; // its title and level, standing for mMoreProblemCount failures
    unsigned mMoreProblemCount = 0;
    std::function<std::wstring(unsigned)> mMoreProblemsText;
    std::optional<Balloon> mHeldBack; // the information balloon to show when the failures had their time
    std::function<void(unsigned)> mPostCommand;
    dwl::ui::TrayPicture mPicture = dwl::ui::TrayPicture::Offline;
    std::wstring mToolTip;
    dwl::ui::ContextMenu mMenu;
    bool mAdded = false;
    std::optional<std::chrono::steady_clock::time_point> mLastClick;
};
} // namespace win32
