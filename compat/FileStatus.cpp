#include "compat/FileStatus.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>

namespace compat
{
namespace
{
constexpr unsigned statusMask = STATX_BASIC_STATS | STATX_BTIME;
constexpr char attributeName[] = "user.wayfold.attributes";

std::atomic<bool> extendedAttributesDisabled{false};

// Where an item is: an open descriptor, or else a path, followed or not.
struct Location
{
    int fd;
    const std::string& path;
    bool followLinks;
};

// Files whose file system has no user extended attributes, by device, inode and reuse tag so that a
// new file that reuses the inode does not inherit the bits.
using FileKey = std::tuple<unsigned, unsigned, unsigned long long, std::uint32_t>;
struct FallbackTable
{
    std::mutex mutex;
    std::map<FileKey, DWORD> bits;
    std::atomic<bool> inUse{false}; // spares every listing the key while the table was never needed
};

FallbackTable& fallbackTable()
{
    static FallbackTable instance;
    return instance;
}

FileKey keyOf(const Location& at, const struct statx& status)
{
    const std::uint32_t tag = at.fd != -1 ? reuseTag(at.fd, "", AT_EMPTY_PATH, status)
                                          : reuseTag(AT_FDCWD, at.path.c_str(),
                                                     at.followLinks ? AT_SYMLINK_FOLLOW : 0, status);
    return {status.stx_dev_major, status.stx_dev_minor, status.stx_ino, tag};
}

bool usesFallback(int error)
{
    return error == ENOTSUP || error == EPERM;
}

DWORD readFallback(const Location& at, const struct statx& status)
{
    FallbackTable& table = fallbackTable();
    if (!table.inUse)
        return 0;
    const FileKey key = keyOf(at, status);
    std::lock_guard lock(table.mutex);
    const auto found = table.bits.find(key);
    return found == table.bits.end() ? 0 : found->second;
}

void writeFallback(const Location& at, const struct statx& status, DWORD bits)
{
    FallbackTable& table = fallbackTable();
    if (bits == 0 && !table.inUse)
        return;
    const FileKey key = keyOf(at, status);
    std::lock_guard lock(table.mutex);
    if (bits == 0)
        table.bits.erase(key);
    else
    {
        table.bits[key] = bits;
        table.inUse = true;
    }
}

// getxattrat (Linux 6.13) names the item relative to an open folder, so the path is not walked again for
// every entry of a listing. New system calls have one number on every architecture.
#ifdef SYS_getxattrat
constexpr long getxattratCall = SYS_getxattrat;
#else
constexpr long getxattratCall = 464;
#endif
std::atomic<bool> getxattratMissing{false};

struct XattrArguments
{
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

// As lgetxattr; ENOSYS when the kernel does not offer the call. A filter in front of the kernel may refuse it with
// EPERM instead, which a file system may also answer: either way the call is not used again, since asking by path
// gives the same answer, only more slowly.
ssize_t getAttributeAt(int directory, const char* name, char* value, std::size_t size)
{
    if (getxattratMissing)
    {
        errno = ENOSYS;
        return -1;
    }
    XattrArguments arguments{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
    const long length =
        ::syscall(getxattratCall, directory, name, AT_SYMLINK_NOFOLLOW, attributeName, &arguments, sizeof arguments);
    if (length < 0 && (errno == ENOSYS || errno == EPERM))
        getxattratMissing = true;
    return length;
}

// The stored bits from the text of the extended attribute, or from `fallback()` when it is missing or refused.
template <class Fallback>
DWORD storedBitsFrom(ssize_t length, char (&text)[16], const Fallback& fallback)
{
    if (length < 0)
        return usesFallback(errno) || errno == ENODATA ? fallback() : 0;
    text[length] = '\0';
    unsigned bits = 0;
    return std::sscanf(text, "%x", &bits) == 1 ? (bits & storedAttributeMask) : 0;
}

std::uint32_t mix32(std::uint64_t value)
{
    value ^= value >> 33;
    value *= 0xFF51AFD7ED558CCDull;
    value ^= value >> 33;
    value *= 0xC4CEB9FE1A85EC53ull;
    value ^= value >> 33;
    return static_cast<std::uint32_t>(value);
}
} // namespace

void setExtendedAttributesDisabledForTesting(bool disabled)
{
    extendedAttributesDisabled = disabled;
}

int statPath(const std::string& path, bool followLinks, struct statx& status)
{
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    return ::statx(AT_FDCWD, path.c_str(), flags, statusMask, &status) == 0 ? 0 : errno;
}

int statAt(int directory, const char* name, struct statx& status)
{
    return ::statx(directory, name, AT_SYMLINK_NOFOLLOW, statusMask, &status) == 0 ? 0 : errno;
}

int statDescriptor(int fd, struct statx& status)
{
    return ::statx(fd, "", AT_EMPTY_PATH, statusMask, &status) == 0 ? 0 : errno;
}

FILETIME toFileTime(const struct statx_timestamp& time)
{
    // 100-nanosecond intervals since 1601-01-01; earlier times are clamped to that day.
    constexpr long long secondsFrom1601To1970 = 11644473600LL;
    const long long seconds = time.tv_sec + secondsFrom1601To1970;
    const std::uint64_t ticks =
        seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds) * 10000000u + time.tv_nsec / 100;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME creationTime(const struct statx& status)
{
    return toFileTime((status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime : status.stx_ctime);
}

std::uint32_t reuseTag(int directory, const char* path, int flags, const struct statx& status, int* handleError)
{
    std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
    const auto add = [&hash](const void* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
        {
            hash ^= static_cast<const unsigned char*>(data)[i];
            hash *= 0x100000001B3ull;
        }
    };
    struct
    {
        struct file_handle header;
        unsigned char bytes[MAX_HANDLE_SZ];
    } handle;
    handle.header.handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    const bool hasHandle = ::name_to_handle_at(directory, path, &handle.header, &mountId, flags) == 0;
    if (handleError != nullptr)
        *handleError = hasHandle ? 0 : errno;
    if (hasHandle)
    {
        add(&handle.header.handle_type, sizeof handle.header.handle_type);
        add(handle.header.f_handle, handle.header.handle_bytes);
    }
    const bool hasBirth = (status.stx_mask & STATX_BTIME) != 0;
    if (hasBirth)
    {
        add(&status.stx_btime.tv_sec, sizeof status.stx_btime.tv_sec);
        add(&status.stx_btime.tv_nsec, sizeof status.stx_btime.tv_nsec);
    }
    return hasHandle || hasBirth ? mix32(hash) : 0;
}

ULONGLONG fileIndex(const struct statx& status, std::uint32_t reuseTag)
{
    // Inode numbers of the common file systems fit in 32 bits, so two files that exist together never
    // share an index.
    return status.stx_ino ^ (static_cast<std::uint64_t>(reuseTag) << 32);
}

DWORD volumeSerialNumber(const struct statx& status)
{
    return static_cast<DWORD>(makedev(status.stx_dev_major, status.stx_dev_minor) & 0xFFFFFFFF) ^
           static_cast<DWORD>(makedev(status.stx_dev_major, status.stx_dev_minor) >> 32);
}

ULONGLONG reportedSize(const struct statx& status)
{
    return S_ISREG(status.stx_mode) ? status.stx_size : 0;
}

DWORD attributesOf(const struct statx& status, DWORD stored, bool isDirectoryLink, DWORD* reparseTag)
{
    DWORD attributes = stored & storedAttributeMask;
    DWORD tag = 0;
    if (S_ISDIR(status.stx_mode))
    {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
        if ((status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
            (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0)
            tag = IO_REPARSE_TAG_MOUNT_POINT;
    }
    else if (S_ISLNK(status.stx_mode))
    {
        tag = IO_REPARSE_TAG_SYMLINK;
        if (isDirectoryLink)
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
    else if (S_ISREG(status.stx_mode))
    {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
        if ((status.stx_mode & S_IWUSR) == 0)
            attributes |= FILE_ATTRIBUTE_READONLY;
    }
    else
        attributes |= FILE_ATTRIBUTE_SYSTEM; // devices, pipes and sockets are nothing to synchronise
    if (tag != 0)
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (reparseTag != nullptr)
        *reparseTag = tag;
    return attributes;
}

DWORD readStoredAttributes(int fd, const std::string& path, bool followLinks, const struct statx& status)
{
    const Location at{fd, path, followLinks};
    // User extended attributes exist only on files and folders.
    if (extendedAttributesDisabled || (!S_ISREG(status.stx_mode) && !S_ISDIR(status.stx_mode)))
        return readFallback(at, status);
    char text[16];
    ssize_t length;
    if (fd != -1)
        length = ::fgetxattr(fd, attributeName, text, sizeof text - 1);
    else if (followLinks)
        length = ::getxattr(path.c_str(), attributeName, text, sizeof text - 1);
    else
        length = ::lgetxattr(path.c_str(), attributeName, text, sizeof text - 1);
    return storedBitsFrom(length, text, [&] { return readFallback(at, status); });
}

DWORD readStoredAttributesAt(int directory, const std::string& directoryPath, const char* name,
                             const struct statx& status)
{
    // The full path only where it is needed: a listing reads this for every entry.
    const auto byPath = [&] { return readStoredAttributes(-1, directoryPath + name, false, status); };
    const auto fallback = [&] { return fallbackTable().inUse ? byPath() : 0; };
    if (extendedAttributesDisabled || (!S_ISREG(status.stx_mode) && !S_ISDIR(status.stx_mode)))
        return fallback();
    char text[16];
    const ssize_t length = getAttributeAt(directory, name, text, sizeof text - 1);
    if (length < 0 && (errno == ENOSYS || errno == EPERM))
        return byPath();
    return storedBitsFrom(length, text, fallback);
}

namespace
{
int writeStoredBits(const Location& at, const struct statx& status, DWORD bits)
{
    bits &= storedAttributeMask;
    if (extendedAttributesDisabled || S_ISLNK(status.stx_mode))
    {
        writeFallback(at, status, bits);
        return 0;
    }
    const char* path = at.path.c_str();
    int result;
    if (bits == 0)
    {
        result = at.fd != -1       ? ::fremovexattr(at.fd, attributeName)
                 : at.followLinks ? ::removexattr(path, attributeName)
                                  : ::lremovexattr(path, attributeName);
        if (result != 0 && errno == ENODATA)
            result = 0;
    }
    else
    {
        char text[16];
        const int length = std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(bits));
        result = at.fd != -1       ? ::fsetxattr(at.fd, attributeName, text, length, 0)
                 : at.followLinks ? ::setxattr(path, attributeName, text, length, 0)
                                  : ::lsetxattr(path, attributeName, text, length, 0);
    }
    if (result == 0)
    {
        writeFallback(at, status, 0);
        return 0;
    }
    if (!usesFallback(errno))
        return errno;
    writeFallback(at, status, bits);
    return 0;
}
} // namespace

int writeStoredAttributes(const std::string& path, bool followLinks, const struct statx& status, DWORD bits)
{
    return writeStoredBits(Location{-1, path, followLinks}, status, bits);
}

int writeStoredAttributesOf(int fd, const struct statx& status, DWORD bits)
{
    static const std::string noPath;
    return writeStoredBits(Location{fd, noPath, false}, status, bits);
}
} // namespace compat
