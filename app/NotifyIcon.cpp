#include "app/NotifyIcon.h"

#include "qcl/Log.h"

#include <thread>

namespace win32
{
namespace
{
constexpr int maxRetries = 50;
constexpr std::chrono::milliseconds addRetryWait{100};
// Longer than any desktop's double-click interval.
constexpr std::chrono::milliseconds doubleClickTime{1000};
} // namespace

bool trySeveralTimes(std::chrono::milliseconds wait, const std::function<bool()>& operation,
                     const Sleeper& sleep)
{
    if (operation())
        return true;
    for (int retry = 0; retry < maxRetries; ++retry)
    {
        if (wait.count() > 0)
        {
            if (sleep)
                sleep(wait);
            else
                std::this_thread::sleep_for(wait);
        }
        QCL_LOG_TRACE(L"Operation failed. Trying again...");
        if (operation())
        {
            QCL_LOG_TRACE(L"Operation finally succeeded.");
            return true;
        }
    }
    QCL_LOG_TRACE(L"Operation failed. Giving up.");
    return false;
}

std::wstring cutText(const std::wstring& text, std::size_t units)
{
    if (text.size() <= units)
        return text;
    std::size_t end = units;
    const auto last = end > 0 ? static_cast<std::uint32_t>(text[end - 1]) : 0;
    if (last >= 0xD800 && last <= 0xDBFF)
        --end; // keep the pair whole: drop its first half too
    return text.substr(0, end);
}

NotifyIcon::NotifyIcon(dwl::ui::NotificationArea& area, Sleeper sleep, Scheduler schedule)
    : mArea(area), mSleep(std::move(sleep)), mSchedule(std::move(schedule))
{
}

NotifyIcon::~NotifyIcon()
{
    Hide();
}

void NotifyIcon::setContextMenu(const dwl::ui::ContextMenu& menu)
{
    mMenu = menu;
    mArea.setContextMenu(mMenu);
}

void NotifyIcon::AddIconToTaskbar()
{
    mAdded = true;
    const bool added = trySeveralTimes(
        addRetryWait,
        [this]
        {
            QCL_LOG_DEBUG(L"Registering task bar notification icon");
            return mArea.add(mPicture, mToolTip);
        },
        mSleep);
    if (!added)
        QCL_LOG_ERROR(L"Cannot register task bar notification icon");
}

void NotifyIcon::SetToolTip(const std::wstring& text)
{
    mToolTip = cutText(text, maxToolTip);
    if (mAdded && !mArea.modify(mPicture, mToolTip))
        QCL_LOG_ERROR(L"Cannot set icon and tool tip to " << qcl::string::escaped(mToolTip));
}

void NotifyIcon::ShowBalloon(const std::wstring& text, const std::wstring& title, dwl::ui::BalloonLevel level)
{
    const Balloon balloon{text, title, level};
    if (level == dwl::ui::BalloonLevel::Information)
    {
        if (mHolding)
            mHeldBack = balloon;
        else
            show(balloon);
        return;
    }
    if (!mSchedule)
        show(balloon);
    else if (!mHolding)
        showAndHold(balloon);
    else if (mWaitingFailures.size() < kMaxWaitingFailures)
        mWaitingFailures.push_back(balloon);
    else
    {
        QCL_LOG_INFO(L"Too many problems at once for a balloon of its own: " << qcl::string::escaped(text));
        if (mMoreProblems && mMoreProblems->level > level)
            level = mMoreProblems->level;
        mMoreProblems = Balloon{{}, title, level};
        ++mMoreProblemCount;
    }
}

void NotifyIcon::showAndHold(const Balloon& balloon)
{
    show(balloon);
    mHolding = true;
    const unsigned hold = ++mHold;
    mSchedule(kFailureHoldTime, [this, hold] { endHold(hold); });
}

void NotifyIcon::endHold(unsigned hold)
{
    if (hold != mHold) // hidden meanwhile
        return;
    mHolding = false;
    if (!mWaitingFailures.empty())
    {
        const Balloon next = std::move(mWaitingFailures.front());
        mWaitingFailures.pop_front();
        showAndHold(next);
    }
    else if (mMoreProblems)
    {
        Balloon more = *std::exchange(mMoreProblems, std::nullopt);
        more.text =
            mMoreProblemsText ? mMoreProblemsText(std::exchange(mMoreProblemCount, 0)) : std::wstring();
        showAndHold(more);
    }
    else if (mHeldBack)
        show(*std::exchange(mHeldBack, std::nullopt));
}

void NotifyIcon::show(const Balloon& balloon)
{
    const std::wstring shownText = cutText(balloon.text, maxBalloonText);
    const std::wstring shownTitle = cutText(balloon.title, maxBalloonTitle);
    if (!mArea.showBalloon(shownTitle, shownText, balloon.level))
        QCL_LOG_ERROR(L"Cannot show balloon notification with title = "
                      << qcl::string::escaped(shownTitle) << L", text = " << qcl::string::escaped(shownText));
}

void NotifyIcon::Hide()
{
    // What waits goes with the icon.
    ++mHold;
    mHolding = false;
    mWaitingFailures.clear();
    mMoreProblems.reset();
    mMoreProblemCount = 0;
    mHeldBack.reset();
    if (!mAdded)
        return;
    mAdded = false;
    if (!mArea.remove())
        QCL_LOG_ERROR(L"Cannot hide taskbar notification icon");
}

void NotifyIcon::onActivated(Activation activation)
{
    // Most tray hosts here never deliver a double click, so a single click runs the default item too; those
    // that do deliver the double click's first click before it, and the gesture runs the item once. The
    // context menu is shown by the tray host itself.
    const auto now = std::chrono::steady_clock::now();
    if (activation == Activation::Click)
        mLastClick = now;
    else if (activation != Activation::DoubleClick || (mLastClick && now - *mLastClick < doubleClickTime))
        return;
    if (mMenu.defaultCommand && mPostCommand)
        mPostCommand(*mMenu.defaultCommand);
}

void NotifyIcon::onBalloonShownLate()
{
    if (!mHolding)
        return;
    const unsigned hold = ++mHold;
    mSchedule(kFailureHoldTime, [this, hold] { endHold(hold); });
}

void NotifyIcon::onTrayHostRestarted()
{
    if (mAdded)
        AddIconToTaskbar();
}
} // namespace win32
