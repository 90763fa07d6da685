#include "sync/TreeIndex.h"

#include <stdexcept>
#include <tuple>

namespace dwl
{
namespace
{
using Event = Tree::TreeModificationEvent;

// The nearest directory at or above `directory` that holds a local-id index.
Tree::Directory* localIdIndexHolder(Tree::Directory* directory)
{
    for (; directory; directory = directory->parent())
        if (directory->hasLocalIdIndex())
            return directory;
    return nullptr;
}

Tree::Directory* rootOf(Tree::Directory* directory)
{
    while (directory && directory->parent())
        directory = directory->parent();
    return directory;
}
} // namespace

Tree::DuplicatedLocalIdError::DuplicatedLocalIdError(Node* node)
    : basic_runtime_error(L"Duplicated local ID: " + formatLocalId(node->localId())), mNode(node)
{
}

Tree::Node::Node(std::uint64_t localId, std::wstring name) : mLocalId(localId), mName(std::move(name)) {}

Tree::Node::~Node() = default;

void Tree::Node::copyIdsFrom(const Node& other)
{
    mShareId = other.mShareId;
    mAssetId = other.mAssetId;
}

void Tree::Node::notifyModification(const TreeModificationEvent& event)
{
    if (mParent)
        mParent->notifyModification(event);
}

std::wstring Tree::Node::getPath() const
{
    return mParent ? joinPath(mParent->getPath(), mName) : mName;
}

std::wstring Tree::Node::joinPath(const std::wstring& parent, const std::wstring& name)
{
    if (parent.empty() || parent.back() == kPathSeparator)
        return parent + name;
    return parent + kPathSeparator + name;
}

void Tree::Node::setName(const std::wstring& name)
{
    if (mName == name)
        return;
    // The parent's index by name is keyed by the name: take the node out while the name changes.
    auto rename = [this](std::wstring value) {
        if (mParent)
            mParent->mNames.erase(mParent->mNames.iterator_to(*this));
        mName = std::move(value);
        if (mParent)
            mParent->mNames.insert(*this);
    };
    std::wstring former = mName;
    rename(name);
    auto undo = qcl::scope::makeGuard([&] { rename(std::move(former)); });
    notifyModification({Event::Changed, this});
    undo.dismiss();
}

void Tree::Node::setShareId(const qcl::uint128& shareId) { changeField(mShareId, shareId); }

void Tree::Node::setAssetId(const qcl::uint128& assetId) { changeField(mAssetId, assetId); }

void Tree::Node::setLocalId(std::uint64_t localId)
{
    if (mLocalId == localId)
        return;
    notifyModification({Event::LocalIdChanging, this});
    const std::uint64_t former = mLocalId;
    mLocalId = localId;
    bool indexedUnderNewId = false;
    auto undo = qcl::scope::makeGuard([&] {
        // Leave the index under the new key before the old one is back, then return under the old key
        // (free a moment ago, so nothing can hold it now).
        if (indexedUnderNewId)
            notifyModification({Event::LocalIdChanging, this});
        mLocalId = former;
        notifyModification({Event::LocalIdChanged, this});
    });
    notifyModification({Event::LocalIdChanged, this});
    indexedUnderNewId = true;
    notifyModification({Event::Changed, this});
    undo.dismiss();
}

std::unique_ptr<Tree::Node> Tree::Node::detach()
{
    if (!mParent)
        throw std::logic_error("detach needs a parent");
    Directory& parent = *mParent;
    parent.notifyModification({Event::Removed, this});
    parent.unlinkChild(*this);
    return std::unique_ptr<Node>(this);
}

void Tree::Node::moveTo(Directory& newParent)
{
    if (mParent == &newParent)
        return;
    for (const Directory* d = &newParent; d; d = d->parent())
        if (d == this)
            throw std::invalid_argument("Cannot move a directory below itself");

    Directory* const oldParent = mParent;
    Node* const oldNext = [&]() -> Node* {
        if (!oldParent)
            return nullptr;
        auto next = std::next(oldParent->mChildren.iterator_to(*this));
        return next == oldParent->mChildren.end() ? nullptr : &*next;
    }();
    Directory* const oldHolder = localIdIndexHolder(oldParent);
    Directory* const newHolder = localIdIndexHolder(&newParent);
    Directory* const oldRoot = rootOf(oldParent);
    Directory* const newRoot = rootOf(&newParent);
    const bool changesLocalIdIndex = oldHolder != newHolder;
    const bool changesAssetIdIndex = oldRoot != newRoot;

    if (oldParent)
        oldParent->unlinkChild(*this);
    newParent.linkChild(*this);
    bool leftOldIndex = false;
    bool enteredNewIndex = false;
    auto undo = qcl::scope::makeGuard([&] {
        if (enteredNewIndex)
            newHolder->mLocalIdIndex->eraseSubtree(*this);
        if (leftOldIndex)
            oldHolder->mLocalIdIndex->insertSubtree(*this);
        newParent.unlinkChild(*this);
        if (oldParent)
            oldParent->linkChild(*this, oldNext);
    });
    if (changesLocalIdIndex && oldHolder)
    {
        oldHolder->mLocalIdIndex->eraseSubtree(*this);
        leftOldIndex = true;
    }
    if (changesLocalIdIndex && newHolder)
    {
        newHolder->mLocalIdIndex->insertSubtree(*this);
        enteredNewIndex = true;
    }
    notifyModification({Event::Moved, this});
    undo.dismiss();
    if (changesAssetIdIndex)
    {
        if (oldRoot && oldRoot->mAssetIdIndex)
            oldRoot->mAssetIdIndex->eraseSubtree(*this);
        if (newRoot && newRoot->mAssetIdIndex)
            newRoot->mAssetIdIndex->insertSubtree(*this);
    }
}

Tree::File::File(std::uint64_t localId, std::wstring name, std::uint64_t size, std::uint64_t lastModificationTime,
                 std::uint64_t changeTime)
    : Node(localId, std::move(name)), mSize(size), mLastModificationTime(lastModificationTime),
      mChangeTime(changeTime)
{
}

std::unique_ptr<Tree::Node> Tree::File::clone() const
{
    auto copy = std::make_unique<File>(localId(), name(), mSize, mLastModificationTime, mChangeTime);
    copy->copyIdsFrom(*this);
    copy->mVersionNumber = mVersionNumber;
    return copy;
}

void Tree::File::setSize(std::uint64_t size) { changeField(mSize, size); }

void Tree::File::setLastModificationTime(std::uint64_t time) { changeField(mLastModificationTime, time); }

void Tree::File::setChangeTime(std::uint64_t time) { changeField(mChangeTime, time); }

void Tree::File::setVersionNumber(std::uint64_t versionNumber) { changeField(mVersionNumber, versionNumber); }

void Tree::File::setContent(std::uint64_t size, std::uint64_t lastModificationTime, std::uint64_t changeTime,
                            std::uint64_t versionNumber)
{
    const std::tuple former{mSize, mLastModificationTime, mChangeTime, mVersionNumber};
    const std::tuple wanted{size, lastModificationTime, changeTime, versionNumber};
    if (former == wanted)
        return;
    std::tie(mSize, mLastModificationTime, mChangeTime, mVersionNumber) = wanted;
    auto undo = qcl::scope::makeGuard(
        [&] { std::tie(mSize, mLastModificationTime, mChangeTime, mVersionNumber) = former; });
    notifyModification({TreeModificationEvent::Changed, this});
    undo.dismiss();
}
} // namespace dwl
