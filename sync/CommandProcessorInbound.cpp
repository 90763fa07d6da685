// Server messages and the down-synchronisation of Shares: the server's changes brought into the folder.

#include "sync/CommandProcessor.h"

#include "compat/FileApi.h"
#include "compat/LastError.h"
#include "compat/PrivateFiles.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/LocalFileOperations.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "qtl/win32/win32FileFunctions.h"
#include "qtl/win32/win32RemoveDirectory.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/Consistency.h"

#include <algorithm>

namespace dwl
{
using namespace commandprocessor;

namespace
{
IWayfoldApi::Share shareOfAncestors(const qcl::uint128& shareId, const IWayfoldApi::AssetProperties& asset)
{
    if (asset.ancestors.empty())
        throw InconsistentServerResponse(qcl::format(
            L"Empty ancestors list when straightening ancestors of an Asset in Share %1%", shareId));
    return IWayfoldApi::Share{shareId, asset.ancestors.front().id, asset.ancestors.front().name};
}

} // namespace

// ---- Server messages
// ----------------------------------------------------------------------------------------

void CommandProcessor::retrieveAndProcessNextServerMessages()
{
    try
    {
        for (;;)
        {
            checkInterruption();
            QCL_LOG_TRACE(L"Getting server messages from message #" << mNextServerMessageNumber);
            std::optional<IWayfoldApi::ServerMessage> message;
            try
            {
                message = mApi.getServerMessage(mNextServerMessageNumber);
            }
            catch (const url::NotFoundError& error)
            {
                QCL_LOG_ERROR(L"Device " << mDeviceId << L" does not seem to exist on the server: "
                                         << error.message());
                QCL_LOG_INFO(L"Will try to register a new Device...");
                mDeviceId = qcl::uint128();
                return;
            }
            onServerAvailable();
            if (!message)
            {
                QCL_LOG_TRACE(L"There is no server message to process");
                return;
            }
            QCL_LOG_TRACE(L"Processing server message #" << message->number << L" of type " << message->type);
            setSynchronising(true);
            if (!processServerMessage(*message))
            {
                QCL_LOG_TRACE(L"Cannot process server message #" << message->number);
                return;
            }
            mNextServerMessageNumber = message->number + 1;
            mCallback.setNextServerMessageNumber(mNextServerMessageNumber);
        }
    }
    catch (const url::Error& error)
    {
        onServerUnavailable(error);
    }
}

bool CommandProcessor::processServerMessage(const IWayfoldApi::ServerMessage& message)
{
    switch (message.type)
    {
    case EventType::shareCreated:
        return processShareCreatedServerMessage(message);
    case EventType::shareUpdated:
        return processShareUpdatedServerMessage(message);
    case EventType::shareDeleted:
        return processShareDeletedServerMessage(message);
    case EventType::folderCreated:
        return processFolderCreatedServerMessage(message);
    case EventType::folderUpdated:
        return processFolderUpdatedServerMessage(message);
    case EventType::folderDeleted:
    case EventType::documentDeleted:
        return processDocumentOrFolderDeleted(message);
    case EventType::documentUpdated:
        return processDocumentUpdatedServerMessage(message);
    case EventType::versionCreated:
        return processVersionCreatedServerMessage(message);
    default:
        return processOtherServerMessage(message);
    }
}

bool CommandProcessor::processShareCreatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    if (const Tree::Directory* known = tree().findChildById(message.shareId))
    {
        QCL_LOG_DEBUG(L"Ignored server message: Share " << message.shareId << L" is already known locally as "
                                                        << qcl::string::escaped(known->name(), L'"'));
        return true;
    }
    const auto share = getShareProperties(message.shareId);
    if (!share)
        return true;
    if (!createLocalShare(*share))
        return false;
    // A Share that the user just joined may already hold folders and documents; no message brings them, so
    // the next cycle brings this Share down (the others keep their flags and are only straightened).
    setCloudDataSynchronised(false);
    return true;
}

