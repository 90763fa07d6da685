#include "sync/TreeDelta.h"

#include "sync/TreeIndex.h"

#include "qcl/Log.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace dwl
{
namespace
{
void changeLocalId(Tree::Node& node, std::uint64_t localId)
{
    const wchar_t* const kind = !node.parent()           ? L"Wayfold folder "
                                : node.asFile()           ? L"file "
                                : node.parent()->parent() ? L"folder "
                                                          : L"Share ";
    QCL_LOG_DEBUG(L"Changing local ID of " << kind << qcl::string::escaped(node.name(), L'\'') << L" from "
                                           << Tree::formatLocalId(node.localId()) << L" to "
                                           << Tree::formatLocalId(localId));
    node.setLocalId(localId);
}

// A Share of the snapshot whose local id no recorded Share has, found under the name of a recorded Share whose id
// the snapshot's Shares do not have, is that Share with a new identity (restored from a copy, moved to another
// disk): the recorded Share takes the new id, and is compared, not removed and made anew. Returns the new ids taken.
void takeNewIdsOfRecordedShares(Tree::Directory& oldRoot, Tree::Directory& newRoot, RenewedFolders& renewed)
{
    std::unordered_set<std::uint64_t> oldIds;
    std::unordered_set<std::uint64_t> newIds;
    for (Tree::Node& child : oldRoot.children())
        if (child.asDirectory())
            oldIds.insert(child.localId());
    for (Tree::Node& child : newRoot.children())
        if (child.asDirectory())
            newIds.insert(child.localId());
    for (Tree::Node& child : newRoot.children())
    {
        if (!child.asDirectory() || oldIds.contains(child.localId()))
            continue;
        Tree::Directory* recorded = Tree::findDirectoryByName(&oldRoot, child.name());
        if (recorded && !newIds.contains(recorded->localId()))
        {
            changeLocalId(*recorded, child.localId());
            renewed.insert(child.localId());
        }
    }
}

std::vector<Tree::Directory*> sharesByLocalId(Tree::Directory& root)
{
    std::vector<Tree::Directory*> shares;
    for (Tree::Node& child : root.children())
        if (Tree::Directory* share = child.asDirectory())
            shares.push_back(share);
    std::stable_sort(shares.begin(), shares.end(),
                     [](const Tree::Directory* a, const Tree::Directory* b) { return a->localId() < b->localId(); });
    return shares;
}

// Forwards to the caller's callbacks and counts the calls: while the count stands still the old tree is
// as the walk last saw it, so pointers into it are still good.
class CountingCallbacks : public TreeDeltaCallbacks
{
public:
    explicit CountingCallbacks(TreeDeltaCallbacks& target) : mTarget(target) {}

    std::uint64_t calls() const { return mCalls; }

    void onShareRenamed(Tree::Directory* oldShare, Tree::Directory* newShare) override
    {
        ++mCalls;
        mTarget.onShareRenamed(oldShare, newShare);
    }
    Tree::Directory* onShareAdded(Tree::Directory* newShare) override
    {
        ++mCalls;
        return mTarget.onShareAdded(newShare);
    }
    void onShareRemoved(Tree::Directory* oldShare) override
    {
        ++mCalls;
        mTarget.onShareRemoved(oldShare);
    }
    void onNodeRenamed(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode) override
    {
        ++mCalls;
        mTarget.onNodeRenamed(oldShare, oldNode, newNode);
    }
    void onNodeMoved(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode,
                     Tree::Directory* oldDestination) override
    {
        ++mCalls;
        mTarget.onNodeMoved(oldShare, oldNode, newNode, oldDestination);
    }
    Tree::Directory* onDirectoryAdded(Tree::Directory* oldShare, Tree::Directory* newDirectory,
                                      Tree::Directory* oldDestination) override
    {
        ++mCalls;
        return mTarget.onDirectoryAdded(oldShare, newDirectory, oldDestination);
    }
    void onFileAdded(Tree::Directory* oldShare, Tree::File* newFile, Tree::Directory* oldDestination) override
    {
        ++mCalls;
        mTarget.onFileAdded(oldShare, newFile, oldDestination);
    }
    void onFileModified(Tree::Directory* oldShare, Tree::File* oldFile, Tree::File* newFile) override
    {
        ++mCalls;
        mTarget.onFileModified(oldShare, oldFile, newFile);
    }
    void onNodeRemoved(Tree::Directory* oldShare, Tree::Node* oldNode) override
    {
        ++mCalls;
        mTarget.onNodeRemoved(oldShare, oldNode);
    }
    void onShareNotRestored(Tree::Directory* oldShare) override
    {
        ++mCalls;
        mTarget.onShareNotRestored(oldShare);
    }
    void onNodeNotRestored(Tree::Directory* oldShare, Tree::Node* oldNode) override
    {
        ++mCalls;
        mTarget.onNodeNotRestored(oldShare, oldNode);
    }

private:
    TreeDeltaCallbacks& mTarget;
    std::uint64_t mCalls = 0;
};

// The comparison of one Share. Each new node is matched by local id through the old Share's index, but the
// old node is most often simply the next sibling of the one matched before, which is checked first; and when
// every old node was matched without a single callback, nothing can have been removed.
class ShareWalk
{
public:
    ShareWalk(CountingCallbacks& callbacks, Tree::Directory& oldShare, Tree::Directory& newShare,
              RenewedFolders& renewedFolders)
        : mCallbacks(callbacks), mOldShare(oldShare), mNewShare(newShare), mRenewedFolders(renewedFolders)
    {
    }

    void compareChildren(Tree::Directory& oldDestination, Tree::Directory& newDirectory);
    // `renewed`: a directory above took a new identity (see sameItemWithNewId), so that what it lacks is not
    // restored rather than removed. Each directory whose pass ran is no longer a renewed one.
    void reportRemovedBelow(Tree::Directory& oldDirectory, bool renewed = false);
    // Nothing of the Share is missing: none of its directories is a renewed one any more.
    void settleRenewedFolders()
    {
        std::erase_if(mRenewedFolders, [&](std::uint64_t id) { return mOldShare.findNodeByLocalId(id); });
    }
    // Whether every node below the old Share found its match and the old tree is untouched since.
    bool allMatchedUntouched(std::uint64_t callsBefore) const
    {
        return mCallbacks.calls() == callsBefore && mOldShare.hasLocalIdIndex() &&
               mMatched + 1 == mOldShare.localIdIndexSize();
    }

private:
    Tree::Node* matchOf(const Tree::Node& newNode, Tree::Node* expected) const
    {
        if (expected && expected->localId() == newNode.localId() && mOldShare.hasLocalIdIndex())
            return expected; // a node below the Share, so the one its index holds under this id
        return mOldShare.findNodeByLocalId(newNode.localId());
    }
    bool replaceNodeOfOtherKind(Tree::Node& oldNode, Tree::Directory& oldDestination);
    Tree::Node* sameItemWithNewId(Tree::Directory& oldDestination, const Tree::Node& newNode);
    void compareMatchedNode(Tree::Node* oldNode, Tree::Directory& oldDestination, Tree::Node& newNode);
    void compareFiles(Tree::File& oldFile, Tree::File& newFile);

    CountingCallbacks& mCallbacks;
    Tree::Directory& mOldShare;
    Tree::Directory& mNewShare;
    std::size_t mMatched = 0;
    RenewedFolders& mRenewedFolders;
};

// A local id that is a file on one side and a directory on the other: the old node is reported removed, so
// that the new one is then an addition. Returns whether the old node is gone.
bool ShareWalk::replaceNodeOfOtherKind(Tree::Node& oldNode, Tree::Directory& oldDestination)
{
    const std::uint64_t localId = oldNode.localId();
    if (details::isAtOrBelow(oldDestination, oldNode))
    {
        QCL_LOG_WARN(L"Local ID " << Tree::formatLocalId(localId) << L" changed its kind above "
                                  << qcl::string::escaped(oldDestination.getPath(), L'\'')
                                  << L"; left for later");
        return false;
    }
    mCallbacks.onNodeRemoved(&mOldShare, &oldNode);
    return mOldShare.findNodeByLocalId(localId) == nullptr;
}

// The old node that matches `newNode`, compared field by field; the lookup is repeated after each callback,
// which may have changed the old tree.
void ShareWalk::compareMatchedNode(Tree::Node* oldNode, Tree::Directory& oldDestination, Tree::Node& newNode)
{
    const std::uint64_t localId = newNode.localId();
    if (oldNode->parent() != &oldDestination)
    {
        mCallbacks.onNodeMoved(&mOldShare, oldNode, &newNode, &oldDestination);
        if (!(oldNode = mOldShare.findNodeByLocalId(localId)))
            return;
    }
    if (oldNode->name() != newNode.name())
    {
        mCallbacks.onNodeRenamed(&mOldShare, oldNode, &newNode);
        if (!(oldNode = mOldShare.findNodeByLocalId(localId)))
            return;
    }
    if (Tree::File* newFile = newNode.asFile())
        compareFiles(*oldNode->asFile(), *newFile);
    else
    {
        compareChildren(*oldNode->asDirectory(), *newNode.asDirectory());
    }
}

// Size and modification time decide an edit. The change time also moves with metadata alone (a mode, an owner,
// an extended attribute, a link made anywhere), so it takes no part here: it only tells, when the engine replaces
// or removes the file, whether the file is provably still the version recorded (see LocalFolder).
void ShareWalk::compareFiles(Tree::File& oldFile, Tree::File& newFile)
{
    if (oldFile.size() != newFile.size() || oldFile.lastModificationTime() != newFile.lastModificationTime())
        mCallbacks.onFileModified(&mOldShare, &oldFile, &newFile);
}

// A new node found under the exact name of an old one of its kind whose local id is gone from the snapshot is
// that item with a new identity: a file saved through a new file put in its place, a folder or a whole Share
// restored from a copy. The old node takes the new id and is compared as a match; null when there is none.
Tree::Node* ShareWalk::sameItemWithNewId(Tree::Directory& oldDestination, const Tree::Node& newNode)
{
    Tree::Node* sameName = newNode.asFile()
                               ? static_cast<Tree::Node*>(Tree::findFileByName(&oldDestination, newNode.name()))
                               : Tree::findDirectoryByName(&oldDestination, newNode.name());
    if (!sameName || mNewShare.findNodeByLocalId(sameName->localId()))
        return nullptr;
    changeLocalId(*sameName, newNode.localId());
    if (sameName->asDirectory())
        mRenewedFolders.insert(newNode.localId());
    return sameName;
}

void ShareWalk::compareChildren(Tree::Directory& oldDestination, Tree::Directory& newDirectory)
{
    if (!newDirectory.isContentKnown())
        return;
    Tree::Node* expected = nullptr; // the old node that likely matches the next new child
    auto& children = newDirectory.children();
    for (auto next = children.begin(); next != children.end();)
    {
        Tree::Node& child = *next++;
        Tree::Node* oldNode = matchOf(child, expected);
        expected = nullptr;
        const std::uint64_t callsBefore = mCallbacks.calls();
        if (oldNode && (oldNode->asFile() == nullptr) != (child.asFile() == nullptr))
        {
            if (!replaceNodeOfOtherKind(*oldNode, oldDestination))
                continue;
            oldNode = nullptr;
        }

        if (oldNode)
        {
            ++mMatched;
            compareMatchedNode(oldNode, oldDestination, child);
            // Only while nothing changed the old tree is the matched node known to be alive and in place.
            if (mCallbacks.calls() == callsBefore)
            {
                auto after = std::next(oldDestination.children().iterator_to(*oldNode));
                expected = after == oldDestination.children().end() ? nullptr : &*after;
            }
        }
        else if (Tree::Node* renewed = sameItemWithNewId(oldDestination, child))
        {
            ++mMatched;
            compareMatchedNode(renewed, oldDestination, child);
        }
        else if (Tree::Directory* newDirectoryChild = child.asDirectory())
        {
            if (!newDirectoryChild->isContentKnown())
                continue; // made on the server once it can be read
            Tree::Directory* added =
                mCallbacks.onDirectoryAdded(&mOldShare, newDirectoryChild, &oldDestination);
            if (added)
                compareChildren(*added, *newDirectoryChild);
            else
                child.detach();
        }
        else
        {
            mCallbacks.onFileAdded(&mOldShare, child.asFile(), &oldDestination);
        }
    }
}

void ShareWalk::reportRemovedBelow(Tree::Directory& oldDirectory, bool renewed)
{
    renewed = renewed || mRenewedFolders.contains(oldDirectory.localId());
    auto& children = oldDirectory.children();
    for (auto next = children.begin(); next != children.end();)
    {
        Tree::Node& child = *next++;
        const Tree::Node* counterpart = mNewShare.findNodeByLocalId(child.localId());
        // What lies in a folder that the scan could not read is not known, so nothing of it is gone.
        const bool contentKnown = !counterpart || !counterpart->asDirectory() ||
                                  counterpart->asDirectory()->isContentKnown();
        if (Tree::Directory* directory = child.asDirectory(); directory && contentKnown)
            reportRemovedBelow(*directory, renewed);
        if (!counterpart && renewed)
            mCallbacks.onNodeNotRestored(&mOldShare, &child);
        else if (!counterpart)
            mCallbacks.onNodeRemoved(&mOldShare, &child);
    }
    mRenewedFolders.erase(oldDirectory.localId());
}
} // namespace

void determineTreeDelta(TreeDeltaCallbacks& target, Tree::Directory& oldRoot, Tree::Directory& newRoot)
{
    RenewedFolders renewedFolders;
    determineTreeDelta(target, oldRoot, newRoot, renewedFolders);
}

void determineTreeDelta(TreeDeltaCallbacks& target, Tree::Directory& oldRoot, Tree::Directory& newRoot,
                        RenewedFolders& renewedFolders)
{
    CountingCallbacks callbacks(target);
    // An item moved during the scan may be missing from it: what is gone is left for the next snapshot.
    const bool removals = !newRoot.changedDuringScan();
    if (!removals)
        QCL_LOG_DEBUG(L"Removals are left for the next snapshot: the folder changed during this scan");
    // The Wayfold folder itself restored or moved: its root has a new identity, taken once the Shares it lacks
    // were reported.
    const bool rootRenewed = oldRoot.localId() != 0 && oldRoot.localId() != newRoot.localId();
    takeNewIdsOfRecordedShares(oldRoot, newRoot, renewedFolders);
    const std::vector<Tree::Directory*> oldShares = sharesByLocalId(oldRoot);
    const std::vector<Tree::Directory*> newShares = sharesByLocalId(newRoot);
    std::size_t o = 0;
    std::size_t n = 0;
    while (o < oldShares.size() || n < newShares.size())
    {
        if (o == oldShares.size() || (n < newShares.size() && newShares[n]->localId() < oldShares[o]->localId()))
        {
            Tree::Directory* newShare = newShares[n++];
            if (!newShare->isContentKnown())
                continue; // made on the server once it can be read
            Tree::Directory* share = callbacks.onShareAdded(newShare);
            if (!share)
            {
                newShare->detach();
                continue;
            }
            share->buildLocalIdIndex();
            newShare->buildLocalIdIndex();
            ShareWalk(callbacks, *share, *newShare, renewedFolders).compareChildren(*share, *newShare);
        }
        else if (n == newShares.size() || oldShares[o]->localId() < newShares[n]->localId())
        {
            Tree::Directory* oldShare = oldShares[o++];
            if (removals && rootRenewed)
                callbacks.onShareNotRestored(oldShare);
            else if (removals)
                callbacks.onShareRemoved(oldShare);
        }
        else
        {
            Tree::Directory* oldShare = oldShares[o++];
            Tree::Directory* newShare = newShares[n++];
            if (oldShare->name() != newShare->name())
                callbacks.onShareRenamed(oldShare, newShare);
            oldShare->buildLocalIdIndex();
            newShare->buildLocalIdIndex();
            ShareWalk walk(callbacks, *oldShare, *newShare, renewedFolders);
            const std::uint64_t callsBefore = callbacks.calls();
            walk.compareChildren(*oldShare, *newShare);
            if (!removals || !newShare->isContentKnown())
                continue;
            if (walk.allMatchedUntouched(callsBefore))
                walk.settleRenewedFolders();
            else
                walk.reportRemovedBelow(*oldShare);
        }
    }
    if (rootRenewed && removals)
        changeLocalId(oldRoot, newRoot.localId());
}

void determineTreeDeltaForDestinationNode(TreeDeltaCallbacks& target, Tree::Directory& oldShare,
                                          Tree::Directory& oldDestination, Tree::Directory& newShare,
                                          Tree::Directory& newDirectory)
{
    CountingCallbacks callbacks(target);
    RenewedFolders renewedFolders;
    ShareWalk(callbacks, oldShare, newShare, renewedFolders).compareChildren(oldDestination, newDirectory);
}

void determineRemovedNodes(TreeDeltaCallbacks& target, Tree::Directory& oldDirectory,
                           Tree::Directory& oldShare, Tree::Directory& newShare)
{
    CountingCallbacks callbacks(target);
    RenewedFolders renewedFolders;
    ShareWalk(callbacks, oldShare, newShare, renewedFolders).reportRemovedBelow(oldDirectory);
}
} // namespace dwl
