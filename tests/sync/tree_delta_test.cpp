#include "sync/TreeDelta.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <vector>

using dwl::Tree;

namespace
{
std::unique_ptr<Tree::Directory> dir(std::uint64_t id, const std::wstring& name)
{
    return std::make_unique<Tree::Directory>(id, name);
}

std::unique_ptr<Tree::File> file(std::uint64_t id, const std::wstring& name, std::uint64_t size = 0)
{
    return std::make_unique<Tree::File>(id, name, size, 100);
}

std::wstring relativePath(const Tree::Node& node)
{
    return node.parent() ? relativePath(*node.parent()) + L"/" + node.name() : std::wstring();
}

// Brings the old tree in line like the command processor does, and records each report.
class ApplyingCallbacks : public dwl::TreeDeltaCallbacks
{
public:
    std::vector<std::wstring> log;
    std::set<std::wstring> refusedDirectories;

    void onShareRenamed(Tree::Directory* oldShare, Tree::Directory* newShare) override
    {
        record(L"share renamed " + oldShare->name() + L" -> " + newShare->name());
        oldShare->setName(newShare->name());
    }
    Tree::Directory* onShareAdded(Tree::Directory* newShare) override
    {
        record(L"share added " + newShare->name());
        Tree::Directory& root = *mOldRoot;
        return &root.addChild(dir(newShare->localId(), newShare->name()));
    }
    void onShareRemoved(Tree::Directory* oldShare) override
    {
        record(L"share removed " + oldShare->name());
        oldShare->detach();
    }
    void onNodeRenamed(Tree::Directory*, Tree::Node* oldNode, Tree::Node* newNode) override
    {
        record(L"renamed " + relativePath(*oldNode) + L" -> " + newNode->name());
        oldNode->setName(newNode->name());
    }
    void onNodeMoved(Tree::Directory*, Tree::Node* oldNode, Tree::Node*, Tree::Directory* destination) override
    {
        record(L"moved " + relativePath(*oldNode) + L" -> " + relativePath(*destination));
        oldNode->moveTo(*destination);
    }
    Tree::Directory* onDirectoryAdded(Tree::Directory*, Tree::Directory* newDirectory,
                                      Tree::Directory* destination) override
    {
        record(L"directory added " + relativePath(*newDirectory));
        if (refusedDirectories.count(newDirectory->name()))
            return nullptr;
        return &destination->addChild(dir(newDirectory->localId(), newDirectory->name()));
    }
    void onFileAdded(Tree::Directory*, Tree::File* newFile, Tree::Directory* destination) override
    {
        record(L"file added " + relativePath(*newFile));
        destination->addChild(std::make_unique<Tree::File>(newFile->localId(), newFile->name(), newFile->size(),
                                                           newFile->lastModificationTime()));
    }
    void onFileModified(Tree::Directory*, Tree::File* oldFile, Tree::File* newFile) override
    {
        record(L"file modified " + relativePath(*oldFile));
        oldFile->setSize(newFile->size());
        oldFile->setLastModificationTime(newFile->lastModificationTime());
    }
    void onNodeRemoved(Tree::Directory*, Tree::Node* oldNode) override
    {
        record(L"removed " + relativePath(*oldNode));
        oldNode->detach();
    }
    void onShareNotRestored(Tree::Directory* oldShare) override
    {
        record(L"share not restored " + oldShare->name());
        oldShare->detach();
    }
    void onNodeNotRestored(Tree::Directory*, Tree::Node* oldNode) override
    {
        record(L"not restored " + relativePath(*oldNode));
        oldNode->detach();
    }

    void run(Tree::Directory& oldRoot, Tree::Directory& newRoot)
    {
        mOldRoot = &oldRoot;
        dwl::determineTreeDelta(*this, oldRoot, newRoot, mRenewedFolders);
    }

private:
    dwl::RenewedFolders mRenewedFolders;
    void record(std::wstring line) { log.push_back(std::move(line)); }
    Tree::Directory* mOldRoot = nullptr;
};

// Every node below the Shares as "path id kind size time", in a canonical order.
std::set<std::wstring> contents(const Tree::Directory& root)
{
    std::set<std::wstring> lines;
    std::vector<const Tree::Node*> pending;
    for (const Tree::Node& child : root.children())
        if (child.asDirectory())
            pending.push_back(&child);
    while (!pending.empty())
    {
        const Tree::Node* node = pending.back();
        pending.pop_back();
        std::wostringstream line;
        line << relativePath(*node) << L' ' << node->localId();
        if (const Tree::File* f = node->asFile())
            line << L" file " << f->size() << L' ' << f->lastModificationTime();
        else
            for (const Tree::Node& child : node->asDirectory()->children())
                pending.push_back(&child);
        lines.insert(line.str());
    }
    return lines;
}

// Old: root/{s1(1)/{a(2)/{f(3), g(4)}, b(5)/{}}, s2(10)/{h(11)}, loose(99)}; new is a copy.
struct Delta : ::testing::Test
{
    std::unique_ptr<Tree::Directory> oldRoot = dir(0, L"root");
    std::unique_ptr<Tree::Directory> newRoot;
    ApplyingCallbacks callbacks;

