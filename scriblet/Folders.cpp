#include "scriblet/Folders.h"

#include "compat/KnownFolders.h"
#include "compat/ModuleFolder.h"
#include "qcl/String.h"

namespace scriblet
{
std::string applicationDataFolder()
{
    auto folder = compat::knownFolderPath(FOLDERID_LocalAppDataLow, KF_FLAG_CREATE);
    if (!folder || folder->empty())
        return {};
    return joinPath(qcl::string::utf16ToUtf8Lenient(*folder), "quillmere");
}

std::string libraryFolder()
{
    static const int anchor = 0;
    return qcl::string::utf16ToUtf8Lenient(compat::moduleFolderOf(&anchor));
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}
} // namespace scriblet
