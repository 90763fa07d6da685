// Items this Device makes, matched with what the disk and the server hold when their record was cut short: a
// download put in place (or not) when the program stopped, a creation whose answer never arrived.

#include "sync/CommandProcessor.h"

#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/LocalFileOperations.h"
#include "qcl/Log.h"
#include "sync/CommandProcessorFiles.h"

#include <algorithm>

namespace dwl
{
using namespace commandprocessor;

namespace
{
// The status that the file of a download had when its intent was noted.
compat::at::ItemStatus downloadStatus(const CreationIntent& intent)
{
    compat::at::ItemStatus status;
    status.fileIndex = intent.localId;
    status.size = intent.size;
    status.lastWriteTime = intent.lastModificationTime;
    return status;
}
} // namespace

void CommandProcessor::settleDownloads()
{
    mUnsettledFolders.clear();
    const std::vector<CreationIntent> downloads = mIntents->downloads();
    // A download not settled yet is tried again at the next cycle; nothing of the user's was touched. Meanwhile
    // no snapshot compares what its folder holds (its move or rename is still taken, so that it can be found).
    const auto postpone = [&](const CreationIntent& intent)
    {
        if (const Tree::Directory* folder = folderOfAsset(tree(), intent.shareId, intent.parentId))
            mUnsettledFolders.insert(folder->localId());
    };
    const bool open = mFolder.isOpen() || openFolder();
    for (const CreationIntent& intent : downloads)
    {
        if (!open)
        {
            postpone(intent);
            continue;
        }
        try
        {
            settleDownload(intent);
        }
        catch (const qcl::basic_runtime_error<wchar_t>& error)
        {
            QCL_LOG_WARN(L"Cannot settle the download of Asset " << intent.assetId << L": " << error.message());
            postpone(intent);
        }
    }
    mSettlementDue = !open || !mUnsettledFolders.empty();
}

// Settled by the files' own identities, wherever the user put them while the program was stopped: the
// download's (the intent's id, size and time) and the one it displaced (the id, size and time the tree still
// records). The download is put in place when it took the document's name (and so displaced the recorded file)
// or the recorded file is no longer at that name; the tree then records the download, which the next snapshot
// finds wherever it is (a file of its id under another name is the document renamed). Nothing of the user's is
// removed: the displaced file goes to the trash, or, holding a save the server has not seen, stays.
void CommandProcessor::settleDownload(const CreationIntent& intent)
{
    Tree::Directory* directory = folderOfAsset(tree(), intent.shareId, intent.parentId);
    if (!directory)
    {
        // Its folder left the tree; a file left there is reported by the next snapshot like any other.
        mIntents->remove(intent);
        return;
    }
    const std::wstring downloadName = downloadFileName(intent.assetId);
    const auto left = mFolder.statusOf(*directory, downloadName);
    Tree::Node* node = Tree::findNodeById(&shareOf(*directory), intent.assetId);
    Tree::File* file = node ? node->asFile() : nullptr;
    const compat::at::ItemStatus own = downloadStatus(intent);
    const auto keepBeside = [&](const std::wstring& wantedName)
    {
        const std::wstring aside = mFolder.moveAside(*directory, downloadName, wantedName);
        QCL_LOG_WARN(L"Kept the file found under the name of the download of Asset "
                     << intent.assetId << L" as " << qcl::string::escaped(aside, L'\''));
    };
    const auto removeLeftDownload = [&](const std::wstring& wantedName)
    {
        if (left && !mFolder.removeFileIfSame(*directory, downloadName, own))
            keepBeside(wantedName);
        mIntents->remove(intent);
    };

    if (!file)
    {
        // A new document: a download left unplaced goes; a placed one is taken with its version when the next
        // snapshot reports it (see createAsset).
        if (left)
            removeLeftDownload(intent.name);
        return;
    }
    if (file->parent() != directory)
    {
        // The document is elsewhere: a download placed here is a file of its own.
        removeLeftDownload(file->name());
        return;
    }

    const bool downloadLeft = left && left->fileIndex == intent.localId;
    const bool displacedLeft = left && left->fileIndex == file->localId();
    const auto atName = mFolder.statusOf(*directory, file->name());
    const bool downloadAtName = atName && atName->fileIndex == intent.localId;
    if (downloadLeft || (!displacedLeft && atName && atName->fileIndex == file->localId()))
    {
        // Never put in place (or put back): the recorded file is the document's.
        removeLeftDownload(file->name());
        return;
    }
    if (displacedLeft && !LocalFolder::hasRecordedContent(*left, *file))
    {
        // The file displaced held a save the server has not seen: it stays the document's, and the next
        // snapshot sends it.
        if (downloadAtName)
        {
            mFolder.exchange(*directory, downloadName, file->name());
            QCL_LOG_INFO(L"Put the file '" << qcl::string::escaped(file->getPath())
                                           << L"' back in place of an unrecorded download: it had changed");
            if (!mFolder.removeFileIfSame(*directory, downloadName, own))
                keepBeside(file->name());
            mIntents->remove(intent);
            return;
        }
        // Its name holds another save now, or nothing: the save is kept beside, a document of its own.
        keepBeside(file->name());
    }
    else if (displacedLeft)
    {
        // Proven the recorded version by its id, size and time only (the swap moved its change time).
        mFolder.trashDisplaced(*directory, downloadName, *file);
    }
    // The tree takes the download as it was written: an edit made to it since is then sent as one. Its change
    // time is not known to be the download's, so it proves nothing.
    QCL_LOG_INFO(L"Recorded the download of Asset " << intent.assetId << L" put in place of '"
                                                    << qcl::string::escaped(file->getPath()) << L"'");
    mIntents->endWhenRecorded(intent,
                              [&]
                              {
                                  file->setLocalId(intent.localId);
                                  file->setContent(intent.size, intent.lastModificationTime, 0,
                                                   intent.versionNumber);
                              });
}

Tree::File* CommandProcessor::adoptPlacedDownload(Tree::Directory& directory, const IWayfoldApi::Asset& asset)
{
    const std::vector<CreationIntent> noted = mIntents->inFolder(asset.shareId, directory.assetId());
    const auto own = std::find_if(noted.begin(), noted.end(), [&](const CreationIntent& kept)
                                  { return kept.isDownload() && kept.assetId == asset.assetId; });
    if (own == noted.end())
        return nullptr;
    // It was put under the first free form of its name.
    for (std::uint64_t attempt = 1; attempt <= maxCollisionAttempts; ++attempt)
    {
        const std::wstring name = fileCandidateName(own->name, attempt);
        const auto status = mFolder.statusOf(directory, name);
        if (!status)
            break;
        if (status->isDirectory || status->fileIndex != own->localId)
            continue;
        // An edit made to it since is then sent as one; its change time proves nothing.
        auto file = std::make_unique<Tree::File>(own->localId, name, own->size, own->lastModificationTime);
        file->setShareId(asset.shareId);
        file->setAssetId(asset.assetId);
        file->setVersionNumber(own->versionNumber);
        Tree::File* adopted = nullptr;
        mIntents->endWhenRecorded(*own, [&] { adopted = addLocalNode(directory, std::move(file)).asFile(); });
        QCL_LOG_INFO(L"Recorded the download of Asset " << asset.assetId << L" found at '"
                                                        << qcl::string::escaped(adopted->getPath()) << L"'");
        return adopted;
    }
    return nullptr;
}

qcl::uint128 CommandProcessor::createAsset(const CreationIntent& intent, const Tree::Node& local,
                                           std::optional<CreationIntent>& download)
{
    const IdPair parent{intent.shareId, intent.parentId};
    const auto create = [&]
    {
        mIntents->add(intent);
        return intent.folder ? mApi.createFolder(intent.name, parent) : mApi.createDocument(intent.name, parent);
    };
    const std::vector<CreationIntent> noted = mIntents->inFolder(intent.shareId, intent.parentId);
    // A download of this engine whose record was cut short: the file is the document's own, unless a node
    // describes the document already (the file is then a copy of its own).
    if (!intent.folder)
        if (const auto own = std::find_if(noted.begin(), noted.end(), [&](const CreationIntent& kept)
                                          { return kept.isDownload() && kept.localId == local.localId(); });
            own != noted.end())
        {
            if (!Tree::findNodeById(&tree(), own->assetId))
            {
                download = *own;
                return own->assetId;
            }
            mIntents->remove(*own);
        }
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

    const auto type = intent.folder ? IWayfoldApi::Asset::Folder : IWayfoldApi::Asset::Document;
    for (const IWayfoldApi::Asset& asset : serverChildren(parent))
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
                                                     << L") that an earlier request of this Device made");
            return asset.assetId;
        }
    }
    return create();
}