    void SetUp() override
    {
        auto& s1 = oldRoot->addChild(dir(1, L"s1"));
        auto& a = s1.addChild(dir(2, L"a"));
        a.addChild(file(3, L"f", 10));
        a.addChild(file(4, L"g", 20));
        s1.addChild(dir(5, L"b"));
        oldRoot->addChild(dir(10, L"s2")).addChild(file(11, L"h", 30));
        oldRoot->addChild(file(99, L"loose"));
        newRoot.reset(oldRoot->clone().release()->asDirectory());
    }

    Tree::Node& at(const std::wstring& path) { return at(*newRoot, path); }
    static Tree::Node& at(Tree::Directory& root, const std::wstring& path)
    {
        Tree::Node* node = &root;
        std::wstringstream parts(path);
        std::wstring part;
        while (std::getline(parts, part, L'/'))
        {
            Tree::Node* next = nullptr;
            for (Tree::Node& child : node->asDirectory()->children())
                if (child.name() == part)
                    next = &child;
            node = next;
        }
        return *node;
    }

    std::vector<std::wstring> run()
    {
        callbacks.run(*oldRoot, *newRoot);
        EXPECT_EQ(contents(*oldRoot), contents(*newRoot));
        return callbacks.log;
    }
};

using Log = std::vector<std::wstring>;
} // namespace

TEST_F(Delta, IdenticalTreesReportNothing)
{
    EXPECT_EQ(run(), Log{});
}

TEST_F(Delta, RenameInPlaceIsOnlyARename)
{
    at(L"s1/a/f").setName(L"f2");
    EXPECT_EQ(run(), Log{L"renamed /s1/a/f -> f2"});
}

TEST_F(Delta, MoveIsReportedBeforeRename)
{
    Tree::Node& f = at(L"s1/a/f");
    f.moveTo(*at(L"s1/b").asDirectory());
    f.setName(L"f2");
    EXPECT_EQ(run(), (Log{L"moved /s1/a/f -> /s1/b", L"renamed /s1/b/f -> f2"}));
}

TEST_F(Delta, MoveAcrossSharesIsAnAdditionAndARemoval)
{
    at(L"s1/a/f").moveTo(*at(L"s2").asDirectory());
    EXPECT_EQ(run(), (Log{L"removed /s1/a/f", L"file added /s2/f"}));
}

TEST_F(Delta, DirectoryMovedIntoItsFormerChildIsFollowed)
{
    // a moves into its former sibling b and keeps its content.
    Tree::Node& b = at(L"s1/b");
    Tree::Node& a = at(L"s1/a");
    a.moveTo(*b.asDirectory());
    EXPECT_EQ(run(), Log{L"moved /s1/a -> /s1/b"});
}

TEST_F(Delta, FileSavedThroughANewFileKeepsItsIdentity)
{
    auto& a = *at(L"s1/a").asDirectory();
    at(L"s1/a/f").detach();
    a.addChild(file(50, L"f", 11));
    Tree::Node& oldF = *oldRoot->children().front().asDirectory()->children().front().asDirectory()->children().front()
                            .asFile();
    oldF.setAssetId(qcl::uint128::fromHalves(7, 7));
    EXPECT_EQ(run(), Log{L"file modified /s1/a/f"});
    EXPECT_EQ(oldF.localId(), 50u);
    EXPECT_EQ(oldF.assetId(), qcl::uint128::fromHalves(7, 7));
}

TEST_F(Delta, ItemsFoundUnderTheirNamesWithNewIdsAreTheSameItemsAndWhatTheyLackIsNotRestored)
{
    // Restored from a copy: every item has a new local id, the root too. Only a content that differs is an edit,
    // and what the copy lacks is not known to be removed, even when a later snapshot is the first to tell.
    oldRoot->setLocalId(900);
    newRoot->setLocalId(901);
    std::uint64_t nextId = 500;
    std::function<void(Tree::Directory&)> renumber = [&](Tree::Directory& directory)
    {
        for (Tree::Node& child : directory.children())
        {
            child.setLocalId(++nextId);
            if (Tree::Directory* inner = child.asDirectory())
                renumber(*inner);
        }
    };
    renumber(*newRoot);
    at(L"s1/a/g").asFile()->setSize(21);
    at(L"s1/b").detach();
    at(L"s2").setName(L"S2"); // a Share under another name with another id is another Share
    newRoot->noteChangedDuringScan();
    callbacks.run(*oldRoot, *newRoot);
    EXPECT_EQ(callbacks.log, (Log{L"file modified /s1/a/g", L"share added S2", L"file added /S2/h"}));
    EXPECT_EQ(at(*oldRoot, L"s1/a/f").localId(), at(L"s1/a/f").localId());
    EXPECT_EQ(oldRoot->localId(), 900u); // taken once what it lacks is known

    callbacks.log.clear();
    newRoot->clearScanNotes();
    EXPECT_EQ(run(), (Log{L"share not restored s2", L"not restored /s1/b"}));
    EXPECT_EQ(oldRoot->localId(), 901u);
    at(L"s1/a/f").detach(); // removed by the user from then on
    callbacks.log.clear();
    EXPECT_EQ(run(), Log{L"removed /s1/a/f"});
}

