#include "sync/TreeIndex.h"

#include <stdexcept>

namespace dwl
{
namespace
{
using Event = Tree::TreeModificationEvent;
}

Tree::Directory::Directory(std::uint64_t localId, std::wstring name) : Node(localId, std::move(name)) {}

Tree::Directory::~Directory()
{
    mLocalIdIndex.reset();
    mAssetIdIndex.reset();
    mNames.clear();
    mChildren.clear_and_dispose([](Node* child) { delete child; });
}

std::unique_ptr<Tree::Node> Tree::Directory::clone() const
{
    auto copy = std::make_unique<Directory>(localId(), name());
    copy->copyIdsFrom(*this);
    copy->mIsOwned = mIsOwned;
    copy->mIsSynchronised = mIsSynchronised;
    copy->mScanNotes = mScanNotes;
    copy->mListingError = mListingError;
    for (const Node& child : mChildren)
        copy->linkChild(*child.clone().release());
    return copy;
}

void Tree::Directory::setOwned(bool owned) { changeField(mIsOwned, owned); }

void Tree::Directory::setSynchronised(bool synchronised) { changeField(mIsSynchronised, synchronised); }

void Tree::Directory::linkChild(Node& node, Node* before)
{
    if (Directory* directory = node.asDirectory())
        directory->mAssetIdIndex.reset(); // only a root keeps one
    mChildren.insert(before ? mChildren.iterator_to(*before) : mChildren.end(), node);
    mNames.insert(node);
    node.mParent = this;
}

void Tree::Directory::unlinkChild(Node& node)
{
    mNames.erase(mNames.iterator_to(node));
    mChildren.erase(mChildren.iterator_to(node));
    node.mParent = nullptr;
}

Tree::Node& Tree::Directory::addChild(std::unique_ptr<Node> node)
{
    if (!node)
        throw std::invalid_argument("addChild needs a node");
    if (node->parent())
        throw std::logic_error("addChild of a node that has a parent");
    Node& child = *node;
    linkChild(*node.release());
    auto undo = qcl::scope::makeGuard([&] {
        unlinkChild(child);
        delete &child;
    });
    notifyModification({Event::Added, &child});
    undo.dismiss();
    return child;
}

void Tree::Directory::removeAllChildren()
{
    while (!mChildren.empty())
        mChildren.front().detach();
}

Tree::Directory* Tree::Directory::findChildById(const qcl::uint128& shareId)
{
    for (Node& child : mChildren)
        if (Directory* directory = child.asDirectory(); directory && directory->shareId() == shareId)
            return directory;
    return nullptr;
}

void Tree::Directory::buildLocalIdIndex()
{
    if (mLocalIdIndex)
        return;
    for (Directory* ancestor = parent(); ancestor; ancestor = ancestor->parent())
        ancestor->mLocalIdIndex.reset();
    auto index = std::make_unique<LocalIdIndex>();
    index->insertSubtree(*this);
    mLocalIdIndex = std::move(index);
}

Tree::Node* Tree::Directory::findNodeByLocalId(std::uint64_t localId) const
{
    return mLocalIdIndex ? mLocalIdIndex->find(localId) : nullptr;
}

std::size_t Tree::Directory::localIdIndexSize() const
{
    return mLocalIdIndex ? mLocalIdIndex->size() : 0;
}

void Tree::Directory::notifyModification(const TreeModificationEvent& event)
{
    switch (event.kind)
    {
    case Event::Added:
        notifyAdded(event);
        break;
    case Event::Removed:
        notifyRemoved(event);
        break;
    case Event::Moved:
    case Event::Changed:
        if (mObserver)
            mObserver(event);
        Node::notifyModification(event);
        // Last step of the climb (only a root holds this index), so no later step can fail after it.
        if (mAssetIdIndex && event.kind == Event::Changed)
            mAssetIdIndex->rekey(*event.node);
        break;
    case Event::LocalIdChanging:
        if (mLocalIdIndex)
            mLocalIdIndex->erase(*event.node);
        else
            Node::notifyModification(event);
        break;
    case Event::LocalIdChanged:
        if (mLocalIdIndex)
            mLocalIdIndex->insert(*event.node);
        else
            Node::notifyModification(event);
        break;
    }
}

void Tree::Directory::notifyAdded(const TreeModificationEvent& event)
{
    if (mLocalIdIndex)
        mLocalIdIndex->insertSubtree(*event.node);
    bool observed = false;
    auto undo = qcl::scope::makeGuard([&] {
        if (mLocalIdIndex)
            mLocalIdIndex->eraseSubtree(*event.node);
        // The observer took the addition; tell it the node goes away again.
        if (observed)
            mObserver({Event::Removed, event.node});
    });
    if (mObserver)
    {
        mObserver(event);
        observed = true;
    }
    Node::notifyModification(event);
    undo.dismiss();
    if (mAssetIdIndex)
        mAssetIdIndex->insertSubtree(*event.node);
}

void Tree::Directory::notifyRemoved(const TreeModificationEvent& event)
{
    if (mObserver)
        mObserver(event);
    if (mLocalIdIndex)
        mLocalIdIndex->eraseSubtree(*event.node);
    auto undo = qcl::scope::makeGuard([&] {
        if (mLocalIdIndex)
            mLocalIdIndex->insertSubtree(*event.node);
    });
    Node::notifyModification(event);
    undo.dismiss();
    if (mAssetIdIndex)
        mAssetIdIndex->eraseSubtree(*event.node);
}
} // namespace dwl
