#pragma once
// Enumeration of the entries that match a pattern (a folder path joined with "*", for example), in
// the layer's fixed order.
//
//     for (qcl::FileFinder finder(folder + L"/*"); finder; finder.next())
//         use(finder.data());

#include "compat/FileApi.h"

#include <string>

namespace qcl
{
class FileFinder
{
public:
    // No match gives an empty enumeration; another failure throws SystemError "Cannot find '%1%'".
    explicit FileFinder(const std::wstring& pattern);
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    // True while data() holds an entry.
    explicit operator bool() const { return mFind != INVALID_HANDLE_VALUE; }
    const WIN32_FIND_DATAW& data() const { return mData; }

    // Moves to the next entry; at the end the enumeration closes. Throws SystemError
    // "Cannot enumerate files using handle %1%".
    void next();

private:
    void close();

    HANDLE mFind = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW mData = {};
};
} // namespace qcl