TEST_F(Delta, SameNameWithTheOldIdStillPresentIsAnAddition)
{
    auto& a = *at(L"s1/a").asDirectory();
    at(L"s1/a/f").moveTo(*at(L"s1/b").asDirectory());
    a.addChild(file(50, L"f", 11));
    EXPECT_EQ(run(), (Log{L"file added /s1/a/f", L"moved /s1/a/f -> /s1/b"}));
}

TEST_F(Delta, OnlySizeAndTimeMakeAModification)
{
    // A change of mode, owner, attributes or links moves the change time alone, also beside a rename.
    at(*oldRoot, L"s1/a/g").asFile()->setChangeTime(1);
    at(*oldRoot, L"s1/a/f").asFile()->setChangeTime(1);
    auto& g = *at(L"s1/a/g").asFile();
    g.setVersionNumber(9);
    g.setChangeTime(2);
    at(L"s1/a/f").asFile()->setChangeTime(2);
    at(L"s1/a/f").setName(L"f2");
    EXPECT_EQ(run(), Log{L"renamed /s1/a/f -> f2"});
    g.setLastModificationTime(200);
    callbacks.log.clear();
    EXPECT_EQ(run(), Log{L"file modified /s1/a/g"});
}

TEST_F(Delta, AScanDuringWhichTheFolderChangedRemovesNothing)
{
    // An item moved during the scan may be missing from it.
    at(L"s1/a/f").detach();
    at(L"s2").detach();
    at(L"s1/b").setName(L"b2");
    newRoot->noteChangedDuringScan();
    callbacks.run(*oldRoot, *newRoot);
    EXPECT_EQ(callbacks.log, Log{L"renamed /s1/b -> b2"});
}

TEST_F(Delta, RefusedDirectoryIsDroppedWithItsContent)
{
    auto& x = at(L"s1").asDirectory()->addChild(dir(60, L"x"));
    x.addChild(file(61, L"inner"));
    callbacks.refusedDirectories = {L"x"};
    EXPECT_EQ(run(), Log{L"directory added /s1/x"});
    EXPECT_EQ(at(L"s1").asDirectory()->children().size(), 2u); // dropped from the snapshot
}

TEST_F(Delta, ShareRenameComesFirstAndRootFilesAreIgnored)
{
    at(L"s1").setName(L"S1");
    at(L"S1/a/f").setName(L"F");
    at(L"loose").asFile()->setSize(1234);
    newRoot->addChild(file(98, L"another loose file"));
    EXPECT_EQ(run(), (Log{L"share renamed s1 -> S1", L"renamed /S1/a/f -> F"}));
}

TEST_F(Delta, SharesAreAddedAndRemovedByLocalId)
{
    at(L"s2").detach();
    newRoot->addChild(dir(7, L"s3")).addChild(dir(8, L"d")).addChild(file(9, L"k"));
    EXPECT_EQ(run(), (Log{L"share added s3", L"directory added /s3/d", L"file added /s3/d/k", L"share removed s2"}));
}

TEST_F(Delta, RemovalsComeDeepestFirst)
{
    at(L"s1/a").detach();
    EXPECT_EQ(run(), (Log{L"removed /s1/a/f", L"removed /s1/a/g", L"removed /s1/a"}));
}

TEST_F(Delta, LocalIdThatChangedItsKindIsARemovalAndAnAddition)
{
    // g (4) is now a directory, and the directory b (5) is now a file.
    at(L"s1/a/g").detach();
    at(L"s1/a").asDirectory()->addChild(dir(4, L"g")).addChild(file(40, L"inside"));
    at(L"s1/b").detach();
    at(L"s1").asDirectory()->addChild(file(5, L"b", 1));
    EXPECT_EQ(run(), (Log{L"removed /s1/a/g", L"directory added /s1/a/g", L"file added /s1/a/g/inside",
                          L"removed /s1/b", L"file added /s1/b"}));
}

