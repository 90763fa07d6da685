#include "sync/CommandProcessorFiles.h"

#include "compat/LastError.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "url/Error.h"

#include <sstream>

namespace dwl::commandprocessor
{
qcl::Handle openExisting(const std::wstring& path, DWORD access, DWORD shareMode)
{
    return qcl::file::open(path, access, shareMode, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS);
}

FileFacts readFileFacts(HANDLE file, const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information))
        throw qcl::SystemError(qcl::format(L"Cannot get information about '%1%'", path), GetLastError());
    FileFacts facts;
    facts.localId = (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    facts.size = (std::uint64_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    facts.lastModificationTime = (std::uint64_t(information.ftLastWriteTime.dwHighDateTime) << 32) |
                                 information.ftLastWriteTime.dwLowDateTime;
    facts.changeTime = changeTimeOf(file, path);
    return facts;
}

std::uint64_t changeTimeOf(HANDLE file, const std::wstring& path)
{
    FILE_BASIC_INFO information{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &information, sizeof information))
        throw qcl::SystemError(qcl::format(L"Cannot get information about '%1%'", path), GetLastError());
    return static_cast<std::uint64_t>(information.ChangeTime.QuadPart);
}

FileFacts readFileFacts(const std::wstring& path)
{
    // No access asked: the handle only describes the item, so nobody else is hindered.
    const qcl::Handle file = openExisting(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return readFileFacts(file.get(), path);
}

namespace
{
const std::wstring kDownloadPrefix = L".wayfold-";
const std::wstring kDownloadSuffix = L".download";
} // namespace

std::wstring downloadFileName(const qcl::uint128& assetId)
{
    std::wostringstream name;
    name << kDownloadPrefix << assetId << kDownloadSuffix;
    return name.str();
}

bool isDownloadFileName(const std::wstring& name)
{
    return name.size() == kDownloadPrefix.size() + 39 + kDownloadSuffix.size() &&
           name.starts_with(kDownloadPrefix) && name.ends_with(kDownloadSuffix);
}

Tree::Directory& shareOf(Tree::Node& node)
{
    Tree::Node* share = &node;
    while (share->parent() != nullptr && share->parent()->parent() != nullptr)
        share = share->parent();
    return *share->asDirectory();
}

Tree::Directory* folderOfAsset(Tree::Directory& root, const qcl::uint128& shareId, const qcl::uint128& folderId)
{
    Tree::Directory* share = root.findChildById(shareId);
    if (!share)
        return nullptr;
    if (share->assetId() == folderId)
        return share;
    Tree::Node* node = Tree::findNodeById(share, folderId);
    return node ? node->asDirectory() : nullptr;
}

std::optional<std::uint64_t> localIdOf(const Tree::DuplicatedLocalIdError& error)
{
    const std::wstring message = error.message();
    if (message.size() < 19)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t unit : message.substr(message.size() - 19))
    {
        if (unit == L'-')
            continue;
        const int digit = unit >= L'0' && unit <= L'9'   ? unit - L'0'
                          : unit >= L'a' && unit <= L'f' ? unit - L'a' + 10
                                                         : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

void rethrowWithContext(const std::wstring& context)
{
    try
    {
        throw;
    }
    catch (url::Error& error)
    {
        error.prependMessage(context);
        throw;
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        throw qcl::basic_runtime_error<wchar_t>(context + L": " + error.message());
    }
}

std::wstring reasonOf(const std::exception& error)
{
    if (const auto* wide = dynamic_cast<const qcl::basic_runtime_error<wchar_t>*>(&error))
        return wide->message();
    return qcl::string::utf8ToUtf16(error.what());
}
} // namespace dwl::commandprocessor
