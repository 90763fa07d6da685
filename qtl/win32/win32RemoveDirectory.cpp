#include "qtl/win32/win32RemoveDirectory.h"

#include "compat/FileOperations.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/FileFinder.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/Path.h"
#include "qtl/win32/win32FileFunctions.h"

#include <stdexcept>

namespace win32
{
void removeDirectory(const std::wstring& path)
{
    if (!RemoveDirectoryW(qcl::path::toLongPath(path, MAX_PATH).c_str()))
        throw qcl::SystemError(qcl::format(L"Cannot remove directory '%1%'", path), GetLastError());
}

void removeDirectoryContents(const std::wstring& path)
{
    if (path.empty())
        throw std::invalid_argument("Empty directory path");
    std::wstring directory = path;
    if (directory.back() != L'/')
        directory += L'/';

    for (qcl::FileFinder finder(directory + L"*"); finder; finder.next())
    {
        const WIN32_FIND_DATAW& entry = finder.data();
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring child = directory + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        {
            // A link goes by itself (its target keeps its attributes too); a mount point cannot be removed and so
            // stops the walk before anything that belongs to the other file system is touched.
            if (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK)
                deleteFile(child);
            else
                removeDirectory(child);
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            setFileAttributes(child, entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);

        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            removeDirectoryContents(child);
            removeDirectory(child);
        }
        else
            deleteFile(child);
    }
}

void removeDirectoryTree(const std::wstring& path)
{
    removeDirectoryContents(path);
    removeDirectory(path);
}

template <>
scoped_directory<std::wstring>::~scoped_directory()
{
    if (mPath.empty())
        return;
    try
    {
        removeDirectoryTree(mPath);
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_ERROR(error.message());
    }
}
} // namespace win32
