#include "app/WayfoldFolder.h"

#include "app/DesktopName.h"
#include "app/Strings.h"
#include "compat/FileApi.h"
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
} // namespace

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
    std::error_code error;
    if (!qcl::file::createDirectories(folder, error) &&
        error.value() != static_cast<int>(ERROR_ALREADY_EXISTS))
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", folder), error);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        // A file of that name is in the way.
        const DWORD code = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
        throw qcl::SystemError(qcl::format(L"Cannot create directory '%1%'", folder), code);
    }
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
} // namespace dwl
