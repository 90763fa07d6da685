#pragma once
// The kernel object behind a handle from CreateFileW, shared by the calls on such handles.

#include "compat/HandleTable.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace compat
{
struct DirectoryEnumeration; // GetFileInformationByHandleEx's position in a folder

struct FileObject : KernelObject
{
    int fd = -1;              // -1 for a handle opened for attributes only
    bool mayRead = false;
    bool mayWrite = false;
    bool isDirectory = false;
    std::string path;         // native path as opened
    struct statx status = {}; // the metadata of a handle opened for attributes only
    std::uint32_t reuseTag = 0; // likewise

    std::mutex enumerationMutex;
    std::shared_ptr<DirectoryEnumeration> enumeration; // made by the first enumeration call

    ~FileObject() override { close(); }

    int close() override
    {
        if (fd == -1)
            return 0;
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }
};
} // namespace compat
