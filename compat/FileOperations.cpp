#include "compat/FileOperations.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
BOOL failWithErrno(int error, const std::string& path)
{
    compat::setLastErrorFromErrno(error, path.c_str());
    return FALSE;
}

std::string trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder that holds the entry and the entry's name in it.
bool splitEntry(const std::string& path, struct stat& folder, std::string& name)
{
    const std::string entry = trimmed(path);
    const auto slash = entry.rfind('/');
    name = slash == std::string::npos ? entry : entry.substr(slash + 1);
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : entry.substr(0, slash);
    return ::stat(parent.c_str(), &folder) == 0;
}

// Whether both paths name one directory entry, however they are spelled.
bool isSameEntry(const std::string& first, const std::string& second)
{
    struct stat firstFolder, secondFolder;
    std::string firstName, secondName;
    return splitEntry(first, firstFolder, firstName) && splitEntry(second, secondFolder, secondName) &&
           firstFolder.st_dev == secondFolder.st_dev && firstFolder.st_ino == secondFolder.st_ino &&
           firstName == secondName && firstName != "." && firstName != "..";
}
} // namespace

BOOL DeleteFileW(LPCWSTR fileName)
{
    std::string path;
    if (!compat::toSystemPath(fileName, path))
        return FALSE;
    return ::unlink(path.c_str()) == 0 ? TRUE : failWithErrno(errno, path);
}

BOOL MoveFileW(LPCWSTR existingFileName, LPCWSTR newFileName)
{
    std::string source, target;
    if (!compat::toSystemPath(existingFileName, source) || !compat::toSystemPath(newFileName, target))
        return FALSE;
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return TRUE;
    const int error = errno;
    struct stat status;
    if (error == EEXIST && ::lstat(source.c_str(), &status) == 0 && isSameEntry(source, target))
        return TRUE;
    return failWithErrno(error, error == EEXIST || error == EXDEV ? target : source);
}

BOOL RemoveDirectoryW(LPCWSTR pathName)
{
    std::string path;
    if (!compat::toSystemPath(pathName, path))
        return FALSE;
    return ::rmdir(path.c_str()) == 0 ? TRUE : failWithErrno(errno, path);
}

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer)
{
    const char* variable = std::getenv("TMPDIR");
    std::string directory = variable != nullptr && variable[0] == '/' ? variable : "/tmp";
    if (directory.back() != '/')
        directory += '/';
    const std::wstring path = compat::fileNameToUtf16(directory);
    if (path.size() + 1 > bufferLength || buffer == nullptr)
        return static_cast<DWORD>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
}