bool CommandProcessor::processShareUpdatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    const auto share = getShareProperties(message.shareId);
    if (!share)
    {
        if (Tree::Directory* known = tree().findChildById(message.shareId))
            return deleteLocalShare(*known);
        return true;
    }
    try
    {
        synchroniseShare(*share);
        return true;
    }
    catch (const StoppedSynchronisation&)
    {
        return false;
    }
}

bool CommandProcessor::processShareDeletedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    Tree::Directory* known = tree().findChildById(message.shareId);
    if (!known)
    {
        QCL_LOG_DEBUG(L"Ignored server message: Share " << message.shareId << L" is NOT known locally");
        return true;
    }
    return deleteLocalShare(*known);
}

bool CommandProcessor::processFolderCreatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    if (const Tree::Node* known = Tree::findNodeById(&tree(), message.assetId))
    {
        QCL_LOG_DEBUG(L"Ignored server message: Folder " << message.assetId
                                                         << L" is already known locally as "
                                                         << qcl::string::escaped(known->name(), L'"'));
        return true;
    }
    return processFolderUpdatedServerMessage(message);
}

bool CommandProcessor::processFolderUpdatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    auto folder = getAssetProperties(message.shareId, message.assetId);
    if (!folder || folder->type != IWayfoldApi::Asset::Folder)
        return true;
    const IWayfoldApi::Share share = shareOfAncestors(message.shareId, *folder);
    Ancestors ancestors = folder->ancestors;
    ancestors.push_back({folder->assetId, folder->name});
    return !straightenAncestors(share, ancestors).retry;
}

bool CommandProcessor::processDocumentUpdatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    const auto document = getAssetProperties(message.shareId, message.assetId);
    if (!document || document->type != IWayfoldApi::Asset::Document)
        return true;
    return !straightenDocument(shareOfAncestors(message.shareId, *document), *document).retry;
}

bool CommandProcessor::processVersionCreatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    const auto document = getAssetProperties(message.shareId, message.assetId);
    if (!document || document->type != IWayfoldApi::Asset::Document)
        return true;
    return synchroniseDocument(shareOfAncestors(message.shareId, *document), *document);
}

bool CommandProcessor::processDocumentOrFolderDeleted(const IWayfoldApi::ServerMessage& message)
{
    Tree::Directory* share = tree().findChildById(message.shareId);
    if (!share)
    {
        QCL_LOG_DEBUG(L"Ignored server message: Share " << message.shareId << L" is NOT known locally.");
        return true;
    }
    Tree::Node* node = Tree::findNodeById(share, message.assetId);
    if (!node)
    {
        QCL_LOG_DEBUG(L"Ignored server message: Asset " << message.assetId << L" is NOT known locally.");
        return true;
    }
    return removeLocalItem(*node, *share);
}

bool CommandProcessor::processOtherServerMessage(const IWayfoldApi::ServerMessage& message)
{
    QCL_LOG_TRACE(L"Ignored server message #" << message.number << L" of type " << message.type);
    return true;
}

std::optional<IWayfoldApi::Share> CommandProcessor::getShareProperties(const qcl::uint128& shareId)
{
    try
    {
        auto share = mApi.getShareProperties(shareId);
        onServerAvailable();
        return share;
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_INFO(L"Share " << shareId << L" cannot be accessed: " << error.message());
        return std::nullopt;
    }
}

std::optional<IWayfoldApi::AssetProperties> CommandProcessor::getAssetProperties(const qcl::uint128& shareId,
                                                                                 const qcl::uint128& assetId)
{
    try
    {
        auto asset = mApi.getAssetProperties({shareId, assetId});
        onServerAvailable();
        return asset;
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_INFO(L"Asset (" << shareId << L"/" << assetId << L") cannot be accessed: "
                                << error.message());
        return std::nullopt;
    }
}

