#include "sync/TreeDelta.h"

#include "qcl/Log.h"

#include <algorithm>
#include <vector>

namespace dwl
{
namespace
{
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

bool isAtOrBelow(const Tree::Node& node, const Tree::Node& ancestor)
{
    for (const Tree::Node* n = &node; n; n = n->parent())
        if (n == &ancestor)
            return true;
    return false;
}

// A local id that is a file on one side and a directory on the other: the old node is reported removed, so
// that the new one is then an addition. Returns whether the old node is gone.
bool replaceNodeOfOtherKind(TreeDeltaCallbacks& callbacks, Tree::Directory& oldShare, Tree::Node& oldNode,
                            Tree::Directory& oldDestination)
{
    const std::uint64_t localId = oldNode.localId();
    if (isAtOrBelow(oldDestination, oldNode))
    {
        QCL_LOG_WARN(L"Local ID " << Tree::formatLocalId(localId) << L" changed its kind above "
                                  << qcl::string::escaped(oldDestination.getPath(), L'\'') << L"; left for later");
        return false;
    }
    callbacks.onNodeRemoved(&oldShare, &oldNode);
    return oldShare.findNodeByLocalId(localId) == nullptr;
}

// The old node that matches `newNode`, compared field by field; the lookup is repeated after each callback,
// which may have changed the old tree.
void compareMatchedNode(TreeDeltaCallbacks& callbacks, Tree::Directory& oldShare, Tree::Directory& oldDestination,
                        Tree::Directory& newShare, Tree::Node& newNode)
{
    const std::uint64_t localId = newNode.localId();
    Tree::Node* oldNode = oldShare.findNodeByLocalId(localId);
    if (oldNode->parent() != &oldDestination)
    {
        callbacks.onNodeMoved(&oldShare, oldNode, &newNode, &oldDestination);
        if (!(oldNode = oldShare.findNodeByLocalId(localId)))
            return;
    }
    if (oldNode->name() != newNode.name())
    {
        callbacks.onNodeRenamed(&oldShare, oldNode, &newNode);
        if (!(oldNode = oldShare.findNodeByLocalId(localId)))
            return;
    }
    if (Tree::File* newFile = newNode.asFile())
    {
        Tree::File* oldFile = oldNode->asFile();
        if (oldFile->size() != newFile->size() || oldFile->lastModificationTime() != newFile->lastModificationTime())
            callbacks.onFileModified(&oldShare, oldFile, newFile);
    }
    else
    {
        determineTreeDeltaForDestinationNode(callbacks, oldShare, *oldNode->asDirectory(), newShare,
                                             *newNode.asDirectory());
    }
}

void compareNewFile(TreeDeltaCallbacks& callbacks, Tree::Directory& oldShare, Tree::Directory& oldDestination,
                    Tree::Directory& newShare, Tree::File& newFile)
{
    Tree::File* sameName = Tree::findFileByName(&oldDestination, newFile.name());
    if (sameName && !newShare.findNodeByLocalId(sameName->localId()))
    {
        // Saved through a new file put in place of the old one: the same document with a new identity.
        QCL_LOG_DEBUG(L"Changing local ID of file " << qcl::string::escaped(sameName->name(), L'\'') << L" from "
                                                    << Tree::formatLocalId(sameName->localId()) << L" to "
                                                    << Tree::formatLocalId(newFile.localId()));
        sameName->setLocalId(newFile.localId());
        callbacks.onFileModified(&oldShare, sameName, &newFile);
    }
    else
    {
        callbacks.onFileAdded(&oldShare, &newFile, &oldDestination);
    }
}
} // namespace

void determineTreeDelta(TreeDeltaCallbacks& callbacks, Tree::Directory& oldRoot, Tree::Directory& newRoot)
{
    const std::vector<Tree::Directory*> oldShares = sharesByLocalId(oldRoot);
    const std::vector<Tree::Directory*> newShares = sharesByLocalId(newRoot);
    std::size_t o = 0;
    std::size_t n = 0;
    while (o < oldShares.size() || n < newShares.size())
    {
        if (o == oldShares.size() || (n < newShares.size() && newShares[n]->localId() < oldShares[o]->localId()))
        {
            Tree::Directory* newShare = newShares[n++];
            Tree::Directory* share = callbacks.onShareAdded(newShare);
            if (!share)
            {
                newShare->detach();
                continue;
            }
            share->buildLocalIdIndex();
            newShare->buildLocalIdIndex();
            determineTreeDeltaForDestinationNode(callbacks, *share, *share, *newShare, *newShare);
        }
        else if (n == newShares.size() || oldShares[o]->localId() < newShares[n]->localId())
        {
            callbacks.onShareRemoved(oldShares[o++]);
        }
        else
        {
            Tree::Directory* oldShare = oldShares[o++];
            Tree::Directory* newShare = newShares[n++];
            if (oldShare->name() != newShare->name())
                callbacks.onShareRenamed(oldShare, newShare);
            oldShare->buildLocalIdIndex();
            newShare->buildLocalIdIndex();
            determineTreeDeltaForDestinationNode(callbacks, *oldShare, *oldShare, *newShare, *newShare);
            determineRemovedNodes(callbacks, *oldShare, *oldShare, *newShare);
        }
    }
}

void determineTreeDeltaForDestinationNode(TreeDeltaCallbacks& callbacks, Tree::Directory& oldShare,
                                          Tree::Directory& oldDestination, Tree::Directory& newShare,
                                          Tree::Directory& newDirectory)
{
    auto& children = newDirectory.children();
    for (auto next = children.begin(); next != children.end();)
    {
        Tree::Node& child = *next++;
        Tree::Node* oldNode = oldShare.findNodeByLocalId(child.localId());
        if (oldNode && (oldNode->asFile() == nullptr) != (child.asFile() == nullptr))
        {
            if (!replaceNodeOfOtherKind(callbacks, oldShare, *oldNode, oldDestination))
                continue;
            oldNode = nullptr;
        }

        if (oldNode)
        {
            compareMatchedNode(callbacks, oldShare, oldDestination, newShare, child);
        }
        else if (Tree::Directory* newDirectoryChild = child.asDirectory())
        {
            Tree::Directory* added = callbacks.onDirectoryAdded(&oldShare, newDirectoryChild, &oldDestination);
            if (added)
                determineTreeDeltaForDestinationNode(callbacks, oldShare, *added, newShare, *newDirectoryChild);
            else
                child.detach();
        }
        else
        {
            compareNewFile(callbacks, oldShare, oldDestination, newShare, *child.asFile());
        }
    }
}

void determineRemovedNodes(TreeDeltaCallbacks& callbacks, Tree::Directory& oldDirectory, Tree::Directory& oldShare,
                           Tree::Directory& newShare)
{
    auto& children = oldDirectory.children();
    for (auto next = children.begin(); next != children.end();)
    {
        Tree::Node& child = *next++;
        if (Tree::Directory* directory = child.asDirectory())
            determineRemovedNodes(callbacks, *directory, oldShare, newShare);
        if (!newShare.findNodeByLocalId(child.localId()))
            callbacks.onNodeRemoved(&oldShare, &child);
    }
}
} // namespace dwl
