// Crash safety: an engine in a child process is killed (SIGKILL) at scripted points, started again, and must
// converge with the server with no document lost, duplicated or deleted on the server. The points are
// requests the server sees, or system calls: this program puts its own renameat2, mkdirat and fsync in front
// of the C library's, so that the child can kill itself right after one, and a test can make a folder sync
// fail or act between a check and a move.
//
// The child is this program started again with WAYFOLD_CRASH_CHILD set, running only CrashChild: one engine
// until it is killed.

#include "EndToEndFixture.h"
#include "sync/CommandProcessorFiles.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace systemcalls
{
// The child kills itself right after the first call whose description ("renameat2 <flags> <from> <to>",
// "mkdirat <path>") matches, or right before it ("fsetxattr <path>").
std::optional<std::regex> killAfter;
// Folder syncs still to fail with EIO.
std::atomic<int> failingFolderSyncs{0};
// Runs right before a rename into the trash.
std::function<void()> beforeTrashRename;

std::string pathOf(int folder, const char* name)
{
    if (name[0] == '/' || folder == AT_FDCWD)
        return name;
    char target[4096];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(folder)).c_str(), target, sizeof target);
    const std::string folderPath(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    return name[0] == '\0' ? folderPath : folderPath + "/" + name;
}

void called(const std::string& description)
{
    if (killAfter && std::regex_search(description, *killAfter))
        ::raise(SIGKILL);
}

template <class Function>
Function real(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}
} // namespace systemcalls

extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) noexcept
{
    using Function = int (*)(int, const char*, int, const char*, unsigned);
    static const auto next = systemcalls::real<Function>("renameat2");
    if (systemcalls::beforeTrashRename && std::strstr(to, "/Trash/files/"))
        systemcalls::beforeTrashRename();
    const int result = next(fromFolder, from, toFolder, to, flags);
    if (result == 0)
        systemcalls::called("renameat2 " + std::to_string(flags) + " " + systemcalls::pathOf(fromFolder, from) +
                            " " + systemcalls::pathOf(toFolder, to));
    return result;
}

extern "C" int mkdirat(int folder, const char* path, mode_t mode) noexcept
{
    using Function = int (*)(int, const char*, mode_t);
    static const auto next = systemcalls::real<Function>("mkdirat");
    const int result = next(folder, path, mode);
    if (result == 0)
        systemcalls::called("mkdirat " + systemcalls::pathOf(folder, path));
    return result;
}

// Described before the call: the kill comes between making a file and giving it an attribute.
extern "C" int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) noexcept
{
    using Function = int (*)(int, const char*, const void*, size_t, int);
    static const auto next = systemcalls::real<Function>("fsetxattr");
    systemcalls::called("fsetxattr " + systemcalls::pathOf(fd, ""));
    return next(fd, name, value, size, flags);
}

extern "C" int fsync(int fd)
{
    using Function = int (*)(int);
    static const auto next = systemcalls::real<Function>("fsync");
    struct stat status{};
    if (systemcalls::failingFolderSyncs > 0 && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) &&
        systemcalls::failingFolderSyncs-- > 0)
    {
        errno = EIO;
        return -1;
    }
    return next(fd);
}

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;
using dwl::commandprocessor::downloadFileName;

// WAYFOLD_CRASH_CHILD = "<server base url>\n<folder>\n<data file>\n<device id file>[\n<kill after>]"
[[noreturn]] void runChildEngine(const std::string& setup)
{
    std::istringstream lines(setup);
    std::string url, folder, dataFile, deviceFile, killAfter;
    std::getline(lines, url);
    std::getline(lines, folder);
    std::getline(lines, dataFile);
    std::getline(lines, deviceFile);
    if (std::getline(lines, killAfter) && !killAfter.empty())
        systemcalls::killAfter.emplace(killAfter);

    runEngineUntilKilled(url, folder, dataFile, deviceFile);
}

// The child's body: a test of its own, so that it runs once the program is fully initialised.
TEST(CrashChild, RunsAnEngineUntilKilled)
{
    const char* setup = std::getenv("WAYFOLD_CRASH_CHILD");
    if (!setup)
        GTEST_SKIP() << "only run as the child of a crash test";
    runChildEngine(setup);
}

