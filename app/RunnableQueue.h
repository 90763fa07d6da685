#pragma once
// Work handed to the main thread: any thread posts a runnable, the main thread runs them in the order posted.
// Nothing a runnable throws leaves the queue: the failure handler gets the exception's text. Once the close
// has begun, posted and pending runnables are dropped.

#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace app
{
class RunnableQueue
{
public:
    using Runnable = std::function<void()>;

    // `wake` asks the main thread to call runPending soon; it is called from the posting thread.
    explicit RunnableQueue(std::function<void()> wake);

    // Runs on the main thread with the text of an exception that a runnable threw (already logged at fatal
    // level); it shows the error and ends the program. Should it throw, the queue closes.
    void setFailureHandler(std::function<void(const std::wstring& message)> handler);

    // False when the runnable was dropped because the close has begun.
    bool post(Runnable runnable);

    // Main thread. Runs the pending runnables one by one; safe to call again from inside a runnable (a modal
    // dialog's own loop does).
    void runPending();

    // From now on nothing runs.
    void close();
    bool isClosed() const;

private:
    std::function<void()> mWake;
    std::function<void(const std::wstring&)> mOnFailure;
    mutable std::mutex mMutex;
    std::deque<Runnable> mPending;
    bool mClosed = false;
};
} // namespace app
