#include "sync/Consistency.h"

#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qtl/win32/win32FileFunctions.h"

#include <sstream>

namespace dwl
{
namespace
{
std::wstring escapedPath(const std::wstring& path)
{
    std::wostringstream text;
    text << qcl::string::escaped(path);
    return text.str();
}

std::wstring joinPath(const std::wstring& parent, const std::wstring& name)
{
    if (parent.empty() || parent.back() == L'/')
        return parent + name;
    return parent + L'/' + name;
}
} // namespace

std::optional<std::wstring> checkIfDatabaseMatchesFileSystem(const Tree::Node& node, CheckedPaths& checked)
{
    if (const auto known = checked.find(&node); known != checked.end())
        return known->second;
    if (node.parent() == nullptr)
    {
        // Only the root of the tree has no parent, and the caller seeds the cache with it; a detached node has no
        // place on disk.
        QCL_LOG_INFO(L"Will retry processing message later: " << qcl::string::escaped(node.name(), L'\'')
                                                              << L" is not part of the tree");
        return std::nullopt;
    }
    const auto parentPath = checkIfDatabaseMatchesFileSystem(*node.parent(), checked);
    if (!parentPath)
        return std::nullopt;

    const std::wstring path = joinPath(*parentPath, node.name());
    try
    {
        const std::uint64_t actual = qcl::file::getFileId(path);
        if (actual != node.localId())
        {
            QCL_LOG_INFO(qcl::format(L"Will retry processing message later: Actual local ID %2% of file or folder "
                                     L"'%1%' does not match the expected ID %3% stored in the database",
                                     escapedPath(path), Tree::formatLocalId(actual),
                                     Tree::formatLocalId(node.localId())));
            return std::nullopt;
        }
        const DWORD attributes = win32::getFileAttributes(path);
        if (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        {
            QCL_LOG_INFO(qcl::format(L"Will retry processing message later: File or folder '%1%' is hidden",
                                     escapedPath(path)));
            return std::nullopt;
        }
        // The scanner never reports what lies behind a link or a mount point, so the tree cannot describe it.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        {
            QCL_LOG_INFO(qcl::format(L"Will retry processing message later: File or folder '%1%' is a symbolic "
                                     L"link or mount point",
                                     escapedPath(path)));
            return std::nullopt;
        }
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_INFO(qcl::format(L"Will retry processing message later: %1%", escapedPath(error.message())));
        return std::nullopt;
    }
    checked.emplace(&node, path);
    return path;
}

std::optional<std::wstring> checkIfDatabaseMatchesFileSystem(const Tree::Node& node)
{
    const Tree::Node* root = &node;
    while (root->parent() != nullptr)
        root = root->parent();
    CheckedPaths checked{{root, root->name()}};
    return checkIfDatabaseMatchesFileSystem(node, checked);
}
} // namespace dwl
