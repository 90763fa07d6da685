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

// Marks the directories of the snapshot whose local id is in `folders` as not to be compared yet.
void markUnsettled(Tree::Directory& directory, const std::set<std::uint64_t>& folders)
{
    if (folders.contains(directory.localId()))
        directory.setContentUnsettled();
    for (Tree::Node& child : directory.children())
        if (Tree::Directory* folder = child.asDirectory())
            markUnsettled(*folder, folders);
}

std::wstring quoted(const std::wstring& name)
{
    std::wostringstream text;
    text << qcl::string::escaped(name, L'\'');
    return text.str();
}

bool isRefusal(const url::Error& error)
{
    return dynamic_cast<const url::NotFoundOrForbiddenError*>(&error) ||
           dynamic_cast<const url::BadRequestError*>(&error);
}
} // namespace

bool CommandProcessor::processNewSnapShot(std::unique_ptr<Tree::Directory> snapshot)
{
    QCL_LOG_DEBUG(L">>> Processing snapshot");
    mScanNotes.settle(tree(), *snapshot,
                      {[this](const Tree::Node& folder, const Tree::Directory& share, const std::wstring& reason)
                       { mCallback.onItemUnreadable(folder, share, reason); },
                       [this](const Tree::File& name, const Tree::Directory& share, const std::wstring& syncedPath)
                       { mCallback.onOtherName(name, share, syncedPath); }});
    if (!mUnsettledFolders.empty())
        markUnsettled(*snapshot, mUnsettledFolders);
    const std::size_t knownShares = countDirectories(tree());
    if (knownShares != 0 && countDirectories(*snapshot) == 0)
    {
        // An unmounted or replaced folder looks like this; removing every Share on the server would be the
        // worst possible answer to it.
        QCL_LOG_ERROR(L"Ignored a snapshot of '"
                      << qcl::string::escaped(snapshot->name()) << L"' that holds no Share while "
                      << knownShares << L" Shares are known: the folder may be missing or replaced");
        return true;
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
        return true;
    }
    catch (const StoppedTreeDelta&)
    {
        QCL_LOG_DEBUG(L"<<< Stopped processing snapshot because a more recent snapshot is available");
        return false;
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
            determineTreeDelta(*this, tree(), snapshot, mRenewedFolders);
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
    const CreationIntent intent{{}, {}, newShare.name(), true, {}};
    try
    {
        const IdPair ids = createShare(intent);
        onServerAvailable();
        auto share = std::make_unique<Tree::Directory>(newShare.localId(), newShare.name());
        share->setShareId(ids.first);
        share->setAssetId(ids.second);
        // Its content comes from this folder, through the rest of this delta.
        share->setSynchronised(true);
        Tree::Directory* added = nullptr;
        mIntents->endWhenRecorded(intent, [&] { added = &tree().addChild(std::move(share)); });
        return added;
    }
    catch (const url::Error& error)
    {
        if (!isRefusal(error))
            rethrowWithContext(qcl::format(L"Cannot create Share '%1%'", newShare.name()));
        onServerAvailable();
        mIntents->remove(intent);
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
    if (isDownloadFileName(newNode.name()))
    {
        // A file displaced by a download that was not settled yet: it is settled before the next snapshot.
        QCL_LOG_INFO(qcl::format(L"Ignored the rename of '%1%' to a download's name", oldNode.getPath()));
        return;
    }
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
        std::optional<CreationIntent> download;
        const qcl::uint128 folderId = createAsset(intent, newDirectory, download);
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
    qcl::Handle content = openFileForUpload(oldDestination, newFile);
    if (!content)
        return;
    setSynchronising(true);
    Tree::File* file = nullptr;
    const CreationIntent intent{oldShare.shareId(), oldDestination.assetId(), newFile.name(), false, {}};
    std::optional<CreationIntent> download;
    try
    {
        const qcl::uint128 documentId = createAsset(intent, newFile, download);
        onServerAvailable();
        // A download whose record was cut short has the version it brought, unless it was changed since; any
        // other new document has no content on the server until it is uploaded: size and time stay 0 until
        // then, so that a failed upload is tried again by the next snapshot.
        const bool unchanged = download && download->size == newFile.size() &&
                               download->lastModificationTime == newFile.lastModificationTime();
        // Its change time is not known to be the download's (it was settled after a stop): it proves nothing.
        auto created = unchanged ? std::make_unique<Tree::File>(newFile.localId(), newFile.name(), newFile.size(),
                                                                newFile.lastModificationTime())
                                 : std::make_unique<Tree::File>(newFile.localId(), newFile.name(), 0, 0);
        created->setShareId(oldShare.shareId());
        created->setAssetId(documentId);
        if (download)
            created->setVersionNumber(download->versionNumber);
        mIntents->endWhenRecorded(download ? *download : intent,
                                  [&] { file = &oldDestination.addChild(std::move(created)); });
        if (unchanged)
        {
            QCL_LOG_INFO(L"Recorded the download of Asset " << documentId << L" found at '"
                                                            << qcl::string::escaped(newFile.getPath()) << L"'");
            return;
        }
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
        uploadFile(oldShare, oldFile, newFile, openFileForUpload(*oldFile.parent(), newFile));
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

// What a restored or moved folder lacks is forgotten and brought down again: removing it on the server would take it
// from every participant for the sake of an old copy.
void CommandProcessor::onShareNotRestored(Tree::Directory* oldSharePointer)
{
    checkIfMustStopTreeDelta();
    QCL_LOG_WARN(L"The Wayfold folder, restored or moved, lacks the Share " << quoted(oldSharePointer->name())
                                                                            << L" (" << oldSharePointer->shareId()
                                                                            << L"): it is brought down again");
    oldSharePointer->detach();
    setCloudDataSynchronised(false);
}

void CommandProcessor::onNodeNotRestored(Tree::Directory* oldSharePointer, Tree::Node* oldNodePointer)
{
    checkIfMustStopTreeDelta();
    QCL_LOG_WARN(L"The restored or moved folder lacks " << quoted(oldNodePointer->getPath()) << L" "
                                                        << idsOf(*oldNodePointer) << L": it is brought down again");
    oldNodePointer->detach();
    forceShareResynchronisation(*oldSharePointer);
}

// ---- Upload
// ------------------------------------------------------------------------------------------------

qcl::Handle CommandProcessor::openFileForUpload(Tree::Directory& directory, const Tree::File& file)
{
    const std::wstring path = file.getPath();
    try
    {
        qcl::Handle handle = mFolder.openForUpload(directory, file.name());
        mUnreadableReported.erase({file.localId(), path});
        const FileFacts facts = readFileFacts(handle.get(), path);
        if (facts.localId != file.localId())
        {
            QCL_LOG_DEBUG(L"File '" << qcl::string::escaped(path) << L"' has ID "
                                    << Tree::formatLocalId(facts.localId) << L" instead of expected ID "
                                    << Tree::formatLocalId(file.localId()));
            return {};
        }
        if (isTooBigToUpload(facts.size))
        {
            QCL_LOG_TRACE(L"File '" << qcl::string::escaped(path)
                                    << L"' is too big to be uploaded: its size (" << facts.size
                                    << L" bytes) exceeds the maximum uploadable size (" << mMaxUploadSize
                                    << L" bytes)");
            mCallback.onFileTooBig(path, facts.size, mMaxUploadSize);
            return {};
        }
        return handle;
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_DEBUG(error.message());
        return {};
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_WARN(error.message());
        // Tried again with every snapshot that holds it, and so once its mode changes.
        if (error.code().value() == ERROR_ACCESS_DENIED && mUnreadableReported.emplace(file.localId(), path).second)
            mCallback.onItemUnreadable(file, shareOf(directory), error.systemText());
        return {};
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
        QCL_LOG_DEBUG(L"Uploading Wayfold Document '" << qcl::string::escaped(path) << L"' " << idsOf(file)
                                                      << L"...");
        const std::uint64_t version = mApi.uploadContent({share.shareId(), file.assetId()}, handle.get());
        onServerAvailable();
        mRefusedUploads.erase(file.assetId());
        // A file written while it was sent may have gone out half-written: the node keeps its old size and
        // time, so that the next snapshot sends it again. (A save through a new file puts another local id
        // at the path, which the next snapshot sends anyway.)
        if (changeTimeOf(handle.get(), path) != facts.changeTime)
        {
            file.setVersionNumber(version);
            QCL_LOG_INFO(L"File '" << qcl::string::escaped(path)
                                   << L"' changed while it was uploaded: it is uploaded again");
            return;
        }
        file.setContent(facts.size, facts.lastModificationTime, facts.changeTime, version);
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
