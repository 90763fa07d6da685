#include "compat/FolderBookmarks.h"

#include "compat/LastError.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned modeOf(const fs::path& path)
{
    return static_cast<unsigned>(fs::symlink_status(path).permissions() & fs::perms::mask);
}

std::wstring wide(const std::string& path)
{
    return std::wstring(path.begin(), path.end());
}

TEST(FolderBookmarks, TheProgramsLineMovesAndTheUsersLinesStay)
{
    const struct
    {
        const char* before;
        const char* after;
    } cases[] = {
        {"", "file:///new Wayfold\n"},
        {"file:///home/u/Music Music\nsftp://host/x",
         "file:///home/u/Music Music\nsftp://host/x\nfile:///new Wayfold\n"},
        {"file:///a\nfile:///old Wayfold\nfile:///b B\n", "file:///a\nfile:///new Wayfold\nfile:///b B\n"},
        {"file:///old Wayfold\nfile:///x\nfile:///older Wayfold\n", "file:///new Wayfold\nfile:///x\n"},
        {"file:///new Wayfold\n", "file:///new Wayfold\n"},
        {"file:///new\n", "file:///new\n"}, // the user's own line for the folder
        {"file:///new Mine\n", "file:///new Mine\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compat::withFolderBookmark(c.before, "file:///new", "Wayfold"), c.after) << c.before;
}

TEST(FolderBookmarks, AMissingFileIsMadePrivateAndTheAddressEncoded)
{
    const test::ScratchFolder scratch;
    const fs::path file = scratch / "config/gtk-3.0/bookmarks";
    const mode_t previous = ::umask(0);
    EXPECT_TRUE(compat::setFolderBookmark(wide(file), L"/home/u/\xE9t\xE9 x/Wayfold", L"Wayfold"));
    ::umask(previous);
    EXPECT_EQ(readFile(file), "file:///home/u/%C3%A9t%C3%A9%20x/Wayfold Wayfold\n");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(file.parent_path()), 0700u);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1);
}

TEST(FolderBookmarks, TheFileKeepsItsModeAndALinkKeepsLeadingToItsFile)
{
    const test::ScratchFolder scratch;
    const fs::path file = scratch.writeFile("bookmarks", "file:///mine\n");
    fs::permissions(file, fs::perms(0600));
    ASSERT_TRUE(compat::setFolderBookmark(wide(file), L"/w", L"Wayfold"));
    EXPECT_EQ(readFile(file), "file:///mine\nfile:///w Wayfold\n");
    EXPECT_EQ(modeOf(file), 0600u);

    const fs::path target = scratch.writeFile("dotfiles-bookmarks", "file:///kept\n");
    fs::permissions(target, fs::perms(0640));
    const fs::path link = scratch / "linked";
    fs::create_symlink(target, link);
    ASSERT_TRUE(compat::setFolderBookmark(wide(link), L"/w", L"Wayfold"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(target), "file:///kept\nfile:///w Wayfold\n");
    EXPECT_EQ(modeOf(target), 0640u);

    // A link to nothing, or anything but a file, is left as it is.
    const fs::path dangling = scratch / "dangling";
    fs::create_symlink(scratch / "none", dangling);
    EXPECT_FALSE(compat::setFolderBookmark(wide(dangling), L"/w", L"Wayfold"));
    EXPECT_FALSE(compat::setFolderBookmark(wide(file / "bookmarks"), L"/w", L"Wayfold"));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_FALSE(fs::exists(scratch / "none"));
}

// Root reads any file: the owner who cannot read their file is an ordinary user in a child.
TEST(FolderBookmarks, AFileThatCannotBeReadIsLeftAsItIs)
{
    const test::ScratchFolder scratch;
    const std::string folder = scratch.makeDirectory("gtk");
    const std::string file = scratch.writeFile("gtk/bookmarks", "file:///every/bookmark/of/the/user\n");
    fs::permissions(file, fs::perms(0200));
    const bool asOrdinaryUser = ::geteuid() == 0;
    if (asOrdinaryUser)
    {
        ASSERT_EQ(::chmod(scratch.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    }
    const pid_t child = ::fork();
    if (child == 0)
    {
        if (asOrdinaryUser && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const bool refused = !compat::setFolderBookmark(wide(file), L"/w", L"Wayfold") && GetLastError() == 5;
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    fs::permissions(file, fs::perms(0600));
    EXPECT_EQ(readFile(file), "file:///every/bookmark/of/the/user\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}
} // namespace
