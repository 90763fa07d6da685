#include "app/Paths.h"

#include "compat/FileApi.h"
#include "compat/KnownFolders.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Module.h"
#include "qcl/Os.h"

#include <optional>

namespace dwl::Paths
{
namespace
{
const std::wstring productName = L"Wayfold";
const std::string makerName = "quillmere";
const std::wstring serverListName = L"Servers.json";
const std::wstring installedDataFolder = L"share/quillmere-wayfold";

std::wstring join(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || folder.back() == L'/')
        return folder + name;
    return folder + L'/' + name;
}

std::wstring knownFolder(REFKNOWNFOLDERID id, const wchar_t* missingMessage)
{
    const std::optional<std::wstring> folder = compat::knownFolderPath(id);
    if (!folder || folder->empty())
        throw qcl::basic_runtime_error<wchar_t>(missingMessage);
    return *folder;
}

std::wstring parentFolder(const std::wstring& folder)
{
    const std::size_t slash = folder.rfind(L'/');
    if (slash == std::wstring::npos)
        return L".";
    return slash == 0 ? L"/" : folder.substr(0, slash);
}

// Makes the folder private to the user: created when missing, corrected when it exists; refused when it
// belongs to another user.
void keepPrivate(const std::wstring& folder)
{
    if (!compat::keepFolderPrivate(folder.c_str()))
        qcl::throwPrivateFolderError(folder, GetLastError());
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

std::wstring dataRoot()
{
    // The reported system version chooses the data folder, as it does for the logging library.
    const int version = qcl::os::getVersion();
    const std::wstring base =
        knownFolder(version == 2 || version == 3 ? FOLDERID_LocalAppDataLow : FOLDERID_LocalAppData,
                    L"Cannot find the local application-data folder: no home folder is known");
    const std::wstring makerFolder = join(base, qcl::string::utf8ToUtf16(makerName));
    const std::wstring root = join(makerFolder, productName);
    // Whoever made them first (the logging library, an older version), both are the user's alone from here.
    keepPrivate(makerFolder);
    keepPrivate(root);
    return root;
}

std::wstring configurationFile()
{
    return join(dataRoot(), L"Configuration");
}

std::wstring databaseFile()
{
    return join(dataRoot(), L"Data");
}

std::wstring lockFile()
{
    return join(dataRoot(), L"Lock");
}

std::wstring defaultFolderLocation()
{
    return knownFolder(FOLDERID_Profile, L"Cannot find the user's profile folder: no home folder is known");
}

std::wstring wayfoldFolder(const std::wstring& location)
{
    return join(location, productName);
}

std::wstring serverListFile()
{
    return serverListFileFor(parentFolder(qcl::getModuleFileName()));
}

std::wstring serverListFileFor(const std::wstring& programFolder)
{
    const std::wstring besideProgram = join(programFolder, serverListName);
    if (isFile(besideProgram))
        return besideProgram;
    return join(join(parentFolder(programFolder), installedDataFolder), serverListName);
}
} // namespace dwl::Paths
