#include "compat/DirectoryChanges.h"

#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace compat
{
namespace
{
// Opens and reads are left out on purpose: a scan of the tree would otherwise notify itself.
constexpr std::uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB |
                                        IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t namingEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t watchFlags = watchedEvents | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string childPath(const std::string& directory, const char* name)
{
    std::string path = directory;
    if (path.empty() || path.back() != '/')
        path += '/';
    return path += name;
}

bool isDirectoryEntry(int directoryFd, const dirent& entry)
{
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_UNKNOWN)
        return false;
    struct stat status;
    return ::fstatat(directoryFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}
} // namespace

DirectoryChangeWatcher::DirectoryChangeWatcher() : mBuffer(bufferSize)
{
    mStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mReadThroughEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

DirectoryChangeWatcher::~DirectoryChangeWatcher()
{
    close();
    for (const int event : {mStopEvent, mReadThroughEvent})
        if (event >= 0)
            ::close(event);
}

bool DirectoryChangeWatcher::open(const std::string& root)
{
    close();
    if (mStopEvent < 0 || mReadThroughEvent < 0)
    {
        setLastErrorFromErrno(EMFILE);
        return false;
    }
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
    {
        setLastErrorFromErrno(errno, root.c_str());
        return false;
    }
    struct stat status;
    const bool statted = ::fstat(rootFd, &status) == 0;
    const int statError = errno;
    ::close(rootFd);
    if (!statted)
    {
        setLastErrorFromErrno(statError, root.c_str());
        return false;
    }
    mDevice = status.st_dev;

    mInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (mInotify < 0)
    {
        if (errno != EMFILE && errno != ENFILE)
        {
            setLastErrorFromErrno(errno);
            return false;
        }
        // Out of inotify instances: the caller goes on with periodic rescans only.
        mWatchLimitReached = true;
        return true;
    }
    // The root may itself be reached through a link; everything below it is not followed.
    const int watch = ::inotify_add_watch(mInotify, root.c_str(), watchedEvents | IN_ONLYDIR | IN_EXCL_UNLINK);
    if (watch < 0)
    {
        if (errno == ENOSPC)
        {
            mWatchLimitReached = true;
            return true;
        }
        const int error = errno;
        close();
        setLastErrorFromErrno(error, root.c_str());
        return false;
    }
    mRoot = root;
    mPathByWatch[watch] = root;
    mWatchByPath[root] = watch;
    watchTree(root);
    return true;
}

void DirectoryChangeWatcher::close()
{
    if (mInotify >= 0)
        ::close(mInotify);
    mInotify = -1;
    mPathByWatch.clear();
    mWatchByPath.clear();
    mWatchLimitReached = false;
    mFilled = 0;
    mReadingThrough = false;
}

// Adds a watch for every directory below `top` (whose own watch is already there), staying on the root's file
// system. A directory that vanished or cannot be read meanwhile is left out; its parent's watch still reports it.
void DirectoryChangeWatcher::watchTree(const std::string& top)
{
    std::vector<std::string> pending{top};
    while (!pending.empty() && !mWatchLimitReached)
    {
        const std::string directory = std::move(pending.back());
        pending.pop_back();
        const int follow = directory == mRoot ? 0 : O_NOFOLLOW;
        const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | follow);
        if (fd < 0)
            continue;
        struct stat status;
        if (::fstat(fd, &status) != 0 || status.st_dev != mDevice)
        {
            ::close(fd);
            continue;
        }
        if (directory != top)
        {
            const int watch = ::inotify_add_watch(mInotify, directory.c_str(), watchFlags);
            if (watch < 0)
            {
                if (errno == ENOSPC)
                    mWatchLimitReached = true;
                ::close(fd);
                continue;
            }
            // A directory moved within the tree keeps its watch; only its path changes.
            const auto known = mPathByWatch.find(watch);
            if (known != mPathByWatch.end() && known->second != directory)
                mWatchByPath.erase(known->second);
            mPathByWatch[watch] = directory;
            mWatchByPath[directory] = watch;
        }
        DIR* listing = ::fdopendir(fd);
        if (listing == nullptr)
        {
            ::close(fd);
            continue;
        }
        while (const dirent* entry = ::readdir(listing))
        {
            if (!isDotOrDotDot(entry->d_name) && isDirectoryEntry(fd, *entry))
                pending.push_back(childPath(directory, entry->d_name));
        }
        ::closedir(listing);
    }
}

void DirectoryChangeWatcher::forgetWatch(int watch)
{
    const auto known = mPathByWatch.find(watch);
    if (known == mPathByWatch.end())
        return;
    const auto byPath = mWatchByPath.find(known->second);
    if (byPath != mWatchByPath.end() && byPath->second == watch)
        mWatchByPath.erase(byPath);
    mPathByWatch.erase(known);
}

// Drops the watches of a directory that left the tree (or is about to reappear elsewhere in it).
void DirectoryChangeWatcher::forgetTree(const std::string& top)
{
    std::vector<int> watches;
    if (const auto exact = mWatchByPath.find(top); exact != mWatchByPath.end())
        watches.push_back(exact->second);
    const std::string prefix = top + '/';
    for (auto it = mWatchByPath.lower_bound(prefix);
         it != mWatchByPath.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        watches.push_back(it->second);
    for (const int watch : watches)
    {
        ::inotify_rm_watch(mInotify, watch);
        forgetWatch(watch);
    }
}

bool DirectoryChangeWatcher::handleRecords(std::size_t bytes, bool& overflowed)
{
    bool changed = false;
    std::size_t offset = 0;
    while (offset + sizeof(inotify_event) <= bytes)
    {
        inotify_event event;
        std::memcpy(&event, mBuffer.data() + offset, sizeof event);
        const char* name = mBuffer.data() + offset + sizeof event;
        offset += sizeof event + event.len;

        if (event.mask & IN_Q_OVERFLOW)
        {
            overflowed = true;
            continue;
        }
        if (event.mask & IN_IGNORED)
        {
            forgetWatch(event.wd);
            continue;
        }
        changed = true;
        mNamesChanged = mNamesChanged || (event.mask & namingEvents) != 0;
        const auto parent = mPathByWatch.find(event.wd);
        if (parent != mPathByWatch.end())
            mLastChanged = event.len == 0 ? parent->second : childPath(parent->second, name);
        if (!(event.mask & IN_ISDIR) || event.len == 0 || parent == mPathByWatch.end())
            continue;
        const std::string path = childPath(parent->second, name);
        // A folder that could not be watched (its mode kept it closed) is watched once its mode changes.
        const bool unwatchedAttributes = (event.mask & IN_ATTRIB) != 0 && mWatchByPath.count(path) == 0;
        if (event.mask & IN_MOVED_FROM)
            forgetTree(path);
        else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 || unwatchedAttributes)
        {
            const int watch = ::inotify_add_watch(mInotify, path.c_str(), watchFlags);
            if (watch < 0)
            {
                if (errno == ENOSPC)
                    mWatchLimitReached = true;
                continue;
            }
            mPathByWatch[watch] = path;
            mWatchByPath[path] = watch;
            watchTree(path);
        }
    }
    return changed;
}

DirectoryChangeWatcher::Outcome DirectoryChangeWatcher::waitForChanges()
{
    mFilled = 0;
    mNamesChanged = false;
    for (;;)
    {
        if (mReadingThrough && mReadThroughBytes == 0)
        {
            mReadingThrough = false;
            return Outcome::ReadThrough;
        }
        if (!mReadingThrough)
        {
            pollfd fds[3] = {{mStopEvent, POLLIN, 0}, {mReadThroughEvent, POLLIN, 0}, {mInotify, POLLIN, 0}};
            const nfds_t count = mInotify >= 0 ? 3 : 2;
            if (::poll(fds, count, -1) < 0)
            {
                if (errno == EINTR)
                    continue;
                setLastErrorFromErrno(errno);
                return Outcome::Failed;
            }
            if (fds[0].revents & POLLIN)
                return Outcome::Stopped;
            if (fds[1].revents & POLLIN)
            {
                // The queue is read in order: once as many bytes as it holds now are read, so is every record
                // of a change made before the request.
                std::uint64_t requests = 0;
                [[maybe_unused]] const auto taken = ::read(mReadThroughEvent, &requests, sizeof requests);
                mReadThroughTicket = mReadThroughRequests.load();
                int queued = 0;
                mReadThroughBytes = mInotify >= 0 && ::ioctl(mInotify, FIONREAD, &queued) == 0
                                        ? static_cast<std::size_t>(queued)
                                        : 0;
                mReadingThrough = true;
                continue;
            }
            if (count < 3 || !(fds[2].revents & POLLIN))
                continue;
        }
        const ssize_t bytes = ::read(mInotify, mBuffer.data(), mBuffer.size());
        if (bytes < 0)
        {
            if (errno == EAGAIN && mReadingThrough)
                mReadThroughBytes = 0;
            if (errno == EAGAIN || errno == EINTR)
                continue;
            setLastErrorFromErrno(errno);
            return Outcome::Failed;
        }
        if (mReadingThrough)
            mReadThroughBytes -= std::min(mReadThroughBytes, static_cast<std::size_t>(bytes));
        bool overflowed = false;
        const bool changed = handleRecords(static_cast<std::size_t>(bytes), overflowed);
        if (overflowed)
        {
            mLastChanged.clear();
            mNamesChanged = true;
            return Outcome::Overflowed;
        }
        if (changed)
        {
            mFilled = static_cast<std::size_t>(bytes);
            return Outcome::Changed;
        }
    }
}

void DirectoryChangeWatcher::requestStop()
{
    const std::uint64_t one = 1;
    // The event counter cannot overflow from a handful of requests; a failed write leaves nothing to undo.
    [[maybe_unused]] const auto written = ::write(mStopEvent, &one, sizeof one);
}

std::uint64_t DirectoryChangeWatcher::requestReadThrough()
{
    const std::uint64_t ticket = ++mReadThroughRequests;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(mReadThroughEvent, &one, sizeof one);
    return ticket;
}

void DirectoryChangeWatcher::clearStopRequest()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(mStopEvent, &count, sizeof count);
}
} // namespace compat
