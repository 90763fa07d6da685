#pragma once
// The in-memory picture of the Wayfold folder: directories and files under one root directory.
//
// Every change to a node raises a TreeModificationEvent that climbs from the node to the root. Directories
// on the way keep their indexes in step with it (the local-id index of a compared subtree, the asset-id
// index of a root) and call their observer, which is how the tree database writes each change at once. A
// tree operation whose event propagation throws is undone before the exception passes on.

#include "qcl/Error.h"
#include "qcl/Uint128.h"
#include "qcl/qcl_scope.h"

#include <boost/intrusive/list.hpp>
#include <boost/intrusive/set.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

namespace dwl
{
class Tree
{
public:
    Tree() = delete;

    class Node;
    class Directory;
    class File;
    class Visitor;
    struct TreeModificationEvent;
    class DuplicatedLocalIdError;
    class LocalIdIndex;  // defined in TreeIndex.h
    class AssetIdIndex;  // defined in TreeIndex.h

    // The 19-character text form of a local id: four groups of four lower-case hexadecimal digits, most
    // significant first, joined by "-" (1 gives 0000-0000-0000-0001).
    static std::wstring formatLocalId(std::uint64_t localId);

    // The first node, depth-first with a node before its children and children in list order, at or below
    // `node` whose asset id equals `assetId`; null when none. Answered from an index of the whole tree that
    // is built at the first call on a tree and kept up to date by the modification events.
    static Node* findNodeById(Node* node, const qcl::uint128& assetId);

    // The first file among the direct children of `directory` whose name is exactly `name`, or null.
    static File* findFileByName(Directory* directory, const std::wstring& name);
    // The same for a directory.
    static Directory* findDirectoryByName(Directory* directory, const std::wstring& name);

    // Writes the directory and everything below it, one line a node, with "|--" and "+--" branches.
    static std::wostream& printTree(std::wostream& stream, const Directory& directory);

private:
    template <class Kind> static Kind* firstChildByName(Directory* directory, const std::wstring& name);
};

struct Tree::TreeModificationEvent
{
    enum Kind : std::uint32_t
    {
        Added = 0,           // after the node was linked under its new parent; raised on that parent
        Removed = 1,         // before the node is unlinked; raised on its parent
        Moved = 2,           // after the node was linked under its new parent; raised on the node
        Changed = 3,         // after a field changed; raised on the node
        LocalIdChanging = 4, // before the local id changes; the holding index drops the node
        LocalIdChanged = 5,  // after the local id changed; the holding index takes the node again
    };

    Kind kind;
    Node* node;
};

class Tree::Visitor
{
public:
    virtual ~Visitor() = default;
    virtual void visit(Directory& directory) = 0;
    virtual void visit(File& file) = 0;
};

class Tree::DuplicatedLocalIdError : public qcl::basic_runtime_error<wchar_t>
{
public:
    explicit DuplicatedLocalIdError(Node* node);

    // The node whose insertion failed; valid only as long as that node lives (an added node whose addition
    // is undone is destroyed with its owner).
    Node* node() const { return mNode; }

private:
    Node* mNode;
};

class Tree::Node
{
public:
    using Hook = boost::intrusive::list_member_hook<>;
    using IndexHook = boost::intrusive::set_member_hook<boost::intrusive::optimize_size<true>>;

    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node();

    // A deep copy with the same ids, name, flags and file fields; no parent, no index, no observer.
    virtual std::unique_ptr<Node> clone() const = 0;
    virtual void accept(Visitor& visitor) = 0;
    virtual void notifyModification(const TreeModificationEvent& event);
    virtual File* asFile() { return nullptr; }
    virtual Directory* asDirectory() { return nullptr; }
    const File* asFile() const { return const_cast<Node*>(this)->asFile(); }
    const Directory* asDirectory() const { return const_cast<Node*>(this)->asDirectory(); }

    std::uint64_t localId() const { return mLocalId; }
    const qcl::uint128& shareId() const { return mShareId; }
    const qcl::uint128& assetId() const { return mAssetId; }
    Directory* parent() const { return mParent; }
    const std::wstring& name() const { return mName; }

    // What getPath puts between names; local paths are native paths.
    static constexpr wchar_t kPathSeparator = L'/';

    // The parent's path, the separator unless that path is empty or already ends with one, then the name:
    // with the root named by the folder's path, the full path of the node.
    std::wstring getPath() const;
    // The path of the entry `name` in the folder at `parent`, by the same rule.
    static std::wstring joinPath(const std::wstring& parent, const std::wstring& name);