bool CommandProcessor::removeLocalItem(Tree::Node& node, Tree::Directory& share)
{
    const auto path = checkIfDatabaseMatchesFileSystem(node);
    if (!path)
        return false;
    stopScannerBeforeLocalChange();
    try
    {
        deleteFileOrDirectory(*path, engineDeleteFlags);
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_INFO(error.message());
        mCallback.onLocalRemovalFailed(node, share, error.message());
        return false;
    }
    node.detach();
    return true;
}

// ---- Down-synchronisation
// -----------------------------------------------------------------------------------

bool CommandProcessor::synchroniseCloudData()
{
    if (tree().isSynchronised())
        return true;
    try
    {
        QCL_LOG_DEBUG(L">>> Down-synchronising Shares");
        QCL_LOG_TRACE(L"Getting the list of Shares to downsync'...");
        setSynchronising(true);
        const std::vector<IWayfoldApi::Share> shares = mApi.getShares();
        onServerAvailable();

        for (Tree::Node& child : tree().children())
        {
            Tree::Directory* directory = child.asDirectory();
            if (directory && std::none_of(shares.begin(), shares.end(),
                                          [&](const IWayfoldApi::Share& share)
                                          { return share.shareId == directory->shareId(); }))
                directory->setSynchronised(true);
        }

        bool synchronised = true;
        for (const IWayfoldApi::Share& share : shares)
        {
            try
            {
                synchroniseShare(share);
            }
            catch (const StoppedSynchronisation&)
            {
                synchronised = false;
            }
        }
        setCloudDataSynchronised(synchronised);
        QCL_LOG_DEBUG(L"<<< Down-synchronised Shares");
        return synchronised;
    }
    catch (const url::Error& error)
    {
        onServerUnavailable(error);
        return false;
    }
}

void CommandProcessor::synchroniseShare(const IWayfoldApi::Share& share)
{
    checkInterruption();
    setSynchronising(true);
    QCL_LOG_DEBUG(L">>> Synchronising Share " << qcl::string::escaped(share.name, L'"') << L" ("
                                              << share.shareId << L"/" << share.rootId << L")");
    Ancestors ancestors{{share.rootId, share.name}};
    if (straightenAncestors(share, ancestors).retry)
        throw StoppedSynchronisation();
    if (Tree::Directory* directory = tree().findChildById(share.shareId); !directory->isSynchronised())
    {
        synchroniseDirectory(share, ancestors);
        // Found again: the directory may have been replaced while stale nodes were dropped.
        if (Tree::Directory* synchronised = tree().findChildById(share.shareId))
            synchronised->setSynchronised(true);
    }
    QCL_LOG_DEBUG(L"<<< Synchronised Share " << qcl::string::escaped(share.name, L'"') << L" ("
                                             << share.shareId << L"/" << share.rootId << L")");
}

void CommandProcessor::synchroniseDirectory(const IWayfoldApi::Share& share, Ancestors& ancestors)
{
    std::vector<IWayfoldApi::Asset> children;
    try
    {
        children = mApi.getChildren({share.shareId, ancestors.back().id});
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        QCL_LOG_INFO(L"Folder (" << share.shareId << L"/" << ancestors.back().id << L") cannot be accessed: "
                                 << error.message());
    }
    onServerAvailable();

    for (const IWayfoldApi::Asset& child : children)
    {
        checkInterruption();
        if (child.type == IWayfoldApi::Asset::Folder)
        {
            if (std::any_of(ancestors.begin(), ancestors.end(),
                            [&](const auto& a) { return a.id == child.assetId; }))
            {
                QCL_LOG_ERROR(L"Folder (" << share.shareId << L"/" << child.assetId
                                          << L") is listed among its own ancestors");
                throw StoppedSynchronisation();
            }
            ancestors.push_back({child.assetId, child.name});
            auto pop = qcl::scope::makeGuard([&ancestors] { ancestors.pop_back(); });
            if (straightenAncestors(share, ancestors).retry)
                throw StoppedSynchronisation();
            QCL_LOG_DEBUG(L"Synchronising Folder " << qcl::string::escaped(child.name, L'"') << L" ("
                                                   << share.shareId << L"/" << child.assetId << L")");
            synchroniseDirectory(share, ancestors);
        }
        else if (child.type == IWayfoldApi::Asset::Document)
        {
            QCL_LOG_DEBUG(L"Synchronising Document "
                          << qcl::string::escaped(child.name, L'"') << L" (" << share.shareId << L"/"
                          << child.assetId << L")" << L", Status = " << static_cast<int>(child.status)
                          << L", Content Version Number = " << child.contentVersion);
            IWayfoldApi::AssetProperties document;
            static_cast<IWayfoldApi::Asset&>(document) = child;
            document.ancestors = ancestors;
            if (!synchroniseDocument(share, document))
                throw StoppedSynchronisation();
        }
        // Other kinds are not expected below a folder and are left alone.
    }
}

