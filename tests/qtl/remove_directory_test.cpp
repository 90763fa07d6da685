#include "compat/FileNameText.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "qtl/win32/win32FileFunctions.h"
#include "qtl/win32/win32RemoveDirectory.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string native(const std::wstring& path)
{
    std::string bytes;
    compat::utf16ToFileName(path.data(), path.data() + path.size(), bytes);
    return bytes;
}

bool exists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

std::wstring wide(const std::string& path)
{
    return compat::fileNameToUtf16(path);
}

TEST(RemoveDirectoryTest, TreeWithReadOnlyItemsGoesWhole)
{
    test::ScratchFolder folder;
    folder.makeDirectory("tree/a/b");
    folder.writeFile("tree/a/b/file");
    folder.writeFile("tree/top");
    win32::setFileAttributes(wide(folder / "tree/a/b/file"), FILE_ATTRIBUTE_READONLY);
    win32::setFileAttributes(wide(folder / "tree/a"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);

    win32::removeDirectoryTree(wide(folder / "tree"));
    EXPECT_FALSE(exists(folder / "tree"));
}

TEST(RemoveDirectoryTest, LinksGoButNotWhatTheyLeadTo)
{
    test::ScratchFolder folder;
    folder.makeDirectory("tree");
    folder.makeDirectory("outside/deep");
    folder.writeFile("outside/deep/precious", "keep");
    ASSERT_EQ(::symlink((folder / "outside").c_str(), (folder / "tree/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "outside/deep/precious").c_str(), (folder / "tree/filelink").c_str()), 0);
    ASSERT_EQ(::chmod((folder / "outside/deep/precious").c_str(), 0444), 0);

    win32::removeDirectoryContents(wide(folder / "tree"));
    EXPECT_TRUE(exists(folder / "tree"));
    EXPECT_FALSE(exists(folder / "tree/dirlink"));
    EXPECT_FALSE(exists(folder / "tree/filelink"));
    EXPECT_TRUE(exists(folder / "outside/deep/precious"));
    struct stat status;
    ASSERT_EQ(::stat((folder / "outside/deep/precious").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0444u);
}

TEST(RemoveDirectoryTest, MountPointStopsTheRemoval)
{
    test::ScratchFolder folder;
    if (!folder.mountTmpfs("tree/mounted"))
        GTEST_SKIP() << "needs permission to mount a tmpfs";
    folder.writeFile("tree/mounted/other-file-system", "keep");
    EXPECT_THROW(win32::removeDirectoryTree(wide(folder / "tree")), qcl::SystemError);
    EXPECT_TRUE(exists(folder / "tree/mounted/other-file-system"));
}

TEST(RemoveDirectoryTest, EmptyPathIsRefused)
{
    EXPECT_THROW(win32::removeDirectoryContents(L""), std::invalid_argument);
}

TEST(ScopedDirectoryTest, RemovesItsDirectoryUnlessReleased)
{
    const std::wstring removed = win32::createTemporaryDirectory();
    const std::wstring kept = win32::createTemporaryDirectory();
    ASSERT_NE(removed, kept);
    ASSERT_EQ(removed.back(), L'/');
    EXPECT_EQ(removed.rfind(win32::tempPath(), 0), 0u);
    {
        win32::scoped_directory<std::wstring> first(removed);
        win32::scoped_directory<std::wstring> second(kept);
        const std::string inside = native(removed) + "installer";
        ASSERT_TRUE(::close(::creat(inside.c_str(), 0600)) == 0);
        second.release();
    }
    EXPECT_FALSE(exists(native(removed)));
    EXPECT_TRUE(exists(native(kept)));
    win32::removeDirectory(kept);
}

TEST(ScopedDirectoryTest, FailureToRemoveIsSwallowed)
{
    test::ScratchFolder folder;
    if (!folder.mountTmpfs("scoped/mounted"))
        GTEST_SKIP() << "needs a mount point to make the removal fail";
    EXPECT_NO_THROW({ win32::scoped_directory<std::wstring> directory(wide(folder / "scoped")); });
    EXPECT_TRUE(exists(folder / "scoped/mounted"));
}
} // namespace
