#include "qcl/FileFinder.h"

#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"

namespace qcl
{
FileFinder::FileFinder(const std::wstring& pattern)
{
    mFind = ::FindFirstFileW(pattern.c_str(), &mData);
    if (mFind == INVALID_HANDLE_VALUE)
    {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND)
            throw SystemError(format(L"Cannot find '%1%'", pattern), code);
    }
}

FileFinder::~FileFinder()
{
    close();
}

void FileFinder::next()
{
    if (mFind == INVALID_HANDLE_VALUE)
        return;
    if (::FindNextFileW(mFind, &mData))
        return;
    const DWORD code = GetLastError();
    if (code == ERROR_NO_MORE_FILES)
    {
        close();
        return;
    }
    throw SystemError(format(L"Cannot enumerate files using handle %1%", mFind), code);
}

void FileFinder::close()
{
    if (mFind != INVALID_HANDLE_VALUE)
        ::FindClose(mFind);
    mFind = INVALID_HANDLE_VALUE;
}
} // namespace qcl
