#include "sync/RemovalDoubts.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace
{
using dwl::Tree;

// A snapshot holding files with these local ids.
std::unique_ptr<Tree::Directory> snapshotOf(std::initializer_list<std::uint64_t> ids)
{
    auto root = std::make_unique<Tree::Directory>(1, L"root");
    Tree::Directory& share = root->addChild(std::make_unique<Tree::Directory>(2, L"Share"));
    for (const std::uint64_t id : ids)
        share.addChild(std::make_unique<Tree::File>(id, L"f" + std::to_wstring(id), 1, 1));
    return root;
}

// Whether the snapshot's removals were left in doubt, and whether one more scan was asked for.
std::pair<bool, bool> judge(dwl::RemovalDoubts& doubts, std::initializer_list<std::uint64_t> ids,
                            bool complete, bool namesChanged = false)
{
    auto snapshot = snapshotOf(ids);
    const bool again = doubts.judge(*snapshot, complete, namesChanged);
    return {snapshot->changedDuringScan(), again};
}

TEST(RemovalDoubts, ASnapshotInDoubtHoldsItsRemovalsUntilTheNextScanFindsAllItFound)
{
    dwl::RemovalDoubts doubts;
    const std::pair<bool, bool> held{true, true};
    const std::pair<bool, bool> sure{false, false};
    EXPECT_EQ(judge(doubts, {10, 11, 12}, true), sure);
    // 11 moved during the scan, in neither place; found again by the next scan, which lacks 12 for good.
    EXPECT_EQ(judge(doubts, {10, 12}, true, true), held);
    EXPECT_EQ(judge(doubts, {10, 11}, false), held);
    EXPECT_EQ(judge(doubts, {10, 11, 13}, false), sure);
    // Unknown changes (no watch there) hold back a scan that lacks what the one before found, a few times in
    // a row at most: the last of them asks for no further scan.
    EXPECT_EQ(judge(doubts, {10}, false), held);
    EXPECT_EQ(judge(doubts, {11}, false), held);
    EXPECT_EQ(judge(doubts, {10}, false), held);
    EXPECT_EQ(judge(doubts, {11}, false), std::make_pair(true, false));
    // A scan without doubt forgets what the ones before found.
    EXPECT_EQ(judge(doubts, {11}, true), sure);
    EXPECT_EQ(judge(doubts, {11, 12}, false), held);
}
} // namespace
