#pragma once
// The indexes of a tree, whose links live inside the nodes: the local-id index of an indexed subtree (unique
// keys) and the asset-id index of a root (equal keys allowed: new nodes all have the zero asset id).

#include "sync/Tree.h"

#include <vector>

namespace dwl
{
namespace details
{
struct NodeLocalIdOf
{
    using type = std::uint64_t;
    type operator()(const Tree::Node& node) const { return node.localId(); }
};

struct NodeAssetIdOf
{
    using type = qcl::uint128;
    const type& operator()(const Tree::Node& node) const { return node.assetId(); }
};
} // namespace details

// A hash table of node pointers keyed by local id, with open addressing and linear probing: a lookup is
// usually one slot and one node, where an ordered tree took a dozen dependent steps. The slots take 16 to 32
// bytes a node, about what a tree hook inside every node took.
class Tree::LocalIdIndex
{
public:
    LocalIdIndex() = default;
    LocalIdIndex(const LocalIdIndex&) = delete;
    LocalIdIndex& operator=(const LocalIdIndex&) = delete;

    std::size_t size() const { return mSize; }
    Node* find(std::uint64_t localId) const;

    // Inserts the node; throws DuplicatedLocalIdError when its local id is there already.
    void insert(Node& node);
    // Takes the node out when it is held under its current local id; else nothing.
    void erase(Node& node);
    // The node and everything below it, pre-order. A directory below that holds an index of its own loses
    // it first. On a duplicate, what was inserted is taken out again and DuplicatedLocalIdError is thrown.
    void insertSubtree(Node& top);
    void eraseSubtree(Node& top);

private:
    std::size_t home(std::uint64_t localId) const;
    std::size_t next(std::size_t slot) const { return (slot + 1) & (mSlots.size() - 1); }
    // The slot holding the local id, or the empty slot where it would go.
    std::size_t probe(std::uint64_t localId) const;
    void resize(std::size_t slotCount);

    std::vector<Node*> mSlots; // a power of two long, at most half full; null: empty
    std::size_t mSize = 0;
    int mShift = 64; // 64 - log2(slot count), for Fibonacci hashing
};

class Tree::AssetIdIndex
{
public:
    AssetIdIndex() = default;
    AssetIdIndex(const AssetIdIndex&) = delete;
    AssetIdIndex& operator=(const AssetIdIndex&) = delete;
    ~AssetIdIndex() { mNodes.clear(); }

    void insertSubtree(Node& top);
    void eraseSubtree(Node& top);
    // Puts a node whose asset id changed at its new place.
    void rekey(Node& node);

    // The first node in pre-order at or below `top` with the asset id, or null.
    Node* findBelow(Node& top, const qcl::uint128& assetId) const;

private:
    using Set = boost::intrusive::multiset<Node,
                                           boost::intrusive::member_hook<Node, Node::IndexHook, &Node::mAssetIdHook>,
                                           boost::intrusive::key_of_value<details::NodeAssetIdOf>,
                                           boost::intrusive::constant_time_size<false>>;
    Set mNodes;
};

namespace details
{
// Calls `action` on the node and every node below it, pre-order, children in list order.
template <class Action>
void forEachInSubtree(Tree::Node& top, Action&& action)
{
    action(top);
    if (Tree::Directory* directory = top.asDirectory())
        for (Tree::Node& child : directory->children())
            forEachInSubtree(child, action);
}

// Whether `node` is `ancestor` or lies below it.
bool isAtOrBelow(const Tree::Node& node, const Tree::Node& ancestor);
// Whether `a` comes before `b` in pre-order (both in one tree).
bool precedesInPreOrder(const Tree::Node& a, const Tree::Node& b);
} // namespace details
} // namespace dwl
