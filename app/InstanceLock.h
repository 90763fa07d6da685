#pragma once
// The single-instance lock: the file "Lock" in the data root, held open for writing with read-only sharing
// for as long as the instance runs. The lock lives in the open handle, not in the file's existence, so a file
// left behind by an instance that ended is simply taken over. Destroying the object releases the lock.

#include "qcl/Handle.h"

#include <exception>
#include <string>

namespace dwl
{
class OtherInstanceAlreadyRunning : public std::exception
{
public:
    const char* what() const noexcept override
    {
        return "Another instance of the application is already running";
    }
};

class InstanceLock
{
public:
    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock and writes "ProcessId: <id>\r\n" into the file; does nothing while the lock is held.
    // Another holder gives OtherInstanceAlreadyRunning and its file is left as it was; any other failure
    // gives qcl::SystemError "Cannot lock file '%1%'".
    void lock(const std::wstring& path);

    bool isHeld() const { return static_cast<bool>(mHandle); }

private:
    qcl::Handle mHandle;
};
} // namespace dwl
