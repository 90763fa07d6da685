#include "compat/PrivateFiles.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace compat
{
namespace
{
BOOL failWithErrno(int error, const std::string& path)
{
    setLastErrorFromErrno(error, path.c_str());
    return FALSE;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

BOOL restrictToOwner(LPCWSTR path)
{
    std::string systemPath;
    if (!toSystemPath(path, systemPath))
        return FALSE;
    struct stat status = {};
    if (::lstat(systemPath.c_str(), &status) != 0)
        return failWithErrno(errno, systemPath);
    const mode_t mode = S_ISDIR(status.st_mode) ? 0700 : 0600;
    if ((status.st_mode & 07777) != mode && ::chmod(systemPath.c_str(), mode) != 0)
        return failWithErrno(errno, systemPath);
    return TRUE;
}

BOOL replaceFile(LPCWSTR source, LPCWSTR target)
{
    std::string from;
    std::string to;
    if (!toSystemPath(source, from) || !toSystemPath(target, to))
        return FALSE;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return failWithErrno(errno, to);
    const int folder = ::open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return failWithErrno(errno, to);
    const bool flushed = ::fsync(folder) == 0;
    const int error = errno;
    ::close(folder);
    return flushed ? TRUE : failWithErrno(error, to);
}
} // namespace compat
