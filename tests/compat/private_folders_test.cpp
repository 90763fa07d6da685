#include "compat/LastError.h"
#include "compat/PrivateFiles.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace
{
namespace fs = std::filesystem;

unsigned modeOf(const std::string& path)
{
    return static_cast<unsigned>(fs::symlink_status(path).permissions() & fs::perms::mask);
}

TEST(PrivateFolders, ALinkInPlaceOfAPrivateFolderIsRefusedAndItsTargetLeftAsItIs)
{
    test::ScratchFolder scratch;
    const std::string target = scratch.makeDirectory("shared");
    fs::permissions(target, fs::perms(0755));
    const std::string link = scratch / "private";
    fs::create_directory_symlink(target, link);

    EXPECT_FALSE(compat::keepFolderPrivate(link));
    EXPECT_EQ(GetLastError(), ERROR_CANT_RESOLVE_FILENAME);
    EXPECT_EQ(modeOf(target), 0755u);
    EXPECT_TRUE(fs::is_symlink(link));

    // A link among the parents is where the user keeps the folder, and is followed.
    EXPECT_TRUE(compat::keepFolderPrivate(link + "/inner"));
    EXPECT_EQ(modeOf(target + "/inner"), 0700u);
    EXPECT_EQ(modeOf(target), 0755u);
}
} // namespace
