#pragma once
// Writing a whole buffer to a descriptor, for the platform layer's own small files.

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace compat
{
// Writes every byte, going on after interruptions and short writes. False with errno set when the data cannot all
// be written (a write that takes nothing is reported as a full disk).
inline bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0)
    {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
} // namespace compat
