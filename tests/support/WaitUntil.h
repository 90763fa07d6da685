#pragma once
// Polls a condition until it holds or the time is up; true when it holds.

#include <chrono>
#include <functional>
#include <thread>

namespace test
{
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30),
                      std::chrono::milliseconds period = std::chrono::milliseconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(period);
    }
}
} // namespace test
