#include "qcl/Path.h"

#include "compat/PathApi.h"
#include "qcl/Error.h"

#include <stdexcept>
#include <vector>

namespace qcl
{
Path::Path(const std::wstring& path)
{
    assign(path);
}

void Path::assign(const std::wstring& path)
{
    if (path.empty())
    {
        clear();
        return;
    }
    splitPath(path);
}

void Path::splitPath(const std::wstring& path)
{
    std::wstring rest = path;
    std::wstring drive;
    if (path::hasLongPathPrefix(rest))
    {
        drive = rest.substr(0, 4);
        rest.erase(0, 4);
    }
    const auto slash = rest.rfind(L'/');
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    const std::wstring directory = rest.substr(0, nameStart);
    const std::wstring name = rest.substr(nameStart);
    const auto dot = name.rfind(L'.');
    mDrive = drive;
    mDirectory = directory;
    mFileName = dot == std::wstring::npos ? name : name.substr(0, dot);
    // Kept as split, a lone "." too: on Linux "name." and "name" are different files.
    mExtension = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

void Path::clear()
{
    mDrive.clear();
    mDirectory.clear();
    mFileName.clear();
    mExtension.clear();
}

void Path::setDrive(const std::wstring& drive)
{
    if (drive == L":" || drive.empty())
        mDrive.clear();
    else if (drive.back() == L':' || drive == path::longPathPrefix)
        mDrive = drive;
    else
        mDrive = drive + L':';
}

void Path::setDirectory(const std::wstring& directory)
{
    mDirectory = directory;
    if (!mDirectory.empty() && mDirectory.back() != L'/')
        mDirectory += L'/';
}

void Path::appendDirectory(const std::wstring& directory)
{
    if (path::hasLongPathPrefix(directory))
        throw std::invalid_argument("Cannot append a directory containing a drive letter.");
    if (directory.empty())
        return;
    if (!mDirectory.empty() && mDirectory.back() != L'/')
        mDirectory += L'/';
    const bool joinsSeparators = !mDirectory.empty() && directory.front() == L'/';
    setDirectory(mDirectory + (joinsSeparators ? directory.substr(1) : directory));
}

void Path::setFileName(const std::wstring& fileName)
{
    if (fileName == L"." || fileName == L"..")
        throw std::invalid_argument(
            "Invalid filename: The filename cannot be set to the current or previous folder.");
    mFileName = fileName;
}

void Path::setExtension(const std::wstring& extension)
{
    if (extension.empty() || extension == L".")
        mExtension.clear();
    else if (extension.front() == L'.')
        mExtension = extension;
    else
        mExtension = L"." + extension;
}

std::wstring Path::toString(bool canonicalise) const
{
    std::wstring text = mDrive + mDirectory + mFileName + mExtension;
    if (canonicalise && !mDirectory.empty())
        path::canonicalize(text, std::wstring(text));
    return text;
}

std::wstring Path::parentDirectory() const
{
    if (mDirectory.size() < 2)
        return std::wstring();
    const auto slash = mDirectory.rfind(L'/', mDirectory.size() - 2);
    return slash == std::wstring::npos ? std::wstring() : mDirectory.substr(0, slash + 1);
}

namespace path
{
bool hasLongPathPrefix(const std::wstring& path)
{
    // The prefix has no letters, so comparing without regard to case is comparing exactly.
    return path.compare(0, 4, longPathPrefix) == 0;
}

std::wstring toLongPath(const std::wstring& path, std::size_t threshold)
{
    if (path.size() < threshold || hasLongPathPrefix(path))
        return path;
    if (!path.empty() && path.front() == L'.')
        throw basic_runtime_error<wchar_t>(L"Relative path cannot be prefixed with \".\" ");
    return longPathPrefix + path;
}

std::wstring withLongPathPrefix(const std::wstring& path, std::size_t threshold)
{
    if (path.size() < threshold || hasLongPathPrefix(path))
        return path;
    return longPathPrefix + path;
}

bool canonicalize(std::wstring& out, const std::wstring& path)
{
    if (path.empty())
    {
        out.clear();
        return true;
    }
    std::vector<wchar_t> buffer(path.size() + 2);
    if (!::PathCanonicalizeW(buffer.data(), path.c_str()))
        return false;
    out = buffer.data();
    return true;
}
} // namespace path
} // namespace qcl
