#include "sync/Tree.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

using dwl::Tree;
using Event = Tree::TreeModificationEvent;

namespace
{
std::unique_ptr<Tree::Directory> dir(std::uint64_t id, const std::wstring& name)
{
    return std::make_unique<Tree::Directory>(id, name);
}

std::unique_ptr<Tree::File> file(std::uint64_t id, const std::wstring& name, std::uint64_t size = 0)
{
    return std::make_unique<Tree::File>(id, name, size, 0);
}

std::wstring print(const Tree::Directory& root)
{
    std::wostringstream out;
    out << root;
    return out.str();
}

// Records every event that reaches the root; throws for the kinds it is told to refuse.
struct Recorder
{
    std::vector<std::pair<Event::Kind, Tree::Node*>> events;
    std::vector<Event::Kind> refused;

    void attach(Tree::Directory& root)
    {
        root.setModificationListener([this](const Event& event) {
            events.emplace_back(event.kind, event.node);
            for (Event::Kind kind : refused)
                if (kind == event.kind)
                    throw std::runtime_error("refused");
        });
    }
};

// root(0) -> share s(10) -> a(11) -> f(12); share s has g(13); root has loose file r(99).
struct SampleTree : ::testing::Test
{
    std::unique_ptr<Tree::Directory> root = dir(0, L"/home/u/Wayfold");
    Tree::Directory* share = nullptr;
    Tree::Directory* a = nullptr;
    Tree::File* f = nullptr;
    Tree::File* g = nullptr;
    Recorder recorder;

    void SetUp() override
    {
        share = &root->addChild(dir(10, L"s"));
        a = &share->addChild(dir(11, L"a"));
        f = &a->addChild(file(12, L"f", 5));
        g = &share->addChild(file(13, L"g"));
        root->addChild(file(99, L"r"));
        share->buildLocalIdIndex();
        recorder.attach(*root);
    }
};
} // namespace

TEST(TreeText, LocalIdHasNineteenCharactersMostSignificantFirst)
{
    EXPECT_EQ(Tree::formatLocalId(1), L"0000-0000-0000-0001");
    EXPECT_EQ(Tree::formatLocalId(0x0123456789abcdefull), L"0123-4567-89ab-cdef");
    EXPECT_EQ(Tree::formatLocalId(~0ull), L"ffff-ffff-ffff-ffff");
}

TEST(TreeText, PrinterDrawsBranchesAndSizes)
{
    auto root = dir(0, L"X");
    auto& a = root->addChild(dir(1, L"a"));
    a.addChild(file(2, L"f", 5));
    root->addChild(file(3, L"b", 0));
    EXPECT_EQ(print(*root), L"* 'X', Local ID = 0000-0000-0000-0000\n"
                            L"|--* 'a', Local ID = 0000-0000-0000-0001\n"
                            L"|  +--  'f', Local ID = 0000-0000-0000-0002, size = 5\n"
                            L"+--  'b', Local ID = 0000-0000-0000-0003, size = 0\n");
}

TEST(TreeText, PathJoinsWithOneSeparator)
{
    auto root = dir(0, L"/");
    auto& a = root->addChild(dir(1, L"a"));
    auto& f = a.addChild(file(2, L"f"));
    EXPECT_EQ(f.getPath(), L"/a/f");
    EXPECT_EQ(dir(0, L"")->addChild(file(1, L"x")).getPath(), L"x");
}

TEST_F(SampleTree, SettersRaiseChangedOnlyForNewValues)
{
    f->setSize(5);
    f->setName(L"f");
    share->setOwned(true);
    f->setContent(f->size(), f->lastModificationTime(), f->changeTime(), f->versionNumber());
    EXPECT_TRUE(recorder.events.empty());

    f->setName(L"F"); // letter case alone is a change
    f->setContent(6, 8, 9, 7); // one event for the four fields
    share->setSynchronised(true);
    ASSERT_EQ(recorder.events.size(), 3u);
    for (auto& [kind, node] : recorder.events)
        EXPECT_EQ(kind, Event::Changed);
    EXPECT_EQ(recorder.events[2].second, share);
}

