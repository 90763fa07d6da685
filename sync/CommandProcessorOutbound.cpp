// Local changes sent to the server: the tree delta's callbacks and the upload of documents.

#include "sync/CommandProcessor.h"

#include "compat/LastError.h"
#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "sync/CommandProcessorFiles.h"

#include <mutex>

namespace dwl
{
using namespace commandprocessor;

namespace
{
std::size_t countDirectories(const Tree::Directory& root)
{
    std::size_t count = 0;
    for (const Tree::Node& child : root.children())
        if (child.asDirectory())
            ++count;
    return count;
}

// "(share/asset)" for log lines.
std::wstring idsOf(const Tree::Node& node)
{
    std::wostringstream text;
    text << L"(" << node.shareId() << L"/" << node.assetId() << L")";
    return text.str();
}

std::wstring quoted(const std::wstring& name)
{
    std::wostringstream text;
    text << qcl::string::escaped(name, L'\'');
    return text.str();
}

// The last change of the file's content or metadata: unlike the modification time, no program can set it
// back.
std::uint64_t changeTimeOf(HANDLE file, const std::wstring& path)
{
    FILE_BASIC_INFO information{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &information, sizeof information))
        throw qcl::SystemError(qcl::format(L"Cannot get information about '%1%'", path), GetLastError());
    return static_cast<std::uint64_t>(information.ChangeTime.QuadPart);
}

bool isRefusal(const url::Error& error)
{
    return dynamic_cast<const url::NotFoundOrForbiddenError*>(&error) ||
           dynamic_cast<const url::BadRequestError*>(&error);
}
} // namespace

void CommandProcessor::processNewSnapShot(std::unique_ptr<Tree::Directory> snapshot)
{
    QCL_LOG_DEBUG(L">>> Processing snapshot");
    const std::size_t knownShares = countDirectories(tree());
    if (knownShares != 0 && countDirectories(*snapshot) == 0)
    {
        // An unmounted or replaced folder looks like this; removing every Share on the server would be the
        // worst possible answer to it.
        QCL_LOG_ERROR(L"Ignored a snapshot of '"
                      << qcl::string::escaped(snapshot->name()) << L"' that holds no Share while "
                      << knownShares << L" Shares are known: the folder may be missing or replaced");
        return;
    }
    try
    {
        bool done = runTreeDelta(*snapshot);
        while (!done)
        {
            checkInterruption();
            waitBeforeRetryingSnapshot();
            done = runTreeDelta(*snapshot);
        }
        QCL_LOG_DEBUG(L"<<< Processed snapshot");
    }
    catch (const StoppedTreeDelta&)
    {
        QCL_LOG_DEBUG(L"<<< Stopped processing snapshot because a more recent snapshot is available");
    }
}

bool CommandProcessor::runTreeDelta(Tree::Directory& snapshot)
{
    // A node left behind by an interrupted change may claim a local id that now belongs to another item; each
    // round drops such nodes, so a few rounds settle it.
    for (int round = 0; round < 8; ++round)
    {
        mServerChildren.clear();
        try
        {
            determineTreeDelta(*this, tree(), snapshot);
            return true;
        }
        catch (const url::Error& error)
        {
            onServerUnavailable(error);
            return false;
        }
        catch (const Tree::DuplicatedLocalIdError& error)
        {
            QCL_LOG_WARN(error.message());
            // The node of the error may be gone with an addition that was undone: the id is read from the
            // text.
            const auto localId = localIdOf(error);
            const bool dropped = localId && dropStaleNodesOfLocalId(*localId);
            if (!dropped)
            {
                QCL_LOG_ERROR(L"Cannot process snapshot: " << error.message());
                return true;
            }
        }
    }
    QCL_LOG_ERROR(L"Cannot process snapshot: local IDs are still duplicated");
    return true;
}

void CommandProcessor::waitBeforeRetryingSnapshot()
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(mSnapshotRetryInterval).count();
    QCL_LOG_DEBUG(L">>> Waiting for " << seconds << L" seconds before retrying processing the snapshot");
    const auto start = Clock::now();
    const auto deadline = start + mSnapshotRetryInterval;
    {
        std::unique_lock lock(mMutex);
        while (!mPendingSnapshot && Clock::now() < deadline)
        {
            checkInterruption();
            mCondition.wait_until(lock, deadline);
        }
        checkInterruption();
    }
    QCL_LOG_DEBUG(L"<<< Woke up after "
                  << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count()
                  << L" seconds to retry processing the snapshot");
}

