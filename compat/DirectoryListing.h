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
    std::string bytes;    // as on disk
    std::wstring name;    // converted losslessly
    std::wstring sortKey; // upper-cased
};

// The names in the open folder `directoryFd` that match `namePattern` ("*" any run of units, "?" one unit,
// without regard to case): "." and ".." first, then by upper-cased UTF-16 units. 0 or the errno value; the
// descriptor's own position is not used.
int readSortedNames(int directoryFd, const std::wstring& namePattern, std::vector<ListedName>& names);
// All names of a folder just opened, in the same order, "." and ".." left out.
int readSortedEntryNames(int directoryFd, std::vector<ListedName>& names);

struct EntryStatus
{
    struct statx status;
    DWORD attributes;
    DWORD reparseTag; // goes with FILE_ATTRIBUTE_REPARSE_POINT
};

// The status and attributes of `name` in the open folder `directoryFd`, whose path is `directoryPath` (empty
// or ending with "/"); links are not followed. 0 or the errno value (ENOENT: the entry went away).
int describeEntry(int directoryFd, const std::string& directoryPath, const std::string& name,
                  EntryStatus& entry);

// Fills `buffer` (`bufferSize` bytes, 8-aligned) with FILE_ID_BOTH_DIR_INFO records, linked by
// NextEntryOffset, of `names` from `next` on, which it advances; entries removed since the listing are left
// out. ERROR_SUCCESS, ERROR_NO_MORE_FILES when no entry is left, ERROR_INSUFFICIENT_BUFFER when the first
// does not fit, or the code of the failure to read the first entry (a later entry that fails is tried again
// by the next call).
DWORD readIdRecords(int directoryFd, const std::string& directoryPath, const std::vector<ListedName>& names,
                    std::size_t& next, void* buffer, std::size_t bufferSize);
} // namespace compat