bool CommandProcessor::synchroniseDocument(const IWayfoldApi::Share& share,
                                           const IWayfoldApi::AssetProperties& asset)
{
    const Straightened place = straightenDocument(share, asset);
    if (place.retry)
        return false;
    if (place.file && place.file->versionNumber() >= asset.contentVersion)
    {
        QCL_LOG_DEBUG(L"Local Document version number " << place.file->versionNumber()
                                                        << L" is the same as version number "
                                                        << asset.contentVersion << L" on server");
        return true;
    }
    return downloadFile(*place.directory, asset, place.file ? place.file->name() : asset.name,
                        asset.contentVersion, place.file);
}

CommandProcessor::Straightened CommandProcessor::straightenAncestors(const IWayfoldApi::Share& share,
                                                                     const Ancestors& ancestors)
{
    Straightened result;
    if (ancestors.empty())
        throw InconsistentServerResponse(qcl::format(
            L"Empty ancestors list when straightening ancestors of an Asset in Share %1%", share.shareId));

    Tree::Directory* directory = tree().findChildById(share.shareId);
    if (!directory)
    {
        directory = createLocalShare(share);
        if (!directory)
        {
            result.retry = true;
            return result;
        }
    }
    if (directory->assetId() != ancestors.front().id)
        throw InconsistentServerResponse(qcl::format(
            L"Root Folder ID %3% returned by server doesn't match root Folder ID %2% of Share %1%",
            share.shareId, directory->assetId(), ancestors.front().id));

    CheckedPaths checked{{&tree(), tree().name()}};
    auto path = checkIfDatabaseMatchesFileSystem(*directory, checked);
    if (!path)
    {
        result.retry = true;
        return result;
    }
    Tree::Directory& shareDirectory = *directory;
    Tree::Directory* current = directory;
    std::wstring currentPath = *path;
    try
    {
        if (!isDirectoryCandidateName(directory->name(), share.name))
        {
            stopScannerBeforeLocalChange();
            const std::wstring newName = moveDirectory(currentPath, tree().name(), share.name);
            if (newName != directory->name())
            {
                const std::wstring newPath = joinPath(tree().name(), newName);
                directory->setName(newName);
                QCL_LOG_DEBUG(L"Renamed Directory '" << qcl::string::escaped(currentPath) << L"' to '"
                                                     << qcl::string::escaped(newPath)
                                                     << L"' in order to match Share " << share.shareId);
                currentPath = newPath;
            }
        }

        for (std::size_t i = 1; i < ancestors.size(); ++i)
        {
            const auto& ancestor = ancestors[i];
            Tree::Node* node = Tree::findNodeById(&shareDirectory, ancestor.id);
            if (!node)
            {
                stopScannerBeforeLocalChange();
                std::wstring name;
                try
                {
                    name = createDirectory(currentPath, ancestor.name);
                }
                catch (const qcl::SystemError& error)
                {
                    QCL_LOG_INFO(error.message());
                    mCallback.onFolderDownloadFailed(ancestor.name, currentPath, error.message());
                    result.retry = true;
                    return result;
                }
                const std::wstring newPath = joinPath(currentPath, name);
                auto remover = qcl::scope::makeGuard([&newPath] { win32::removeDirectory(newPath); });
                auto created = std::make_unique<Tree::Directory>(readFileFacts(newPath).localId, name);
                created->setShareId(share.shareId);
                created->setAssetId(ancestor.id);
                Tree::Node* added = nullptr;
                try
                {
                    added = &addLocalNode(*current, std::move(created));
                }
                catch (const Tree::DuplicatedLocalIdError& error)
                {
                    QCL_LOG_ERROR(L"The newly created directory '"
                                  << qcl::string::escaped(newPath) << L"' which maps to Asset " << ancestor.id
                                  << L" cannot join the tree: " << error.message());
                    result.retry = true;
                    return result;
                }
                remover.dismiss();
                QCL_LOG_INFO(L"Created Directory '" << qcl::string::escaped(newPath) << L"' to match Folder "
                                                    << ancestor.id);
                current = added->asDirectory();
                currentPath = newPath;
                continue;
            }
            Tree::Directory* existing = node->asDirectory();
            if (!existing)
                throw InconsistentServerResponse(
                    qcl::format(L"In Share %1%, the Asset %2% is not a Folder", share.shareId, ancestor.id));
            const auto existingPath = checkIfDatabaseMatchesFileSystem(*existing, checked);
            if (!existingPath)
            {
                result.retry = true;
                return result;
            }
            std::wstring newPath = *existingPath;
            if (!isDirectoryCandidateName(existing->name(), ancestor.name) || existing->parent() != current)
            {
                stopScannerBeforeLocalChange();
                const bool moved = existing->parent() != current;
                try
                {
                    const std::wstring newName = moveDirectory(*existingPath, currentPath, ancestor.name);
                    newPath = joinPath(currentPath, newName);
                    if (moved)
                        existing->moveTo(*current);
                    existing->setName(newName);
                }
                catch (const qcl::SystemError& error)
                {
                    QCL_LOG_INFO(error.message());
                    mCallback.onLocalUpdateBlocked(*existing, shareDirectory, error.message());
                    result.retry = true;
                    return result;
                }
                if (newPath != *existingPath)
                    QCL_LOG_DEBUG((moved ? L"Moved Directory '" : L"Renamed Directory '")
                                  << qcl::string::escaped(*existingPath) << L"' to '"
                                  << qcl::string::escaped(newPath) << L"' in order to match Folder "
                                  << ancestor.id);
                checked.clear();
                checked.emplace(&tree(), tree().name());
            }
            current = existing;
            currentPath = newPath;
        }
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_INFO(error.message());
        mCallback.onLocalUpdateBlocked(*current, shareDirectory, error.message());
        result.retry = true;
        return result;
    }
    result.directory = current;
    return result;
}

