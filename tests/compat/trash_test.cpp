#include "compat/LastError.h"
#include "compat/Trash.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool exists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class TrashTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const char* previous = std::getenv("XDG_DATA_HOME");
        if (previous != nullptr)
            mPreviousDataHome = previous;
        mHadDataHome = previous != nullptr;
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        homeTrash = folder / "data/Trash";
    }
    void TearDown() override
    {
        if (mHadDataHome)
            ::setenv("XDG_DATA_HOME", mPreviousDataHome.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

    test::ScratchFolder folder;
    std::string homeTrash;
    const std::string uid = std::to_string(::getuid());

private:
    std::string mPreviousDataHome;
    bool mHadDataHome = false;
};

TEST_F(TrashTest, FileGoesToHomeTrashWithRecord)
{
    folder.makeDirectory("work");
    const std::string item = folder.writeFile("work/report 100%.txt", "content");

    ASSERT_TRUE(compat::trash::moveToTrash(item));

    EXPECT_FALSE(exists(item));
    EXPECT_EQ(contentOf(homeTrash + "/files/report 100%.txt"), "content");
    const std::string record = contentOf(homeTrash + "/info/report 100%.txt.trashinfo");
    const std::string expectedPath = "Path=" + folder.path() + "/work/report%20100%25.txt\n";
    EXPECT_EQ(record.rfind("[Trash Info]\n", 0), 0u) << record;
    EXPECT_NE(record.find(expectedPath), std::string::npos) << record;
    EXPECT_NE(record.find("\nDeletionDate=20"), std::string::npos) << record;
}

TEST_F(TrashTest, SameNameTwiceGetsAFreeName)
{
    folder.makeDirectory("a");
    folder.makeDirectory("b");
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("a/doc.pdf", "first")));
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("b/doc.pdf", "second")));
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("a/doc.pdf", "third")));

    EXPECT_EQ(contentOf(homeTrash + "/files/doc.pdf"), "first");
    EXPECT_EQ(contentOf(homeTrash + "/files/doc.2.pdf"), "second");
    EXPECT_EQ(contentOf(homeTrash + "/files/doc.3.pdf"), "third");
    EXPECT_TRUE(exists(homeTrash + "/info/doc.3.pdf.trashinfo"));
}

TEST_F(TrashTest, DirectoryAndLinkMoveWhole)
{
    folder.makeDirectory("tree/inner");
    folder.writeFile("tree/inner/file", "kept");
    folder.makeDirectory("target");
    folder.writeFile("target/precious", "untouched");
    ASSERT_EQ(::symlink((folder / "target").c_str(), (folder / "link").c_str()), 0);

    ASSERT_TRUE(compat::trash::moveToTrash(folder / "tree"));
    ASSERT_TRUE(compat::trash::moveToTrash(folder / "link"));

    EXPECT_EQ(contentOf(homeTrash + "/files/tree/inner/file"), "kept");
    struct stat link;
    ASSERT_EQ(::lstat((homeTrash + "/files/link").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(contentOf(folder / "target/precious"), "untouched");
}

TEST_F(TrashTest, LongNameIsShortenedForTheRecord)
{
    folder.makeDirectory("work");
    const std::string name(250, 'n');
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("work/" + name)));
    EXPECT_TRUE(exists(homeTrash + "/files/" + name.substr(0, 245)));
    EXPECT_TRUE(exists(homeTrash + "/info/" + name.substr(0, 245) + ".trashinfo"));
}

TEST_F(TrashTest, MissingItemFailsWithoutRecord)
{
    EXPECT_FALSE(compat::trash::moveToTrash(folder / "nothing"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(compat::trash::moveToTrash("relative/path"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(TrashTest, HomeTrashThatIsALinkIsRefused)
{
    folder.makeDirectory("data");
    folder.makeDirectory("elsewhere");
    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), homeTrash.c_str()), 0);
    const std::string item = folder.writeFile("item");

    EXPECT_FALSE(compat::trash::moveToTrash(item));
    EXPECT_TRUE(exists(item));
}

TEST_F(TrashTest, OtherFileSystemUsesItsOwnTopDirectoryTrash)
{
    if (!folder.mountTmpfs("mnt"))
        GTEST_SKIP() << "needs permission to mount a tmpfs";
    folder.makeDirectory("mnt/deep");
    const std::string item = folder.writeFile("mnt/deep/file", "on tmpfs");

    ASSERT_TRUE(compat::trash::moveToTrash(item));

    const std::string trash = folder / ("mnt/.Trash-" + uid);
    EXPECT_EQ(contentOf(trash + "/files/file"), "on tmpfs");
    EXPECT_NE(contentOf(trash + "/info/file.trashinfo").find("Path=" + item + "\n"), std::string::npos);
    EXPECT_FALSE(exists(homeTrash + "/files/file"));
}

TEST_F(TrashTest, StickySharedTrashIsPreferredAndAPlainOneIsNot)
{
    if (!folder.mountTmpfs("mnt"))
        GTEST_SKIP() << "needs permission to mount a tmpfs";
    folder.makeDirectory("mnt/.Trash");
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("mnt/plain")));
    EXPECT_TRUE(exists(folder / ("mnt/.Trash-" + uid + "/files/plain")));

    ASSERT_EQ(::chmod((folder / "mnt/.Trash").c_str(), 01777), 0);
    ASSERT_TRUE(compat::trash::moveToTrash(folder.writeFile("mnt/sticky")));
    EXPECT_TRUE(exists(folder / ("mnt/.Trash/" + uid + "/files/sticky")));
}

TEST_F(TrashTest, BindMountOfTheHomeFileSystemUsesTheTrashAtItsTop)
{
    // Same device as the home trash, yet a rename out of the bind mount fails: the mount's own trash takes it.
    folder.makeDirectory("source");
    if (!folder.bindMount("source", "bound"))
        GTEST_SKIP() << "needs permission to bind-mount";
    const std::string item = folder.writeFile("bound/file", "bound");

    ASSERT_TRUE(compat::trash::moveToTrash(item));
    EXPECT_EQ(contentOf(folder / ("bound/.Trash-" + uid + "/files/file")), "bound");
}

TEST_F(TrashTest, NoUsableTrashFailsAndKeepsTheItem)
{
    if (!folder.mountTmpfs("mnt"))
        GTEST_SKIP() << "needs permission to mount a tmpfs";
    // A file where the trash folder should be: nothing may be deleted for good instead.
    folder.writeFile("mnt/.Trash-" + uid);
    const std::string item = folder.writeFile("mnt/keep", "mine");

    EXPECT_FALSE(compat::trash::moveToTrash(item));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(contentOf(item), "mine");
}
} // namespace
