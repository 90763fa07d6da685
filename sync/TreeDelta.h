#pragma once
// The comparison of the synchronised tree (old) with a fresh snapshot of the folder (new). Nodes are
// matched by local id inside each Share, so renames and moves are seen as such. Every difference is
// reported to the callbacks, which bring the old tree in line as they go. A snapshot directory whose content
// the scan could not read (Tree::Directory::isContentKnown) may still be moved or renamed, but what lies
// below its old counterpart is neither compared nor removed, and a new one is not added.

#include "sync/Tree.h"

#include <cstdint>
#include <unordered_set>

namespace dwl
{
// Old nodes belong to the synchronised tree, new ones to the snapshot. A callback may change the old tree
// and may throw to abandon the comparison.
class TreeDeltaCallbacks
{
public:
    virtual ~TreeDeltaCallbacks() = default;

    virtual void onShareRenamed(Tree::Directory* oldShare, Tree::Directory* newShare) = 0;
    // Returns the Share directory now in the old tree, or null to skip the new Share and its content.
    virtual Tree::Directory* onShareAdded(Tree::Directory* newShare) = 0;
    virtual void onShareRemoved(Tree::Directory* oldShare) = 0;
    virtual void onNodeRenamed(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode) = 0;
    virtual void onNodeMoved(Tree::Directory* oldShare, Tree::Node* oldNode, Tree::Node* newNode,
                             Tree::Directory* oldDestination) = 0;
    // Returns the directory now in the old tree, or null to skip the new directory and its content.
    virtual Tree::Directory* onDirectoryAdded(Tree::Directory* oldShare, Tree::Directory* newDirectory,
                                              Tree::Directory* oldDestination) = 0;
    virtual void onFileAdded(Tree::Directory* oldShare, Tree::File* newFile, Tree::Directory* oldDestination) = 0;
    virtual void onFileModified(Tree::Directory* oldShare, Tree::File* oldFile, Tree::File* newFile) = 0;
    virtual void onNodeRemoved(Tree::Directory* oldShare, Tree::Node* oldNode) = 0;
    // A recorded item that a folder with a new identity lacks: the Wayfold folder, a Share or a folder found under
    // its recorded name with a new local id was restored from a copy or moved to another disk, and the copy need
    // not hold what was made since. Such an item is not known to have been removed.
    virtual void onShareNotRestored(Tree::Directory* oldShare) = 0;
    virtual void onNodeNotRestored(Tree::Directory* oldShare, Tree::Node* oldNode) = 0;
};

// Compares the Shares (the directories directly under each root; files there take no part), builds the
// local-id index of each compared Share in both trees, and reports: per matched Share its rename, then
// top-down moves, renames, modifications and additions, then removals bottom-up. A snapshot of a folder that
// changed during its scan (Tree::Directory::changedDuringScan) reports no removal. Items found under their
// recorded names with new local ids take the new ids (the old root too, once the walk is through), and what
// the renewed folders lack is reported as not restored. Throws Tree::DuplicatedLocalIdError when a Share holds
// a local id twice.
void determineTreeDelta(TreeDeltaCallbacks& callbacks, Tree::Directory& oldRoot, Tree::Directory& newRoot);
// The local ids of the Shares and folders that took a new identity and whose content was not yet compared for
// removals (a scan during which the folder changed, a comparison cut short): kept by the caller from one
// comparison to the next, so that what such a folder lacks is still taken as not restored.
using RenewedFolders = std::unordered_set<std::uint64_t>;
void determineTreeDelta(TreeDeltaCallbacks& callbacks, Tree::Directory& oldRoot, Tree::Directory& newRoot,
                        RenewedFolders& renewedFolders);

// Compares the children of `newDirectory` with the old tree, `oldDestination` being where they belong.
void determineTreeDeltaForDestinationNode(TreeDeltaCallbacks& callbacks, Tree::Directory& oldShare,
                                          Tree::Directory& oldDestination, Tree::Directory& newShare,
                                          Tree::Directory& newDirectory);

// Reports the nodes below `oldDirectory` whose local id is no longer in `newShare`, deepest first.
void determineRemovedNodes(TreeDeltaCallbacks& callbacks, Tree::Directory& oldDirectory, Tree::Directory& oldShare,
                           Tree::Directory& newShare);
} // namespace dwl