class CrashTest : public EndToEndTest
{
protected:
    ~CrashTest() override { kill(); }

    // `killAfter`: the child kills itself right after a system call of this description (see systemcalls).
    void startChild(const std::string& killAfter = {})
    {
        ASSERT_EQ(mChild, 0);
        const std::string setup = server.baseUrl() + "\n" + one.folder.string() + "\n" +
                                 one.dataFile.string() + "\n" + (scratch / "device-id") + "\n" + killAfter;
        mChild = startThisProgram("CrashChild.RunsAnEngineUntilKilled", {"WAYFOLD_CRASH_CHILD=" + setup});
        ASSERT_NE(mChild, 0);
    }

    void kill()
    {
        if (mChild == 0)
            return;
        ::kill(mChild, SIGKILL);
        int status = 0;
        ::waitpid(mChild, &status, 0);
        mChild = 0;
    }

    // Starts the child and waits until it killed itself at the system call.
    // A child that never makes the call is killed after two minutes, and the test fails rather than hangs.
    void killAt(const std::string& call)
    {
        startChild(call);
        int status = 0;
        ASSERT_TRUE(waitUntil([&] { return ::waitpid(mChild, &status, WNOHANG) == mChild; },
                              std::chrono::minutes(2)))
            << "no " << call;
        mChild = 0;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << call;
    }

    // Kills the child while a request of `method` on `pathPattern` is held by the server.
    void killDuring(const std::string& method, const std::string& pathPattern)
    {
        server.addFault(fake::FaultRule::of(fake::FaultKind::Stall, method, pathPattern));
        startChild();
        EXPECT_TRUE(server.waitForStalled(1, std::chrono::seconds(60))) << method << " " << pathPattern;
        kill();
        server.clearFaults();
        server.releaseStalls();
    }

    // Kills the child as soon as the server has seen `count` more requests of the kind.
    void killAfter(const std::string& method, const std::string& pathPattern, std::size_t count)
    {
        const std::size_t before = requestCount(method, pathPattern);
        startChild();
        EXPECT_TRUE(waitUntil([&] { return requestCount(method, pathPattern) >= before + count; },
                              std::chrono::seconds(60)))
            << method << " " << pathPattern << " " << count;
        kill();
    }

    // Every visible file below the folder, by relative path, with its content.
    std::map<std::string, std::string> localFiles()
    {
        // The child may change the folder meanwhile: what vanishes is skipped, the next poll sees the rest.
        std::map<std::string, std::string> files;
        std::error_code error;
        for (fs::recursive_directory_iterator entry(one.folder, error), end; !error && entry != end;
             entry.increment(error))
        {
            const auto content = readFile(entry->path());
            if (entry->is_regular_file(error) && content &&
                !(win32Attributes(entry->path()) & FILE_ATTRIBUTE_HIDDEN))
                files[entry->path().lexically_relative(one.folder).string()] = *content;
        }
        return files;
    }

    static DWORD win32Attributes(const fs::path& path)
    {
        return GetFileAttributesW(compat::fileNameToUtf16(path.string()).c_str());
    }

    // Every document of the user's Shares, by "Share/relative path", with its latest content.
    std::map<std::string, std::string> serverFiles()
    {
        std::map<std::string, std::string> files;
        std::function<void(const dwl::IWayfoldApi::Share&, const qcl::uint128&, const std::string&)> walk =
            [&](const auto& share, const qcl::uint128& folder, const std::string& prefix)
        {
            for (const auto& child : probe.getChildren({share.shareId, folder}))
            {
                const std::string path = prefix + "/" + qcl::string::utf16ToUtf8(child.name);
                if (child.type == dwl::IWayfoldApi::Asset::Folder)
                    walk(share, child.assetId, path);
                else
                    files[path] =
                        server.content(idText(child.assetId), child.contentVersion).value_or("<none>");
            }
        };
        for (const auto& share : probe.getShares())
            walk(share, share.rootId, qcl::string::utf16ToUtf8(share.name));
        return files;
    }

    // Restarts the child until the folder and the server hold exactly `expected`.
    void convergeOn(const std::map<std::string, std::string>& expected)
    {
        startChild();
        const bool converged = waitUntil(
            [&] { return localFiles() == expected && serverFiles() == expected; }, std::chrono::seconds(90));
        kill();
        EXPECT_TRUE(converged);
        EXPECT_EQ(localFiles(), expected);
        EXPECT_EQ(serverFiles(), expected);
    }

