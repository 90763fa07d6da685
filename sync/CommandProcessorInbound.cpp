// Server messages and the down-synchronisation of Shares: the server's changes brought into the folder.

#include "sync/CommandProcessor.h"

#include "compat/FileApi.h"
#include "qcl/File.h"
#include "qcl/Format.h"
#include "qcl/LocalFileNames.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/Database.h"
#include "sync/LocalFolder.h"

#include <algorithm>
#include <functional>

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
    const auto endListing = qcl::scope::makeGuard([this] { tellLeftOutSummary(); });
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
            mCurrentWork = message->number;
            mLastLocalFailure.clear();
            const bool processed = processServerMessage(*message);
            revisitVacatedNames();
            if (processed)
                clearLocalFailures(message->number);
            else if (!mustPassAfterLocalFailure(message->number))
            {
                QCL_LOG_TRACE(L"Cannot process server message #" << message->number);
                return;
            }
            else
            {
                // The item is tried again by the down-synchronisation of its Share, which holds nothing back.
                QCL_LOG_WARN(L"Passed server message #"
                             << message->number << L", which could not be applied in " << kLocalFailureCycles
                             << L" cycles in a row" << lastFailureText());
                if (Tree::Directory* share = tree().findChildById(message->shareId))
                    forceShareResynchronisation(*share);
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
    if (!share->problem.empty())
    {
        leaveOut(share->shareId, true, share->name, tree().getPath(), std::wstring(share->problem));
        return true;
    }
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
    if (!share->problem.empty())
    {
        leaveOut(share->shareId, true, share->name, tree().getPath(), std::wstring(share->problem));
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
    if (folder && !folder->problem.empty())
        leaveOut(*folder, placeOfShare(message.shareId));
    if (!folder || !folder->problem.empty() || folder->type != IWayfoldApi::Asset::Folder)
        return true;
    const IWayfoldApi::Share share = shareOfAncestors(message.shareId, *folder);
    Ancestors ancestors = folder->ancestors;
    ancestors.push_back({folder->assetId, folder->name});
    return !straightenAncestors(share, ancestors).retry;
}

bool CommandProcessor::processDocumentUpdatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    const auto document = getAssetProperties(message.shareId, message.assetId);
    if (document && !document->problem.empty())
        leaveOut(*document, placeOfShare(message.shareId));
    if (!document || !document->problem.empty() || document->type != IWayfoldApi::Asset::Document)
        return true;
    return !straightenDocument(shareOfAncestors(message.shareId, *document), *document).retry;
}

bool CommandProcessor::processVersionCreatedServerMessage(const IWayfoldApi::ServerMessage& message)
{
    const auto document = getAssetProperties(message.shareId, message.assetId);
    if (document && !document->problem.empty())
        leaveOut(*document, placeOfShare(message.shareId));
    if (!document || !document->problem.empty() || document->type != IWayfoldApi::Asset::Document)
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
    if (!matchesDisk(node))
        return false;
    const qcl::uint128 assetId = node.assetId();
    const Vacated place{share.shareId(), node.parent()->assetId(), node.name()};
    try
    {
        // What the server has not seen stays; the next snapshot sends it as new.
        mFolder.trash(node);
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_INFO(error.message());
        noteLocalFailure(error.message());
        // Tried again by the server message, then by each down-synchronisation: told once.
        if (mRemovalsFailing.insert(assetId).second)
            mCallback.onLocalRemovalFailed(node, share, error.message());
        return false;
    }
    mRemovalsFailing.erase(assetId);
    const bool isShare = &node == &share;
    node.detach();
    // A sibling may wait under a " (n)" form of the name.
    if (!isShare)
        mVacated.push_back(place);
    return true;
}

void CommandProcessor::leaveOut(const qcl::uint128& id, bool folder, const std::wstring& name,
                                const std::wstring& where, const std::wstring& problem)
{
    if (mLeftOut.contains(id))
        return;
    // Beyond the bound an item may be told again, in a later listing; memory does not grow with what a server
    // sends.
    if (mLeftOut.size() < kLeftOutRemembered)
        mLeftOut.insert(id);
    const std::wstring shown = name.empty() ? id.wstr() : name;
    if (mLeftOutTold >= kLeftOutToldEachListing)
    {
        if (mLeftOutUntold++ == 0)
            mLeftOutWhere = where;
        QCL_LOG_DEBUG(L"Left out " << (folder ? L"Folder " : L"Document ")
                                   << qcl::string::escaped(shown, L'"') << L" (" << id << L") of the server: "
                                   << problem);
        return;
    }
    ++mLeftOutTold;
    QCL_LOG_WARN(L"Left out " << (folder ? L"Folder " : L"Document ") << qcl::string::escaped(shown, L'"') << L" ("
                              << id << L") of the server: " << problem);
    if (folder)
        mCallback.onFolderDownloadFailed(shown, where, problem);
    else
        mCallback.onDocumentDownloadFailed(shown, where, problem);
}

