// A folder that the engine cannot read (a root-owned or chmod 000 folder) holds back nothing else: the rest
// of its Share and the other Shares still go up, server messages still come down (also after a restart), and
// nothing under it is deleted on the server. A folder or a document that cannot be read is reported once, and
// goes up once its mode lets the engine read it; a server version that a folder which cannot be written keeps
// out is reported with that cause. Root ignores file modes, so the engine runs as an ordinary user
// (uid 65534) in a child process: this program started again with WAYFOLD_ORDINARY_CHILD set.

#include "EndToEndFixture.h"

#include <csignal>
#include <grp.h>
#include <sys/wait.h>

namespace enginetest
{
namespace
{
namespace fs = std::filesystem;

constexpr uid_t kOrdinaryUser = 65534;

// WAYFOLD_ORDINARY_CHILD = "<server base url>\n<folder>\n<data file>\n<state folder>": the state folder
// receives the Device id ("device-id") and what the engine reported ("reports", one "kind<TAB>name" a line).
[[noreturn]] void runChildEngine(const std::string& setup)
{
    std::istringstream lines(setup);
    std::string url, folder, dataFile, state;
    std::getline(lines, url);
    std::getline(lines, folder);
    std::getline(lines, dataFile);
    std::getline(lines, state);
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0 ||
         ::setresuid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0))
        std::_Exit(4);

    runEngineUntilKilled(url, folder, dataFile, state + "/device-id",
                         [&](Engine& engine)
                         {
                             {
                                 std::ofstream reports(state + "/reports.new");
                                 for (const char* kind :
                                      {"onItemUnreadable", "updateBlockedBecause", "threadError"})
                                     for (const std::wstring& name : engine.reports.details(kind))
                                         reports << kind << '\t' << qcl::string::utf16ToUtf8(name) << '\n';
                             }
                             fs::rename(state + "/reports.new", state + "/reports");
                         });
}

TEST(OrdinaryUserChild, RunsAnEngineUntilKilled)
{
    const char* setup = std::getenv("WAYFOLD_ORDINARY_CHILD");
    if (!setup)
        GTEST_SKIP() << "only run as the child of an end-to-end test";
    runChildEngine(setup);
}

class OrdinaryUserTest : public EndToEndTest
{
protected:
    OrdinaryUserTest()
    {
        ::chmod(scratch.path().c_str(), 0755); // the child passes through
        fs::create_directories(scratch / "one/state");
        fs::create_directories(scratch / "one/home");
    }
    ~OrdinaryUserTest() override { kill(); }