CommandProcessor::Straightened CommandProcessor::straightenDocument(const IWayfoldApi::Share& share,
                                                                    const IWayfoldApi::AssetProperties& asset)
{
    Straightened result = straightenAncestors(share, asset.ancestors);
    if (result.retry)
        return result;
    Tree::Directory& shareDirectory = shareOf(*result.directory);
    Tree::Node* node = Tree::findNodeById(&shareDirectory, asset.assetId);
    if (!node)
    {
        QCL_LOG_DEBUG(L"Document " << asset.assetId << L" is NOT known locally.");
        return result;
    }
    Tree::File* file = node->asFile();
    if (!file)
        throw InconsistentServerResponse(
            qcl::format(L"In Share %1%, the Asset %2% is not a Document", share.shareId, asset.assetId));
    const auto path = checkIfDatabaseMatchesFileSystem(*file);
    if (!path)
    {
        result.retry = true;
        return result;
    }
    if (!isFileCandidateName(file->name(), asset.name) || file->parent() != result.directory)
    {
        stopScannerBeforeLocalChange();
        const bool moved = file->parent() != result.directory;
        const std::wstring directoryPath = localPathOf(*result.directory);
        try
        {
            const std::wstring newName = moveFile(*path, directoryPath, asset.name);
            const std::wstring newPath = joinPath(directoryPath, newName);
            if (moved)
                file->moveTo(*result.directory);
            file->setName(newName);
            if (newPath != *path)
                QCL_LOG_DEBUG((moved ? L"Moved File '" : L"Renamed File '")
                              << qcl::string::escaped(*path) << L"' to '" << qcl::string::escaped(newPath)
                              << L"' in order to match Document " << asset.assetId);
        }
        catch (const qcl::SystemError& error)
        {
            QCL_LOG_INFO(error.message());
            mCallback.onLocalUpdateBlocked(*file, shareDirectory, error.message());
            result.retry = true;
            return result;
        }
    }
    result.file = file;
    return result;
}

