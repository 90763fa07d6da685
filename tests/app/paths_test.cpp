#include "app/Paths.h"

#include "compat/KnownFolders.h"
#include "compat/VersionApi.h"
#include "qcl/Error.h"
#include "qcl/String.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace
{
std::wstring wide(const std::string& text)
{
    return qcl::string::utf8ToUtf16(text);
}

unsigned modeOf(const std::string& path)
{
    struct stat status = {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0xFFFFFFFF;
}

class PathsTest : public testing::Test
{
protected:
    void TearDown() override
    {
        compat::setKnownFolderForTesting(FOLDERID_LocalAppDataLow, std::nullopt);
        compat::setKnownFolderForTesting(FOLDERID_LocalAppData, std::nullopt);
        compat::setReportedVersionForTesting({});
        compat::setKnownFolderForTesting(FOLDERID_Profile, std::nullopt);
    }

    test::ScratchFolder mFolder;
};
} // namespace

TEST_F(PathsTest, DataRootIsCreatedPrivateWithItsParentsBeforeAnyFileIsNamed)
{
    compat::setKnownFolderForTesting(FOLDERID_LocalAppDataLow, wide(mFolder / "home/.local/share"));
    const std::string root = mFolder / "home/.local/share/quillmere/Wayfold";

    EXPECT_EQ(dwl::Paths::configurationFile(), wide(root + "/Configuration"));
    EXPECT_TRUE(std::filesystem::is_directory(root));
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(mFolder / "home/.local/share/quillmere"), 0700u);
    EXPECT_EQ(dwl::Paths::databaseFile(), wide(root + "/Data"));
    EXPECT_EQ(dwl::Paths::lockFile(), wide(root + "/Lock"));
    EXPECT_EQ(dwl::Paths::dataRoot(), wide(root));
}

TEST_F(PathsTest, SystemVersionChoosesTheDataFolder)
{
    compat::setKnownFolderForTesting(FOLDERID_LocalAppDataLow, wide(mFolder / "low"));
    compat::setKnownFolderForTesting(FOLDERID_LocalAppData, wide(mFolder / "local"));
    EXPECT_EQ(dwl::Paths::dataRoot(), wide(mFolder / "low/quillmere/Wayfold"));
    compat::setReportedVersionForTesting({5, 1, 2600});
    EXPECT_EQ(dwl::Paths::dataRoot(), wide(mFolder / "local/quillmere/Wayfold"));
}

TEST_F(PathsTest, NoDataFolderIsAnErrorAndNothingGoesToTheCurrentDirectory)
{
    compat::setKnownFolderForTesting(FOLDERID_LocalAppDataLow, std::wstring());
    const auto before = std::filesystem::current_path();
    ASSERT_EQ(::chdir(mFolder.path().c_str()), 0);
    EXPECT_THROW(dwl::Paths::lockFile(), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(mFolder / "Wayfold"));
    std::filesystem::current_path(before);
}

TEST_F(PathsTest, FolderThatCannotBeCreatedIsReportedWithItsPath)
{
    mFolder.writeFile("file");
    compat::setKnownFolderForTesting(FOLDERID_LocalAppDataLow, wide(mFolder / "file"));
    try
    {
        dwl::Paths::dataRoot();
        FAIL() << "no error";
    }
    catch (const qcl::SystemError& error)
    {
        EXPECT_EQ(error.message().rfind(L"Cannot create directory '", 0), 0u)
            << qcl::string::utf16ToUtf8(error.message());
    }
}

TEST_F(PathsTest, WayfoldFolderLiesInsideItsConfiguredParent)
{
    compat::setKnownFolderForTesting(FOLDERID_Profile, L"/home/tester");
    EXPECT_EQ(dwl::Paths::defaultFolderLocation(), L"/home/tester");
    EXPECT_EQ(dwl::Paths::wayfoldFolder(L"/srv/Sync"), L"/srv/Sync/Wayfold");
    EXPECT_EQ(dwl::Paths::wayfoldFolder(L"/"), L"/Wayfold");
}

TEST_F(PathsTest, ServerListBesideTheProgramComesFirstThenTheInstalledOne)
{
    const std::string bin = mFolder.makeDirectory("prefix/bin");
    EXPECT_EQ(dwl::Paths::serverListFileFor(wide(bin)),
              wide(mFolder / "prefix/share/quillmere-wayfold/Servers.json"));
    mFolder.writeFile("prefix/bin/Servers.json", "DefaultServer: \"x\"");
    EXPECT_EQ(dwl::Paths::serverListFileFor(wide(bin)), wide(bin + "/Servers.json"));
}