void CommandProcessor::checkIfMustStopTreeDelta()
{
    checkInterruption();
    std::lock_guard lock(mMutex);
    if (mPendingSnapshot)
        throw StoppedTreeDelta();
}

qcl::uint128 CommandProcessor::createAsset(const CreationIntent& intent)
{
    const IdPair parent{intent.shareId, intent.parentId};
    const auto create = [&]
    {
        mIntents->add(intent);
        return intent.folder ? mApi.createFolder(intent.name, parent) : mApi.createDocument(intent.name, parent);
    };
    const std::vector<CreationIntent> noted = mIntents->inFolder(intent.shareId, intent.parentId);
    const bool sent = std::any_of(noted.begin(), noted.end(), [&](const CreationIntent& kept)
                                  { return kept.assetId.isNil() && kept.sameItem(intent); });
    // An item put in place for a server asset carries the server's name made local.
    const auto placed = std::find_if(noted.begin(), noted.end(),
                                     [&](const CreationIntent& kept)
                                     {
                                         return !kept.assetId.isNil() && kept.folder == intent.folder &&
                                                (intent.folder ? isDirectoryCandidateName(intent.name, kept.name)
                                                               : isFileCandidateName(intent.name, kept.name));
                                     });
    if (!sent && placed == noted.end())
        return create();

    auto children = mServerChildren.find(intent.parentId);
    if (children == mServerChildren.end())
    {
        std::vector<IWayfoldApi::Asset> assets;
        try
        {
            assets = mApi.getChildren(parent);
        }
        catch (const url::NotFoundOrForbiddenError&)
        {
        }
        onServerAvailable();
        children = mServerChildren.emplace(intent.parentId, std::move(assets)).first;
    }
    const auto type = intent.folder ? IWayfoldApi::Asset::Folder : IWayfoldApi::Asset::Document;
    for (const IWayfoldApi::Asset& asset : children->second)
    {
        if (asset.type != type || Tree::findNodeById(&tree(), asset.assetId))
            continue;
        // A document made by a request whose answer was lost has no content yet.
        const bool sentOne = sent && (intent.folder || asset.contentVersion == 0) &&
                             (intent.folder ? directoryCandidateName(asset.name, 1)
                                            : fileCandidateName(asset.name, 1)) == intent.name;
        if (sentOne || (placed != noted.end() && asset.assetId == placed->assetId))
        {
            if (placed != noted.end())
                mIntents->remove(*placed);
            QCL_LOG_INFO(L"Took the existing Asset " << qcl::string::escaped(intent.name, L'\'') << L" ("
                                                     << intent.shareId << L"/" << asset.assetId
                                                     << L") that an earlier run of this Device made");
            return asset.assetId;
        }
    }
    return create();
}

bool CommandProcessor::isBlacklisted(const std::optional<std::wregex>& blacklist,
                                     const std::wstring& name) const
{
    return blacklist && std::regex_match(name, *blacklist);
}

void CommandProcessor::onShareRenamed(Tree::Directory* oldSharePointer, Tree::Directory* newSharePointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::Directory& newShare = *newSharePointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        mApi.renameFolder({oldShare.shareId(), oldShare.assetId()}, newShare.name());
        onServerAvailable();
        oldShare.setName(newShare.name());
    }
    catch (const url::Error& error)
    {
        const bool notFound = dynamic_cast<const url::NotFoundError*>(&error);
        if (!notFound && !isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot rename Share '%1%' (%2%) to '%3%'", oldShare.name(),
                                           oldShare.shareId(), newShare.name()));
        onServerAvailable();
        QCL_LOG_INFO(L"Cannot rename Wayfold Share " << quoted(oldShare.name()) << L" (" << oldShare.shareId()
                                                     << L") to " << quoted(newShare.name()) << L": "
                                                     << error.message());
        // The tree follows the disk, so that messages about this Share pass the consistency check; when the
        // server refused, bringing the Share down puts its server name back.
        oldShare.setName(newShare.name());
        if (!notFound)
            forceShareResynchronisation(oldShare);
    }
}

