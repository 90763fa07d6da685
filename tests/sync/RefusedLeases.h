#pragma once
// The test program's own fcntl, in front of the C library's, so that a test can have leases refused the way a
// file system refuses them. Included by one source file of a test program.

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace refusedleases
{
// 0: as the system answers. EINVAL: every lease refused, as by a file system without leases. EAGAIN: every
// write lease refused, as by a network file system that holds no write delegation.
inline std::atomic<int> refusal{0};
} // namespace refusedleases

extern "C" int fcntl(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int refusal = refusedleases::refusal;
    if (command == F_SETLEASE &&
        (refusal == EINVAL || (refusal == EAGAIN && reinterpret_cast<long>(argument) == F_WRLCK)))
    {
        errno = refusal;
        return -1;
    }
    using Function = int (*)(int, int, ...);
    static const auto next = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, "fcntl"));
    return next(fd, command, argument);
}
