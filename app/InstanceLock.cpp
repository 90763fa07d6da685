#include "app/InstanceLock.h"

#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/Format.h"

#include <unistd.h>

#include <string>

namespace dwl
{
namespace
{
bool isValid(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void writeProcessId(HANDLE file)
{
    const std::string text = "ProcessId: " + std::to_string(::getpid()) + "\r\n";
    DWORD written = 0;
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        throw qcl::SystemError(qcl::format(L"Cannot write to file handle %1%", file), GetLastError());
    if (!FlushFileBuffers(file))
        throw qcl::SystemError(qcl::format(L"Cannot flush file buffers of handle %1%", file), GetLastError());
}
} // namespace

InstanceLock::~InstanceLock()
{
    if (isHeld())
        CloseHandle(mHandle);
}

bool InstanceLock::isHeld() const
{
    return isValid(mHandle);
}

void InstanceLock::lock(const std::wstring& path)
{
    if (isHeld())
        return;
    // The open checks the sharing of the holder's handle before it empties the file, so a refused open leaves
    // the holder's file as it was; the handle is not inherited by programs this one starts.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!isValid(file))
    {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            throw OtherInstanceAlreadyRunning();
        throw qcl::SystemError(qcl::format(L"Cannot lock file '%1%'", path), error);
    }
    mHandle = file;
    try
    {
        if (!compat::restrictToOwner(path.c_str()))
            throw qcl::SystemError(qcl::format(L"Cannot lock file '%1%'", path), GetLastError());
        writeProcessId(file);
    }
    catch (...)
    {
        CloseHandle(mHandle);
        mHandle = INVALID_HANDLE_VALUE;
        throw;
    }
}
} // namespace dwl
