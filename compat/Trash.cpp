#include "compat/Trash.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/VolumeApi.h"
#include "compat/WriteAll.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace compat::trash
{
namespace
{
// The longest file name the file systems take, less room for ".trashinfo".
constexpr std::size_t maxNameBytes = 255 - 10;
constexpr int maxNameAttempts = 10000;

std::string parentOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The device of the path, or of its nearest existing ancestor.
bool deviceOfNearestExisting(std::string path, dev_t& device)
{
    for (;;)
    {
        struct stat status;
        if (::stat(path.c_str(), &status) == 0)
        {
            device = status.st_dev;
            return true;
        }
        if (errno != ENOENT || path == "/" || path.empty())
            return false;
        path = parentOf(path);
    }
}

// The mount point that holds `directory` (which must exist): from the mount table, which also knows bind
// mounts; else the highest ancestor on the same device.
std::string topDirectoryOf(std::string directory, dev_t device)
{
    wchar_t mountPoint[4096];
    std::string found;
    if (GetVolumePathNameW(compat::fileNameToUtf16(directory).c_str(), mountPoint, 4096) &&
        compat::toSystemPath(mountPoint, found) && !found.empty())
    {
        while (found.size() > 1 && found.back() == '/')
            found.pop_back();
        return found;
    }
    while (directory != "/")
    {
        const std::string parent = parentOf(directory);
        struct stat status;
        if (::stat(parent.c_str(), &status) != 0 || status.st_dev != device)
            break;
        directory = parent;
    }
    return directory;
}

std::string homeTrash()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        return {};
    return std::string(home) + "/.local/share/Trash";
}

bool makeDirectories(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    if (errno != ENOENT || path == "/")
        return false;
    return makeDirectories(parentOf(path)) && (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST);
}

// A trash folder of our own must be a real directory (not a link to somewhere else) that we own.
bool isOwnDirectory(const std::string& path)
{
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        return false;
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::getuid())
    {
        errno = EACCES;
        return false;
    }
    return true;
}

