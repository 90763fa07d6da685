#include "sync/ScanNotes.h"

#include "qcl/Error.h"
#include "qcl/Format.h"
#include "qcl/Log.h"
#include "qcl/String.h"

#include <algorithm>
#include <vector>

namespace dwl
{
namespace
{
struct Noted
{
    std::vector<Tree::Directory*> unreadableFolders;
    std::vector<Tree::File*> files; // of the folders that hold a repeated local id, in the order of the scan
};

// Enters only the folders with a note at or below them.
void collect(Tree::Directory& directory, bool isRoot, Noted& noted)
{
    if (directory.listingError() != 0)
        noted.unreadableFolders.push_back(&directory);
    const bool takeFiles = directory.holdsRepeatedLocalId() && !isRoot;
    for (Tree::Node& child : directory.children())
    {
        if (Tree::File* file = child.asFile())
        {
            if (takeFiles)
                noted.files.push_back(file);
        }
        else if (Tree::Directory* folder = child.asDirectory(); folder->hasScanNotes())
            collect(*folder, false, noted);
    }
}

// The Share that holds the node: its ancestor directly under the root, or itself.
const Tree::Directory& shareOf(const Tree::Node& node)
{
    const Tree::Node* share = &node;
    while (share->parent() && share->parent()->parent())
        share = share->parent();
    return *share->asDirectory();
}

// The path below the root, "/" between names.
std::wstring relativePath(const Tree::Node& node)
{
    if (!node.parent() || !node.parent()->parent())
        return node.name();
    return relativePath(*node.parent()) + L"/" + node.name();
}

// The tree's node of the local id, looked up in the index of each Share.
const Tree::Node* recordedNode(Tree::Directory& tree, std::uint64_t localId)
{
    for (Tree::Node& child : tree.children())
    {
        Tree::Directory* share = child.asDirectory();
        if (!share)
            continue;
        if (share->localId() == localId)
            return share;
        try
        {
            share->buildLocalIdIndex(); // the comparison that follows builds it anyway
        }
        catch (const Tree::DuplicatedLocalIdError&)
        {
            continue; // settled by the comparison, which meets the same duplicate
        }
        if (const Tree::Node* node = share->findNodeByLocalId(localId))
            return node;
    }
    return nullptr;
}

// Of the names of one file (two or more, in the order of the scan), the one to keep.
Tree::File* nameToKeep(const std::vector<Tree::File*>& names, const Tree::Node* recorded)
{
    if (!recorded || !recorded->asFile())
        return names.front();
    const std::uint64_t folder = recorded->parent()->localId();
    const std::uint64_t share = shareOf(*recorded).localId();
    const auto first = [&](auto&& matches) -> Tree::File*
    {
        const auto found = std::find_if(names.begin(), names.end(), matches);
        return found == names.end() ? nullptr : *found;
    };
    if (Tree::File* same =
            first([&](Tree::File* name)
                  { return name->parent()->localId() == folder && name->name() == recorded->name(); }))
        return same;
    if (Tree::File* inFolder = first([&](Tree::File* name) { return name->parent()->localId() == folder; }))
        return inFolder;
    if (Tree::File* inShare = first([&](Tree::File* name) { return shareOf(*name).localId() == share; }))
        return inShare;
    return names.front();
}
} // namespace

void ScanNotes::settle(Tree::Directory& tree, Tree::Directory& snapshot, const Reports& reports)
{
    if (!snapshot.hasScanNotes())
    {
        mReported.clear();
        return;
    }
    Noted noted;
    collect(snapshot, true, noted);
    std::set<std::pair<std::uint64_t, std::wstring>> reported;
    // Whether the note is new since the last settlement; all are kept for the next one.
    const auto isNew = [&](const Tree::Node& node)
    {
        std::pair key{node.localId(), node.getPath()};
        const bool known = mReported.count(key) != 0;
        reported.insert(std::move(key));
        return !known;
    };

    for (Tree::Directory* folder : noted.unreadableFolders)
    {
        if (!isNew(*folder))
            continue;
        const qcl::SystemError error(qcl::format(L"Cannot read folder '%1%'", folder->getPath()),
                                     folder->listingError());
        QCL_LOG_WARN(error.message() << L" What it holds is left as it was until it can be read.");
        const Tree::Node* recorded = recordedNode(tree, folder->localId());
        const Tree::Node& node = recorded && recorded->asDirectory() ? *recorded : *folder;
        reports.unreadableFolder(node, shareOf(node), error.systemText());
    }

    std::stable_sort(noted.files.begin(), noted.files.end(),
                     [](const Tree::File* a, const Tree::File* b) { return a->localId() < b->localId(); });
    for (auto run = noted.files.begin(); run != noted.files.end();)
    {
        const auto end =
            std::find_if(run, noted.files.end(),
                         [&](const Tree::File* file) { return file->localId() != (*run)->localId(); });
        const std::vector<Tree::File*> names(run, end);
        run = end;
        if (names.size() < 2)
            continue;
        // A name left out before stays another name: one that the user gave the synchronised name since (a
        // rename) is the one to follow.
        std::vector<Tree::File*> candidates;
        std::copy_if(names.begin(), names.end(), std::back_inserter(candidates),
                     [&](const Tree::File* name) { return !mReported.contains({name->localId(), name->getPath()}); });
        const Tree::File* kept = nameToKeep(candidates.empty() ? names : candidates,
                                            recordedNode(tree, names.front()->localId()));
        for (Tree::File* name : names)
        {
            if (name == kept)
                continue;
            // In a scan during which the folder changed, a file moved meanwhile may be met twice: it is left out
            // for now, but not reported.
            if (!snapshot.changedDuringScan() && isNew(*name))
            {
                QCL_LOG_WARN(L"Left out " << qcl::string::escaped(name->getPath(), L'\'')
                                          << L": it is another name (hard link) of the file "
                                          << qcl::string::escaped(relativePath(*kept), L'\'')
                                          << L", which is synchronised under that name only");
                reports.otherName(*name, shareOf(*name), relativePath(*kept));
            }
            name->detach();
        }
    }
    if (snapshot.changedDuringScan())
        reported.insert(mReported.begin(), mReported.end());
    mReported = std::move(reported);
}
} // namespace dwl