Tree::Directory* CommandProcessor::onShareAdded(Tree::Directory* newSharePointer)
{
    Tree::Directory& newShare = *newSharePointer;
    checkIfMustStopTreeDelta();
    if (isBlacklisted(mFolderBlacklist, newShare.name()))
    {
        QCL_LOG_INFO(qcl::format(L"Ignored blacklisted directory '%1%'", newShare.getPath()));
        return nullptr;
    }
    setSynchronising(true);
    try
    {
        const IdPair ids = mApi.createShare(newShare.name(), true);
        onServerAvailable();
        auto share = std::make_unique<Tree::Directory>(newShare.localId(), newShare.name());
        share->setShareId(ids.first);
        share->setAssetId(ids.second);
        // Its content comes from this folder, through the rest of this delta.
        share->setSynchronised(true);
        return &tree().addChild(std::move(share));
    }
    catch (const url::Error& error)
    {
        if (!isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot create Share '%1%'", newShare.name()));
        onServerAvailable();
        QCL_LOG_ERROR(qcl::format(L"Cannot create Share %1%: %2%", quoted(newShare.name()), error.message()));
        mCallback.onShareCreationFailed(newShare.getPath(), error.code, error.serverMessage);
        return nullptr;
    }
}

void CommandProcessor::onShareRemoved(Tree::Directory* oldSharePointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        mApi.removeShare(oldShare.shareId());
        onServerAvailable();
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_ERROR(L"Cannot delete Wayfold Share " << quoted(oldShare.name()) << L" ("
                                                      << oldShare.shareId() << L"): " << error.message());
    }
    catch (...)
    {
        rethrowWithContext(
            qcl::format(L"Cannot delete Share '%1%' (%2%)", oldShare.name(), oldShare.shareId()));
    }
    oldShare.detach();
}

void CommandProcessor::onNodeRenamed(Tree::Directory* oldSharePointer, Tree::Node* oldNodePointer,
                                     Tree::Node* newNodePointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::Node& oldNode = *oldNodePointer;
    Tree::Node& newNode = *newNodePointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        if (oldNode.asDirectory())
            mApi.renameFolder({oldShare.shareId(), oldNode.assetId()}, newNode.name());
        else
            mApi.renameDocument({oldShare.shareId(), oldNode.assetId()}, newNode.name());
        onServerAvailable();
        oldNode.setName(newNode.name());
    }
    catch (const url::Error& error)
    {
        const bool notFound = dynamic_cast<const url::NotFoundError*>(&error);
        if (!notFound && !isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot rename Asset '%1%' %2% to '%3%'", oldNode.name(),
                                           idsOf(oldNode), newNode.name()));
        onServerAvailable();
        QCL_LOG_INFO(L"Cannot rename Asset " << quoted(oldNode.name()) << L" " << idsOf(oldNode) << L" to "
                                             << quoted(newNode.name()) << L": " << error.message());
        oldNode.setName(newNode.name());
        if (!notFound)
            forceShareResynchronisation(oldShare);
    }
}

void CommandProcessor::onNodeMoved(Tree::Directory* oldSharePointer, Tree::Node* oldNodePointer,
                                   Tree::Node* /*newNode*/, Tree::Directory* oldDestinationPointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::Node& oldNode = *oldNodePointer;
    Tree::Directory& oldDestination = *oldDestinationPointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        mApi.moveAsset({oldShare.shareId(), oldNode.assetId()}, oldDestination.assetId());
        onServerAvailable();
        oldNode.moveTo(oldDestination);
    }
    catch (url::Error& error)
    {
        error.prependMessage(
            qcl::format(L"Cannot move Asset '%1%' %2% from Folder '%3%' (%4%) to Folder '%5%' (%6%)",
                        oldNode.name(), idsOf(oldNode), oldNode.parent()->name(), oldNode.parent()->assetId(),
                        oldDestination.name(), oldDestination.assetId()));
        QCL_LOG_INFO(error.message());
        if (!isRefusal(error))
            throw;
        onServerAvailable();
        oldNode.moveTo(oldDestination);
        forceShareResynchronisation(oldShare);
    }
    catch (...)
    {
        rethrowWithContext(qcl::format(L"Cannot move Asset '%1%' %2% to Folder '%3%'", oldNode.name(),
                                       idsOf(oldNode), oldDestination.name()));
    }
}

