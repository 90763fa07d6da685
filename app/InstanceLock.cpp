#include "app/InstanceLock.h"

#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/Format.h"

#include <unistd.h>

#include <string>
#include <system_error>

namespace dwl
{
void InstanceLock::lock(const std::wstring& path)
{
    if (isHeld())
        return;
    // The open checks the sharing of the holder's handle before it empties the file, so a refused open leaves
    // the holder's file as it was; the handle is not inherited by programs this one starts.
    std::error_code error;
    qcl::Handle file = qcl::file::open(path, GENERIC_WRITE, FILE_SHARE_READ, compat::ownerOnlyAccess(),
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr, error);
    if (!file)
    {
        if (error.value() == static_cast<int>(ERROR_SHARING_VIOLATION))
            throw OtherInstanceAlreadyRunning();
        throw qcl::SystemError(qcl::format(L"Cannot lock file '%1%'", path), error);
    }
    const std::string text = "ProcessId: " + std::to_string(::getpid()) + "\r\n";
    qcl::File::write(file.get(), text.data(), text.size());
    qcl::File::flush(file.get());
    mHandle = std::move(file);
}
} // namespace dwl
