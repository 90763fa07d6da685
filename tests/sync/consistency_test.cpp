#include "compat/FileApi.h"
#include "compat/FileNameText.h"
#include "qcl/File.h"
#include "qcl/String.h"
#include "sync/Consistency.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace
{
using dwl::Tree;

// A tree that describes the scratch folder root/share/docs/report.txt as it is on disk.
class ConsistencyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        folder.makeDirectory("root/share/docs");
        folder.writeFile("root/share/docs/report.txt", "v1");
        rootPath = wide(folder / "root");
        tree = std::make_unique<Tree::Directory>(0, rootPath);
        share = &tree->addChild(std::make_unique<Tree::Directory>(idOf("root/share"), L"share"));
        docs = &share->addChild(std::make_unique<Tree::Directory>(idOf("root/share/docs"), L"docs"));
        report = &docs->addChild(std::make_unique<Tree::File>(idOf("root/share/docs/report.txt"), L"report.txt", 2, 0));
    }

    static std::wstring wide(const std::string& path) { return compat::fileNameToUtf16(path); }
    std::uint64_t idOf(const std::string& relative) { return qcl::file::getFileId(wide(folder / relative)); }

    test::ScratchFolder folder;
    std::wstring rootPath;
    std::unique_ptr<Tree::Directory> tree;
    Tree::Directory* share = nullptr;
    Tree::Directory* docs = nullptr;
    Tree::File* report = nullptr;
};

TEST_F(ConsistencyTest, MatchingItemGivesItsFullPath)
{
    // The root's own local id is never tested: 0 here is not the folder's id.
    EXPECT_EQ(dwl::checkIfDatabaseMatchesFileSystem(*report), rootPath + L"/share/docs/report.txt");
    EXPECT_EQ(dwl::checkIfDatabaseMatchesFileSystem(*tree), rootPath);
}

TEST_F(ConsistencyTest, RenamedParentIsNotApplied)
{
    ASSERT_EQ(std::rename((folder / "root/share/docs").c_str(), (folder / "root/share/papers").c_str()), 0);
    EXPECT_FALSE(dwl::checkIfDatabaseMatchesFileSystem(*report));
}

TEST_F(ConsistencyTest, ReplacedItemIsNotApplied)
{
    // The new file must not reuse the old one's identity while the old one still exists.
    ASSERT_EQ(std::rename((folder / "root/share/docs/report.txt").c_str(), (folder / "root/old.txt").c_str()), 0);
    folder.writeFile("root/share/docs/report.txt", "v2");
    EXPECT_FALSE(dwl::checkIfDatabaseMatchesFileSystem(*report));
    EXPECT_TRUE(dwl::checkIfDatabaseMatchesFileSystem(*docs));

    // Swapped back: the tree matches again.
    ASSERT_EQ(std::rename((folder / "root/old.txt").c_str(), (folder / "root/share/docs/report.txt").c_str()), 0);
    EXPECT_TRUE(dwl::checkIfDatabaseMatchesFileSystem(*report));
}

TEST_F(ConsistencyTest, HiddenOrSystemItemOrAncestorIsNotApplied)
{
    const std::wstring docsPath = wide(folder / "root/share/docs");
    ASSERT_TRUE(SetFileAttributesW(docsPath.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(dwl::checkIfDatabaseMatchesFileSystem(*report));
    ASSERT_TRUE(SetFileAttributesW(docsPath.c_str(), FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(dwl::checkIfDatabaseMatchesFileSystem(*report));

    const std::wstring reportPath = docsPath + L"/report.txt";
    ASSERT_TRUE(SetFileAttributesW(reportPath.c_str(), FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(dwl::checkIfDatabaseMatchesFileSystem(*report));
}

TEST_F(ConsistencyTest, LinkInPlaceOfADirectoryIsNotApplied)
{
    // The user moved the folder away and left a link to it: same identity behind the link, but the tree cannot
    // describe what a link leads to.
    ASSERT_EQ(std::rename((folder / "root/share/docs").c_str(), (folder / "elsewhere").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), (folder / "root/share/docs").c_str()), 0);
    EXPECT_FALSE(dwl::checkIfDatabaseMatchesFileSystem(*report));
}
} // namespace