Tree::Directory* CommandProcessor::onDirectoryAdded(Tree::Directory* oldSharePointer,
                                                    Tree::Directory* newDirectoryPointer,
                                                    Tree::Directory* oldDestinationPointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::Directory& newDirectory = *newDirectoryPointer;
    Tree::Directory& oldDestination = *oldDestinationPointer;
    checkIfMustStopTreeDelta();
    if (isBlacklisted(mFolderBlacklist, newDirectory.name()))
    {
        QCL_LOG_INFO(qcl::format(L"Ignored blacklisted directory '%1%'", newDirectory.getPath()));
        return nullptr;
    }
    setSynchronising(true);
    const CreationIntent intent{oldShare.shareId(), oldDestination.assetId(), newDirectory.name(), true, {}};
    try
    {
        const qcl::uint128 folderId = createAsset(intent);
        onServerAvailable();
        auto directory = std::make_unique<Tree::Directory>(newDirectory.localId(), newDirectory.name());
        directory->setShareId(oldShare.shareId());
        directory->setAssetId(folderId);
        directory->setSynchronised(true);
        Tree::Directory* added = nullptr;
        mIntents->endWhenRecorded(intent, [&] { added = &oldDestination.addChild(std::move(directory)); });
        return added;
    }
    catch (const url::Error& error)
    {
        QCL_LOG_ERROR(qcl::format(L"Cannot create Folder %1% in Folder %2% %3%: %4%",
                                  quoted(newDirectory.name()), quoted(oldDestination.name()),
                                  idsOf(oldDestination), error.message()));
        if (!isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot create Folder '%1%' in Folder '%2%' %3%",
                                           newDirectory.name(), oldDestination.name(),
                                           idsOf(oldDestination)));
        onServerAvailable();
        mIntents->remove(intent);
        mCallback.onFolderCreationFailed(newDirectory.getPath(), oldShare, error.code, error.serverMessage);
        return nullptr;
    }
}

void CommandProcessor::onFileAdded(Tree::Directory* oldSharePointer, Tree::File* newFilePointer,
                                   Tree::Directory* oldDestinationPointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::File& newFile = *newFilePointer;
    Tree::Directory& oldDestination = *oldDestinationPointer;
    checkIfMustStopTreeDelta();
    if (isBlacklisted(mDocumentBlacklist, newFile.name()))
    {
        QCL_LOG_INFO(qcl::format(L"Ignored blacklisted file '%1%'", newFile.getPath()));
        return;
    }
    if (isDownloadFileName(newFile.name()))
    {
        QCL_LOG_DEBUG(
            qcl::format(L"Ignored the download left by an interrupted run '%1%'", newFile.getPath()));
        return;
    }
    qcl::Handle content(openFileForUpload(newFile));
    if (!content)
        return;
    setSynchronising(true);
    Tree::File* file = nullptr;
    const CreationIntent intent{oldShare.shareId(), oldDestination.assetId(), newFile.name(), false, {}};
    try
    {
        const qcl::uint128 documentId = createAsset(intent);
        onServerAvailable();
        // Size and time stay 0 until the content is on the server, so that a failed upload is tried again by
        // the next snapshot.
        auto created = std::make_unique<Tree::File>(newFile.localId(), newFile.name(), 0, 0);
        created->setShareId(oldShare.shareId());
        created->setAssetId(documentId);
        mIntents->endWhenRecorded(intent, [&] { file = &oldDestination.addChild(std::move(created)); });
    }
    catch (const url::Error& error)
    {
        QCL_LOG_ERROR(qcl::format(L"Cannot create Document %1% in Folder %2% %3%: %4%",
                                  quoted(newFile.name()), quoted(oldDestination.name()),
                                  idsOf(oldDestination), error.message()));
        if (!isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot create Document '%1%' in Folder '%2%' %3%",
                                           newFile.name(), oldDestination.name(), idsOf(oldDestination)));
        onServerAvailable();
        mIntents->remove(intent);
        mCallback.onDocumentCreationFailed(newFile.getPath(), oldShare, error.code, error.serverMessage);
        return;
    }
    try
    {
        uploadFile(oldShare, *file, newFile, std::move(content));
    }
    catch (...)
    {
        rethrowWithContext(
            qcl::format(L"Cannot upload contents to Document '%1%' (%2%)", file->name(), file->assetId()));
    }
}

void CommandProcessor::onFileModified(Tree::Directory* oldSharePointer, Tree::File* oldFilePointer,
                                      Tree::File* newFilePointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::File& oldFile = *oldFilePointer;
    Tree::File& newFile = *newFilePointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        uploadFile(oldShare, oldFile, newFile, qcl::Handle(openFileForUpload(newFile)));
    }
    catch (...)
    {
        rethrowWithContext(qcl::format(L"Cannot upload contents to Document '%1%' (%2%)", oldFile.name(),
                                       oldFile.assetId()));
    }
}

