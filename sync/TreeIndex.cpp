#include "sync/TreeIndex.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace dwl
{
namespace
{
constexpr std::size_t kMinimumSlots = 16;
}

std::size_t Tree::LocalIdIndex::home(std::uint64_t localId) const
{
    // Fibonacci hashing: the high bits of the product depend on every bit of the id, so neither runs of
    // inode numbers nor birth times in the high bits crowd the table.
    return static_cast<std::size_t>((localId * 0x9E3779B97F4A7C15ull) >> mShift);
}

std::size_t Tree::LocalIdIndex::probe(std::uint64_t localId) const
{
    std::size_t slot = home(localId);
    while (mSlots[slot] && mSlots[slot]->localId() != localId)
        slot = next(slot);
    return slot;
}

Tree::Node* Tree::LocalIdIndex::find(std::uint64_t localId) const
{
    return mSlots.empty() ? nullptr : mSlots[probe(localId)];
}

void Tree::LocalIdIndex::insert(Node& node)
{
    if ((mSize + 1) * 2 > mSlots.size())
        resize(std::max(kMinimumSlots, mSlots.size() * 2));
    Node*& slot = mSlots[probe(node.localId())];
    if (slot)
        throw DuplicatedLocalIdError(&node);
    slot = &node;
    ++mSize;
}

void Tree::LocalIdIndex::erase(Node& node)
{
    if (mSlots.empty())
        return;
    std::size_t hole = probe(node.localId());
    if (mSlots[hole] != &node)
        return;
    // Backward-shift deletion: every later node of the run whose home lies at or before the hole moves
    // into it, so that no lookup stops at an empty slot before its node.
    for (std::size_t slot = next(hole); mSlots[slot]; slot = next(slot))
    {
        const std::size_t wanted = home(mSlots[slot]->localId());
        const bool movable =
            hole <= slot ? (wanted <= hole || wanted > slot) : (wanted <= hole && wanted > slot);
        if (movable)
        {
            mSlots[hole] = mSlots[slot];
            hole = slot;
        }
    }
    mSlots[hole] = nullptr;
    --mSize;
    if (mSlots.size() > kMinimumSlots && mSize * 8 < mSlots.size())
        resize(mSlots.size() / 2);
}

void Tree::LocalIdIndex::resize(std::size_t slotCount)
{
    std::vector<Node*> former(slotCount, nullptr);
    former.swap(mSlots);
    mShift = 64 - std::countr_zero(slotCount);
    for (Node* node : former)
        if (node)
            mSlots[probe(node->localId())] = node;
}

void Tree::LocalIdIndex::insertSubtree(Node& top)
{
    std::vector<std::pair<std::uint64_t, Node*>> nodes;
    details::forEachInSubtree(top, [&](Node& node) { nodes.emplace_back(node.localId(), &node); });
    // Sized once for the whole subtree: growing step by step would move every node again at each doubling.
    if ((mSize + nodes.size()) * 2 > mSlots.size())
        resize(std::max(kMinimumSlots, std::bit_ceil((mSize + nodes.size()) * 2)));
    // Erasing leaves alone a node that is not held as itself, so the whole subtree can be taken out again.
    auto undo = qcl::scope::makeGuard([&] { eraseSubtree(top); });
    // The slots of a large subtree are far apart in memory: each is fetched a few insertions ahead.
    constexpr std::size_t kAhead = 16;
    for (std::size_t i = 0; i < nodes.size(); ++i)
    {
        if (i + kAhead < nodes.size())
            __builtin_prefetch(&mSlots[home(nodes[i + kAhead].first)], 1);
        Node& node = *nodes[i].second;
        if (Directory* directory = node.asDirectory())
            directory->mLocalIdIndex.reset();
        insert(node);
    }
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