Tree::Directory* CommandProcessor::createLocalShare(const IWayfoldApi::Share& share)
{
    stopScannerBeforeLocalChange();
    std::wstring path;
    try
    {
        const std::wstring name = createDirectory(tree().name(), share.name);
        path = joinPath(tree().name(), name);
        auto remover = qcl::scope::makeGuard([&path] { win32::removeDirectory(path); });
        auto directory = std::make_unique<Tree::Directory>(readFileFacts(path).localId, name);
        directory->setShareId(share.shareId);
        directory->setAssetId(share.rootId);
        auto& added = static_cast<Tree::Directory&>(addLocalNode(tree(), std::move(directory)));
        remover.dismiss();
        QCL_LOG_INFO(L"Created Directory '" << qcl::string::escaped(path) << L"' to match Share "
                                            << qcl::string::escaped(share.name, L'"') << L" ("
                                            << share.shareId << L")");
        return &added;
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        QCL_LOG_ERROR(L"Cannot create Wayfold duplicate Share " << qcl::string::escaped(share.name, L'"')
                                                                << L" (" << share.shareId << L"): "
                                                                << error.message());
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_WARN(error.message());
    }
    return nullptr;
}

bool CommandProcessor::deleteLocalShare(Tree::Directory& share)
{
    return removeLocalItem(share, share);
}

Tree::Node& CommandProcessor::addLocalNode(Tree::Directory& parent, std::unique_ptr<Tree::Node> node)
{
    const std::uint64_t localId = node->localId();
    std::unique_ptr<Tree::Node> spare = node->clone();
    try
    {
        return parent.addChild(std::move(node));
    }
    catch (const Tree::DuplicatedLocalIdError&)
    {
    }
    // The item just made on disk carries this id, so another node that claims it describes an item that is
    // gone (its id was reused).
    if (!dropStaleNodesOfLocalId(localId))
        throw Tree::DuplicatedLocalIdError(spare.get());
    return parent.addChild(std::move(spare));
}

