#include "sync/TreeIndex.h"

#include <vector>

namespace dwl
{
Tree::Node* Tree::LocalIdIndex::find(std::uint64_t localId) const
{
    auto it = mNodes.find(localId);
    return it == mNodes.end() ? nullptr : const_cast<Node*>(&*it);
}

void Tree::LocalIdIndex::insert(Node& node)
{
    if (!mNodes.insert_unique(node).second)
        throw DuplicatedLocalIdError(&node);
}

void Tree::LocalIdIndex::erase(Node& node)
{
    if (node.mLocalIdHook.is_linked())
        mNodes.erase(mNodes.iterator_to(node));
}

void Tree::LocalIdIndex::insertSubtree(Node& top)
{
    std::vector<Node*> inserted;
    auto undo = qcl::scope::makeGuard([&] {
        for (Node* node : inserted)
            erase(*node);
    });
    details::forEachInSubtree(top, [&](Node& node) {
        if (Directory* directory = node.asDirectory())
            directory->mLocalIdIndex.reset();
        insert(node);
        inserted.push_back(&node);
    });
    undo.dismiss();
}

void Tree::LocalIdIndex::eraseSubtree(Node& top)
{
    details::forEachInSubtree(top, [&](Node& node) { erase(node); });
}

void Tree::AssetIdIndex::insertSubtree(Node& top)
{
    details::forEachInSubtree(top, [&](Node& node) {
        if (!node.mAssetIdHook.is_linked())
            mNodes.insert(node);
    });
}

void Tree::AssetIdIndex::eraseSubtree(Node& top)
{
    details::forEachInSubtree(top, [&](Node& node) {
        if (node.mAssetIdHook.is_linked())
            mNodes.erase(mNodes.iterator_to(node));
    });
}

void Tree::AssetIdIndex::rekey(Node& node)
{
    if (!node.mAssetIdHook.is_linked())
        return;
    mNodes.erase(mNodes.iterator_to(node));
    mNodes.insert(node);
}

Tree::Node* Tree::AssetIdIndex::findBelow(Node& top, const qcl::uint128& assetId) const
{
    const Node* best = nullptr;
    auto [first, last] = mNodes.equal_range(assetId);
    for (auto it = first; it != last; ++it)
    {
        const Node& candidate = *it;
        if (details::isAtOrBelow(candidate, top) && (!best || details::precedesInPreOrder(candidate, *best)))
            best = &candidate;
    }
    return const_cast<Node*>(best);
}

namespace details
{
bool isAtOrBelow(const Tree::Node& node, const Tree::Node& ancestor)
{
    for (const Tree::Node* n = &node; n; n = n->parent())
        if (n == &ancestor)
            return true;
    return false;
}

namespace
{
std::vector<const Tree::Node*> pathFromRoot(const Tree::Node& node)
{
    std::vector<const Tree::Node*> path;
    for (const Tree::Node* n = &node; n; n = n->parent())
        path.push_back(n);
    return {path.rbegin(), path.rend()};
}
} // namespace

bool precedesInPreOrder(const Tree::Node& a, const Tree::Node& b)
{
    if (&a == &b)
        return false;
    const auto pathA = pathFromRoot(a);
    const auto pathB = pathFromRoot(b);
    std::size_t common = 0;
    while (common < pathA.size() && common < pathB.size() && pathA[common] == pathB[common])
        ++common;
    if (common == pathA.size())
        return true; // a is an ancestor of b
    if (common == pathB.size() || common == 0)
        return false; // b is an ancestor of a, or the nodes lie in different trees
    // Siblings under the deepest common ancestor: a first when b's branch follows a's in the child list.
    const Tree::Directory& parent = *pathA[common - 1]->asDirectory();
    for (auto it = parent.children().iterator_to(*pathA[common]); it != parent.children().end(); ++it)
        if (&*it == pathB[common])
            return true;
    return false;
}
} // namespace details
} // namespace dwl
