#include "compat/FolderBookmarks.h"

#include "compat/LastError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(FolderBookmarks, AddsTheFolderOnceKeepingTheUsersLinesAndMakesMissingFolders)
{
    const auto root = std::filesystem::temp_directory_path() / ("bookmarks-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    const auto file = root / "gtk-3.0" / "bookmarks";
    const std::string fileText = file.string();
    const std::wstring fileName(fileText.begin(), fileText.end());

    ASSERT_TRUE(compat::addFolderBookmark(fileName, L"/home/u/My Wayfold/Wayfold"));
    EXPECT_EQ(readFile(file), "file:///home/u/My%20Wayfold/Wayfold\n");

    {
        std::ofstream out(file);
        out << "file:///home/u/Music Music\nsftp://host/x"; // no final newline
    }
    ASSERT_TRUE(compat::addFolderBookmark(fileName, L"/home/u/\xE9t\xE9"));
    ASSERT_TRUE(compat::addFolderBookmark(fileName, L"/home/u/\xE9t\xE9"));
    EXPECT_EQ(readFile(file), "file:///home/u/Music Music\nsftp://host/x\nfile:///home/u/%C3%A9t%C3%A9\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);

    // A file where its folder should be: refused, nothing written.
    const std::string blocked = (file / "bookmarks").string();
    EXPECT_FALSE(compat::addFolderBookmark(std::wstring(blocked.begin(), blocked.end()), L"/x"));
    EXPECT_NE(GetLastError(), 0u);
    std::filesystem::remove_all(root);
}
} // namespace