TEST_F(SampleTree, MoveAppendsAndRaisesOnlyWhenTheParentChanges)
{
    f->moveTo(*a);
    EXPECT_TRUE(recorder.events.empty());
    g->moveTo(*a);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].first, Event::Moved);
    EXPECT_EQ(&a->children().back(), g);
    EXPECT_EQ(g->getPath(), L"/home/u/Wayfold/s/a/g");
    EXPECT_THROW(share->moveTo(*a), std::invalid_argument);
}

TEST_F(SampleTree, DetachRaisesOneEventAndTheIndexDropsTheSubtree)
{
    std::unique_ptr<Tree::Node> detached = a->detach();
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0], std::make_pair(Event::Removed, static_cast<Tree::Node*>(a)));
    EXPECT_EQ(share->findNodeByLocalId(11), nullptr);
    EXPECT_EQ(share->findNodeByLocalId(12), nullptr);
    EXPECT_EQ(share->findNodeByLocalId(13), g);
    EXPECT_EQ(detached->parent(), nullptr);
}

TEST_F(SampleTree, RemoveAllChildrenRaisesOneEventPerChild)
{
    share->removeAllChildren();
    EXPECT_EQ(recorder.events.size(), 2u);
    EXPECT_TRUE(share->children().empty());
    EXPECT_EQ(share->findNodeByLocalId(12), nullptr);
}

TEST_F(SampleTree, DuplicateLocalIdLeavesTheShareWithoutIndex)
{
    auto root2 = dir(0, L"r");
    auto& s = root2->addChild(dir(1, L"s"));
    s.addChild(file(5, L"x"));
    auto& sub = s.addChild(dir(6, L"sub"));
    sub.addChild(file(5, L"y"));
    EXPECT_THROW(s.buildLocalIdIndex(), Tree::DuplicatedLocalIdError);
    EXPECT_FALSE(s.hasLocalIdIndex());
}

TEST_F(SampleTree, AddedNodesEnterTheIndexAndDuplicatesAreRefused)
{
    auto& b = a->addChild(dir(20, L"b"));
    b.addChild(file(21, L"h"));
    EXPECT_EQ(share->findNodeByLocalId(21)->name(), L"h");

    auto clash = dir(30, L"c");
    clash->addChild(file(12, L"dup"));
    try
    {
        a->addChild(std::move(clash));
        FAIL() << "no DuplicatedLocalIdError";
    }
    catch (const Tree::DuplicatedLocalIdError& error)
    {
        EXPECT_EQ(error.message(), L"Duplicated local ID: 0000-0000-0000-000c");
    }
    EXPECT_EQ(share->findNodeByLocalId(30), nullptr);
    EXPECT_EQ(share->findNodeByLocalId(12), f);
    EXPECT_EQ(a->children().size(), 2u);
}

TEST_F(SampleTree, RefusedAdditionIsUndone)
{
    recorder.refused = {Event::Added};
    EXPECT_THROW(a->addChild(file(40, L"new")), std::runtime_error);
    EXPECT_EQ(a->children().size(), 1u);
    EXPECT_EQ(share->findNodeByLocalId(40), nullptr);
    EXPECT_EQ(Tree::findFileByName(a, L"new"), nullptr);
}

TEST_F(SampleTree, RefusedRemovalKeepsTheNodeIndexed)
{
    recorder.refused = {Event::Removed};
    EXPECT_THROW(a->detach(), std::runtime_error);
    EXPECT_EQ(a->parent(), share);
    EXPECT_EQ(share->findNodeByLocalId(12), f);
}

