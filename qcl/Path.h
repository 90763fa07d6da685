#pragma once
// Local paths: the path object that splits a path into drive, directory, file name and extension and
// joins them again, the long-path prefix "\\?\" and canonicalisation.
//
// Paths are native Linux paths: "/" separates and there are no drive letters. The drive part holds the
// long-path prefix "\\?\" when the path begins with it (the file functions drop the prefix again before
// any system call), and otherwise whatever setDrive() was given. Any path splits, however long.

#include <cstddef>
#include <string>

namespace qcl
{
class Path
{
public:
    Path() = default;
    explicit Path(const std::wstring& path);

    // An empty text clears all four parts. Otherwise the text is split and each part set, so that
    // toString() gives the text back unchanged.
    void assign(const std::wstring& path);
    void clear();

    // A lone ":" clears the drive; other text is stored with ":" appended unless it ends with ":" or
    // is the long-path prefix.
    void setDrive(const std::wstring& drive);
    // Stored with "/" appended when it does not end with one (an empty text clears it).
    void setDirectory(const std::wstring& directory);
    // Appends `directory` below the directory part (with "/" in between when needed). A directory
    // that carries the long-path prefix throws std::invalid_argument.
    void appendDirectory(const std::wstring& directory);
    // The whole name, extension included, stays in the file-name part; "." and ".." throw
    // std::invalid_argument.
    void setFileName(const std::wstring& fileName);
    // Stored with a leading "." (added when missing); a lone "." or an empty text clears it.
    void setExtension(const std::wstring& extension);

    const std::wstring& drive() const { return mDrive; }
    const std::wstring& directory() const { return mDirectory; }
    const std::wstring& fileName() const { return mFileName; }
    const std::wstring& extension() const { return mExtension; }

    // drive + directory + file name + extension; canonicalised when asked and the directory is not empty.
    std::wstring toString(bool canonicalise = false) const;

    // The directory part cut after the last "/" before its final character: the parent folder with
    // its trailing "/"; empty when there is none.
    std::wstring parentDirectory() const;

private:
    void splitPath(const std::wstring& path);

    std::wstring mDrive;
    std::wstring mDirectory;
    std::wstring mFileName;
    std::wstring mExtension;
};

namespace path
{
inline constexpr wchar_t longPathPrefix[] = L"\\\\?\\";
inline constexpr std::size_t maxPathLength = 260;      // the threshold of the file functions
inline constexpr std::size_t maxDirectoryLength = 248; // the threshold when a folder is created

bool hasLongPathPrefix(const std::wstring& path);

// A path of `threshold` units or more gets the long-path prefix, unless it has it already. A path
// that begins with "." throws basic_runtime_error<wchar_t> "Relative path cannot be prefixed with "." ".
std::wstring toLongPath(const std::wstring& path, std::size_t threshold);
// The same without the check for ".".
std::wstring withLongPathPrefix(const std::wstring& path, std::size_t threshold);

// "." and ".." resolved textually (nothing on disk is looked at). An empty path gives an empty result
// and true; on failure `out` is left as it was and the result is false.
bool canonicalize(std::wstring& out, const std::wstring& path);
} // namespace path
} // namespace qcl
