// The folders the program makes in a fresh home: under umask 000, as an ordinary user, every folder it
// creates (the base folders of the desktop's convention among them) is the user's alone.

#include "app/Paths.h"
#include "app/UpgradeDownloader.h"
#include "scriblet/LoggingSystem.h"

#include "../support/ScratchFolder.h"
#include "../support/WaitUntil.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace
{
namespace fs = std::filesystem;

constexpr uid_t kOrdinaryUser = 65534;

// In a child as the ordinary user (when the test runs as root): the start of the program's logging and data
// folders, and an upgrade download that fails at once but makes its cache folder first.
void startInFreshHome(const std::string& home)
{
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kOrdinaryUser) != 0 || ::setuid(kOrdinaryUser) != 0))
        ::_exit(2);
    ::umask(0);
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        ::unsetenv(name);
    ::setenv("QUILLMERE_USER_REGISTRY", (home + "/none.ini").c_str(), 1);
    ::setenv("QUILLMERE_MACHINE_REGISTRY", (home + "/none.ini").c_str(), 1);
    try
    {
        LoggingSystem().PutSubsystem(L"Wayfold");
        dwl::Paths::dataRoot();
        dwl::UpgradeDownloader downloader;
        downloader.setInstallerFileName(L"installer");
        downloader.setUrl("http://127.0.0.1:1/installer");
        downloader.start();
        ::_exit(test::waitUntil([&] { return !downloader.isRunning(); }) ? 0 : 3);
    }
    catch (...)
    {
        ::_exit(4);
    }
}

TEST(HomeFolders, AFreshHomeGetsOnlyFoldersOfTheUsersOwnUnderUmaskZero)
{
    test::ScratchFolder scratch;
    const std::string home = scratch.makeDirectory("home");
    if (::geteuid() == 0)
    {
        ASSERT_EQ(::chown(home.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
        ASSERT_EQ(::chmod(scratch.path().c_str(), 0711), 0);
    }
    const pid_t child = ::fork();
    if (child == 0)
        startInFreshHome(home);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    for (const char* made : {".local", ".local/share", ".local/share/quillmere",
                             ".local/share/quillmere/Wayfold", ".local/share/quillmere/Logging", ".cache"})
        EXPECT_TRUE(fs::is_directory(home + "/" + made)) << made << " was not made";
    for (const auto& entry : fs::recursive_directory_iterator(home))
    {
        const auto mode = static_cast<unsigned>(entry.symlink_status().permissions() & fs::perms::mask);
        if (entry.is_directory())
            EXPECT_EQ(mode, 0700u) << entry.path() << " " << std::oct << mode;
        else
            EXPECT_EQ(mode & 022u, 0u) << entry.path() << " " << std::oct << mode;
    }
}
} // namespace