    std::map<std::string, std::string> makeServerTree(int folders, int documents)
    {
        std::map<std::string, std::string> expected;
        const auto share = server.createShare(kEmail, "Big");
        const dwl::IdPair root{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
        for (int f = 0; f < folders; ++f)
        {
            const std::wstring folderName = L"f" + std::to_wstring(f);
            const qcl::uint128 folder = probe.createFolder(folderName, root);
            for (int d = 0; d < documents; ++d)
            {
                const std::string name = "d" + std::to_string(d) + ".txt";
                const qcl::uint128 document =
                    probe.createDocument(qcl::string::utf8ToUtf16(name), {root.first, folder});
                const std::string content = "content of " + name + " in f" + std::to_string(f);
                server.putContent(idText(document), content);
                expected["Big/f" + std::to_string(f) + "/" + name] = content;
            }
        }
        return expected;
    }

    std::map<std::string, std::string> makeLocalTree(int folders, int documents)
    {
        std::map<std::string, std::string> expected;
        for (int f = 0; f < folders; ++f)
            for (int d = 0; d < documents; ++d)
            {
                const std::string path = "Up/f" + std::to_string(f) + "/d" + std::to_string(d) + ".txt";
                writeFile(one / path, "local " + path);
                expected[path] = "local " + path;
            }
        return expected;
    }

private:
    pid_t mChild = 0;
};

TEST_F(CrashTest, KillsDuringDownloadsAndBetweenADownloadAndItsRecordLoseNothing)
{
    const auto expected = makeServerTree(4, 15);
    const std::size_t documents = expected.size();
    server.clearRequests();

    killDuring("GET", ".*/contents/latest");
    for (std::size_t count : {1, 2, 3, 5, 8})
        killAfter("GET", ".*/contents/latest", count);
    convergeOn(expected);

    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    // A download killed after it was put in place and before it was recorded is taken for a local file at the
    // next start: it is matched with its document (its content may be sent again), never created anew.
    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets"), 0u);
    EXPECT_EQ(serverFiles().size(), documents);
}

TEST_F(CrashTest, KillsDuringUploadsAndDeltasCreateNothingTwice)
{
    const auto expected = makeLocalTree(4, 15);

    killDuring("POST", "/rest/shares/[^/]+/assets"); // a creation in the middle of a delta
    killDuring("POST", ".*/contents");               // an upload
    for (std::size_t count : {1, 2, 4, 6})
        killAfter("POST", "/rest/shares/[^/]+/assets", count);
    for (std::size_t count : {1, 3, 5})
        killAfter("POST", ".*/contents", count);
    convergeOn(expected);

    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    EXPECT_EQ(probe.getShares().size(), 1u);
}

TEST_F(CrashTest, KillsDuringEditsOfBothSidesKeepTheNewestContent)
{
    auto expected = makeServerTree(1, 6);
    convergeOn(expected);

    // The server changes two documents while local edits change two others.
    for (const auto& [path, content] : expected)
        if (path.ends_with("d0.txt") || path.ends_with("d1.txt"))
        {
            const auto document = serverAsset(L"Big", qcl::string::utf8ToUtf16(path.substr(4)));
            server.putContent(idText(document->assetId), content + " v2");
        }
    writeFile(one / "Big/f0/d4.txt", "local edit 4");
    writeFile(one / "Big/f0/d5.txt", "local edit 5");
    expected["Big/f0/d0.txt"] += " v2";
    expected["Big/f0/d1.txt"] += " v2";
    expected["Big/f0/d4.txt"] = "local edit 4";
    expected["Big/f0/d5.txt"] = "local edit 5";

    killAfter("POST", ".*/contents", 1); // the local edits are sent first
    killDuring("GET", ".*/contents/latest");
    killAfter("GET", ".*/contents/latest", 1);
    convergeOn(expected);
}
// A rename of a document on the server: a POST on the asset itself.
const std::string kAssetChange = "/rest/shares/[^/]+/assets/[^/]+";

TEST_F(CrashTest, AKillRightAfterADownloadSwapKeepsEverySaveAndSendsNoRenameOrDeletion)
{
    auto expected = makeServerTree(1, 1);
    convergeOn(expected);
    const qcl::uint128 document = serverAsset(L"Big", L"f0/d0.txt")->assetId;
    const fs::path file = one / "Big/f0/d0.txt";
    const fs::path displaced = one / ("Big/f0/" + qcl::string::utf16ToUtf8(downloadFileName(document)));
    server.clearRequests();
    for (const bool savedBeforeTheSwap : {false, true})
    {
        const std::string version = savedBeforeTheSwap ? "third" : "second";
        server.putContent(idText(document), version);
        killAt("renameat2 2 .*/\\.wayfold-");
        ASSERT_TRUE(exists(displaced));
        // A save that reached the old file just before the swap, or the document saved while no engine ran.
        const std::string saved = savedBeforeTheSwap ? "saved just before the swap" : "saved while stopped";
        writeFile(savedBeforeTheSwap ? displaced : file, saved);
        expected["Big/f0/d0.txt"] = saved;
        convergeOn(expected);
        // The server version that lost locally stays in the history.
        const auto now = serverAsset(L"Big", L"f0/d0.txt");
        EXPECT_EQ(server.content(idText(document), now->contentVersion - 1), version);
    }
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
    EXPECT_EQ(requestCount("POST", kAssetChange), 0u);
}

TEST_F(CrashTest, AKillRightAfterADownloadSwapIsSettledByIdentityWhateverTheUserDidMeanwhile)
{
    auto expected = makeServerTree(1, 1);
    convergeOn(expected);
    const qcl::uint128 document = serverAsset(L"Big", L"f0/d0.txt")->assetId;
    const auto swapped = [&](const std::string& version)
    {
        server.putContent(idText(document), version);
        killAt("renameat2 2 .*/\\.wayfold-");
    };
    const std::size_t creations = requestCount("POST", "/rest/shares/[^/]+/assets");

    // A save in place that keeps the size and the time proves nothing: the next server version puts it in the
    // trash, never unlinked.
    swapped("version 2");
    const fs::path file = one / "Big/f0/d0.txt";
    struct stat before{};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    writeFile(file, "VERSION 2");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    startChild();
    ASSERT_TRUE(waitUntil([&] { return !exists(one / ("Big/f0/" + qcl::string::utf16ToUtf8(downloadFileName(document)))); }));
    kill();
    server.putContent(idText(document), "version 3");
    expected["Big/f0/d0.txt"] = "version 3";
    convergeOn(expected);
    EXPECT_TRUE(trashHolds("VERSION 2"));

    // A save through a new file is the document's next version; the file the download displaced, the recorded
    // version, goes to the trash.
    swapped("version 4");
    writeFile(one / "Big/f0/saved.tmp", "saved through a new file");
    fs::rename(one / "Big/f0/saved.tmp", file);
    expected["Big/f0/d0.txt"] = "saved through a new file";
    convergeOn(expected);
    EXPECT_TRUE(trashHolds("version 3"));

    // A rename of the download is the document's.
    swapped("version 5");
    fs::rename(file, one / "Big/f0/renamed.txt");
    expected = {{"Big/f0/renamed.txt", "version 5"}};
    convergeOn(expected);

    // So is a rename of its folder, and later versions still come down.
    swapped("version 6");
    fs::rename(one / "Big/f0", one / "Big/g0");
    expected = {{"Big/g0/renamed.txt", "version 6"}};
    convergeOn(expected);
    server.putContent(idText(document), "version 7");
    expected = {{"Big/g0/renamed.txt", "version 7"}};
    convergeOn(expected);

    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets"), creations);
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);
}

