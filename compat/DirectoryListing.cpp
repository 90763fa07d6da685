#include "compat/DirectoryListing.h"

#include "compat/FileNameText.h"
#include "compat/FileStatus.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cwctype>
#include <fcntl.h>
#include <locale.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace compat
{
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

void sortNames(std::vector<ListedName>& names)
{
    const auto rank = [](const ListedName& entry) {
        return entry.bytes == "." ? 0 : entry.bytes == ".." ? 1 : 2;
    };
    std::sort(names.begin(), names.end(),
              [&](const ListedName& a, const ListedName& b)
              {
                  if (rank(a) != rank(b))
                      return rank(a) < rank(b);
                  if (a.sortKey != b.sortKey)
                      return a.sortKey < b.sortKey;
                  return a.name < b.name;
              });
}
} // namespace

namespace
{
struct LinuxDirectoryEntry
{
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};
} // namespace

namespace
{
bool isDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// Adds the names read from the descriptor's position on that match `upperPattern` (null: all), with or
// without
// "." and "..". 0 or the errno value.
int appendNames(int directoryFd, const wchar_t* upperPattern, bool withDotEntries,
                std::vector<ListedName>& names)
{
    alignas(8) char buffer[32768];
    for (;;)
    {
        const long bytes = ::syscall(SYS_getdents64, directoryFd, buffer, sizeof buffer);
        if (bytes == -1 && errno == EINTR)
            continue;
        if (bytes == -1)
            return errno;
        if (bytes == 0)
            return 0;
        for (long offset = 0; offset < bytes;)
        {
            const auto* item = reinterpret_cast<const LinuxDirectoryEntry*>(buffer + offset);
            offset += item->length;
            if (!withDotEntries && isDotEntry(item->name))
                continue;
            ListedName entry{item->name, fileNameToUtf16(item->name), {}};
            entry.sortKey = upperCase(entry.name);
            if (upperPattern == nullptr || matches(upperPattern, entry.sortKey.c_str()))
                names.push_back(std::move(entry));
        }
    }
}
} // namespace

int readSortedNames(int directoryFd, const std::wstring& namePattern, std::vector<ListedName>& names)
{
    const bool all = namePattern == L"*" || namePattern == L"*.*";
    const std::wstring upperPattern = upperCase(namePattern);
    // Read straight from the folder's own descriptor, from its start: a second descriptor and a directory
    // stream cost five more system calls a folder, about as many as the entries of a small folder.
    if (::lseek(directoryFd, 0, SEEK_SET) == -1)
        return errno;
    names.clear();
    if (const int error = appendNames(directoryFd, all ? nullptr : upperPattern.c_str(), true, names);
        error != 0)
        return error;
    sortNames(names);
    return 0;
}

int readSortedEntryNames(int directoryFd, std::vector<ListedName>& names)
{
    names.clear();
    if (const int error = appendNames(directoryFd, nullptr, false, names); error != 0)
        return error;
    sortNames(names);
    return 0;
}

int describeEntry(int directoryFd, const std::string& directoryPath, const std::string& name,
                  EntryStatus& entry)
{
    if (const int error = statAt(directoryFd, name.c_str(), entry.status); error != 0)
        return error;
    bool isDirectoryLink = false;
    if (S_ISLNK(entry.status.stx_mode))
    {
        struct statx target;
        isDirectoryLink =
            ::statx(directoryFd, name.c_str(), 0, STATX_TYPE, &target) == 0 && S_ISDIR(target.stx_mode);
    }
    const DWORD stored = readStoredAttributesAt(directoryFd, directoryPath, name.c_str(), entry.status);
    entry.attributes = attributesOf(entry.status, stored, isDirectoryLink, &entry.reparseTag);
    return 0;
}
} // namespace compat
