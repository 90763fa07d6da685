#include "app/WayfoldFolder.h"

#include "app/DesktopName.h"
#include "app/Strings.h"
#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "compat/LastError.h"
#include "qcl/Error.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/Volume.h"

#include <algorithm>
#include <array>

namespace dwl
{
namespace
{
// The file systems of local disks. Anything else (network, FUSE, FAT, exFAT, tmpfs, ...) is refused.
bool isLocalDiskFileSystem(const std::wstring& name)
{
    static const std::array<const wchar_t*, 11> names = {L"ext2",     L"ext3",     L"ext4",   L"xfs",
                                                         L"btrfs",    L"f2fs",     L"zfs",    L"jfs",
                                                         L"reiserfs", L"bcachefs", L"overlay"};
    return std::any_of(names.begin(), names.end(), [&](const wchar_t* known) { return name == known; });
}

// The desktop's description of a folder: its icon and its tip.
const wchar_t* const descriptionFileName = L"/.directory";

void writeDescription(const std::wstring& folder)
{
    const std::wstring path = folder + descriptionFileName;
    const DWORD existing = ::GetFileAttributesW(path.c_str());
    const DWORD ours = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & ours) != ours)
    {
        // The user's own file: it is left as it is.
        QCL_LOG_INFO(L"Keeping the existing folder description " << qcl::string::escaped(path, L'\''));
        return;
    }
    const std::string text = "[Desktop Entry]\nIcon=" + std::string(desktopName) +
                             "\nComment=" + qcl::string::utf16ToUtf8(loadString(IDS_FOLDER_TIP)) + "\n";
    qcl::Handle file = qcl::file::open(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, ours);
    qcl::File::write(file.get(), text.data(), text.size());
    file.closeOrThrow();
}

void makeSystemFolder(const std::wstring& folder)
{
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(folder.c_str(), attributes | FILE_ATTRIBUTE_SYSTEM))
    {
        const DWORD code = GetLastError();
        throw qcl::SystemError(L"Cannot make system folder", code);
    }
}

// The path as one word of a shell command.
std::wstring shellQuoted(const std::wstring& path)
{
    std::wstring quoted = L"'";
    for (const wchar_t c : path)
        quoted += c == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, c);
    return quoted + L"'";
}
} // namespace

FolderOpenToOthers::FolderOpenToOthers(const std::wstring& folder, compat::FolderAccess access,
                                       std::wstring wayfoldFolder)
    : basic_runtime_error(qcl::format(access == compat::FolderAccess::OtherOwner
                                          ? L"Cannot use folder '%1%': it belongs to another user"
                                          : L"Cannot use folder '%1%': other users may write to it",
                                      folder)),
      mAccess(access), mWayfoldFolder(std::move(wayfoldFolder))
{
}

std::wstring FolderOpenToOthers::remedy(bool atStart) const
{
    if (mAccess == compat::FolderAccess::OtherOwner)
        return atStart ? L"Quillmere Wayfold keeps your Shares only in a folder of your own: move that one "
                         L"away, or have it moved, and start Quillmere Wayfold again."
                       : L"Please choose a different location and try again.";
    const std::wstring folder = shellQuoted(mWayfoldFolder);
    return qcl::format(
        L"Remove their permission to write (chmod -R go-w %1%; where an access control list "
        L"grants it, also setfacl -R -b %1%) and %2%.",
        folder, atStart ? L"start Quillmere Wayfold again" : L"try again, or choose a different location");
}

bool isSuitableVolume(const std::wstring& path)
{
    if (path.empty())
        return false;
    try
    {
        // The mount point is known for a path that does not exist yet; the folder is made there later.
        const std::wstring volume = qcl::file::getVolumePathName(path);
        const qcl::file::VolumeInformation information = qcl::file::getVolumeInformation(volume);
        return isLocalDiskFileSystem(information.fileSystemName) &&
               (information.fileSystemFlags & FILE_UNICODE_ON_DISK) != 0 &&
               (information.fileSystemFlags & FILE_READ_ONLY_VOLUME) == 0 &&
               qcl::file::getDriveType(volume) == DRIVE_FIXED;
    }
    catch (const qcl::SystemError& e)
    {
        QCL_LOG_INFO(e.message());
        return false;
    }
}

void createWayfoldFolder(const std::wstring& folder)
{
    std::string systemPath;
    if (!compat::toSystemPath(folder.c_str(), systemPath) || !compat::createPrivateFolders(systemPath))
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", folder), GetLastError());
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        // A file of that name is in the way.
        const DWORD code = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", folder), code);
    }
    // Before anything is written into it: it may be another user's.
    openUsersOwnFolder(folder);
    try
    {
        writeDescription(folder);
        makeSystemFolder(folder);
    }
    catch (const qcl::basic_runtime_error<wchar_t>& e)
    {
        QCL_LOG_ERROR(e.message());
    }
}

qcl::Handle openUsersOwnFolder(const std::wstring& folder)
{
    qcl::Handle handle;
    compat::FolderAccess access = compat::FolderAccess::OtherOwner;
    try
    {
        handle = qcl::file::open(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    }
    catch (const qcl::SystemError& error)
    {
        // Another user's folder that is closed to this one is not missing: it is not the user's to use.
        if (error.code().value() == ERROR_ACCESS_DENIED && compat::getFolderAccess(folder.c_str(), access) &&
            access == compat::FolderAccess::OtherOwner)
            throw FolderOpenToOthers(folder, access, folder);
        throw;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle.get(), &information) ||
        !compat::getFolderAccess(handle.get(), access))
    {
        const DWORD code = GetLastError();
        throw qcl::SystemError(qcl::format(L"Cannot open '%1%'", folder), code);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        throw qcl::SystemError(qcl::format(L"Cannot open '%1%'", folder), ERROR_DIRECTORY);
    if (access != compat::FolderAccess::OwnersAlone)
        throw FolderOpenToOthers(folder, access, folder);
    // What lies in a Share folder that others may write to would be sent as well.
    std::wstring share;
    if (!compat::findInnerFolderOpenToOthers(handle.get(), share, access))
    {
        const DWORD code = GetLastError();
        throw qcl::SystemError(qcl::format(L"Cannot list folder '%1%'", folder), code);
    }
    if (!share.empty())
        throw FolderOpenToOthers(folder + L'/' + share, access, folder);
    return handle;
}
} // namespace dwl
