#pragma once
// What both directory enumerations of the layer share (FindFirstFileW and GetFileInformationByHandleEx): the
// names of a folder in the fixed order, and the status and attributes of one entry, read relative to the open
// folder.

#include "compat/FileApi.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace compat
{
struct ListedName
{
    std::string bytes;   // as on disk
    std::wstring name;   // converted losslessly
    std::wstring sortKey; // upper-cased
};

// The names in the open folder `directoryFd` that match `namePattern` ("*" any run of units, "?" one unit,
// without regard to case): "." and ".." first, then by upper-cased UTF-16 units. 0 or the errno value; the
// descriptor's own position is not used.
int readSortedNames(int directoryFd, const std::wstring& namePattern, std::vector<ListedName>& names);

struct EntryStatus
{
    struct statx status;
    DWORD attributes;
    DWORD reparseTag; // goes with FILE_ATTRIBUTE_REPARSE_POINT
};

// The status and attributes of `name` in the open folder `directoryFd`, whose path is `directoryPath` (empty or
// ending with "/"); links are not followed. 0 or the errno value (ENOENT: the entry went away).
int describeEntry(int directoryFd, const std::string& directoryPath, const std::string& name, EntryStatus& entry);
} // namespace compat
