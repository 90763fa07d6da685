#pragma once
// A folder read for a scan: its entries, "." and ".." left out, in the fixed order of the listings, as
// FILE_ID_BOTH_DIR_INFO records with their file ids. A subfolder is opened relative to its open parent and
// never through a link, so that a scan makes no call per folder beyond opening, listing and closing it.

#include "compat/DirectoryListing.h"

#include <cstddef>
#include <string>
#include <vector>

namespace compat
{
class FolderReader
{
public:
    FolderReader() = default;
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;
    ~FolderReader() { close(); }

    // Opens the folder at `path`, following links (the path is the user's choice), or the subfolder `name` of
    // the open `parent`, never through a link. ERROR_SUCCESS, ERROR_PATH_NOT_FOUND when it is missing, is no
    // folder or (a subfolder) is a link, or the code of another failure.
    DWORD open(const std::wstring& path);
    // Opens anew the folder open at the descriptor `folder`, whose path is `path`: that folder, whatever the path
    // names by now.
    DWORD openFrom(int folder, const std::wstring& path);
    DWORD openChild(const FolderReader& parent, const std::wstring& name);

    // Fills `buffer` as GetFileInformationByHandleEx fills it for FileIdBothDirectoryInfo; the folder is
    // listed by the first call. ERROR_SUCCESS, ERROR_NO_MORE_FILES at the end (the folder is then closed), or
    // the code of the failure.
    DWORD read(void* buffer, std::size_t bufferSize);

    int descriptor() const { return mFd; }

private:
    DWORD opened(int fd, std::string path);
    void close();

    int mFd = -1;
    std::string mPath; // ending with "/"
    std::vector<ListedName> mNames;
    std::size_t mNext = 0;
    bool mListed = false;
};
} // namespace compat
