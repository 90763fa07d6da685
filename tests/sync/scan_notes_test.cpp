#include "sync/ScanNotes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using dwl::Tree;

namespace
{
// The Shares A (1) and B (2); the tree records the file 10 as A/doc.txt and the folder 50 as A/known.
constexpr std::uint64_t kDocument = 10;

Tree::Directory& directoryAt(Tree::Directory& root, const std::wstring& path, std::uint64_t& nextId)
{
    Tree::Directory* directory = &root;
    std::wstringstream parts(path);
    std::wstring part;
    while (std::getline(parts, part, L'/'))
    {
        Tree::Node* found = nullptr;
        for (Tree::Node& child : directory->children())
            if (child.name() == part)
                found = &child;
        const std::uint64_t id = part == L"A" ? 1 : part == L"B" ? 2 : nextId++;
        directory =
            found ? found->asDirectory() : &directory->addChild(std::make_unique<Tree::Directory>(id, part));
    }
    return *directory;
}

// Adds a file at the "/"-separated path and notes it as the scan notes a repeated local id.
void addName(Tree::Directory& snapshot, const std::wstring& path, std::uint64_t localId,
             std::uint64_t& nextId)
{
    const std::size_t slash = path.rfind(L'/');
    Tree::Directory& folder =
        slash == std::wstring::npos ? snapshot : directoryAt(snapshot, path.substr(0, slash), nextId);
    folder.addChild(std::make_unique<Tree::File>(localId, path.substr(slash + 1), 1, 1));
    folder.noteRepeatedLocalId();
    for (Tree::Directory* above = folder.parent(); above; above = above->parent())
        above->noteNotesBelow();
}

std::vector<std::wstring> files(const Tree::Directory& directory, const std::wstring& prefix = L"")
{
    std::vector<std::wstring> paths;
    for (const Tree::Node& child : directory.children())
    {
        const std::wstring path = prefix + child.name();
        if (const Tree::Directory* folder = child.asDirectory())
            for (const std::wstring& below : files(*folder, path + L"/"))
                paths.push_back(below);
        else
            paths.push_back(path);
    }
    return paths;
}

const Tree::Node& rootOf(const Tree::Node& node)
{
    return node.parent() ? rootOf(*node.parent()) : node;
}

struct Settlement : ::testing::Test
{
    std::unique_ptr<Tree::Directory> tree = std::make_unique<Tree::Directory>(0, L"root");
    dwl::ScanNotes notes;
    std::vector<std::wstring> reported;
    dwl::ScanNotes::Reports reports{
        [this](const Tree::Node& folder, const Tree::Directory& share, const std::wstring& reason)
        {
            const bool ofTree = &rootOf(folder) == tree.get() && &rootOf(share) == tree.get();
            reported.push_back(L"unreadable " + folder.name() + L" in " + share.name() +
                               (ofTree ? L" (tree)" : L"") + L": " + reason);
        },
        [this](const Tree::File& name, const Tree::Directory&, const std::wstring& syncedPath)
        { reported.push_back(L"other name " + name.name() + L" in " + name.parent()->name() + L" of " + syncedPath); }};

    void SetUp() override
    {
        std::uint64_t nextId = 100;
        Tree::Directory& a = directoryAt(*tree, L"A", nextId);
        directoryAt(*tree, L"B", nextId);
        a.addChild(std::make_unique<Tree::File>(kDocument, L"doc.txt", 1, 1));
        a.addChild(std::make_unique<Tree::Directory>(50, L"known"));
    }
};

TEST_F(Settlement, TheNameTheTreeRecordsStaysElseTheNearestElseTheFirst)
{
    struct Case
    {
        std::vector<std::wstring> scanned; // the names of one file, in the order of the scan; the names left
                                           // out lie directly in a Share
        std::uint64_t localId;
        std::wstring kept;
    };
    const std::vector<Case> cases{
        {{L"B/link.txt", L"A/doc.txt"}, kDocument, L"A/doc.txt"},         // the tree's name, in a later Share
        {{L"A/doc.txt", L"B/link.txt"}, kDocument, L"A/doc.txt"},         // ... in an earlier one
        {{L"A/a.txt", L"A/doc.txt"}, kDocument, L"A/doc.txt"},            // ... beside the other
        {{L"B/link.txt", L"A/renamed.txt"}, kDocument, L"A/renamed.txt"}, // renamed: in the tree's folder
        {{L"B/link.txt", L"A/sub/moved.txt"}, kDocument, L"A/sub/moved.txt"}, // moved: in the tree's Share
        {{L"B/new.txt", L"A/new.txt"}, 20, L"B/new.txt"},                     // new: the first
        {{L"in-root.txt", L"B/link.txt"}, kDocument, L"B/link.txt"}, // files of the root take no part
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.scanned.front() + L" " + c.scanned.back());
        Tree::Directory snapshot(0, L"root");
        std::uint64_t nextId = 200;
        std::vector<std::wstring> left;
        std::vector<std::wstring> expected;
        for (const std::wstring& name : c.scanned)
        {
            addName(snapshot, name, c.localId, nextId);
            const std::size_t slash = name.rfind(L'/');
            if (name == c.kept || slash == std::wstring::npos)
                left.push_back(name);
            else
                expected.push_back(L"other name " + name.substr(slash + 1) + L" in " + name.substr(0, slash) +
                                   L" of " + c.kept);
        }
        reported.clear();
        dwl::ScanNotes().settle(*tree, snapshot, reports);
        EXPECT_EQ(files(snapshot), left);
        ASSERT_EQ(reported.size(), expected.size());
        for (std::size_t i = 0; i < reported.size(); ++i)
            EXPECT_EQ(reported[i].rfind(expected[i], 0), 0u) << reported[i];
    }
}

TEST_F(Settlement, EachNoteIsReportedOnceUntilItIsGone)
{
    Tree::Directory noted(0, L"root");
    std::uint64_t nextId = 200;
    addName(noted, L"A/doc.txt", kDocument, nextId);
    addName(noted, L"B/link.txt", kDocument, nextId);
    for (const auto& [id, path] : {std::pair{std::uint64_t{50}, L"A/known"}, {60, L"B/locked"}})
    {
        Tree::Directory& folder = directoryAt(noted, path, nextId);
        folder.setLocalId(id);
        folder.setListingError(5);
    }
    const auto settleCopy = [&]
    {
        const std::unique_ptr<Tree::Node> copy = noted.clone();
        notes.settle(*tree, *copy->asDirectory(), reports);
    };
    const std::vector<std::wstring> once{L"unreadable known in A (tree): Access is denied.",
                                         L"unreadable locked in B: Access is denied.",
                                         L"other name link.txt in B of A/doc.txt"};

    settleCopy();
    settleCopy();
    EXPECT_EQ(reported, once);

    reported.clear();
    Tree::Directory plain(0, L"root");
    notes.settle(*tree, plain, reports);
    settleCopy();
    EXPECT_EQ(reported, once);
}
} // namespace
