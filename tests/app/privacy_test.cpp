// The user's data stays the user's: every folder and file the program keeps is private whatever the umask and
// whoever made the folders first, a link planted in the data folder is never followed, and folders of
// another user are refused.
#include "app/Configuration.h"
#include "app/InstanceLock.h"
#include "app/Paths.h"
#include "qcl/Error.h"
#include "qcl/String.h"
#include "scriblet/LogWriter.h"
#include "scriblet/LoggingSystem.h"
#include "sync/Serializer.h"
#include "sync/Tree.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

namespace
{
namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path)
{
    return static_cast<unsigned>(fs::symlink_status(path).permissions() & fs::perms::mask);
}

class PrivacyTest : public testing::Test
{
protected:
    PrivacyTest()
    {
        ::setenv("XDG_DATA_HOME", mData.c_str(), 1);
        ::setenv("QUILLMERE_USER_REGISTRY", (mScratch / "user.ini").c_str(), 1);
        ::setenv("QUILLMERE_MACHINE_REGISTRY", (mScratch / "machine.ini").c_str(), 1);
    }

    std::wstring wide(const std::string& path) const { return qcl::string::utf8ToUtf16(path); }

    // Mode bits of every folder and file below the maker folder, by path relative to it.
    std::map<std::string, unsigned> modesBelowMakerFolder() const
    {
        std::map<std::string, unsigned> modes;
        for (const auto& entry : fs::recursive_directory_iterator(mMaker))
            modes[fs::relative(entry.path(), mMaker).string()] = modeOf(entry.path());
        return modes;
    }

    test::ScratchFolder mScratch;
    std::string mData = mScratch / "data";
    std::string mMaker = mData + "/quillmere";
};

TEST_F(PrivacyTest, StartUnderUmaskZeroLeavesEveryFolderAndFilePrivate)
{
    const mode_t previous = ::umask(0);
    {
        // The logging library is configured first and makes the data root for its generated configuration.
        LoggingSystem logging;
        logging.PutSubsystem(L"Wayfold");
        std::unique_ptr<LogWriter> writer(logging.CreateLogWriter(L"Wayfold"));
        writer->Message(40000, L"start", "privacy_test.cpp", 1);

        dwl::InstanceLock lock;
        lock.lock(dwl::Paths::lockFile());
        dwl::Serializer serializer;
        serializer.open(dwl::Paths::databaseFile());
        auto root = std::make_unique<dwl::Tree::Directory>(1, L"/home/u/Wayfold");
        serializer.saveTree(*root);
        dwl::Configuration record;
        record.password = L"secret";
        dwl::Configuration::save(record, dwl::Paths::configurationFile());

        const auto modes = modesBelowMakerFolder();
        for (const char* expected :
             {"Wayfold/Configuration", "Wayfold/Data", "Wayfold/Data-wal", "Wayfold/Data-shm", "Wayfold/Lock",
              "Wayfold/scriblet.cfg", "Logging/Wayfold.log", "DataProtection/UserKey"})
            EXPECT_EQ(modes.count(expected), 1u) << expected << " was not made";
        for (const auto& [path, mode] : modes)
            EXPECT_EQ(mode, fs::is_directory(mMaker + "/" + path) ? 0700u : 0600u)
                << path << std::oct << " " << mode;
        EXPECT_EQ(modeOf(mMaker), 0700u);
        serializer.saveTree(*root); // keeps the database open until the modes were read
    }
    ::umask(previous);
}

TEST_F(PrivacyTest, FoldersMadeOpenByOthersAreMadePrivateAtStart)
{
    fs::create_directories(mMaker + "/Wayfold");
    fs::permissions(mMaker, fs::perms::all);
    fs::permissions(mMaker + "/Wayfold", fs::perms::all);
    dwl::Paths::dataRoot();
    EXPECT_EQ(modeOf(mMaker), 0700u);
    EXPECT_EQ(modeOf(mMaker + "/Wayfold"), 0700u);
}

TEST_F(PrivacyTest, LinksPlantedInTheDataFolderAreNeverFollowed)
{
    const std::string root = qcl::string::utf16ToUtf8(dwl::Paths::dataRoot());
    const std::string victim = mScratch.writeFile("victim", "untouched");
    const unsigned victimMode = modeOf(victim);
    for (const char* name : {"Configuration.new", "Lock", "Data"})
        fs::create_symlink(victim, root + "/" + name);

    dwl::Configuration record;
    record.password = L"secret";
    EXPECT_NO_THROW(dwl::Configuration::save(record, dwl::Paths::configurationFile()));
    dwl::InstanceLock lock;
    EXPECT_THROW(lock.lock(dwl::Paths::lockFile()), qcl::SystemError);
    dwl::Serializer serializer;
    EXPECT_THROW(serializer.open(dwl::Paths::databaseFile()), qcl::basic_runtime_error<wchar_t>);

    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "untouched");
    EXPECT_EQ(modeOf(victim), victimMode);
}

// CI runs as root, whom mode bits do not stop: the other user's folder is made by a child that drops to
// another user.
TEST_F(PrivacyTest, FolderOfAnotherUserIsRefusedAndLeftAsItIs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    fs::create_directories(mData);
    fs::permissions(mScratch.path(), fs::perms::others_exec, fs::perm_options::add);
    fs::permissions(mData, fs::perms::all);
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && ::mkdir(mMaker.c_str(), 0777) == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const unsigned madeMode = modeOf(mMaker);

    const std::wstring expected = L"Cannot use folder '" + wide(mMaker) + L"': it belongs to another user";
    try
    {
        dwl::Paths::dataRoot();
        ADD_FAILURE() << "the data root was accepted";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(), expected);
    }
    try
    {
        LoggingSystem().PutSubsystem(L"Wayfold");
        ADD_FAILURE() << "the logging folders were accepted";
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        EXPECT_EQ(error.message(), expected);
    }
    struct stat made = {};
    ASSERT_EQ(::stat(mMaker.c_str(), &made), 0);
    EXPECT_EQ(made.st_uid, 65534u);
    EXPECT_EQ(modeOf(mMaker), madeMode);
}
} // namespace