TEST_F(CrashTest, AKillBetweenPlacingANewDownloadAndRecordingItKeepsANewerServerVersion)
{
    auto expected = makeServerTree(1, 1);
    convergeOn(expected);
    const auto share = serverShare(L"Big");
    const qcl::uint128 folder = serverAsset(L"Big", L"f0")->assetId;
    const qcl::uint128 document = probe.createDocument(L"new.txt", {share->shareId, folder});
    server.putContent(idText(document), "first");
    server.clearRequests();

    killAt("renameat2 1 .*/\\.wayfold-[^/]*\\.download .*/new\\.txt$");
    ASSERT_TRUE(hasContent(one / "Big/f0/new.txt", "first"));
    server.putContent(idText(document), "newer, from another Device");
    expected["Big/f0/new.txt"] = "newer, from another Device";
    convergeOn(expected);
    EXPECT_EQ(requestCount("POST", ".*/contents"), 0u);
    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets"), 0u);
}

TEST_F(CrashTest, AKillBetweenMakingADownloadsFileAndHidingItMakesNoDocument)
{
    auto expected = makeServerTree(1, 2);
    server.clearRequests();
    killAt("fsetxattr .*/\\.wayfold-[^/]*\\.download$");
    convergeOn(expected);
    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets"), 0u);
}