std::string topDirectoryTrash(const std::string& topDirectory)
{
    const std::string base = topDirectory == "/" ? std::string() : topDirectory;
    const std::string uid = std::to_string(::getuid());

    // An administrator may have prepared a shared, sticky .Trash; a link or a missing sticky bit rules it
    // out.
    struct stat shared;
    if (::lstat((base + "/.Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX))
    {
        const std::string own = base + "/.Trash/" + uid;
        if ((::mkdir(own.c_str(), 0700) == 0 || errno == EEXIST) && isOwnDirectory(own))
            return own;
    }
    const std::string own = base + "/.Trash-" + uid;
    if ((::mkdir(own.c_str(), 0700) == 0 || errno == EEXIST) && isOwnDirectory(own))
        return own;
    return {};
}

std::string localTimestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Cuts a name to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutName(const std::string& name, std::size_t limit)
{
    if (name.size() <= limit)
        return name;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

// Attempt 1 keeps the name; later attempts put ".n" before the extension: "report.2.pdf".
std::string candidateName(const std::string& name, int attempt)
{
    if (attempt == 1)
        return cutName(name, maxNameBytes);
    auto dot = name.rfind('.');
    if (dot == 0 || dot == std::string::npos)
        dot = name.size();
    std::string suffix(1, '.');
    suffix += std::to_string(attempt);
    std::string extension = name.substr(dot);
    if (extension.size() > maxNameBytes / 2)
        extension.clear();
    const std::string stem = cutName(name.substr(0, dot), maxNameBytes - suffix.size() - extension.size());
    return stem + suffix + extension;
}
} // namespace

std::string trashInfoText(const std::string& recordedPath, const std::string& deletionDate)
{
    return "[Trash Info]\nPath=" + percentEncodedPath(recordedPath) + "\nDeletionDate=" + deletionDate + "\n";
}

namespace
{
// Makes a new entry of the folder durable.
void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd == -1)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Moves the entry `entry` of `folder` (AT_FDCWD with a path, or an open folder with a name) into the trash
// folder under a free name, with its record saying it came from `path`. 0 or the errno value.
int moveInto(const std::string& trash, int folder, const std::string& entry, const std::string& path,
             compat::trash::Trashed* trashed)
{
    const std::string files = trash + "/files";
    const std::string info = trash + "/info";
    for (const std::string& folder : {files, info})
    {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    const std::string name = baseNameOf(path);
    const std::string record = trashInfoText(path, localTimestamp());
    int lastError = EEXIST;
    for (int attempt = 1; attempt <= maxNameAttempts; ++attempt)
    {
        const std::string candidate = candidateName(name, attempt);
        const std::string infoPath = info + "/" + candidate + ".trashinfo";
        // The record is created first and exclusively: it reserves the name among concurrent trashers.
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
        {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        // The record is durable before the item moves, so that a crash never leaves an item nobody can
        // restore.
        const bool written = writeAll(fd, record.data(), record.size()) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!written)
        {
            ::unlink(infoPath.c_str());
            return writeError;
        }
        syncFolder(info);
        const std::string target = files + "/" + candidate;
        if (::renameat2(folder, entry.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        {
            if (trashed)
                *trashed = {target, infoPath};
            syncFolder(files);
            if (folder != AT_FDCWD)
                ::fsync(folder);
            return 0;
        }
        lastError = errno;
        ::unlink(infoPath.c_str());
        if (lastError != EEXIST)
            return lastError;
    }
    return lastError;
}

// The home trash when the item lives on the home trash's file system; created when missing. Empty otherwise,
// or with `error` set when it cannot be used.
std::string homeTrashFor(const struct stat& item, int& error)
{
    const std::string home = homeTrash();
    dev_t homeDevice = 0;
    if (home.empty() || !deviceOfNearestExisting(home, homeDevice) || homeDevice != item.st_dev)
        return {};
    if (makeDirectories(home) && isOwnDirectory(home))
        return home;
    error = errno;
    return {};
}

std::string trashFolderOf(const std::string& path, const struct stat& item)
{
    int error = 0;
    std::string trash = homeTrashFor(item, error);
    if (trash.empty() && error == 0)
    {
        trash = topDirectoryTrash(topDirectoryOf(parentOf(path), item.st_dev));
        error = errno;
    }
    if (trash.empty())
        setLastErrorFromErrno(error);
    return trash;
}
} // namespace

std::string trashFolderFor(const std::string& path)
{
    struct stat item;
    if (::lstat(path.c_str(), &item) != 0)
    {
        setLastErrorFromErrno(errno, path.c_str());
        return {};
    }
    return trashFolderOf(path, item);
}

bool moveToTrash(const std::string& path)
{
    return moveToTrashAt(AT_FDCWD, path, path);
}

bool moveToTrashAt(int folder, const std::string& entry, const std::string& path, Trashed* trashed)
{
    if (path.empty() || path[0] != '/' || path.back() == '/' || entry.empty())
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    struct stat item;
    if (::fstatat(folder, entry.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0)
    {
        setLastErrorFromErrno(errno, path.c_str());
        return false;
    }
    const std::string trash = trashFolderOf(path, item);
    if (trash.empty())
        return false;
    int error = moveInto(trash, folder, entry, path, trashed);
    // One file system seen through two mounts (a bind mount): the trash at the top of the item's own mount.
    if (error == EXDEV)
    {
        const std::string own = topDirectoryTrash(topDirectoryOf(parentOf(path), item.st_dev));
        error = own.empty() ? errno : moveInto(own, folder, entry, path, trashed);
    }
    if (error != 0)
    {
        setLastErrorFromErrno(error, path.c_str());
        return false;
    }
    return true;
}
int moveBackFromTrash(const Trashed& trashed, int folder, const std::string& entry)
{
    if (::renameat2(AT_FDCWD, trashed.item.c_str(), folder, entry.c_str(), RENAME_NOREPLACE) != 0)
        return errno;
    ::fsync(folder);
    ::unlink(trashed.record.c_str());
    return 0;
}
int statusOfTrashed(const Trashed& trashed, compat::at::ItemStatus& status)
{
    const std::size_t slash = trashed.item.rfind('/');
    if (slash == std::string::npos)
        return EINVAL;
    const std::string folderPath = trashed.item.substr(0, slash + 1);
    compat::at::Descriptor folder;
    if (const int error = compat::at::openFolder(folderPath, folder); error != 0)
        return error;
    return compat::at::statusAt(folder.get(), folderPath, trashed.item.substr(slash + 1), status);
}
} // namespace compat::trash

int SHFileOperationW(SHFILEOPSTRUCTW* operation)
{
    if (operation == nullptr || operation->pFrom == nullptr)
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    operation->fAnyOperationsAborted = FALSE;
    if (operation->wFunc != FO_DELETE || !(operation->fFlags & FOF_ALLOWUNDO))
        return static_cast<int>(ERROR_NOT_SUPPORTED);
    for (const wchar_t* path = operation->pFrom; *path != 0;
         path += std::char_traits<wchar_t>::length(path) + 1)
    {
        std::string systemPath;
        if (!compat::toSystemPath(path, systemPath) || !compat::trash::moveToTrash(systemPath))
            return static_cast<int>(GetLastError());
    }
    return 0;
}
