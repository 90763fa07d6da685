#include "app/RunnableQueue.h"

#include "qcl/Error.h"
#include "qcl/Log.h"

#include <stdexcept>

namespace app
{
RunnableQueue::RunnableQueue(std::function<void()> wake) : mWake(std::move(wake)) {}

void RunnableQueue::setFailureHandler(std::function<void(const std::wstring&)> handler)
{
    mOnFailure = std::move(handler);
}

bool RunnableQueue::post(Runnable runnable)
{
    {
        std::lock_guard lock(mMutex);
        if (mClosed)
            return false;
        mPending.push_back(std::move(runnable));
    }
    mWake();
    return true;
}

void RunnableQueue::runPending()
{
    for (;;)
    {
        Runnable next;
        {
            std::lock_guard lock(mMutex);
            if (mClosed || mPending.empty())
                return;
            next = std::move(mPending.front());
            mPending.pop_front();
        }
        try
        {
            next();
        }
        catch (...)
        {
            const std::wstring message = qcl::currentExceptionMessage();
            QCL_LOG_FATAL(message);
            try
            {
                if (!mOnFailure)
                    throw std::logic_error("no failure handler");
                mOnFailure(message); // shows the error and ends the program
            }
            catch (...)
            {
                QCL_LOG_FATAL(L"Cannot report an unexpected error: " << qcl::currentExceptionMessage());
                close();
            }
        }
    }
}

void RunnableQueue::close()
{
    std::deque<Runnable> dropped; // destroyed outside the lock: a capture's destructor may post
    std::lock_guard lock(mMutex);
    mClosed = true;
    dropped.swap(mPending);
}

bool RunnableQueue::isClosed() const
{
    std::lock_guard lock(mMutex);
    return mClosed;
}
} // namespace app