    // Each setter does nothing when the value is already held; otherwise it stores the value and raises
    // Changed, restoring the former value when the propagation throws.
    void setName(const std::wstring& name);
    void setShareId(const qcl::uint128& shareId);
    void setAssetId(const qcl::uint128& assetId);
    // Raises LocalIdChanging, LocalIdChanged and Changed; the holding index moves the node to its new key.
    void setLocalId(std::uint64_t localId);

    // Unlinks the node from its parent and hands over ownership; raises Removed on the parent first. The
    // node must have a parent.
    std::unique_ptr<Node> detach();

    // Appends the node to the children of `newParent` and raises Moved; nothing when it is there already.
    // The local-id and asset-id indexes follow the node when it changes from one to another. Moving a
    // directory below itself throws std::invalid_argument. When the propagation throws, the node goes back
    // to its former place.
    void moveTo(Directory& newParent);

protected:
    Node(std::uint64_t localId, std::wstring name);
    // For clones: takes the share and asset ids of `other`.
    void copyIdsFrom(const Node& other);

    // Raises Changed after `field` took `value`; puts the old value back when the propagation throws.
    template <class T>
    void changeField(T& field, const T& value);

private:
    friend class Tree;
    friend class Directory;
    friend class AssetIdIndex;

    std::uint64_t mLocalId;
    qcl::uint128 mShareId;
    qcl::uint128 mAssetId;
    Directory* mParent = nullptr;
    std::wstring mName;
    Hook mSiblingHook;      // place in the parent's child list
    IndexHook mNameHook;    // place in the parent's index by name
    IndexHook mAssetIdHook; // place in the asset-id index of the root
};

class Tree::File : public Node
{
public:
    // A new file: version 0, zero share and asset ids, no parent. Times are file times: 100-ns ticks since
    // 1601-01-01 UTC. The change time is the last change of the content or the metadata, which no program can
    // set back (unlike the modification time); 0 when it is not known.
    File(std::uint64_t localId, std::wstring name, std::uint64_t size, std::uint64_t lastModificationTime,
         std::uint64_t changeTime = 0);

    std::unique_ptr<Node> clone() const override;
    void accept(Visitor& visitor) override { visitor.visit(*this); }
    File* asFile() override { return this; }

    std::uint64_t size() const { return mSize; }
    std::uint64_t lastModificationTime() const { return mLastModificationTime; }
    std::uint64_t changeTime() const { return mChangeTime; }
    std::uint64_t versionNumber() const { return mVersionNumber; }

    void setSize(std::uint64_t size);
    void setLastModificationTime(std::uint64_t time);
    void setChangeTime(std::uint64_t time);
    void setVersionNumber(std::uint64_t versionNumber);
    // The four together, as one change.
    void setContent(std::uint64_t size, std::uint64_t lastModificationTime, std::uint64_t changeTime,
                    std::uint64_t versionNumber);

private:
    std::uint64_t mSize;
    std::uint64_t mLastModificationTime;
    std::uint64_t mChangeTime;
    std::uint64_t mVersionNumber = 0;
};

namespace details
{
struct NodeNameOf
{
    using type = std::wstring;
    const type& operator()(const Tree::Node& node) const { return node.name(); }
};
} // namespace details

class Tree::Directory : public Node
{
public:
    using Children = boost::intrusive::list<Node, boost::intrusive::member_hook<Node, Hook, &Node::mSiblingHook>>;
    using ModificationListener = std::function<void(const TreeModificationEvent&)>;

    // A new directory: owned, not synchronised, zero share and asset ids, no parent.
    Directory(std::uint64_t localId, std::wstring name);
    ~Directory() override;

    std::unique_ptr<Node> clone() const override;
    void accept(Visitor& visitor) override { visitor.visit(*this); }
    void notifyModification(const TreeModificationEvent& event) override;
    Directory* asDirectory() override { return this; }

    // The children in list order: for (Tree::Node& child : directory.children()).
    const Children& children() const { return mChildren; }
    Children& children() { return mChildren; }

    bool isOwned() const { return mIsOwned; }
    bool isSynchronised() const { return mIsSynchronised; }
    void setOwned(bool owned);
    void setSynchronised(bool synchronised);

    // Appends the node to the children and raises Added on this directory. When the propagation throws, the
    // node is unlinked again and destroyed, and the exception passes on.
    Node& addChild(std::unique_ptr<Node> node);
    template <class T>
    T& addChild(std::unique_ptr<T> node)
    {
        return static_cast<T&>(addChild(std::unique_ptr<Node>(std::move(node))));
    }

