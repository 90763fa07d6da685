#pragma once
// The worker thread "Folder Monitor": watches the Wayfold folder and everything below it and calls its callback for
// every read of change records. The scanner's callback only asks for a rescan; the records are not parsed.

#include "compat/DirectoryChanges.h"
#include "qcl/Thread.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace dwl
{
class FolderMonitor : public qcl::NamedThread
{
public:
    // The records of one read and their size in bytes; 0 bytes when records were lost (anything may have changed).
    using Callback = std::function<void(const void* records, unsigned long bytes)>;

    FolderMonitor();
    ~FolderMonitor() override;

    // Told, on the monitor thread, that the records of every change made before the read-through request of
    // that number (or of any before it) were passed to the callback.
    using ReadThroughCallback = std::function<void(std::uint64_t request)>;

    void setFolder(const std::wstring& folder) { mFolder = folder; }
    void setCallback(Callback callback) { mCallback = std::move(callback); }
    void setReadThroughCallback(ReadThroughCallback callback) { mReadThroughCallback = std::move(callback); }

    // Starts the thread and returns once the watches are armed, so that a change made right after is seen. Throws
    // what ended the thread when the folder could not be watched.
    void start();
    // Ends the thread, when it runs, and joins it.
    void stop();
    // In the callback: the full path of the item that changed last (empty when records were lost).
    std::wstring lastChange() const;
    // In the callback: whether an entry was made, removed or moved (or records were lost).
    bool namesChanged() const { return mWatcher.namesChanged(); }
    // Callable from any thread while the monitor runs: asks for the records of every change made so far to be
    // read and passed on. The request's number, which the read-through callback tells once it is done.
    std::uint64_t requestReadThrough() { return mWatcher.requestReadThrough(); }
    // Whether every folder is watched (none is left out by the system's limit of watches). Callable from any
    // thread.
    bool watchesEverything() const { return !mWatcher.watchLimitReached(); }

private:
    void run() override;
    void signalArmed(bool armed);
    void warnOnceAboutWatchLimit();

    std::wstring mFolder;
    Callback mCallback;
    ReadThroughCallback mReadThroughCallback;
    compat::DirectoryChangeWatcher mWatcher;

    std::mutex mStartMutex;
    std::condition_variable mStartCondition;
    enum class StartState
    {
        Starting,
        Armed,
        Ended
    } mStartState = StartState::Starting;
};
} // namespace dwl
