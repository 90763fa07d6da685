#include "qcl/File.h"

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/FileFinder.h"
#include "qcl/Format.h"
#include "qcl/Path.h"

#include <algorithm>
#include <limits>

namespace qcl
{
namespace
{
[[noreturn]] void throwForHandle(const wchar_t* message, HANDLE file)
{
    const DWORD code = GetLastError();
    throw SystemError(format(message, file), code);
}
} // namespace

void File::flush(HANDLE file)
{
    if (!::FlushFileBuffers(file))
        throwForHandle(L"Cannot flush file buffers of handle %1%", file);
}

std::uint64_t File::getFileId(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(file, &information))
        throwForHandle(L"Cannot get file ID of handle %1%", file);
    return (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

std::int64_t File::getSize(HANDLE file)
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size))
        throwForHandle(L"Cannot get file size of handle %1%", file);
    return size.QuadPart;
}

FILETIME File::getLastWriteTime(HANDLE file)
{
    FILETIME lastWrite;
    if (!::GetFileTime(file, nullptr, nullptr, &lastWrite))
        throwForHandle(L"Cannot get last file modification time of handle %1%", file);
    return lastWrite;
}

DWORD File::read(HANDLE file, void* buffer, DWORD size)
{
    DWORD bytesRead = 0;
    if (!::ReadFile(file, buffer, size, &bytesRead, nullptr))
        throwForHandle(L"Cannot read from file handle %1%", file);
    return bytesRead;
}

std::int64_t File::seek(HANDLE file, std::int64_t distance, DWORD moveMethod)
{
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(file, LARGE_INTEGER{distance}, &position, moveMethod))
        throwForHandle(L"Cannot set file pointer of handle %1%", file);
    return position.QuadPart;
}

void File::write(HANDLE file, const void* buffer, std::size_t size)
{
    const auto* at = static_cast<const char*>(buffer);
    while (size != 0)
    {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!::WriteFile(file, at, chunk, &written, nullptr))
            throwForHandle(L"Cannot write to file handle %1%", file);
        at += written;
        size -= written;
    }
}

namespace file
{
Handle open(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags, HANDLE templateFile)
{
    std::error_code error;
    Handle handle = open(path, access, share, security, disposition, flags, templateFile, error);
    if (!handle)
        throw SystemError(format(L"Cannot open '%1%'", path), error);
    return handle;
}

Handle open(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
            DWORD disposition, DWORD flags, HANDLE templateFile, std::error_code& error)
{
    const std::wstring longPath = path::toLongPath(path, path::maxPathLength);
    Handle handle(::CreateFileW(longPath.c_str(), access, share, security, disposition, flags, templateFile));
    if (!handle)
        error.assign(static_cast<int>(GetLastError()), windowsCategory());
    else
        error.clear();
    return handle;
}

namespace
{
// The folder that holds `path`, with its trailing "/"; a path ending in "/" names its folder in the
// directory part.
std::wstring parentFolderOf(const std::wstring& path)
{
    const Path split(path);
    if (!split.fileName().empty() || !split.extension().empty())
        return split.drive() + split.directory();
    const std::wstring parent = split.parentDirectory();
    return parent.empty() ? parent : split.drive() + parent;
}
} // namespace

bool createDirectories(const std::wstring& path, std::error_code& error, bool parents,
                       SECURITY_ATTRIBUTES* security)
{
    const std::wstring longPath = path::withLongPathPrefix(path, path::maxDirectoryLength);
    bool created = ::CreateDirectoryW(longPath.c_str(), security);
    if (!created && parents && GetLastError() == ERROR_PATH_NOT_FOUND)
    {
        const std::wstring parent = parentFolderOf(path);
        if (parent.empty() || parent == path)
        {
            error.assign(static_cast<int>(ERROR_PATH_NOT_FOUND), windowsCategory());
            return false;
        }
        // A parent that another creator made meanwhile is as good as one made here.
        if (!createDirectories(parent, error, parents, security) &&
            error.value() != static_cast<int>(ERROR_ALREADY_EXISTS))
            return false;
        created = ::CreateDirectoryW(longPath.c_str(), security);
    }
    if (created)
        error.clear();
    else
        error.assign(static_cast<int>(GetLastError()), windowsCategory());
    return created;
}

std::uint64_t getFileId(const std::wstring& path)
{
    try
    {
        const Handle handle = open(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        return File::getFileId(handle.get());
    }
    catch (const SystemError& error)
    {
        throw SystemError(format(L"Cannot get file ID of '%1%'", path), error.code());
    }
}

bool isDirectoryEmpty(const std::wstring& path, DWORD excludedAttributes, DWORD wantedAttributes)
{
    std::wstring pattern = path;
    if (pattern.empty() || pattern.back() != L'/')
        pattern += L'/';
    pattern += L'*';
    for (FileFinder finder(pattern); finder; finder.next())
    {
        const WIN32_FIND_DATAW& entry = finder.data();
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if ((entry.dwFileAttributes & wantedAttributes) != 0 && (entry.dwFileAttributes & excludedAttributes) == 0)
            return false;
    }
    return true;
}
} // namespace file
} // namespace qcl
