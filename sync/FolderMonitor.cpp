#include "sync/FolderMonitor.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <atomic>

namespace dwl
{
FolderMonitor::FolderMonitor() : qcl::NamedThread(L"Folder Monitor") {}

FolderMonitor::~FolderMonitor()
{
    stop();
}

void FolderMonitor::start()
{
    mWatcher.clearStopRequest();
    {
        std::lock_guard lock(mStartMutex);
        mStartState = StartState::Starting;
    }
    qcl::NamedThread::start();
    std::unique_lock lock(mStartMutex);
    mStartCondition.wait(lock, [this] { return mStartState != StartState::Starting; });
    if (mStartState == StartState::Ended)
    {
        lock.unlock();
        join();
        if (const std::exception_ptr failure = exception())
            std::rethrow_exception(failure);
    }
}

void FolderMonitor::stop()
{
    if (!joinable())
        return;
    mWatcher.requestStop();
    join();
}

std::wstring FolderMonitor::lastChange() const
{
    const std::string& path = mWatcher.lastChangedPath();
    return compat::fileNameToUtf16(path);
}

void FolderMonitor::signalArmed(bool armed)
{
    {
        std::lock_guard lock(mStartMutex);
        if (mStartState != StartState::Starting)
            return;
        mStartState = armed ? StartState::Armed : StartState::Ended;
    }
    mStartCondition.notify_all();
}

void FolderMonitor::warnOnceAboutWatchLimit()
{
    static std::atomic<bool> warned{false};
    if (mWatcher.watchLimitReached() && !warned.exchange(true))
        QCL_LOG_WARN(L"Cannot watch every folder below " << qcl::string::escaped(mFolder, L'\'')
                                                         << L": the system's limit of directory watches is reached; "
                                                            L"changes there are found by the periodic rescans");
}

void FolderMonitor::run()
{
    // Whatever ends the thread before the watches are armed releases start().
    qcl::scope::Guard releaseStart([this] { signalArmed(false); });
    qcl::scope::Guard closeWatcher([this] { mWatcher.close(); });

    std::string root;
    if (!compat::toSystemPath(mFolder.c_str(), root) || !mWatcher.open(root))
        throw qcl::SystemError(qcl::format(L"Cannot open '%1%'", mFolder), GetLastError());
    warnOnceAboutWatchLimit();
    signalArmed(true);

    for (;;)
    {
        switch (mWatcher.waitForChanges())
        {
        case compat::DirectoryChangeWatcher::Outcome::Stopped:
            return;
        case compat::DirectoryChangeWatcher::Outcome::Changed:
            QCL_LOG_TRACE(L"Notification buffer filled with " << mWatcher.recordBytes() << L" bytes out of "
                                                              << compat::DirectoryChangeWatcher::bufferSize);
            mCallback(mWatcher.records(), static_cast<unsigned long>(mWatcher.recordBytes()));
            break;
        case compat::DirectoryChangeWatcher::Outcome::Overflowed:
            QCL_LOG_TRACE(L"Notification buffer filled with 0 bytes out of "
                          << compat::DirectoryChangeWatcher::bufferSize);
            mCallback(mWatcher.records(), 0);
            break;
        case compat::DirectoryChangeWatcher::Outcome::ReadThrough:
            if (mReadThroughCallback)
                mReadThroughCallback(mWatcher.readThroughTicket());
            break;
        case compat::DirectoryChangeWatcher::Outcome::Failed:
        {
            const qcl::SystemError error(L"Cannot setup directory changes notification", GetLastError());
            QCL_LOG_ERROR(error.message());
            throw error;
        }
        }
        warnOnceAboutWatchLimit();
    }
}
} // namespace dwl
