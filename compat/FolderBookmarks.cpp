#include "compat/FolderBookmarks.h"

#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "compat/WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace compat
{
namespace
{
bool toBytes(const std::wstring& text, std::string& bytes)
{
    return utf16ToFileName(text.data(), text.data() + text.size(), bytes);
}

bool makeParents(const std::string& file)
{
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos; slash = file.find('/', slash + 1))
    {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        {
            setLastErrorFromErrno(errno, folder.c_str());
            return false;
        }
    }
    return true;
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

BOOL addFolderBookmark(const std::wstring& file, const std::wstring& folder)
{
    std::string filePath, folderPath;
    if (file.empty() || !toBytes(file, filePath) || !toBytes(folder, folderPath))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string uri = "file://" + percentEncodedPath(folderPath);

    std::string text;
    if (std::ifstream in(filePath, std::ios::binary); in)
    {
        std::ostringstream content;
        content << in.rdbuf();
        text = content.str();
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.substr(0, line.find(' ')) == uri)
            return TRUE;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    text += uri + "\n";

    if (!makeParents(filePath))
        return FALSE;
    std::string temporary = filePath + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
    {
        setLastErrorFromErrno(errno, temporary.c_str());
        return FALSE;
    }
    const bool written = ::fchmod(fd, 0644) == 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), filePath.c_str()) != 0)
    {
        setLastErrorFromErrno(written ? errno : error, filePath.c_str());
        ::unlink(temporary.c_str());
        return FALSE;
    }
    return TRUE;
}
} // namespace compat
