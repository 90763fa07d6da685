#pragma once
// A scheduler on a clock of the test's own: scheduled actions run when the test lets the time pass.

#include "app/NotifyIcon.h"

#include <chrono>
#include <functional>
#include <map>

namespace test
{
class FakeScheduler
{
public:
    win32::Scheduler scheduler()
    {
        return [this](std::chrono::milliseconds delay, std::function<void()> action)
        { mDue.emplace(mNow + delay, std::move(action)); };
    }

    // Runs, in the order they fall due, the actions due within `duration`, those they schedule included.
    void pass(std::chrono::milliseconds duration)
    {
        const auto end = mNow + duration;
        while (!mDue.empty() && mDue.begin()->first <= end)
        {
            auto next = mDue.extract(mDue.begin());
            mNow = next.key();
            next.mapped()();
        }
        mNow = end;
    }

private:
    std::chrono::milliseconds mNow{0};
    std::multimap<std::chrono::milliseconds, std::function<void()>> mDue;
};
} // namespace test
