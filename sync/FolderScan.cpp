#include "sync/FolderScan.h"

#include "compat/FileApi.h"
#include "qcl/File.h"
#include "qcl/FileFinder.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

namespace dwl
{
namespace
{
constexpr DWORD skippedAttributes =
    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_REPARSE_POINT;

std::wstring joinPath(const std::wstring& directory, const std::wstring& name)
{
    if (directory.empty() || directory.back() == L'/')
        return directory + name;
    return directory + L'/' + name;
}

// Names that were not valid UTF-8 on disk hold lone surrogates after the file-name conversion; the server could not
// take them.
bool hasLoneSurrogate(const std::wstring& name)
{
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        const auto unit = static_cast<std::uint32_t>(name[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size() &&
            static_cast<std::uint32_t>(name[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(name[i + 1]) <= 0xDFFF)
            ++i;
        else if (unit >= 0xD800 && unit <= 0xDFFF)
            return true;
    }
    return false;
}

// Logs why an entry with one of the skipped attributes is left out; the first rule that matches wins.
void logSkippedEntry(const WIN32_FIND_DATAW& entry, const std::wstring& path)
{
    const auto quoted = qcl::string::escaped(path, L'\'');
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM)
        QCL_LOG_DEBUG(L"Ignored system file or directory " << quoted);
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)
        QCL_LOG_INFO(L"Ignored hidden file or directory " << quoted);
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_TEMPORARY)
        QCL_LOG_INFO(L"Ignored temporary file " << quoted);
    else if (entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)
        QCL_LOG_INFO(L"Ignored mounted volume or junction " << quoted);
    else if (entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK)
        QCL_LOG_INFO(L"Ignored symbolic link " << quoted);
    else
        QCL_LOG_INFO(L"Ignored reparse point " << quoted << L" with reparse tag " << std::hex << entry.dwReserved0
                                               << std::dec);
}

std::uint64_t fileTimeValue(const FILETIME& time)
{
    return (std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
} // namespace

void FolderScan::run(Tree::Directory& root, const std::wstring& path)
{
    mNodesByLocalId.clear();
    qcl::scope::Guard forgetNodes([this] { mNodesByLocalId.clear(); });
    mNodesByLocalId.emplace(root.localId(), &root);
    scan(root, path);
}

void FolderScan::scan(Tree::Directory& directory, const std::wstring& path)
{
    for (qcl::FileFinder finder(joinPath(path, L"*")); finder; finder.next())
    {
        if (mCheckpoint)
            mCheckpoint();

        const WIN32_FIND_DATAW& entry = finder.data();
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring fullPath = joinPath(path, name);
        if (entry.dwFileAttributes & skippedAttributes)
        {
            logSkippedEntry(entry, fullPath);
            continue;
        }
        if (hasLoneSurrogate(name))
        {
            QCL_LOG_INFO(L"Ignored file or directory whose name is not valid UTF-8 "
                         << qcl::string::escaped(fullPath, L'\''));
            continue;
        }

        const std::uint64_t localId = qcl::file::getFileId(fullPath);
        QCL_LOG_TRACE(L"File or directory " << qcl::string::escaped(fullPath, L'\'')
                                            << L", object ID = " << Tree::formatLocalId(localId));
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (mNodesByLocalId.count(localId) != 0)
            {
                // Only a folder mounted twice can do this; entering it again could loop for ever.
                QCL_LOG_INFO(L"Ignored directory " << qcl::string::escaped(fullPath, L'\'')
                                                   << L" that was met before under another path");
                continue;
            }
            auto node = std::make_unique<Tree::Directory>(localId, name);
            Tree::Directory& subdirectory = *node;
            mNodesByLocalId.emplace(localId, node.get());
            scan(subdirectory, fullPath);
            directory.addChild(std::move(node));
        }
        else
        {
            const std::uint64_t size = (std::uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            addFile(directory,
                    std::make_unique<Tree::File>(localId, name, size, fileTimeValue(entry.ftLastWriteTime)));
        }
    }
}

// The entry met later wins over an earlier file with the same local id (a second hard link).
void FolderScan::addFile(Tree::Directory& directory, std::unique_ptr<Tree::File> node)
{
    const auto known = mNodesByLocalId.find(node->localId());
    if (known != mNodesByLocalId.end())
    {
        Tree::Node* earlier = known->second;
        if (earlier->asFile() == nullptr)
        {
            QCL_LOG_INFO(L"Ignored file " << qcl::string::escaped(node->name(), L'\'')
                                          << L" whose local ID belongs to a directory");
            return;
        }
        earlier->detach();
        known->second = node.get();
    }
    else
        mNodesByLocalId.emplace(node->localId(), node.get());
    directory.addChild(std::move(node));
}
} // namespace dwl
