#include "compat/FolderBookmarks.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "compat/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace compat
{
namespace
{
constexpr mode_t newFileMode = 0600;
// Another program that rewrites the file between our reading and our replacing makes us start over.
constexpr int attempts = 3;

BOOL fail(DWORD code)
{
    SetLastError(code);
    return FALSE;
}

BOOL failWithErrno(int error, const std::string& path)
{
    setLastErrorFromErrno(error, path.c_str());
    return FALSE;
}

bool toBytes(const std::wstring& text, std::string& bytes)
{
    return utf16ToFileName(text.data(), text.data() + text.size(), bytes);
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file as it was read: its text and what tells whether it changed since.
struct Reading
{
    std::string text;
    bool exists = false;
    struct stat status = {};
};

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The file to write: `file` itself, or the regular file of the user's that a link there leads to. Nothing,
// with the last error, for anything else.
std::optional<std::string> writtenFile(const std::string& file)
{
    struct stat status = {};
    if (::lstat(file.c_str(), &status) != 0)
    {
        if (errno == ENOENT)
            return file;
        failWithErrno(errno, file);
        return std::nullopt;
    }
    if (S_ISREG(status.st_mode))
        return file;
    if (!S_ISLNK(status.st_mode))
    {
        fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    char resolved[PATH_MAX];
    if (::realpath(file.c_str(), resolved) == nullptr)
    {
        fail(ERROR_CANT_RESOLVE_FILENAME);
        return std::nullopt;
    }
    if (::lstat(resolved, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
    {
        fail(ERROR_CANT_RESOLVE_FILENAME);
        return std::nullopt;
    }
    return std::string(resolved);
}

// Reads the whole file; a missing file reads as empty. False with the last error when it cannot be read.
bool readWhole(const std::string& path, Reading& reading)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return true;
        failWithErrno(errno, path);
        return false;
    }
    reading.exists = true;
    bool read = ::fstat(fd, &reading.status) == 0;
    char buffer[8192];
    while (read)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            reading.text.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            read = false;
    }
    const int error = errno;
    ::close(fd);
    if (!read)
        failWithErrno(error, path);
    return read;
}

// Whether the file is still as it was read.
bool unchanged(const std::string& path, const Reading& reading)
{
    struct stat status = {};
    if (::lstat(path.c_str(), &status) != 0)
        return !reading.exists && errno == ENOENT;
    return reading.exists && sameFile(status, reading.status);
}

enum class Outcome
{
    Done,
    Failed,
    Changed, // the file changed while we worked: start over
};

// Writes `text` to a new file beside `path`, with the mode of the file read, and puts it in place when `path`
// is still as it was read.
Outcome replace(const std::string& path, const std::string& text, const Reading& reading)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
    {
        failWithErrno(errno, temporary);
        return Outcome::Failed;
    }
    const mode_t mode = reading.exists ? reading.status.st_mode & 07777 : newFileMode;
    const bool written =
        ::fchmod(fd, mode) == 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written)
    {
        ::unlink(temporary.c_str());
        failWithErrno(error, path);
        return Outcome::Failed;
    }
    if (!unchanged(path, reading))
    {
        ::unlink(temporary.c_str());
        return Outcome::Changed;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
    {
        failWithErrno(errno, path);
        ::unlink(temporary.c_str());
        return Outcome::Failed;
    }
    return Outcome::Done;
}
} // namespace

std::wstring folderBookmarksFile()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/')
        return fileNameToUtf16(std::string(config) + "/gtk-3.0/bookmarks");
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return fileNameToUtf16(std::string(home) + "/.config/gtk-3.0/bookmarks");
    return {};
}

std::string withFolderBookmark(const std::string& text, const std::string& address, const std::string& label)
{
    const std::string own = address + " " + label;
    std::string result;
    bool placed = false;   // the program's line is in the result
    bool changed = false;  // the result differs from the text
    bool usersOwn = false; // the user has a line of their own for the address
    for (std::size_t start = 0; start < text.size();)
    {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t space = line.find(' ');
        if (space != std::string::npos && line.compare(space + 1, std::string::npos, label) == 0)
        {
            // The program's line: the first one moves to the address, any further one goes.
            changed = changed || placed || line != own;
            if (!placed)
                result += own + '\n';
            placed = true;
            continue;
        }
        usersOwn = usersOwn || line.compare(0, space, address) == 0;
        result += line + '\n';
    }
    if (!placed && !usersOwn)
    {
        result += own + '\n';
        changed = true;
    }
    return changed ? result : text;
}

BOOL setFolderBookmark(const std::wstring& file, const std::wstring& folder, const std::wstring& label)
{
    std::string filePath, folderPath, labelText;
    if (file.empty() || !toBytes(file, filePath) || !toBytes(folder, folderPath) ||
        !toBytes(label, labelText) || labelText.empty() || labelText.find('\n') != std::string::npos)
        return fail(ERROR_INVALID_PARAMETER);
    const std::string address = "file://" + percentEncodedPath(folderPath);

    for (int attempt = 0; attempt < attempts; ++attempt)
    {
        const std::optional<std::string> path = writtenFile(filePath);
        if (!path)
            return FALSE;
        Reading reading;
        if (!readWhole(*path, reading))
            return FALSE;
        const std::string text = withFolderBookmark(reading.text, address, labelText);
        if (text == reading.text && reading.exists)
            return TRUE;
        if (!reading.exists && !createPrivateFolders(folderOf(*path)))
            return FALSE;
        switch (replace(*path, text, reading))
        {
        case Outcome::Done:
            return TRUE;
        case Outcome::Failed:
            return FALSE;
        case Outcome::Changed:
            break;
        }
    }
    return fail(ERROR_SHARING_VIOLATION);
}
} // namespace compat