void CommandProcessor::onNodeRemoved(Tree::Directory* oldSharePointer, Tree::Node* oldNodePointer)
{
    Tree::Directory& oldShare = *oldSharePointer;
    Tree::Node& oldNode = *oldNodePointer;
    checkIfMustStopTreeDelta();
    setSynchronising(true);
    try
    {
        mApi.removeAsset({oldShare.shareId(), oldNode.assetId()});
        onServerAvailable();
    }
    catch (const url::Error& error)
    {
        const bool notFound = dynamic_cast<const url::NotFoundError*>(&error);
        if (!notFound && !isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot delete Asset '%1%' %2%", oldNode.name(), idsOf(oldNode)));
        onServerAvailable();
        QCL_LOG_INFO(L"Cannot delete Asset " << quoted(oldNode.name()) << L" " << idsOf(oldNode) << L": "
                                             << error.message());
        // The item is gone from the disk either way; a refused deletion is undone by bringing the Share down.
        if (!notFound)
            forceShareResynchronisation(oldShare);
    }
    oldNode.detach();
}

// ---- Upload
// ------------------------------------------------------------------------------------------------

HANDLE CommandProcessor::openFileForUpload(const Tree::File& file)
{
    const std::wstring path = file.getPath();
    try
    {
        qcl::Handle handle = openExisting(path, GENERIC_READ, FILE_SHARE_READ);
        const FileFacts facts = readFileFacts(handle.get(), path);
        if (facts.localId != file.localId())
        {
            QCL_LOG_DEBUG(L"File '" << qcl::string::escaped(path) << L"' has ID "
                                    << Tree::formatLocalId(facts.localId) << L" instead of expected ID "
                                    << Tree::formatLocalId(file.localId()));
            return INVALID_HANDLE_VALUE;
        }
        if (isTooBigToUpload(facts.size))
        {
            QCL_LOG_TRACE(L"File '" << qcl::string::escaped(path)
                                    << L"' is too big to be uploaded: its size (" << facts.size
                                    << L" bytes) exceeds the maximum uploadable size (" << mMaxUploadSize
                                    << L" bytes)");
            mCallback.onFileTooBig(path, facts.size, mMaxUploadSize);
            return INVALID_HANDLE_VALUE;
        }
        return handle.release();
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_WARN(error.message());
        return INVALID_HANDLE_VALUE;
    }
}

bool CommandProcessor::isTooBigToUpload(std::uint64_t size) const
{
    return mMaxUploadSize != 0 && size > mMaxUploadSize;
}

void CommandProcessor::uploadFile(Tree::Directory& share, Tree::File& file, const Tree::File& snapshotFile,
                                  qcl::Handle handle)
{
    if (!handle)
        return;
    const std::wstring path = snapshotFile.getPath();
    auto report = [&](const std::exception& error)
    {
        return qcl::format(L"Cannot upload Document %1% %2% in Share %3%: %4%", quoted(file.name()),
                           idsOf(file), quoted(share.name()), reasonOf(error));
    };
    try
    {
        const FileFacts facts = readFileFacts(handle.get(), path);
        const std::uint64_t changeTime = changeTimeOf(handle.get(), path);
        QCL_LOG_DEBUG(L"Uploading Wayfold Document '" << qcl::string::escaped(path) << L"' " << idsOf(file)
                                                      << L"...");
        const std::uint64_t version = mApi.uploadContent({share.shareId(), file.assetId()}, handle.get());
        onServerAvailable();
        mRefusedUploads.erase(file.assetId());
        // A file written while it was sent may have gone out half-written: the node keeps its old size and
        // time, so that the next snapshot sends it again. (A save through a new file puts another local id
        // at the path, which the next snapshot sends anyway.)
        if (changeTimeOf(handle.get(), path) != changeTime)
        {
            file.setVersionNumber(version);
            QCL_LOG_INFO(L"File '" << qcl::string::escaped(path)
                                   << L"' changed while it was uploaded: it is uploaded again");
            return;
        }
        file.setContent(facts.size, facts.lastModificationTime, version);
        mCallback.onDocumentUploaded(file, share);
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_WARN(report(error));
        mRefusedUploads.insert(file.assetId());
        mCallback.onDocumentUploadFailed(file, share, error.code, error.serverMessage);
    }
    catch (const url::FileTooBig& error)
    {
        QCL_LOG_ERROR(report(error));
        mRefusedUploads.insert(file.assetId());
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_ERROR(report(error));
    }
}
} // namespace dwl