void CommandProcessor::tellLeftOutSummary()
{
    mLeftOutTold = 0;
    const std::size_t untold = std::exchange(mLeftOutUntold, 0);
    if (untold == 0)
        return;
    QCL_LOG_WARN(L"Left out " << untold << L" more items of the server that cannot be synchronised here");
    mCallback.onDocumentDownloadFailed(qcl::format(L"%1% more items", untold), mLeftOutWhere,
                                       L"They cannot be synchronised here.");
}

void CommandProcessor::leaveOut(const IWayfoldApi::Asset& asset, const std::wstring& where)
{
    leaveOut(asset.assetId, asset.type == IWayfoldApi::Asset::Folder, asset.name, where, std::wstring(asset.problem));
}

std::wstring CommandProcessor::placeOfShare(const qcl::uint128& shareId)
{
    const Tree::Directory* share = tree().findChildById(shareId);
    return share ? share->getPath() : tree().getPath();
}

// ---- Down-synchronisation
// -----------------------------------------------------------------------------------

bool CommandProcessor::synchroniseCloudData()
{
    if (tree().isSynchronised())
        return true;
    const auto endListing = qcl::scope::makeGuard([this] { tellLeftOutSummary(); });
    try
    {
        QCL_LOG_DEBUG(L">>> Down-synchronising Shares");
        QCL_LOG_TRACE(L"Getting the list of Shares to downsync'...");
        setSynchronising(true);
        const std::vector<IWayfoldApi::Share> shares = mApi.getShares();
        onServerAvailable();

        mCurrentWork = kDownSynchronisation;
        mLastLocalFailure.clear();
        bool synchronised = removeUnlistedShares(shares);
        for (const IWayfoldApi::Share& share : shares)
        {
            if (!share.problem.empty())
            {
                // A recorded Share whose name became unusable stays as it is.
                leaveOut(share.shareId, true, share.name, tree().getPath(), std::wstring(share.problem));
                if (Tree::Directory* known = tree().findChildById(share.shareId))
                    known->setSynchronised(true);
                continue;
            }
            try
            {
                synchroniseShare(share);
            }
            catch (const StoppedSynchronisation&)
            {
                synchronised = false;
            }
        }
        if (synchronised)
        {
            clearLocalFailures(kDownSynchronisation);
            mPasses = 0;
        }
        else if (mustPassAfterLocalFailure(kDownSynchronisation))
        {
            // The Shares that stopped keep their flags clear and are brought down again after a pause.
            QCL_LOG_WARN(L"Passed the down-synchronisation, which could not be completed in "
                         << kLocalFailureCycles << L" cycles in a row" << lastFailureText());
            schedulePassedRetry();
            synchronised = true;
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

bool CommandProcessor::removeUnlistedShares(const std::vector<IWayfoldApi::Share>& listed)
{
    std::vector<qcl::uint128> unlisted;
    for (const Tree::Node& child : tree().children())
        if (child.asDirectory() && std::none_of(listed.begin(), listed.end(), [&](const IWayfoldApi::Share& share)
                                                { return share.shareId == child.shareId(); }))
            unlisted.push_back(child.shareId());
    bool done = true;
    for (const qcl::uint128& shareId : unlisted)
    {
        checkInterruption();
        Tree::Directory* share = tree().findChildById(shareId);
        if (!share)
            continue;
        if (getShareProperties(shareId))
        {
            // Open to the user after all: the list was behind. Its messages bring it in line.
            share->setSynchronised(true);
            continue;
        }
        QCL_LOG_INFO(L"Share " << shareId << L" is no longer open to the user: removing '"
                               << qcl::string::escaped(share->getPath()) << L"'");
        if (!deleteLocalShare(*share))
            done = false;
    }
    return done;
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
        // An item that cannot be brought down now is passed; the others still come, and the Share stays to be
        // brought down again.
        mItemsPassed = 0;
        ShareListing listing;
        listing.listed.insert(share.rootId);
        synchroniseDirectory(share, ancestors, listing);
        removeUnlistedItems(share.shareId, listing);
        revisitVacatedNames();
        if (mItemsPassed != 0)
            throw StoppedSynchronisation();
        // Found again: the directory may have been replaced while stale nodes were dropped.
        if (Tree::Directory* synchronised = tree().findChildById(share.shareId))
            synchronised->setSynchronised(true);
    }
    QCL_LOG_DEBUG(L"<<< Synchronised Share " << qcl::string::escaped(share.name, L'"') << L" ("
                                             << share.shareId << L"/" << share.rootId << L")");
}

void CommandProcessor::synchroniseDirectory(const IWayfoldApi::Share& share, Ancestors& ancestors,
                                            ShareListing& listing)
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
        listing.unread.insert(ancestors.back().id);
    }
    onServerAvailable();
    for (const IWayfoldApi::Asset& child : children)
        listing.listed.insert(child.assetId);

    for (const IWayfoldApi::Asset& child : children)
    {
        checkInterruption();
        if (!child.problem.empty())
        {
            const Tree::Directory* here = folderOfAsset(tree(), share.shareId, ancestors.back().id);
            leaveOut(child, here ? here->getPath() : placeOfShare(share.shareId));
            listing.unread.insert(child.assetId);
            continue;
        }
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
            {
                ++mItemsPassed;
                listing.unread.insert(child.assetId);
                continue;
            }
            QCL_LOG_DEBUG(L"Synchronising Folder " << qcl::string::escaped(child.name, L'"') << L" ("
                                                   << share.shareId << L"/" << child.assetId << L")");
            synchroniseDirectory(share, ancestors, listing);
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
                ++mItemsPassed;
        }
        // Other kinds are not expected below a folder and are left alone.
    }
}

