#include "sync/PinnedFolder.h"

#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "qcl/Format.h"
#include "sync/Tree.h"

namespace dwl
{
namespace
{
std::string systemPath(const std::wstring& path)
{
    std::string bytes;
    if (!compat::toSystemPath(path.c_str(), bytes))
        throw qcl::SystemError(qcl::format(L"Cannot open directory '%1%'", path), GetLastError());
    if (bytes.empty() || bytes.back() != '/')
        bytes += '/';
    return bytes;
}

// Opens the folder that the path names now and reads its status; false, with the thread's last error, when it
// cannot.
bool openWithStatus(const std::string& path, compat::at::Descriptor& folder, compat::at::ItemStatus& status)
{
    return compat::at::openFolder(path, folder) == 0 && compat::at::statusOf(folder.get(), path, status) == 0;
}
} // namespace

PinnedFolder PinnedFolder::of(const std::wstring& path)
{
    PinnedFolder pinned;
    pinned.mPath = path;
    pinned.mSystemPath = systemPath(path);
    compat::at::Descriptor folder;
    compat::at::ItemStatus status;
    if (!openWithStatus(pinned.mSystemPath, folder, status))
        throw qcl::SystemError(qcl::format(L"Cannot open directory '%1%'", path), GetLastError());
    pinned.mIdentity = status.identity;
    pinned.mLocalId = status.fileIndex;
    return pinned;
}

compat::at::Descriptor PinnedFolder::open() const
{
    if (!isPinned())
        throw Lost(L"No Wayfold folder was opened");
    compat::at::Descriptor folder;
    compat::at::ItemStatus status;
    if (!openWithStatus(mSystemPath, folder, status))
    {
        const qcl::SystemError error(L"", GetLastError());
        throw Lost(qcl::format(L"The Wayfold folder '%1%' is gone: %2%", mPath, error.systemText()));
    }
    if (status.identity != mIdentity || status.fileIndex != mLocalId)
        throw Lost(
            qcl::format(L"The folder at '%1%' is no longer the Wayfold folder (local ID %2% instead of %3%)",
                        mPath, Tree::formatLocalId(status.fileIndex), Tree::formatLocalId(mLocalId)));
    if (!status.isOwn)
        throw Lost(qcl::format(L"The Wayfold folder '%1%' belongs to another user", mPath));
    return folder;
}

bool PinnedFolder::isStillAtPath() const
{
    compat::at::Identity identity;
    return isPinned() && compat::at::identityOfPath(mSystemPath, identity) == 0 && identity == mIdentity;
}

bool PinnedFolder::holdsFolder(const compat::at::Descriptor& folder, const std::wstring& name)
{
    std::string entry;
    compat::at::ItemStatus status;
    return compat::utf16ToFileName(name.data(), name.data() + name.size(), entry) &&
           compat::at::statusAt(folder.get(), "", entry, status) == 0 && status.isDirectory;
}
} // namespace dwl
