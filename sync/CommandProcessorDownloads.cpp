// Downloads: a server version fetched beside its document and put in place, and its record in the tree.

#include "sync/CommandProcessor.h"

#include "compat/FileApi.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/qcl_scope.h"
#include "sync/CommandProcessorFiles.h"
#include "sync/Database.h"
#include "sync/LocalFolder.h"

#include <algorithm>

namespace dwl
{
using namespace commandprocessor;

bool CommandProcessor::downloadFile(Tree::Directory& directory, const IWayfoldApi::Asset& asset,
                                    const std::wstring& name, std::uint64_t versionNumber,
                                    Tree::File* existing)
{
    Tree::Directory& share = shareOf(directory);
    // The local file holds an edit that the next snapshot sends; the server keeps its own version. An edit
    // that cannot be sent (the file is too big to upload, or the server refused its upload) must not hold
    // back every later message: the local file stays as it is and the message is passed.
    const auto keepLocalEdit = [&](const compat::at::ItemStatus& status)
    {
        const bool sendable =
            status.fileIndex != existing->localId() ||
            (!isTooBigToUpload(status.size) && !mRefusedUploads.contains(existing->assetId()));
        const std::wstring reason = sendable ? L"The local file has changes that are not sent yet."
                                             : L"The local file has changes that cannot be sent.";
        QCL_LOG_INFO(L"Did not download Document "
                     << qcl::string::escaped(name, L'"') << L" (" << asset.shareId << L"/" << asset.assetId
                     << L") over '" << qcl::string::escaped(existing->getPath()) << L"': " << reason);
        reportLocalFailure([&] { mCallback.onLocalUpdateBlocked(*existing, share, reason); });
        return !sendable;
    };
    // Nothing to fetch while the local file holds an edit; the replacement checks again when it commits. A
    // file whose change time alone moved is replaced, and goes to the trash (see LocalFolder::replace).
    const auto localEdit = [&]() -> std::optional<compat::at::ItemStatus>
    {
        const auto status = mFolder.statusOf(directory, existing->name());
        if (!status)
            throw LocalFolder::Mismatch(qcl::format(L"File '%1%' is gone", existing->getPath()));
        if (LocalFolder::hasRecordedContent(*status, *existing))
            return std::nullopt;
        return status;
    };
    if (existing && isUpdateHeldBack(asset.assetId))
        return false;
    try
    {
        if (existing)
            if (const auto edited = localEdit())
                return keepLocalEdit(*edited);
        // Only now: a download put off for a local edit must leave the scanner running, or the snapshot
        // that sends the edit (and so unblocks the download) never comes.

        // The download has a name of its own, so that one left behind by a stopped program is found, and is
        // never taken for a user's file (see isDownloadFileName).
        LocalFolder::Download download =
            mFolder.createDownload(directory, downloadFileName(asset.assetId), existing ? existing->name() : name,
                                   [&](std::uint64_t localId) { return isOwnDownload(asset.assetId, localId); });
        // A file that cannot be replaced now costs no download.
        if (existing)
            mFolder.checkReplaceable(download, *existing);
        QCL_LOG_DEBUG(L"Downloading Document " << qcl::string::escaped(name, L'"') << L" (" << asset.shareId
                                               << L"/" << asset.assetId << L")");
        mApi.downloadContent({asset.shareId, asset.assetId}, download.handle());
        onServerAvailable();
        // Noted while the file is still hidden: from the moment it can be seen until the tree records it, a file
        // of this id is known to be this engine's download of this version.
        const FileFacts& written = download.written();
        const CreationIntent placing{asset.shareId,    directory.assetId(), existing ? existing->name() : name,
                                     false,            asset.assetId,       versionNumber,
                                     written.localId,  written.size,        written.lastModificationTime};
        mIntents->add(placing);
        // A download that is not put in place is removed, and so is its intent; one in place keeps it until
        // the tree records it.
        auto forget = qcl::scope::makeGuard(
            [&]
            {
                if (!download.isPlaced())
                    mIntents->remove(placing);
            });
        download.finish();

        Tree::File* file = existing;
        if (existing && !mFolder.replace(download, *existing))
        {
            if (const auto edited = localEdit())
                return keepLocalEdit(*edited);
            return false;
        }
        const std::wstring localName = existing ? existing->name() : mFolder.place(download, name);
        const FileFacts& facts = download.facts();
        if (!recordDownload(placing,
                            [&]
                            {
                                if (existing)
                                {
                                    existing->setLocalId(facts.localId);
                                    existing->setContent(facts.size, facts.lastModificationTime, facts.changeTime,
                                                         versionNumber);
                                    return;
                                }
                                auto created = std::make_unique<Tree::File>(facts.localId, localName, facts.size,
                                                                            facts.lastModificationTime,
                                                                            facts.changeTime);
                                created->setShareId(asset.shareId);
                                created->setAssetId(asset.assetId);
                                created->setVersionNumber(versionNumber);
                                file = addLocalNode(directory, std::move(created)).asFile();
                            }))
            return false;
        QCL_LOG_INFO(L"Downloaded Document " << qcl::string::escaped(name, L'"') << L" (" << asset.shareId
                                             << L"/" << asset.assetId << L") as '"
                                             << qcl::string::escaped(file->getPath()) << L"'");
        mBlockedUpdates.erase(asset.assetId);
        mCallback.onDocumentDownloaded(*file, share);
        return true;
    }
    catch (const url::NotFoundOrForbiddenError& error)
    {
        onServerAvailable();
        QCL_LOG_INFO(L"Document " << asset.assetId << L" cannot be accessed: " << error.message());
        return true;
    }
    catch (const LocalFolder::Mismatch& error)
    {
        QCL_LOG_INFO(L"Will retry processing message later: " << error.message());
        return false;
    }
    catch (const qcl::SystemError& error)
    {
        if (existing)
        {
            noteUpdateBlocked(*existing, share, error);
            holdUpdateBack(asset.assetId);
        }
        else
        {
            QCL_LOG_INFO(error.message());
            noteLocalFailure(error.message());
            reportLocalFailure(
                [&] { mCallback.onDocumentDownloadFailed(name, directory.getPath(), error.systemText()); });
        }
        return false;
    }
}

bool CommandProcessor::isUpdateHeldBack(const qcl::uint128& assetId)
{
    const auto held = mBlockedUpdates.find(assetId);
    if (held == mBlockedUpdates.end() || Clock::now() >= held->second.retryAt)
        return false;
    // Still what blocked it last time, as far as anyone knows: it was told then.
    noteLocalFailure(held->second.reason);
    QCL_LOG_DEBUG(L"The update of Document " << assetId << L" waits before it is tried again: "
                                             << held->second.reason);
    return true;
}

void CommandProcessor::holdUpdateBack(const qcl::uint128& assetId)
{
    // Twice the pause each time, from one polling interval to an hour; a pause that ran out an hour ago is
    // forgotten, so that the record stays small.
    const auto now = Clock::now();
    constexpr auto longest = std::chrono::hours(1);
    std::erase_if(mBlockedUpdates, [&](const auto& held) { return now >= held.second.retryAt + longest; });
    BlockedUpdate& held = mBlockedUpdates[assetId];
    held.pause = held.pause.count() == 0
                     ? std::max<std::chrono::milliseconds>(mPollingInterval, std::chrono::milliseconds(1))
                     : std::min<std::chrono::milliseconds>(held.pause * 2, longest);
    held.retryAt = now + held.pause;
    held.reason = mLastLocalFailure;
}

bool CommandProcessor::recordDownload(const CreationIntent& placing, const std::function<void()>& record)
{
    try
    {
        mIntents->endWhenRecorded(placing, record);
        return true;
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        QCL_LOG_ERROR(L"The newly downloaded file " << qcl::string::escaped(placing.name, L'\'')
                                                    << L" which maps to Asset " << placing.assetId
                                                    << L" cannot join the tree: " << error.message());
    }
    catch (const Database::Error& error)
    {
        // The file is in place and its intent says so: the next cycle records it.
        QCL_LOG_ERROR(L"Cannot record the download of Asset " << placing.assetId << L": " << error.message());
    }
    mSettlementDue = true;
    return false;
}

bool CommandProcessor::isOwnDownload(const qcl::uint128& assetId, std::uint64_t localId)
{
    const std::vector<CreationIntent> downloads = mIntents->downloads();
    return std::any_of(downloads.begin(), downloads.end(), [&](const CreationIntent& intent)
                       { return intent.assetId == assetId && intent.localId == localId; });
}
} // namespace dwl