    // Detaches and destroys the first child until none is left: one Removed event a direct child.
    void removeAllChildren();

    // The first directory among the direct children whose share id is `shareId`, or null.
    Directory* findChildById(const qcl::uint128& shareId);

    // Builds the local-id index of this directory and everything below it, unless it holds one already.
    // Indexes of ancestors are deleted first, so that at most one directory on any path holds an index.
    // Throws DuplicatedLocalIdError, installing no index, when a local id occurs twice.
    void buildLocalIdIndex();
    bool hasLocalIdIndex() const { return mLocalIdIndex != nullptr; }
    // Looks up this directory's own local-id index: null without an index or when the id is not there.
    Node* findNodeByLocalId(std::uint64_t localId) const;
    // How many nodes this directory's own local-id index holds; 0 without an index.
    std::size_t localIdIndexSize() const;

    void setModificationListener(ModificationListener listener) { mObserver = std::move(listener); }

    // Notes that a scan leaves on the directories of a snapshot for the command processor to settle before the
    // comparison with the tree. Plain fields: they raise no events, are never stored, and only clone() copies
    // them.
    //
    // 0 when the scan read the directory's content; else the error code that kept it from listing it: its
    // children are then not known (rather than absent) and the snapshot holds none.
    std::uint32_t listingError() const { return mListingError; }
    bool isContentKnown() const { return mListingError == 0 && !(mScanNotes & kContentUnsettled); }
    void setListingError(std::uint32_t code) { mListingError = code; }
    // Set by the receiver: the content was read, but is not to be compared with the tree yet.
    void setContentUnsettled() { mScanNotes |= kContentUnsettled; }
    // On a root: the folder changed while the scan ran (it kept changing, and the snapshot was sent anyway), so
    // an item moved meanwhile may be missing or met twice.
    bool changedDuringScan() const { return mScanNotes & kChangedDuringScan; }
    void noteChangedDuringScan() { mScanNotes |= kChangedDuringScan; }
    // Whether one of the files among the children has a local id that the scan met at another place too (a
    // second name, a hard link, of the same file).
    bool holdsRepeatedLocalId() const { return mScanNotes & kHoldsRepeatedLocalId; }
    void noteRepeatedLocalId() { mScanNotes |= kHoldsRepeatedLocalId; }
    // Whether a directory below holds a note, so that a search for notes enters only the subtrees with one.
    bool hasNotesBelow() const { return mScanNotes & kNotesBelow; }
    void noteNotesBelow() { mScanNotes |= kNotesBelow; }
    bool hasScanNotes() const { return mScanNotes != 0 || mListingError != 0; }
    void clearScanNotes()
    {
        mScanNotes = 0;
        mListingError = 0;
    }

private:
    friend class Tree;
    friend class Node;
    friend class LocalIdIndex;
    friend class AssetIdIndex;

    using NamesIndex = boost::intrusive::multiset<
        Node, boost::intrusive::member_hook<Node, IndexHook, &Node::mNameHook>,
        boost::intrusive::key_of_value<details::NodeNameOf>, boost::intrusive::constant_time_size<false>>;

    // Structural linking without events: the child list and the index by name.
    void linkChild(Node& node, Node* before = nullptr);
    void unlinkChild(Node& node);

    void notifyAdded(const TreeModificationEvent& event);
    void notifyRemoved(const TreeModificationEvent& event);

    Children mChildren;
    NamesIndex mNames;
    bool mIsOwned = true;
    bool mIsSynchronised = false;
    static constexpr std::uint8_t kHoldsRepeatedLocalId = 1;
    static constexpr std::uint8_t kNotesBelow = 2;
    static constexpr std::uint8_t kContentUnsettled = 4;
    static constexpr std::uint8_t kChangedDuringScan = 8;
    std::uint8_t mScanNotes = 0; // in the padding after the flags, as is the listing error
    std::uint32_t mListingError = 0;
    std::unique_ptr<LocalIdIndex> mLocalIdIndex;
    std::unique_ptr<AssetIdIndex> mAssetIdIndex; // only on a root, made by the first findNodeById
    ModificationListener mObserver;
};

std::wostream& operator<<(std::wostream& stream, const Tree::Directory& directory);

template <class T>
void Tree::Node::changeField(T& field, const T& value)
{
    if (field == value)
        return;
    T former = std::exchange(field, value);
    auto undo = qcl::scope::makeGuard([&] { field = std::move(former); });
    notifyModification({TreeModificationEvent::Changed, this});
    undo.dismiss();
}
} // namespace dwl