TEST_F(SampleTree, RefusedMoveReturnsTheNodeToItsPlace)
{
    auto& b = share->addChild(dir(20, L"b"));
    recorder.refused = {Event::Moved};
    EXPECT_THROW(a->moveTo(b), std::runtime_error);
    EXPECT_EQ(a->parent(), share);
    EXPECT_EQ(&share->children().front(), a); // at its former position, not at the end
    EXPECT_TRUE(b.children().empty());
}

TEST_F(SampleTree, RefusedChangesRestoreTheFormerValues)
{
    recorder.refused = {Event::Changed};
    EXPECT_THROW(f->setName(L"renamed"), std::runtime_error);
    EXPECT_EQ(f->name(), L"f");
    EXPECT_EQ(Tree::findFileByName(a, L"f"), f);
    EXPECT_THROW(f->setSize(9), std::runtime_error);
    EXPECT_EQ(f->size(), 5u);
    EXPECT_THROW(f->setContent(9, 9, 9, 9), std::runtime_error);
    EXPECT_EQ(f->size(), 5u);
    EXPECT_EQ(f->versionNumber(), 0u);
    EXPECT_THROW(f->setAssetId(qcl::uint128::fromHalves(0, 7)), std::runtime_error);
    EXPECT_EQ(Tree::findNodeById(root.get(), qcl::uint128::fromHalves(0, 7)), nullptr);
    EXPECT_EQ(Tree::findNodeById(root.get(), qcl::uint128()), root.get());
}

TEST_F(SampleTree, LocalIdChangeMovesTheNodeInTheIndex)
{
    f->setLocalId(50);
    EXPECT_EQ(share->findNodeByLocalId(50), f);
    EXPECT_EQ(share->findNodeByLocalId(12), nullptr);
    ASSERT_EQ(recorder.events.size(), 1u); // 4 and 5 stop at the Share; Changed reaches the root
    EXPECT_EQ(recorder.events[0].first, Event::Changed);
}

TEST_F(SampleTree, FailedLocalIdChangeRestoresTheIndex)
{
    EXPECT_THROW(f->setLocalId(13), Tree::DuplicatedLocalIdError);
    EXPECT_EQ(f->localId(), 12u);
    EXPECT_EQ(share->findNodeByLocalId(12), f);
    EXPECT_EQ(share->findNodeByLocalId(13), g);

    recorder.refused = {Event::Changed};
    EXPECT_THROW(f->setLocalId(60), std::runtime_error);
    EXPECT_EQ(f->localId(), 12u);
    EXPECT_EQ(share->findNodeByLocalId(12), f);
    EXPECT_EQ(share->findNodeByLocalId(60), nullptr);
}

TEST_F(SampleTree, MoveBetweenSharesCarriesTheIndexEntries)
{
    auto& other = root->addChild(dir(70, L"t"));
    other.buildLocalIdIndex();
    a->moveTo(other);
    EXPECT_EQ(share->findNodeByLocalId(12), nullptr);
    EXPECT_EQ(other.findNodeByLocalId(12), f);
    EXPECT_EQ(other.findNodeByLocalId(11), a);
}

TEST_F(SampleTree, FindNodeByIdFollowsEveryChange)
{
    const auto id = [](std::uint64_t n) { return qcl::uint128::fromHalves(1, n); };
    g->setAssetId(id(1));
    f->setAssetId(id(1)); // f lies before g in pre-order
    EXPECT_EQ(Tree::findNodeById(root.get(), id(1)), f);
    EXPECT_EQ(Tree::findNodeById(g, id(1)), g);
    EXPECT_EQ(Tree::findNodeById(share, id(2)), nullptr);

    auto extra = dir(80, L"x");
    extra->setAssetId(id(2));
    auto& added = a->addChild(std::move(extra));
    EXPECT_EQ(Tree::findNodeById(root.get(), id(2)), &added);

    auto detached = a->detach();
    EXPECT_EQ(Tree::findNodeById(root.get(), id(1)), g);
    EXPECT_EQ(Tree::findNodeById(root.get(), id(2)), nullptr);
    EXPECT_EQ(Tree::findNodeById(detached.get(), id(2)), &added);

    g->setAssetId(id(3));
    EXPECT_EQ(Tree::findNodeById(root.get(), id(1)), nullptr);
    EXPECT_EQ(Tree::findNodeById(root.get(), id(3)), g);
}