void CommandProcessor::removeUnlistedItems(const qcl::uint128& shareId, const ShareListing& listing)
{
    Tree::Directory* share = tree().findChildById(shareId);
    if (!share)
        return;
    std::vector<qcl::uint128> unlisted;
    std::function<void(const Tree::Directory&)> collect = [&](const Tree::Directory& directory)
    {
        for (const Tree::Node& child : directory.children())
        {
            if (child.assetId().isNil())
                continue; // never on the server
            const Tree::Directory* folder = child.asDirectory();
            if (!listing.listed.count(child.assetId()))
                unlisted.push_back(child.assetId());
            else if (folder && !listing.unread.count(child.assetId()))
                collect(*folder);
        }
    };
    collect(*share);
    for (const qcl::uint128& assetId : unlisted)
    {
        checkInterruption();
        // Found again: a removal before may have dropped nodes.
        Tree::Node* node = Tree::findNodeById(share, assetId);
        if (!node)
            continue;
        // Moved between the listings of two folders, it is in neither; its message brings it in line.
        if (getAssetProperties(shareId, assetId))
            continue;
        QCL_LOG_INFO(L"Asset (" << shareId << L"/" << assetId << L") is no longer on the server: removing '"
                                << qcl::string::escaped(node->getPath()) << L"'");
        if (!removeLocalItem(*node, *share))
            ++mItemsPassed;
    }
}

bool CommandProcessor::synchroniseDocument(const IWayfoldApi::Share& share,
                                           const IWayfoldApi::AssetProperties& asset)
{
    Straightened place = straightenDocument(share, asset);
    if (place.retry)
        return false;
    if (!place.file)
    {
        // A download that a stop left in place unrecorded is taken, not made again beside itself.
        try
        {
            place.file = adoptPlacedDownload(*place.directory, asset);
        }
        catch (const qcl::basic_runtime_error<wchar_t>& error)
        {
            QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
            return false;
        }
    }
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

    if (!matchesDisk(*directory))
    {
        result.retry = true;
        return result;
    }
    Tree::Directory& shareDirectory = *directory;
    Tree::Directory* current = directory;
    try
    {
        if (mustFollowName(*directory, tree(), share.name) &&
            !moveLocalNode(*directory, tree(), share.name, shareDirectory, L"Directory", L"Share", share.shareId))
        {
            result.retry = true;
            return result;
        }

        for (std::size_t i = 1; i < ancestors.size(); ++i)
        {
            const auto& ancestor = ancestors[i];
            Tree::Node* node = Tree::findNodeById(&shareDirectory, ancestor.id);
            if (!node)
            {
                current = createLocalDirectory(*current, ancestor.id, ancestor.name, share.shareId);
                if (!current)
                {
                    result.retry = true;
                    return result;
                }
                continue;
            }
            Tree::Directory* existing = node->asDirectory();
            if (!existing)
                throw InconsistentServerResponse(
                    qcl::format(L"In Share %1%, the Asset %2% is not a Folder", share.shareId, ancestor.id));
            if (!matchesDisk(*existing))
            {
                result.retry = true;
                return result;
            }
            if (mustFollowName(*existing, *current, ancestor.name))
            {
                if (!moveLocalNode(*existing, *current, ancestor.name, shareDirectory, L"Directory",
                                   L"Folder", ancestor.id))
                {
                    result.retry = true;
                    return result;
                }
            }
            current = existing;
        }
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        result.retry = true;
        return result;
    }
    catch (const qcl::SystemError& error)
    {
        noteUpdateBlocked(*current, shareDirectory, error);
        result.retry = true;
        return result;
    }
    result.directory = current;
    return result;
}

