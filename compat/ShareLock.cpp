#include "compat/ShareLock.h"

#include <cerrno>
#include <fcntl.h>

namespace compat::share
{
namespace
{
constexpr off_t base = 0x7FFFFFFFFFFFFF00;
constexpr unsigned rightsInUse[] = {Read, Write, Delete};

off_t hasByte(unsigned right)
{
    return base + right;
}

off_t deniesByte(unsigned right)
{
    return base + 8 + right;
}

struct flock byteLock(short type, off_t at)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = at;
    lock.l_len = 1;
    return lock;
}

// 0, or the errno value of a failed lock.
int mark(int fd, off_t at)
{
    struct flock lock = byteLock(F_RDLCK, at);
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

bool isMarkedByOthers(int fd, off_t at)
{
    struct flock lock = byteLock(F_WRLCK, at);
    return ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}
} // namespace

bool acquire(int fd, unsigned rights, unsigned allowed)
{
    for (const unsigned right : rightsInUse)
    {
        int error = 0;
        if ((rights & right) != 0)
            error = mark(fd, hasByte(right));
        if (error == 0 && (allowed & right) == 0)
            error = mark(fd, deniesByte(right));
        if (error == EBADF || error == EINVAL || error == ENOLCK || error == EOPNOTSUPP)
            return true;
    }
    for (const unsigned right : rightsInUse)
    {
        if ((rights & right) != 0 && isMarkedByOthers(fd, deniesByte(right)))
            return false;
        if ((allowed & right) == 0 && isMarkedByOthers(fd, hasByte(right)))
            return false;
    }
    return true;
}
} // namespace compat::share