bool CommandProcessor::downloadFile(Tree::Directory& directory, const IWayfoldApi::Asset& asset,
                                    const std::wstring& name, std::uint64_t versionNumber,
                                    Tree::File* existing)
{
    Tree::Directory& share = shareOf(directory);
    const std::wstring directoryPath = localPathOf(directory);
    try
    {
        qcl::Handle oldFile;
        std::wstring oldPath;
        if (existing)
        {
            oldPath = localPathOf(*existing);
            oldFile = openExisting(oldPath, GENERIC_READ | GENERIC_WRITE, 0);
            const FileFacts facts = readFileFacts(oldFile.get(), oldPath);
            if (facts.localId != existing->localId() || facts.size != existing->size() ||
                facts.lastModificationTime != existing->lastModificationTime())
            {
                // The local file holds an edit that the next snapshot sends; the server keeps its own
                // version. An edit that cannot be sent (the file is too big to upload, or the server
                // refused its upload) must not hold back every later message: the local file stays as it
                // is and the message is passed.
                const bool sendable =
                    facts.localId != existing->localId() ||
                    (!isTooBigToUpload(facts.size) && !mRefusedUploads.contains(existing->assetId()));
                const std::wstring reason = sendable ? L"The local file has changes that are not sent yet"
                                                     : L"The local file has changes that cannot be sent";
                QCL_LOG_INFO(L"Did not download Document "
                             << qcl::string::escaped(name, L'"') << L" (" << asset.shareId << L"/"
                             << asset.assetId << L") over '" << qcl::string::escaped(oldPath) << L"': "
                             << reason);
                mCallback.onLocalUpdateBlocked(*existing, share, reason);
                return !sendable;
            }
        }
        // Only now: a download put off for a local edit must leave the scanner running, or the snapshot
        // that sends the edit (and so unblocks the download) never comes.
        stopScannerBeforeLocalChange();

        // The download has a name of its own, so that one left behind by a killed program is found and
        // replaced, and is never taken for a user's file (see isDownloadFileName).
        const std::wstring downloadPath = joinPath(directoryPath, downloadFileName(asset.assetId));
        std::error_code noRemnant;
        win32::deleteFile(downloadPath, noRemnant);
        qcl::Handle download;
        createUniqueFile(download, directoryPath, downloadFileName(asset.assetId), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_ATTRIBUTE_HIDDEN);
        bool placed = false;
        auto remover = qcl::scope::makeGuard(
            [&]
            {
                download.close();
                if (!placed)
                    win32::deleteFile(downloadPath);
            });

        QCL_LOG_DEBUG(L"Downloading Document " << qcl::string::escaped(name, L'"') << L" (" << asset.shareId
                                               << L"/" << asset.assetId << L")");
        mApi.downloadContent({asset.shareId, asset.assetId}, download.get());
        onServerAvailable();
        qcl::File::flush(download.get());
        // What the tree records is read now: a change made once the file is visible must look like an edit.
        const FileFacts facts = readFileFacts(download.get(), downloadPath);
        download.close();

        // Visible first, then in place: a hidden file at the document's path would look deleted to the
        // scanner, while a visible download file is never uploaded.
        win32::setFileAttributes(downloadPath, FILE_ATTRIBUTE_NORMAL);
        Tree::File* file = nullptr;
        if (existing)
        {
            oldFile.close();
            if (!compat::replaceFile(downloadPath.c_str(), oldPath.c_str()))
                throw qcl::SystemError(qcl::format(L"Cannot move file '%1%' to '%2%'", downloadPath, oldPath),
                                       GetLastError());
            placed = true;
            existing->setLocalId(facts.localId);
            existing->setSize(facts.size);
            existing->setLastModificationTime(facts.lastModificationTime);
            existing->setVersionNumber(versionNumber);
            file = existing;
        }
        else
        {
            const std::wstring localName = moveFile(downloadPath, directoryPath, name);
            placed = true;
            auto created = std::make_unique<Tree::File>(facts.localId, localName, facts.size,
                                                        facts.lastModificationTime);
            created->setShareId(asset.shareId);
            created->setAssetId(asset.assetId);
            created->setVersionNumber(versionNumber);
            file = addLocalNode(directory, std::move(created)).asFile();
        }
        QCL_LOG_INFO(L"Downloaded Document " << qcl::string::escaped(name, L'"') << L" (" << asset.shareId
                                             << L"/" << asset.assetId << L") as '"
                                             << qcl::string::escaped(localPathOf(*file)) << L"'");
        mCallback.onDocumentDownloaded(*file, share);
        return true;
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_INFO(L"Document " << asset.assetId << L" cannot be accessed: " << error.message());
        return true;
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        QCL_LOG_ERROR(L"The newly created file '" << qcl::string::escaped(joinPath(directoryPath, name))
                                                  << L"' which maps to Asset " << asset.assetId
                                                  << L" cannot join the tree: " << error.message());
        return false;
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_INFO(error.message());
        if (existing)
            mCallback.onLocalUpdateBlocked(*existing, share, error.message());
        else
            mCallback.onDocumentDownloadFailed(name, directoryPath, error.message());
        return false;
    }
}
} // namespace dwl
