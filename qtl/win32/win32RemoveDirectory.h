#pragma once
// Removal of directories and of whole directory trees, and a directory that removes itself.
//
// Removal never follows a symbolic link and never enters another file system: a link is removed itself, and a
// mount point inside the tree makes the removal fail instead of emptying what is mounted there.

#include <string>

namespace win32
{
// Removes an empty directory.
void removeDirectory(const std::wstring& path);
// Removes everything inside the directory and leaves the directory; the first failure throws and leaves what was
// not yet removed. An empty path throws std::invalid_argument.
void removeDirectoryContents(const std::wstring& path);
void removeDirectoryTree(const std::wstring& path);

// Owns a directory on disk: destroying the object removes the directory with everything in it. An empty path owns
// nothing; release() gives the directory up so that it stays.
template <class String>
class scoped_directory
{
public:
    scoped_directory() = default;
    explicit scoped_directory(String path) : mPath(std::move(path)) {}
    ~scoped_directory();
    scoped_directory(const scoped_directory&) = delete;
    scoped_directory& operator=(const scoped_directory&) = delete;

    const String& path() const { return mPath; }
    void reset(String path = String()) { mPath = std::move(path); }
    void release() { mPath.clear(); }

private:
    String mPath;
};

template <>
scoped_directory<std::wstring>::~scoped_directory();
} // namespace win32
