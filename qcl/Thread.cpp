#include "qcl/Thread.h"

#include "qcl/Error.h"
#include "qcl/Log.h"

#include <chrono>
#include <stdexcept>

namespace qcl
{
NamedThread::NamedThread(std::wstring name) : mName(std::move(name)) {}

NamedThread::~NamedThread()
{
    joinAtDestruction();
}

void NamedThread::joinAtDestruction() noexcept
{
    if (!mThread.joinable())
        return;
    // An object destroyed by its own thread cannot join it.
    if (mThread.get_id() == std::this_thread::get_id())
        mThread.detach();
    else
        mThread.join();
}

void NamedThread::start()
{
    if (mRunning)
        throw std::logic_error("qcl::NamedThread::start: the thread is running");
    // A run that ended on its own still has to be joined before its std::thread is replaced.
    if (mThread.joinable())
        mThread.join();
    mException = nullptr;
    mRunning = true;
    try
    {
        mThread = std::thread(&NamedThread::threadMain, this);
    }
    catch (...)
    {
        mRunning = false;
        throw;
    }
}

void NamedThread::join()
{
    mThread.join();
}

void NamedThread::threadMain()
{
    try
    {
        run();
    }
    catch (const ThreadMustStop&)
    {
    }
    catch (...)
    {
        mException = std::current_exception();
        if (mErrorCallback)
        {
            try
            {
                mErrorCallback(this);
            }
            catch (...)
            {
                try
                {
                    QCL_LOG_ERROR(L"The error callback of thread '" << mName
                                                                    << L"' failed: " << currentExceptionMessage());
                }
                catch (...)
                {
                }
            }
        }
    }
    mRunning = false;
}

InterruptibleThread::~InterruptibleThread()
{
    // Joined here, while the mutex and condition variable that a waiting body uses still exist.
    if (joinable())
        interrupt();
    joinAtDestruction();
}

void InterruptibleThread::interrupt()
{
    std::lock_guard lock(mMutex);
    mInterrupted = true;
    mCondition.notify_all();
}

void InterruptibleThread::stop()
{
    interrupt();
    if (joinable())
        join();
    clearInterruption();
}

void InterruptibleThread::checkInterruption() const
{
    if (mInterrupted)
        throw ThreadMustStop();
}

void InterruptibleThread::waitFor(std::int64_t seconds)
{
    checkInterruption();
    if (seconds <= 0)
        return;
    // Far enough for any caller, and safe from overflow of the clock's representation.
    constexpr std::int64_t longestWait = std::int64_t(100) * 365 * 24 * 3600;
    std::unique_lock lock(mMutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::min(seconds, longestWait));
    while (!mInterrupted)
    {
        if (mCondition.wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    }
    checkInterruption();
}
} // namespace qcl