    // Everything below the child's folder belongs to the child's user, as it would if that user had made it.
    void SetUp() override
    {
        if (::geteuid() != 0)
            return;
        const fs::path top = scratch / "one";
        ASSERT_EQ(::lchown(top.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
        for (const auto& entry : fs::recursive_directory_iterator(top))
            ASSERT_EQ(::lchown(entry.path().c_str(), kOrdinaryUser, kOrdinaryUser), 0) << entry.path();
    }

    // Writes the file as the child's user would save it: through a new file put in place (a change of owner
    // after the engine has seen a file would be an edit of its own).
    void save(const std::string& relative, const std::string& content)
    {
        const fs::path saved = scratch / "one/state/saved";
        writeFile(saved, content);
        if (::geteuid() == 0)
        {
            ASSERT_EQ(::chown(saved.c_str(), kOrdinaryUser, kOrdinaryUser), 0);
        }
        fs::rename(saved, one / relative);
    }

    void startChild()
    {
        ASSERT_EQ(mChild, 0);
        const std::string setup = server.baseUrl() + "\n" + one.folder.string() + "\n" +
                                  one.dataFile.string() + "\n" + (scratch / "one/state");
        mChild = startThisProgram("OrdinaryUserChild.RunsAnEngineUntilKilled",
                                  {"WAYFOLD_ORDINARY_CHILD=" + setup, "XDG_DATA_HOME=" + (scratch / "one/home")});
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
        fs::remove(scratch / "one/state/reports");
    }

    // The names the running child reported for the kind.
    std::vector<std::string> reported(const std::string& kind)
    {
        std::vector<std::string> names;
        std::ifstream reports(scratch / "one/state/reports");
        for (std::string line; std::getline(reports, line);)
            if (line.rfind(kind + "\t", 0) == 0)
                names.push_back(line.substr(kind.size() + 1));
        return names;
    }

private:
    pid_t mChild = 0;
};

TEST_F(OrdinaryUserTest, AFolderTheEngineCannotReadHoldsBackNothingElseAlsoAfterARestart)
{
    // Brought down at the first start, so that no message about the folder's content is left to apply.
    const auto makeShare = [&](const std::string& name)
    {
        const auto share = server.createShare(kEmail, name);
        return dwl::IdPair{qcl::uint128::parse(share.shareId), qcl::uint128::parse(share.rootId)};
    };
    const auto makeDocument =
        [&](const std::wstring& name, const dwl::IdPair& folder, const std::string& content)
    { server.putContent(idText(probe.createDocument(name, folder)), content); };
    const dwl::IdPair team = makeShare("Team");
    const dwl::IdPair locked{team.first, probe.createFolder(L"Locked", team)};
    makeDocument(L"doc.txt", team, "team v1");
    makeDocument(L"secret.txt", locked, "secret");
    makeDocument(L"deep.txt", {team.first, probe.createFolder(L"Sub", locked)}, "deep");
    makeDocument(L"doc.txt", makeShare("Other"), "other v1");
    startChild();
    // Messages are fetched once every Share is down.
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 0; }));
    ASSERT_TRUE(hasContent(one / "Team/Locked/Sub/deep.txt", "deep"));
    ASSERT_TRUE(hasContent(one / "Team/doc.txt", "team v1"));

    ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0), 0);
    struct Change
    {
        std::wstring share;
        std::wstring name;
        std::string content;
    };
    const std::vector<Change> changes{{L"Team", L"doc.txt", "team v2"},
                                      {L"Team", L"new.txt", "team new"},
                                      {L"Other", L"doc.txt", "other v2"},
                                      {L"Other", L"new.txt", "other new"}};
    for (const Change& change : changes)
        save(qcl::string::utf16ToUtf8(change.share + L"/" + change.name), change.content);
    for (const Change& change : changes)
        ASSERT_TRUE(waitUntil([&] { return serverContent(change.share, change.name) == change.content; }))
            << change.content;
    ASSERT_TRUE(waitUntil([&] { return !reported("onItemUnreadable").empty(); }));
    // A later snapshot holds the folder too: it is not reported again.
    save("Other/doc.txt", "other v3");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Other", L"doc.txt") == "other v3"; }));
    EXPECT_EQ(reported("onItemUnreadable"), std::vector<std::string>{"Locked"});

    // Stopped with the folder still unreadable; the server changes meanwhile.
    kill();
    const auto other = serverShare(L"Other");
    server.putContent(idText(probe.createDocument(L"from-server.txt", {other->shareId, other->rootId})),
                      "down");
    server.putContent(idText(serverAsset(L"Team", L"doc.txt")->assetId), "team v3 from the server");
    startChild();
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Other/from-server.txt", "down"); }));
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "team v3 from the server"); }));
    EXPECT_TRUE(
        waitUntil([&] { return reported("onItemUnreadable") == std::vector<std::string>{"Locked"}; }));

    EXPECT_EQ(reported("threadError"), std::vector<std::string>{});
    EXPECT_EQ(serverNames(L"Team", L"Locked"), (std::vector<std::wstring>{L"Sub", L"secret.txt"}));
    EXPECT_EQ(serverContent(L"Team", L"Locked/Sub/deep.txt"), "deep");
    EXPECT_EQ(requestCount("DELETE", ".*"), 0u);

    // Once it can be read, what was saved in it meanwhile goes up.
    save("Team/Locked/Sub/while-locked.txt", "saved while locked");
    ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0755), 0);
    EXPECT_TRUE(waitUntil(
        [&] { return serverContent(L"Team", L"Locked/Sub/while-locked.txt") == "saved while locked"; }));
    EXPECT_EQ(serverNames(L"Team", L"Locked"), (std::vector<std::wstring>{L"Sub", L"secret.txt"}));
}

