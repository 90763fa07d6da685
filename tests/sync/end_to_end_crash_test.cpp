// Crash safety: an engine in a child process is killed (SIGKILL) at scripted points, started again, and must
// converge with the server with no document lost, duplicated or deleted on the server.
//
// The child is this program started again with WAYFOLD_CRASH_CHILD set, running only CrashChild: one engine
// until it is killed.

#include "EndToEndFixture.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

// WAYFOLD_CRASH_CHILD = "<server base url>\n<folder>\n<data file>\n<device id file>"
[[noreturn]] void runChildEngine(const std::string& setup)
{
    std::istringstream lines(setup);
    std::string url, folder, dataFile, deviceFile;
    std::getline(lines, url);
    std::getline(lines, folder);
    std::getline(lines, dataFile);
    std::getline(lines, deviceFile);

    dwl::WayfoldApi api;
    api.setServerUrl(url + "/rest");
    api.setCredentials(qcl::string::utf8ToUtf16(kEmail), qcl::string::utf8ToUtf16(kPassword));
    qcl::uint128 deviceId;
    std::string storedId;
    if (std::ifstream(deviceFile) >> storedId)
        deviceId = qcl::uint128::parse(storedId);
    EngineSettings settings;
    Engine engine(api, folder, dataFile, settings, deviceId);
    engine.start();
    // Runs until killed; the Device id is kept where the parent, standing for the configuration, finds it.
    bool stored = !deviceId.isNil();
    for (;;)
    {
        if (!stored && !engine.deviceId().isNil())
        {
            std::ofstream(deviceFile + ".new") << idText(engine.deviceId());
            fs::rename(deviceFile + ".new", deviceFile);
            stored = true;
        }
        if (!engine.isRunning())
            std::_Exit(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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

    void startChild()
    {
        ASSERT_EQ(mChild, 0);
        const std::string setup = server.baseUrl() + "\n" + one.folder.string() + "\n" +
                                 one.dataFile.string() + "\n" + (scratch / "device-id");
        std::vector<std::string> variables{"WAYFOLD_CRASH_CHILD=" + setup};
        for (char** variable = environ; *variable; ++variable)
            if (std::string(*variable).rfind("WAYFOLD_CRASH_CHILD=", 0) != 0)
                variables.emplace_back(*variable);
        std::vector<char*> environment;
        for (auto& variable : variables)
            environment.push_back(variable.data());
        environment.push_back(nullptr);
        char program[] = "/proc/self/exe";
        char filter[] = "--gtest_filter=CrashChild.RunsAnEngineUntilKilled";
        char* arguments[] = {program, filter, nullptr};
        ASSERT_EQ(::posix_spawn(&mChild, program, nullptr, nullptr, arguments, environment.data()), 0);
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
} // namespace
} // namespace enginetest