bool CommandProcessor::mustFollowName(const Tree::Node& node, const Tree::Directory& parent,
                                      const std::wstring& serverName)
{
    if (node.parent() != &parent)
        return true;
    const bool directory = node.asDirectory() != nullptr;
    const std::wstring wanted = directory ? directoryCandidateName(serverName, 1) : fileCandidateName(serverName, 1);
    if (node.name() == wanted)
        return false;
    if (!(directory ? isDirectoryCandidateName(node.name(), serverName) : isFileCandidateName(node.name(), serverName)))
        return true;
    // A free form other than the first: the first may have come free since.
    try
    {
        return !mFolder.statusOf(parent, wanted);
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
}

bool CommandProcessor::moveLocalNode(Tree::Node& node, Tree::Directory& parent, const std::wstring& name,
                                     Tree::Directory& share, const wchar_t* kind, const wchar_t* serverKind,
                                     const qcl::uint128& assetId)
{
    const std::wstring oldPath = node.getPath();
    Tree::Directory& oldParent = *node.parent();
    const std::wstring oldName = node.name();
    const bool moved = &oldParent != &parent;
    try
    {
        const LocalFolder::Moved done = mFolder.move(node, parent, name);
        if (moved)
            node.moveTo(parent);
        node.setName(done.name);
        if (Tree::File* file = node.asFile())
            file->setChangeTime(done.changeTime);
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
    catch (const qcl::SystemError& error)
    {
        noteUpdateBlocked(node, share, error);
        return false;
    }
    catch (const Database::Error& error)
    {
        // The disk moved and the tree did not: the next snapshot reports the move, which the server has made.
        QCL_LOG_ERROR(L"Cannot record the move of '" << qcl::string::escaped(oldPath) << L"': " << error.message());
        return false;
    }
    if (node.getPath() != oldPath)
    {
        QCL_LOG_DEBUG((moved ? L"Moved " : L"Renamed ")
                      << kind << L" '" << qcl::string::escaped(oldPath) << L"' to '"
                      << qcl::string::escaped(node.getPath()) << L"' in order to match " << serverKind << L" "
                      << assetId);
        mVacated.push_back({share.shareId(), oldParent.assetId(), oldName});
    }
    return true;
}

Tree::Directory* CommandProcessor::createLocalDirectory(Tree::Directory& parent, const qcl::uint128& assetId,
                                                        const std::wstring& name, const qcl::uint128& shareId)
{
    std::wstring made;
    try
    {
        // Noted first, so that a folder left unrecorded by a crash is matched with its asset at the next start.
        const CreationIntent placing{shareId, parent.assetId(), name, true, assetId};
        mIntents->add(placing);
        auto [madeName, localId] = mFolder.createDirectory(parent, name);
        made = madeName;
        auto remover = qcl::scope::makeGuard([&] { mFolder.removeEmptyDirectory(parent, made); });
        auto directory = std::make_unique<Tree::Directory>(localId, made);
        directory->setShareId(shareId);
        directory->setAssetId(assetId);
        Tree::Directory* added = nullptr;
        mIntents->endWhenRecorded(
            placing, [&] { added = static_cast<Tree::Directory*>(&addLocalNode(parent, std::move(directory))); });
        remover.dismiss();
        QCL_LOG_INFO(L"Created Directory '" << qcl::string::escaped(added->getPath()) << L"' to match Folder "
                                            << assetId);
        return added;
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        QCL_LOG_ERROR(L"The newly created directory '"
                      << qcl::string::escaped(Tree::Node::joinPath(parent.getPath(), made))
                      << L"' which maps to Asset " << assetId << L" cannot join the tree: "
                      << error.message());
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
    }
    catch (const qcl::SystemError& error)
    {
        QCL_LOG_INFO(error.message());
        noteLocalFailure(error.message());
        reportLocalFailure([&]
                           { mCallback.onFolderDownloadFailed(name, parent.getPath(), error.systemText()); });
    }
    catch (const Database::Error& error)
    {
        // The folder stays with its intent: the next snapshot reports it, and it is matched with its asset.
        QCL_LOG_ERROR(L"Cannot record the directory '" << qcl::string::escaped(Tree::Node::joinPath(parent.getPath(), made))
                                                       << L"' made for Asset " << assetId << L": " << error.message());
    }
    return nullptr;
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
    if (!matchesDisk(*file))
    {
        result.retry = true;
        return result;
    }
    if (mustFollowName(*file, *result.directory, asset.name))
    {
        if (!moveLocalNode(*file, *result.directory, asset.name, shareDirectory, L"File", L"Document",
                           asset.assetId))
        {
            result.retry = true;
            return result;
        }
    }
    result.file = file;
    return result;
}

Tree::Directory* CommandProcessor::createLocalShare(const IWayfoldApi::Share& share)
{
    std::wstring name;
    // Noted first, so that a folder left unrecorded by a crash is matched with its Share at the next start.
    const CreationIntent placing{{}, {}, share.name, true, share.rootId};
    try
    {
        mIntents->add(placing);
        std::uint64_t localId = 0;
        std::tie(name, localId) = mFolder.createDirectory(tree(), share.name);
        auto remover = qcl::scope::makeGuard([&] { mFolder.removeEmptyDirectory(tree(), name); });
        auto directory = std::make_unique<Tree::Directory>(localId, name);
        directory->setShareId(share.shareId);
        directory->setAssetId(share.rootId);
        Tree::Directory* added = nullptr;
        mIntents->endWhenRecorded(
            placing, [&] { added = static_cast<Tree::Directory*>(&addLocalNode(tree(), std::move(directory))); });
        remover.dismiss();
        QCL_LOG_INFO(L"Created Directory '" << qcl::string::escaped(added->getPath()) << L"' to match Share "
                                            << qcl::string::escaped(share.name, L'"') << L" ("
                                            << share.shareId << L")");
        return added;
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        QCL_LOG_ERROR(L"Cannot create Wayfold duplicate Share " << qcl::string::escaped(share.name, L'"')
                                                                << L" (" << share.shareId << L"): "
                                                                << error.message());
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        QCL_LOG_WARN(error.message());
        noteLocalFailure(error.message());
    }
    return nullptr;
}

void CommandProcessor::revisitVacatedNames()
{
    // Each move may vacate another name; the number of rounds is bounded by the number of names waiting.
    for (int round = 0; round < 64 && !mVacated.empty(); ++round)
    {
        const std::vector<Vacated> vacated = std::exchange(mVacated, {});
        for (const Vacated& place : vacated)
        {
            Tree::Directory* parent = folderOfAsset(tree(), place.shareId, place.parentId);
            if (!parent || parent->parent() == nullptr)
                continue;
            // Of either kind: a folder may wait for the name of a file that went, and the reverse.
            std::vector<qcl::uint128> waiting;
            for (const Tree::Node& sibling : parent->children())
                if (sibling.name() != place.name && (sibling.asDirectory()
                                                         ? isDirectoryCandidateName(sibling.name(), place.name)
                                                         : isFileCandidateName(sibling.name(), place.name)))
                    waiting.push_back(sibling.assetId());
            for (const qcl::uint128& assetId : waiting)
                followServerName(place.shareId, assetId);
        }
    }
    mVacated.clear();
}

void CommandProcessor::followServerName(const qcl::uint128& shareId, const qcl::uint128& assetId)
{
    const auto asset = getAssetProperties(shareId, assetId);
    if (!asset || !asset->problem.empty() || asset->ancestors.empty())
        return;
    const IWayfoldApi::Share share = shareOfAncestors(shareId, *asset);
    if (asset->type == IWayfoldApi::Asset::Document)
        straightenDocument(share, *asset);
    else if (asset->type == IWayfoldApi::Asset::Folder)
    {
        Ancestors ancestors = asset->ancestors;
        ancestors.push_back({asset->assetId, asset->name});
        straightenAncestors(share, ancestors);
    }
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
} // namespace dwl