TEST_F(OrdinaryUserTest, AServerDeletionInAFolderTheEngineCannotReadIsPassedAndAppliedOnceItCanBeRead)
{
    const auto team = server.createShare(kEmail, "Team");
    const dwl::IdPair locked{qcl::uint128::parse(team.shareId),
                             probe.createFolder(L"Locked", {qcl::uint128::parse(team.shareId),
                                                            qcl::uint128::parse(team.rootId)})};
    const qcl::uint128 secret = probe.createDocument(L"secret.txt", locked);
    server.putContent(idText(secret), "secret");
    startChild();
    ASSERT_TRUE(waitUntil([&] { return hasContent(one / "Team/Locked/secret.txt", "secret"); }));
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 0; }));

    ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0), 0);
    const auto startIds = [&]
    {
        std::vector<std::uint64_t> ids;
        for (const auto& request : server.requests("/rest/users/"))
            if (const auto at = request.target.find("startId="); at != std::string::npos)
                ids.push_back(std::stoull(request.target.substr(at + 8)));
        return ids;
    };
    const std::uint64_t deletion = startIds().back();
    probe.removeAsset({locked.first, secret});
    // Passed after its cycles, so that the messages behind it come; the down-synchronisation retries it.
    ASSERT_TRUE(waitUntil([&] { return startIds().back() > deletion; }));
    EXPECT_TRUE(exists(one / "Team/Locked/secret.txt"));
    ASSERT_EQ(::chmod((one / "Team/Locked").c_str(), 0755), 0);
    EXPECT_TRUE(waitUntil([&] { return !exists(one / "Team/Locked/secret.txt"); }));
    EXPECT_TRUE(exists(one / "Team/Locked"));
    EXPECT_EQ(reported("threadError"), std::vector<std::string>{});
}

TEST_F(OrdinaryUserTest, ADocumentTheEngineCannotReadIsReportedOnceAndSentOnceItsModeAllows)
{
    const auto share = server.createShare(kEmail, "Team");
    server.putContent(server.createAsset(share.shareId, share.rootId, false, "doc.txt"), "first");
    startChild();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 0; }));
    ASSERT_TRUE(hasContent(one / "Team/doc.txt", "first"));

    // A new document and an edit, each of mode 000 once saved.
    for (const auto& [name, content] : {std::pair{"Team/new.txt", "new"}, {"Team/doc.txt", "edited"}})
    {
        save(name, content);
        ASSERT_EQ(::chmod((one / name).c_str(), 0), 0);
    }
    save("Team/marker.txt", "marker");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"marker.txt") == "marker"; }));
    ASSERT_TRUE(waitUntil([&] { return reported("onItemUnreadable").size() == 2; }));
    save("Team/marker.txt", "marker, later");
    ASSERT_TRUE(waitUntil([&] { return serverContent(L"Team", L"marker.txt") == "marker, later"; }));
    std::vector<std::string> names = reported("onItemUnreadable");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"doc.txt", "new.txt"}));
    EXPECT_EQ(serverContent(L"Team", L"doc.txt"), "first");
    EXPECT_EQ(serverNames(L"Team"), (std::vector<std::wstring>{L"doc.txt", L"marker.txt"}));

    for (const char* name : {"Team/new.txt", "Team/doc.txt"})
        ASSERT_EQ(::chmod((one / name).c_str(), 0644), 0);
    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Team", L"new.txt") == "new"; }));
    EXPECT_TRUE(waitUntil([&] { return serverContent(L"Team", L"doc.txt") == "edited"; }));
    EXPECT_EQ(reported("threadError"), std::vector<std::string>{});
}

TEST_F(OrdinaryUserTest, AnUpdateBlockedByAFolderThatCannotBeWrittenNamesThatCause)
{
    const auto share = server.createShare(kEmail, "Team");
    const std::string doc = server.createAsset(share.shareId, share.rootId, false, "doc.txt");
    server.putContent(doc, "first");
    startChild();
    ASSERT_TRUE(waitUntil([&] { return requestCount("GET", ".*/messages") > 0; }));
    ASSERT_TRUE(hasContent(one / "Team/doc.txt", "first"));

    ASSERT_EQ(::chmod((one / "Team").c_str(), 0555), 0);
    server.putContent(doc, "second");
    ASSERT_TRUE(waitUntil([&] { return !reported("updateBlockedBecause").empty(); }));
    EXPECT_EQ(reported("updateBlockedBecause").front(), "Access is denied.");
    EXPECT_TRUE(hasContent(one / "Team/doc.txt", "first"));

    ASSERT_EQ(::chmod((one / "Team").c_str(), 0755), 0);
    EXPECT_TRUE(waitUntil([&] { return hasContent(one / "Team/doc.txt", "second"); }));
    EXPECT_EQ(reported("threadError"), std::vector<std::string>{});
}
} // namespace
} // namespace enginetest
