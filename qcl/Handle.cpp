#include "qcl/Handle.h"

#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/Format.h"

#include <utility>

namespace qcl
{
Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

HANDLE Handle::release()
{
    return std::exchange(mHandle, INVALID_HANDLE_VALUE);
}

void Handle::reset(HANDLE handle)
{
    const HANDLE previous = std::exchange(mHandle, handle);
    if (isValidHandle(previous) && previous != handle)
        ::CloseHandle(previous);
}

void Handle::close()
{
    reset();
}

void Handle::closeOrThrow()
{
    const HANDLE handle = release();
    if (isValidHandle(handle) && !::CloseHandle(handle))
        throw SystemError(format(L"Cannot close file handle %1%", handle), GetLastError());
}

ZeroHandle& ZeroHandle::operator=(ZeroHandle&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

HANDLE ZeroHandle::release()
{
    return std::exchange(mHandle, nullptr);
}

void ZeroHandle::reset(HANDLE handle)
{
    const HANDLE previous = std::exchange(mHandle, handle);
    if (isValidHandle(previous) && previous != handle)
        ::CloseHandle(previous);
}
} // namespace qcl