const std::vector<IWayfoldApi::Asset>& CommandProcessor::serverChildren(const IdPair& folder)
{
    auto children = mServerChildren.find(folder.second);
    if (children == mServerChildren.end())
    {
        std::vector<IWayfoldApi::Asset> assets;
        try
        {
            assets = mApi.getChildren(folder);
        }
        catch (const url::NotFoundOrForbiddenError&)
        {
        }
        onServerAvailable();
        children = mServerChildren.emplace(folder.second, std::move(assets)).first;
    }
    return children->second;
}

IdPair CommandProcessor::createShare(const CreationIntent& intent)
{
    const std::vector<CreationIntent> noted = mIntents->inFolder({}, {});
    const bool sent = std::any_of(noted.begin(), noted.end(), [&](const CreationIntent& kept)
                                  { return kept.assetId.isNil() && kept.sameItem(intent); });
    // A local folder this engine made for a server Share, left unrecorded.
    const auto placed = std::find_if(noted.begin(), noted.end(), [&](const CreationIntent& kept)
                                     { return !kept.assetId.isNil() && isDirectoryCandidateName(intent.name, kept.name); });
    if (sent || placed != noted.end())
    {
        const std::vector<IWayfoldApi::Share> shares = mApi.getShares();
        onServerAvailable();
        for (const IWayfoldApi::Share& share : shares)
        {
            if (tree().findChildById(share.shareId))
                continue;
            const bool isPlaced = placed != noted.end() && share.rootId == placed->assetId;
            // A Share made by a request whose answer was lost holds nothing yet.
            const bool isSent = sent && directoryCandidateName(share.name, 1) == intent.name &&
                                serverChildren({share.shareId, share.rootId}).empty();
            if (isPlaced || isSent)
            {
                if (placed != noted.end())
                    mIntents->remove(*placed);
                QCL_LOG_INFO(L"Took the existing Share " << qcl::string::escaped(intent.name, L'\'') << L" ("
                                                         << share.shareId
                                                         << L") that an earlier request of this Device made");
                return {share.shareId, share.rootId};
            }
        }
    }
    mIntents->add(intent);
    return mApi.createShare(intent.name, true);
}
} // namespace dwl
