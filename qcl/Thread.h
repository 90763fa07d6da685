#pragma once
// Named worker threads. A thread body ends quietly on ThreadMustStop; any other exception is kept and
// reported through the error callback. Owners start, stop and join in that order; the same object may
// be started again after a join.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qcl
{
class NamedThread
{
public:
    // Thrown by the interruptible waits once a stop was requested.
    struct ThreadMustStop
    {
    };

    using ErrorCallback = std::function<void(NamedThread*)>;

    explicit NamedThread(std::wstring name);
    // Joins a thread that is still joinable, as a last resort: owners stop and join before.
    virtual ~NamedThread();

    NamedThread(const NamedThread&) = delete;
    NamedThread& operator=(const NamedThread&) = delete;

    // Runs `run` on a new thread. A previous thread that has ended is joined first; starting while
    // the previous run is still going throws std::logic_error.
    void start();
    // Joins the thread: std::system_error (invalid argument) when there is none, (resource deadlock)
    // when called from the thread itself.
    void join();
    bool joinable() const { return mThread.joinable(); }

    const std::wstring& name() const { return mName; }
    bool isRunning() const { return mRunning; }
    // The exception of the last failed run; null when it did not fail.
    std::exception_ptr exception() const { return mException; }
    // Called on the failing thread, inside the catch block, so that it may rethrow the exception.
    void setErrorCallback(ErrorCallback callback) { mErrorCallback = std::move(callback); }

protected:
    virtual void run() = 0;
    // Joins a joinable thread (detaches it when called on the thread itself).
    void joinAtDestruction() noexcept;

private:
    void threadMain();

    std::wstring mName;
    std::thread mThread;
    std::exception_ptr mException;
    ErrorCallback mErrorCallback;
    std::atomic<bool> mRunning{false};
};

// A named thread whose waits end with ThreadMustStop once its owner requests a stop. Derived classes
// wait on mMutex and mCondition for their own conditions and call checkInterruption the same way.
class InterruptibleThread : public NamedThread
{
public:
    using NamedThread::NamedThread;
    // Requests a stop and joins a thread that is still joinable, so that the wait of a running body
    // ends before the object goes.
    ~InterruptibleThread() override;

    // The stop request: sets the flag under the mutex and wakes every waiter. The flag stays set until
    // clearInterruption.
    void interrupt();
    void clearInterruption() { mInterrupted = false; }
    bool isInterrupted() const { return mInterrupted; }
    // The owners' stop procedure: interrupt, join when joinable, clear the flag.
    void stop();

protected:
    // Throws ThreadMustStop when a stop was requested.
    void checkInterruption() const;
    // Sleeps `seconds` (none for 0 or less), ending at once with ThreadMustStop on a stop request.
    void waitFor(std::int64_t seconds);

    std::mutex mMutex;
    std::condition_variable mCondition;
    std::atomic<bool> mInterrupted{false};
};
} // namespace qcl