TEST_F(SampleTree, FindFileByNameSkipsDirectoriesAndFollowsRenames)
{
    share->addChild(dir(90, L"same"));
    auto& same = share->addChild(file(91, L"same"));
    EXPECT_EQ(Tree::findFileByName(share, L"same"), &same);
    EXPECT_EQ(Tree::findFileByName(share, L"a"), nullptr);
    g->setName(L"h");
    EXPECT_EQ(Tree::findFileByName(share, L"g"), nullptr);
    EXPECT_EQ(Tree::findFileByName(share, L"h"), g);
}

TEST_F(SampleTree, CloneIsADeepCopyWithoutObserverOrIndex)
{
    f->setAssetId(qcl::uint128::fromHalves(3, 4));
    f->setVersionNumber(8);
    share->setShareId(qcl::uint128::fromHalves(5, 6));
    share->setSynchronised(true);
    const std::size_t eventsBefore = recorder.events.size();

    std::unique_ptr<Tree::Node> copy = root->clone();
    Tree::Directory& copyRoot = *copy->asDirectory();
    EXPECT_EQ(print(copyRoot), print(*root));
    Tree::Directory& copyShare = *copyRoot.children().front().asDirectory();
    EXPECT_EQ(copyShare.shareId(), share->shareId());
    EXPECT_TRUE(copyShare.isSynchronised());
    EXPECT_FALSE(copyShare.hasLocalIdIndex());
    const Tree::File& copyF = *copyShare.children().front().asDirectory()->children().front().asFile();
    EXPECT_EQ(copyF.assetId(), f->assetId());
    EXPECT_EQ(copyF.versionNumber(), 8u);

    copyShare.setName(L"changed");
    EXPECT_EQ(recorder.events.size(), eventsBefore);
}

// Many nodes in one Share, added, given new ids and removed in a random order: the index must answer
// every lookup as a plain map of the live nodes does, however the entries collided and were shifted.
TEST(TreeIndexStress, LookupsMatchTheLiveNodesThroughRandomChanges)
{
    std::mt19937_64 random(7);
    auto root = dir(1, L"/r");
    Tree::Directory& share = root->addChild(dir(2, L"s"));
    share.buildLocalIdIndex();
    std::map<std::uint64_t, Tree::Node*> live;
    const auto freshId = [&]
    {
        std::uint64_t id;
        do
            id = random() % 4096 + 3; // few bits, so that entries collide and wrap around
        while (live.count(id));
        return id;
    };
    for (int step = 0; step < 20000; ++step)
    {
        const unsigned action = random() % 3;
        if (action == 0 || live.size() < 10)
        {
            const std::uint64_t id = freshId();
            live[id] = &share.addChild(file(id, L"f" + std::to_wstring(id)));
        }
        else
        {
            auto it = std::next(live.begin(), static_cast<long>(random() % live.size()));
            Tree::Node* node = it->second;
            live.erase(it);
            if (action == 1)
            {
                node->detach();
            }
            else
            {
                const std::uint64_t id = freshId();
                node->setLocalId(id);
                live[id] = node;
            }
        }
        if (step % 1000 == 0 || step == 19999)
        {
            for (std::uint64_t id = 3; id < 4096 + 3; ++id)
            {
                const auto found = live.find(id);
                ASSERT_EQ(share.findNodeByLocalId(id), found == live.end() ? nullptr : found->second) << id;
            }
            ASSERT_EQ(share.localIdIndexSize(), live.size() + 1);
        }
    }
}