TEST_F(CrashTest, AKillRightAfterANewSharesFolderIsMadeMakesNoSecondShare)
{
    auto expected = makeServerTree(1, 1);
    convergeOn(expected);
    const auto fresh = server.createShare(kEmail, "Fresh");
    const qcl::uint128 document =
        probe.createDocument(L"inside.txt", {qcl::uint128::parse(fresh.shareId), qcl::uint128::parse(fresh.rootId)});
    server.putContent(idText(document), "inside");

    killAt("mkdirat .*/Fresh$");
    expected["Fresh/inside.txt"] = "inside";
    convergeOn(expected);
    const auto shares = probe.getShares();
    EXPECT_EQ(std::count_if(shares.begin(), shares.end(), [](const auto& s) { return s.name == L"Fresh"; }), 1);
    EXPECT_EQ(listing(one.folder), (std::vector<std::string>{"Big", "Fresh"}));
}

TEST_F(CrashTest, AKillRightAfterATrashMoveKeepsTheDocumentInTheTrashAndMakesNothingAnew)
{
    // The trash is the process's: a d1.txt that an earlier test left there would give this one another name.
    std::filesystem::remove_all(dataHome() / "Trash");
    auto expected = makeServerTree(1, 2);
    convergeOn(expected);
    const auto share = serverShare(L"Big");
    probe.removeAsset({share->shareId, serverAsset(L"Big", L"f0/d1.txt")->assetId});
    server.clearRequests();

    killAt("renameat2 1 .* .*/Trash/files/d1\\.txt$");
    expected.erase("Big/f0/d1.txt");
    convergeOn(expected);
    EXPECT_TRUE(hasContent(dataHome() / "Trash/files/d1.txt", "content of d1.txt in f0"));
    EXPECT_EQ(requestCount("POST", "/rest/shares/[^/]+/assets"), 0u);
}

// In this process: the engine runs beside the test, which makes system calls fail or act in between.
TEST_F(EndToEndTest, AFailedFolderSyncAfterADownloadWasPlacedRecordsItOnce)
{
    startBoth();
    writeFile(two / "Team/first.txt", "first");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/first.txt", "first"); }));

    systemcalls::failingFolderSyncs = 1;
    writeFile(two / "Team/new.txt", "new");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/new.txt", "new"); }));
    writeFile(two / "Team/later.txt", "later");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/later.txt", "later"); }));
    EXPECT_EQ(systemcalls::failingFolderSyncs, 0);
    EXPECT_TRUE(settlesTo(one / "Team", {"first.txt", "later.txt", "new.txt"}));
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"first.txt", L"later.txt", L"new.txt"}));
}

TEST_F(EndToEndTest, ASaveBetweenADeletionsCheckAndItsMoveComesBackAndIsSent)
{
    startBoth();
    writeFile(two / "Team/doc.txt", "server version");
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "server version"); }));

    // The user saves right as the file goes to the trash, after the engine checked it.
    systemcalls::beforeTrashRename = [&]
    {
        systemcalls::beforeTrashRename = nullptr;
        writeFile(one / "Team/doc.txt", "saved as it was deleted");
    };
    stop(two);
    probe.removeAsset({serverShare(L"Team")->shareId, serverAsset(L"Team", L"doc.txt")->assetId});

    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"doc.txt") == "saved as it was deleted"; }));
    EXPECT_TRUE(hasContent(one / "Team/doc.txt", "saved as it was deleted"));
    EXPECT_FALSE(exists(dataHome() / "Trash/files/doc.txt"));
}
} // namespace
} // namespace enginetest
