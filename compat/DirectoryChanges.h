#pragma once
// Change notification for a whole directory tree, the stand-in for a recursive directory-change read.
//
// inotify watches single directories, so the watcher keeps one watch per directory of the tree and adds watches for
// directories that are created or moved in. It reacts to creation, deletion, moves, writes, attribute changes and
// close-after-write, never to opens and reads. Symbolic links are not followed and other file systems mounted inside
// the tree are not entered.

#include "compat/Types.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace compat
{
class DirectoryChangeWatcher
{
public:
    enum class Outcome
    {
        Changed,     // records() holds the records of one read
        Overflowed,  // the kernel dropped records: anything may have changed
        Stopped,     // requestStop() was called
        ReadThrough, // every record queued before request readThroughTicket() was read and returned
        Failed       // the read failed; GetLastError() tells why
    };

    static constexpr std::size_t bufferSize = 65536;

    DirectoryChangeWatcher();
    ~DirectoryChangeWatcher();
    DirectoryChangeWatcher(const DirectoryChangeWatcher&) = delete;
    DirectoryChangeWatcher& operator=(const DirectoryChangeWatcher&) = delete;

    // Arms the watches for the tree at the native path `root`. False with the last error set when the root cannot
    // be opened; running out of watches is not a failure (see watchLimitReached()).
    bool open(const std::string& root);
    void close();

    // Blocks until a change, an overflow or a stop request.
    Outcome waitForChanges();
    const char* records() const { return mBuffer.data(); }
    std::size_t recordBytes() const { return mFilled; }
    // The native path of the item of the last record read (empty when records were lost).
    const std::string& lastChangedPath() const { return mLastChanged; }
    // Whether the records of the last read made, removed or moved an entry (or were lost): only such a change can
    // make a scan under way miss an item or meet it twice; a write to a file cannot.
    bool namesChanged() const { return mNamesChanged; }

    // Callable from any thread; stays in force until clearStopRequest().
    void requestStop();
    void clearStopRequest();
    // Callable from any thread: asks for every record queued so far to be read, which ReadThrough then tells.
    // The request's number, which readThroughTicket() reaches once it is done.
    std::uint64_t requestReadThrough();
    std::uint64_t readThroughTicket() const { return mReadThroughTicket; }

    // True once the system's limit of watches (or of watch instances) was met: changes below some directories
    // go unnoticed until the next periodic rescan. Callable from any thread.
    bool watchLimitReached() const { return mWatchLimitReached; }
    std::size_t watchCount() const { return mPathByWatch.size(); }

private:
    void watchTree(const std::string& top);
    void forgetTree(const std::string& top);
    void forgetWatch(int watch);
    bool handleRecords(std::size_t bytes, bool& overflowed);

    int mInotify = -1;
    int mStopEvent = -1;
    int mReadThroughEvent = -1;
    std::atomic<std::uint64_t> mReadThroughRequests{0};
    std::uint64_t mReadThroughTicket = 0;
    bool mReadingThrough = false;
    std::size_t mReadThroughBytes = 0; // still to read of what was queued when the request was taken
    std::string mRoot;
    std::uint64_t mDevice = 0;
    std::atomic<bool> mWatchLimitReached{false};
    std::unordered_map<int, std::string> mPathByWatch;
    std::map<std::string, int> mWatchByPath;
    std::vector<char> mBuffer;
    std::size_t mFilled = 0;
    std::string mLastChanged;
    bool mNamesChanged = false;
};
} // namespace compat