TEST_F(Delta, DirectoryWhoseContentIsNotKnownKeepsItsOldContentAndANewOneWaits)
{
    // a and the Share s2 could not be read, and a was renamed; x and the Share s3 are new and cannot be read.
    const auto unread = [](Tree::Node& node) -> Tree::Directory&
    {
        Tree::Directory& directory = *node.asDirectory();
        directory.removeAllChildren();
        directory.setListingError(5);
        return directory;
    };
    unread(at(L"s1/a")).setName(L"a2");
    unread(at(L"s2"));
    unread(at(L"s1").asDirectory()->addChild(dir(60, L"x")));
    unread(newRoot->addChild(dir(70, L"s3")));

    callbacks.run(*oldRoot, *newRoot);
    EXPECT_EQ(callbacks.log, Log{L"renamed /s1/a -> a2"});
    const std::set<std::wstring> kept{
        L"/s1 1",   L"/s1/a2 2", L"/s1/a2/f 3 file 10 100", L"/s1/a2/g 4 file 20 100",
        L"/s1/b 5", L"/s2 10",   L"/s2/h 11 file 30 100"};
    EXPECT_EQ(contents(*oldRoot), kept);
}

TEST_F(Delta, DuplicateLocalIdInAShareStopsTheDelta)
{
    at(L"s1/b").asDirectory()->addChild(file(3, L"copy"));
    EXPECT_THROW(callbacks.run(*oldRoot, *newRoot), Tree::DuplicatedLocalIdError);
}

// Random edits of the snapshot: after the delta the old tree holds exactly what the snapshot holds.
TEST(DeltaRandom, OldTreeEndsEqualToTheSnapshot)
{
    for (unsigned seed = 1; seed <= 300; ++seed)
    {
        std::mt19937 random(seed);
        auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
        std::uint64_t nextId = 1;
        auto oldRoot = dir(0, L"root");
        std::vector<Tree::Directory*> directories;
        for (int s = 0; s < 3; ++s)
            directories.push_back(&oldRoot->addChild(dir(nextId++, L"share" + std::to_wstring(s))));
        for (int i = 0; i < 30; ++i)
        {
            Tree::Directory* parent = directories[pick(directories.size())];
            if (pick(3) == 0)
                directories.push_back(&parent->addChild(dir(nextId++, L"d" + std::to_wstring(i))));
            else
                parent->addChild(file(nextId++, L"f" + std::to_wstring(i), pick(5)));
        }
        std::unique_ptr<Tree::Directory> newRoot(oldRoot->clone().release()->asDirectory());

        for (int edit = 0; edit < 8; ++edit)
        {
            std::vector<Tree::Node*> nodes; // everything below the Shares
            std::vector<Tree::Directory*> dirs;
            std::vector<Tree::Node*> pending(1, newRoot.get());
            while (!pending.empty())
            {
                Tree::Node* node = pending.back();
                pending.pop_back();
                if (node->parent() && node->parent() != newRoot.get())
                    nodes.push_back(node);
                if (Tree::Directory* d = node->asDirectory())
                {
                    if (d != newRoot.get())
                        dirs.push_back(d);
                    for (Tree::Node& child : d->children())
                        pending.push_back(&child);
                }
            }
            if (nodes.empty() || dirs.empty())
                break;
            Tree::Node& node = *nodes[pick(nodes.size())];
            Tree::Directory& target = *dirs[pick(dirs.size())];
            switch (pick(7))
            {
            case 0:
                node.setName(node.name() + L"x");
                break;
            case 1:
                try
                {
                    node.moveTo(target);
                }
                catch (const std::invalid_argument&)
                {
                }
                break;
            case 2:
                node.detach();
                break;
            case 3:
                if (Tree::File* f = node.asFile())
                    f->setSize(f->size() + 1);
                break;
            case 4:
            {
                auto& added = target.addChild(dir(nextId++, L"n" + std::to_wstring(edit)));
                added.addChild(file(nextId++, L"nf"));
                break;
            }
            case 5: // saved through a new file
                if (Tree::File* f = node.asFile())
                {
                    Tree::Directory& parent = *f->parent();
                    const std::wstring name = f->name();
                    f->detach();
                    parent.addChild(file(nextId++, name, 7));
                }
                break;
            case 6: // the same local id, now of the other kind
            {
                const std::uint64_t id = node.localId();
                Tree::Directory& parent = *node.parent();
                const bool wasFile = node.asFile() != nullptr;
                node.detach();
                if (wasFile)
                    parent.addChild(dir(id, L"k" + std::to_wstring(edit)));
                else
                    parent.addChild(file(id, L"k" + std::to_wstring(edit)));
                break;
            }
            }
        }

        ApplyingCallbacks callbacks;
        callbacks.run(*oldRoot, *newRoot);
        ASSERT_EQ(contents(*oldRoot), contents(*newRoot)) << "seed " << seed;
    }
}
