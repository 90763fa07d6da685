// Directory enumeration in a fixed order: "." and "..", then by upper-cased UTF-16 units.

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/FileStatus.h"
#include "compat/HandleTable.h"
#include "compat/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <unistd.h>
#include <vector>

namespace
{
wchar_t upperCase(wchar_t unit)
{
    // The case table of the C.UTF-8 locale, in a locale object of its own so that the program's locale
    // is not touched. Units of surrogates are kept as they are.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const auto value = static_cast<std::uint32_t>(unit);
    if (value >= 0xD800 && value <= 0xDFFF)
        return unit;
    if (utf8 == static_cast<locale_t>(nullptr))
        return value < 0x80 ? static_cast<wchar_t>(std::towupper(static_cast<wint_t>(value))) : unit;
    const auto upper = static_cast<std::uint32_t>(::towupper_l(static_cast<wint_t>(value), utf8));
    return upper <= 0xFFFF && (upper < 0xD800 || upper > 0xDFFF) ? static_cast<wchar_t>(upper) : unit;
}

std::wstring upperCase(const std::wstring& text)
{
    std::wstring upper(text);
    for (wchar_t& unit : upper)
        unit = upperCase(unit);
    return upper;
}

bool hasWildcard(const std::wstring& pattern)
{
    return pattern.find_first_of(L"*?") != std::wstring::npos;
}

// Both texts upper-cased; "*" matches any run of units, "?" one unit.
bool matches(const wchar_t* pattern, const wchar_t* name)
{
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name != 0)
    {
        if (*pattern == L'*')
        {
            star = pattern++;
            resume = name;
        }
        else if (*pattern == L'?' || *pattern == *name)
        {
            ++pattern;
            ++name;
        }
        else if (star != nullptr)
        {
            pattern = star + 1;
            name = ++resume;
        }
        else
            return false;
    }
    while (*pattern == L'*')
        ++pattern;
    return *pattern == 0;
}

struct Entry
{
    std::string bytes;
    std::wstring name;
    std::wstring sortKey;
};

struct FindObject : compat::KernelObject
{
    int directoryFd = -1;
    std::string directory; // native path, ends with "/" unless empty
    std::vector<Entry> entries;
    std::size_t next = 0;

    ~FindObject() override { close(); }
    int close() override
    {
        if (directoryFd == -1)
            return 0;
        const int result = ::close(directoryFd);
        directoryFd = -1;
        return result == 0 ? 0 : errno;
    }
};

void sortEntries(std::vector<Entry>& entries)
{
    const auto rank = [](const Entry& entry) { return entry.bytes == "." ? 0 : entry.bytes == ".." ? 1 : 2; };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        if (a.sortKey != b.sortKey)
            return a.sortKey < b.sortKey;
        return a.name < b.name;
    });
}

// Fills `data` for the next entry that still exists. 0 when done, ERROR_NO_MORE_FILES at the end, else
// the code of the failure.
DWORD fillNext(FindObject& find, WIN32_FIND_DATAW& data)
{
    while (find.next < find.entries.size())
    {
        const Entry& entry = find.entries[find.next++];
        struct statx status;
        const int error = compat::statAt(find.directoryFd, entry.bytes.c_str(), status);
        if (error == ENOENT)
            continue; // removed since the listing was read
        if (error != 0)
            return compat::windowsErrorFromErrno(error);
        const std::string path = find.directory + entry.bytes;
        bool isDirectoryLink = false;
        if (S_ISLNK(status.stx_mode))
        {
            struct statx target;
            isDirectoryLink = compat::statPath(path, true, target) == 0 && S_ISDIR(target.stx_mode);
        }
        const DWORD stored = compat::readStoredAttributes(-1, path, false, status);
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = compat::attributesOf(status, stored, isDirectoryLink, &data.dwReserved0);
        data.ftCreationTime = compat::creationTime(status);
        data.ftLastAccessTime = compat::toFileTime(status.stx_atime);
        data.ftLastWriteTime = compat::toFileTime(status.stx_mtime);
        const ULONGLONG size = compat::reportedSize(status);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
        // A name has at most 255 bytes and so at most 255 units: it always fits.
        const std::size_t length = std::min<std::size_t>(entry.name.size(), MAX_PATH - 1);
        std::copy_n(entry.name.data(), length, data.cFileName);
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_FILES;
}

bool readEntries(FindObject& find, const std::wstring& namePattern, const std::string& directoryPath,
                 const std::string& patternPath)
{
    const bool all = namePattern == L"*" || namePattern == L"*.*";
    const std::wstring upperPattern = upperCase(namePattern);
    DIR* directory = ::opendir(directoryPath.c_str());
    if (directory == nullptr)
    {
        compat::setLastErrorFromErrno(errno, patternPath.c_str());
        return false;
    }
    find.directoryFd = ::fcntl(::dirfd(directory), F_DUPFD_CLOEXEC, 0);
    errno = 0;
    while (const dirent* item = ::readdir(directory))
    {
        Entry entry{item->d_name, compat::fileNameToUtf16(item->d_name), {}};
        entry.sortKey = upperCase(entry.name);
        if (all || matches(upperPattern.c_str(), entry.sortKey.c_str()))
            find.entries.push_back(std::move(entry));
        errno = 0;
    }
    const int error = errno;
    ::closedir(directory);
    if (error != 0 || find.directoryFd == -1)
    {
        compat::setLastErrorFromErrno(error != 0 ? error : EMFILE);
        return false;
    }
    sortEntries(find.entries);
    return true;
}
} // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data)
{
    std::string patternPath;
    if (!compat::toSystemPath(pattern, patternPath))
        return INVALID_HANDLE_VALUE;
    if (data == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const auto slash = patternPath.rfind('/');
    const std::string directoryPath =
        slash == std::string::npos ? "." : slash == 0 ? "/" : patternPath.substr(0, slash);
    const std::string nameBytes = slash == std::string::npos ? patternPath : patternPath.substr(slash + 1);
    const std::wstring namePattern = compat::fileNameToUtf16(nameBytes);
    if (namePattern.empty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto find = std::make_shared<FindObject>();
    find->directory = slash == std::string::npos ? std::string() : patternPath.substr(0, slash + 1);
    if (hasWildcard(namePattern))
    {
        if (!readEntries(*find, namePattern, directoryPath, patternPath))
            return INVALID_HANDLE_VALUE;
    }
    else
    {
        // A plain name finds just that item.
        find->directoryFd = ::open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (find->directoryFd == -1)
        {
            compat::setLastErrorFromErrno(errno, patternPath.c_str());
            return INVALID_HANDLE_VALUE;
        }
        find->entries.push_back({nameBytes, namePattern, {}});
    }
    const DWORD result = fillNext(*find, *data);
    if (result != ERROR_SUCCESS)
    {
        SetLastError(result == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : result);
        return INVALID_HANDLE_VALUE;
    }
    return compat::insertHandle(std::move(find));
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data)
{
    const auto find = compat::findHandle<FindObject>(handle);
    if (!find)
        return FALSE;
    if (data == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD result = fillNext(*find, *data);
    if (result != ERROR_SUCCESS)
    {
        SetLastError(result);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    const auto find = compat::removeHandle<FindObject>(handle);
    return find ? TRUE : FALSE;
}
