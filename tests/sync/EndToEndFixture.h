#pragma once
// Two Devices of one user, each an engine with its own folder and "Data" file, against one fake Wayfold
// server over HTTP on loopback. A third REST client (the probe) looks at the server as the user sees it.

#include "EngineHarness.h"
#include "support/FakeWayfoldServer.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <thread>

extern char** environ;

namespace enginetest
{
// Starts this test program again, running only the test `filter`, with this process's environment in which
// each of `variables` ("NAME=value") replaces a variable of that name. The child's process id, or 0.
inline pid_t startThisProgram(const std::string& filter, const std::vector<std::string>& variables)
{
    std::vector<std::string> all = variables;
    for (char** variable = environ; *variable; ++variable)
    {
        const std::string text = *variable;
        const bool replaced = std::any_of(variables.begin(), variables.end(), [&](const std::string& given)
                                          { return text.rfind(given.substr(0, given.find('=') + 1), 0) == 0; });
        if (!replaced)
            all.push_back(text);
    }
    std::vector<char*> environment;
    for (auto& variable : all)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    char program[] = "/proc/self/exe";
    std::string filterArgument = "--gtest_filter=" + filter;
    char* arguments[] = {program, filterArgument.data(), nullptr};
    pid_t child = 0;
    return ::posix_spawn(&child, program, nullptr, nullptr, arguments, environment.data()) == 0 ? child : 0;
}

inline const std::string kEmail = "ann@example.com";
inline const std::string kPassword = "s3cret";
inline const std::string kOtherEmail = "bob@example.com";
inline const std::string kOtherPassword = "other";

inline std::string idText(const qcl::uint128& id)
{
    std::ostringstream text;
    text << id;
    return text.str();
}

// The body of a child process that runs one engine of the user against the server at `url` until it is
// killed. The Device id is kept in `deviceFile`, standing for the configuration: read at the start, written
// once the engine registered. `eachTurn` runs every 20 ms.
[[noreturn]] inline void runEngineUntilKilled(const std::string& url, const std::string& folder,
                                              const std::string& dataFile, const std::string& deviceFile,
                                              const std::function<void(Engine&)>& eachTurn = {})
{
    dwl::WayfoldApi api;
    api.setServerUrl(url + "/rest");
    api.setCredentials(qcl::string::utf8ToUtf16(kEmail), qcl::string::utf8ToUtf16(kPassword));
    qcl::uint128 deviceId;
    std::string storedId;
    if (std::ifstream(deviceFile) >> storedId)
        deviceId = qcl::uint128::parse(storedId);
    Engine engine(api, folder, dataFile, EngineSettings{}, deviceId);
    engine.start();
    bool stored = !deviceId.isNil();
    for (;;)
    {
        if (!stored && !engine.deviceId().isNil())
        {
            std::ofstream(deviceFile + ".new") << idText(engine.deviceId());
            std::filesystem::rename(deviceFile + ".new", deviceFile);
            stored = true;
        }
        if (eachTurn)
            eachTurn(engine);
        if (!engine.isRunning())
            std::_Exit(3);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// One Device: its REST client, folder, data file, and the engine while it runs.
struct Device
{
    dwl::WayfoldApi api;
    std::filesystem::path folder;
    std::filesystem::path dataFile;
    qcl::uint128 deviceId;
    EngineSettings settings;
    std::unique_ptr<Engine> engine;

    std::filesystem::path operator/(const std::string& relative) const { return folder / relative; }
};

class EndToEndTest : public ::testing::Test
{
protected:
    EndToEndTest()
    {
        server.start();
        server.addUser(kEmail, kPassword);
        server.addUser(kOtherEmail, kOtherPassword);
        ::setenv("XDG_DATA_HOME", dataHome().path().c_str(), 1);
        signIn(probe, kEmail, kPassword);
        prepare(one, "one");
        prepare(two, "two");
    }

    ~EndToEndTest() override
    {
        one.engine.reset();
        two.engine.reset();
    }

    void TearDown() override
    {
        for (Device* device : {&one, &two})
        {
            if (device->engine)
            {
                EXPECT_EQ(device->engine->reports.details("threadError"), std::vector<std::wstring>());
            }
        }
        EXPECT_EQ(server.violations(), std::vector<std::string>());
        // The log lives in the scratch folder; keep it where it can be read when asked to.
        if (const char* keep = std::getenv("WAYFOLD_TEST_LOG_COPY"); keep && HasFailure())
        {
            std::error_code ignored;
            std::filesystem::copy_file(dataHome() / "quillmere/Logging/Wayfold.log", keep,
                                       std::filesystem::copy_options::overwrite_existing, ignored);
        }
    }

    // One for the process, since the log opened by the first test stays open: it holds the log and the trash,
    // on the file system of the scratch folders so that deletions can go to the trash.
    static test::ScratchFolder& dataHome()
    {
        static test::ScratchFolder folder;
        return folder;
    }

    void signIn(dwl::WayfoldApi& api, const std::string& email, const std::string& password)
    {
        api.setServerUrl(server.baseUrl() + "/rest");
        api.setCredentials(qcl::string::utf8ToUtf16(email), qcl::string::utf8ToUtf16(password));
    }

    void prepare(Device& device, const std::string& name)
    {
        signIn(device.api, kEmail, kPassword);
        device.folder = scratch.makeDirectory(name + "/Wayfold");
        device.dataFile = scratch / (name + "/Data");
    }

    void start(Device& device)
    {
        device.engine = std::make_unique<Engine>(device.api, device.folder, device.dataFile, device.settings,
                                                 device.deviceId);
        device.engine->start();
    }

    // Stops the engine and keeps what the application would keep: the Device id.
    void stop(Device& device)
    {
        if (!device.engine)
            return;
        device.engine->stop();
        if (!device.engine->deviceId().isNil())
            device.deviceId = device.engine->deviceId();
        EXPECT_EQ(device.engine->reports.details("threadError"), std::vector<std::wstring>());
        device.engine.reset();
    }

    // Both engines started, the first one registered and idle.
    void startBoth()
    {
        start(one);
        start(two);
        ASSERT_TRUE(waitUntil([&] { return one.engine->reports.count("onDeviceRegistered") == 1; }));
        ASSERT_TRUE(waitUntil([&] { return two.engine->reports.count("onDeviceRegistered") == 1; }));
    }

    // ---- disk ----

    static void writeFile(const std::filesystem::path& path, const std::string& content)
    {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    static std::optional<std::string> readFile(const std::filesystem::path& path)
    {
        std::ifstream stream(path, std::ios::binary);
        if (!stream)
            return std::nullopt;
        std::ostringstream content;
        content << stream.rdbuf();
        return content.str();
    }

    static bool hasContent(const std::filesystem::path& path, const std::string& content)
    {
        return readFile(path) == content;
    }

    static bool exists(const std::filesystem::path& path) { return std::filesystem::exists(path); }

    // Whether a file of the trash (shared by the tests of the program, so names may have been taken) holds it.
    static bool trashHolds(const std::string& content)
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dataHome() / "Trash/files", error))
            if (readFile(entry.path()) == content)
                return true;
        return false;
    }

    // Names in a folder, sorted.
    static std::vector<std::string> listing(const std::filesystem::path& folder)
    {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Whether the folder comes to hold exactly these names: a download still under way shows as a hidden
    // file beside its target for a moment, and must go.
    static bool settlesTo(const std::filesystem::path& folder, const std::vector<std::string>& names)
    {
        return waitUntil([&] { return listing(folder) == names; });
    }

    // ---- server, as the user sees it ----

    std::optional<dwl::IWayfoldApi::Share> serverShare(const std::wstring& name)
    {
        for (const auto& share : probe.getShares())
            if (share.name == name)
                return share;
        return std::nullopt;
    }

    // The asset at a "/"-separated path below a Share's root folder.
    std::optional<dwl::IWayfoldApi::Asset> serverAsset(const std::wstring& shareName,
                                                       const std::wstring& path)
    {
        const auto share = serverShare(shareName);
        if (!share)
            return std::nullopt;
        qcl::uint128 folder = share->rootId;
        std::wstring rest = path;
        for (;;)
        {
            const auto slash = rest.find(L'/');
            const std::wstring part = rest.substr(0, slash);
            std::optional<dwl::IWayfoldApi::Asset> found;
            for (const auto& child : probe.getChildren({share->shareId, folder}))
                if (child.name == part)
                    found = child;
            if (!found || slash == std::wstring::npos)
                return found;
            folder = found->assetId;
            rest = rest.substr(slash + 1);
        }
    }

    std::vector<std::wstring> serverNames(const std::wstring& shareName, const std::wstring& folderPath = L"")
    {
        const auto share = serverShare(shareName);
        if (!share)
            return {};
        qcl::uint128 folder = share->rootId;
        if (!folderPath.empty())
        {
            const auto found = serverAsset(shareName, folderPath);
            if (!found)
                return {};
            folder = found->assetId;
        }
        std::vector<std::wstring> names;
        for (const auto& child : probe.getChildren({share->shareId, folder}))
            names.push_back(child.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<std::string> serverContent(const std::wstring& shareName, const std::wstring& path)
    {
        const auto document = serverAsset(shareName, path);
        if (!document)
            return std::nullopt;
        return server.content(idText(document->assetId), document->contentVersion);
    }

    std::size_t requestCount(const std::string& method, const std::string& pathPattern)
    {
        std::size_t count = 0;
        const std::regex pattern(pathPattern);
        for (const auto& request : server.requests("/rest/"))
            if (request.method == method && std::regex_match(request.path, pattern))
                ++count;
        return count;
    }

    test::ScratchFolder scratch;
    fake::FakeWayfoldServer server;
    dwl::WayfoldApi probe;
    Device one;
    Device two;
};

// Appends a line to a file every `period` while it lives, as a log or a database does: a folder that never
// stays quiet.
class BusyWriter
{
public:
    BusyWriter(std::filesystem::path file, std::chrono::milliseconds period)
        : mThread(
              [this, file = std::move(file), period]
              {
                  for (int line = 0; mWriting; ++line)
                  {
                      std::ofstream(file, std::ios::app) << "line " << line << "\n";
                      std::this_thread::sleep_for(period);
                  }
              })
    {
    }
    ~BusyWriter()
    {
        mWriting = false;
        mThread.join();
    }

private:
    std::atomic<bool> mWriting{true};
    std::thread mThread;
};
} // namespace enginetest
