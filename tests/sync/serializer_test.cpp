#include "sync/Serializer.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <unistd.h>

using dwl::Serializer;
using dwl::Tree;

namespace
{
// Counts the row writes that reach the triggers below and makes the one numbered `gFailAt` fail.
long gWrites = 0;
long gFailAt = 0;

void injectFailure(sqlite3_context* context, int, sqlite3_value**)
{
    sqlite3_result_int(context, ++gWrites == gFailAt ? 1 : 0);
}

int registerInjectFailure(sqlite3* db, char**, const sqlite3_api_routines*)
{
    return sqlite3_create_function(db, "inject_failure", 0, SQLITE_UTF8, nullptr, injectFailure, nullptr, nullptr);
}

const bool gRegistered = [] {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(registerInjectFailure));
    return true;
}();

// A raw connection for looking at (and tampering with) the file behind the serializer's back.
struct Raw
{
    sqlite3* db = nullptr;
    explicit Raw(const std::string& path) { sqlite3_open(path.c_str(), &db); }
    ~Raw() { sqlite3_close(db); }
    void exec(const std::string& sql) { ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db); }
    std::vector<std::string> rows(const std::string& sql)
    {
        std::vector<std::string> result;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        while (sqlite3_step(statement) == SQLITE_ROW)
        {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c)
            {
                if (c)
                    row += "|";
                if (sqlite3_column_type(statement, c) == SQLITE_NULL)
                    row += "NULL";
                else if (sqlite3_column_type(statement, c) == SQLITE_BLOB)
                {
                    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement, c));
                    char hex[3];
                    for (int i = 0; i < sqlite3_column_bytes(statement, c); ++i)
                        row += (std::snprintf(hex, sizeof hex, "%02x", bytes[i]), hex);
                }
                else
                    row += reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            }
            result.push_back(row);
        }
        sqlite3_finalize(statement);
        return result;
    }
};

// Every node with every stored field, one line each, in an order that does not depend on child order.
std::multiset<std::wstring> contents(const Tree::Directory& root)
{
    std::multiset<std::wstring> lines;
    std::function<void(const Tree::Node&, const std::wstring&)> add = [&](const Tree::Node& node,
                                                                             const std::wstring& path) {
        std::wostringstream line;
        line << path << L'|' << node.localId() << L'|' << node.shareId() << L'|' << node.assetId();
        if (const Tree::File* file = node.asFile())
            line << L"|file|" << file->size() << L'|' << file->lastModificationTime() << L'|' << file->versionNumber();
        else
        {
            const Tree::Directory& directory = *node.asDirectory();
            line << L"|dir|" << directory.isOwned() << directory.isSynchronised();
            for (const Tree::Node& child : directory.children())
                add(child, path + L"/" + child.name());
        }
        lines.insert(line.str());
    };
    add(root, root.name());
    return lines;
}

struct SerializerTest : ::testing::Test
{
    std::string path;
    std::wstring widePath;

    void SetUp() override
    {
        path = (std::filesystem::temp_directory_path() /
                ("serializer_test_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                   .string();
        removeFiles();
        widePath = qcl::string::utf8ToUtf16(path);
        gWrites = 0;
        gFailAt = 0;
    }
    void TearDown() override { removeFiles(); }
    void removeFiles()
    {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            std::filesystem::remove(path + suffix);
    }

    std::unique_ptr<Tree::Directory> reload()
    {
        Serializer other;
        other.open(widePath);
        return other.loadTree();
    }

    static std::unique_ptr<Tree::Directory> sampleTree()
    {
        auto root = std::make_unique<Tree::Directory>(1, L"/home/u/Wayfold");
        auto& share = root->addChild(std::make_unique<Tree::Directory>(2, L"Sh\xe4re \xD83D\xDE00"));
        share.setShareId(qcl::uint128::fromHalves(0x0102030405060708ull, 0x1112131415161718ull));
        share.setAssetId(qcl::uint128::fromHalves(9, 10));
        share.setOwned(false);
        share.setSynchronised(true);
        auto& folder = share.addChild(std::make_unique<Tree::Directory>(3, L"folder"));
        auto& document = folder.addChild(std::make_unique<Tree::File>(0xFFFFFFFFFFFFFFFEull, L"doc.pdf", 123456789012ull,
                                                                      0x01D9AABBCCDDEEFFull));
        document.setVersionNumber(42);
        document.setAssetId(qcl::uint128::fromHalves(~0ull, 1));
        share.addChild(std::make_unique<Tree::File>(5, L"empty", 0, 0));
        root->addChild(std::make_unique<Tree::File>(6, L"loose", 1, 2));
        return root;
    }
};
} // namespace

TEST_F(SerializerTest, NewFileGetsTheSchemaAndNoTree)
{
    Serializer serializer;
    serializer.setApplicationVersion(L"1.13.0");
    serializer.open(widePath);
    EXPECT_EQ(serializer.loadTree(), nullptr);
    EXPECT_EQ(serializer.getNextServerMessageNumber(), 0u);
    EXPECT_EQ(serializer.getConfigurationValue<int>(L"Format"), 13);
    Raw raw(path);
    EXPECT_EQ(raw.rows("SELECT Key, Value FROM Configuration ORDER BY Key"),
              (std::vector<std::string>{"Application Version|1.13.0", "Format|13", "Next Server Message Number|0"}));
    EXPECT_EQ(raw.rows("SELECT name FROM sqlite_master WHERE name = 'AssetByParentIndex'").size(), 1u);
    EXPECT_EQ(raw.rows("PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    EXPECT_THROW(serializer.getConfigurationValue<int>(L"Missing"), Serializer::Error);
}

TEST_F(SerializerTest, CreationIntentsLastUntilRemovedAndAnOlderFileGetsTheirTable)
{
    const qcl::uint128 shareId = qcl::uint128::fromHalves(1, 2);
    const qcl::uint128 folderId = qcl::uint128::fromHalves(3, 4);
    const dwl::CreationIntent notes{shareId, folderId, L"N\xf6tes.txt", false, {}};
    dwl::CreationIntent placed{shareId, folderId, L"a:b", true, qcl::uint128::fromHalves(5, 6)};
    {
        Serializer serializer;
        serializer.open(widePath);
        Raw(path).exec("DROP TABLE CreationIntents"); // as a file written before the table existed
    }
    {
        Serializer serializer;
        serializer.open(widePath);
        serializer.add(notes);
        serializer.add(placed);
        placed.assetId = qcl::uint128::fromHalves(7, 8);
        serializer.add(placed); // replaces the intent of the same item
    }
    Serializer serializer;
    serializer.open(widePath);
    auto found = serializer.inFolder(shareId, folderId);
    ASSERT_EQ(found.size(), 2u);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.folder < b.folder; });
    EXPECT_TRUE(found[0].sameItem(notes) && found[0].assetId.isNil());
    EXPECT_TRUE(found[1].sameItem(placed) && found[1].assetId == placed.assetId);
    serializer.remove(notes);
    EXPECT_EQ(serializer.inFolder(shareId, folderId).size(), 1u);
    EXPECT_TRUE(serializer.inFolder(shareId, shareId).empty());
    EXPECT_EQ(serializer.getConfigurationValue<int>(L"Format"), 13);
}

TEST_F(SerializerTest, AnIntentEndsOnlyWhenItsItemIsRecorded)
{
    auto root = sampleTree();
    Serializer serializer;
    serializer.open(widePath);
    serializer.saveTree(*root);
    Tree::Directory& share = *root->children().front().asDirectory();
    const dwl::CreationIntent kept{share.shareId(), share.assetId(), L"kept", false, {}};
    const dwl::CreationIntent ended{share.shareId(), share.assetId(), L"ended", false, {}};
    serializer.add(kept);
    serializer.add(ended);

    // What the tree took before the failure stays written; the intent stays too.
    EXPECT_THROW(serializer.endWhenRecorded(kept,
                                            [&]
                                            {
                                                share.addChild(std::make_unique<Tree::File>(7, L"taken", 1, 1));
                                                throw std::runtime_error("refused");
                                            }),
                 std::runtime_error);
    serializer.endWhenRecorded(ended, [&] { share.addChild(std::make_unique<Tree::File>(8, L"ended", 1, 1)); });

    const auto left = serializer.inFolder(share.shareId(), share.assetId());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left[0].sameItem(kept));
    EXPECT_EQ(contents(*reload()), contents(*root));
}

TEST_F(SerializerTest, EveryColumnSurvivesARoundTrip)
{
    auto root = sampleTree();
    {
        Serializer serializer;
        serializer.open(widePath);
        serializer.saveTree(*root);
        serializer.setNextServerMessageNumber(0xFFFFFFFFFFFFFFF0ull);
    }
    Serializer serializer;
    serializer.open(widePath);
    auto loaded = serializer.loadTree();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(contents(*loaded), contents(*root));
    EXPECT_EQ(serializer.getNextServerMessageNumber(), 0xFFFFFFFFFFFFFFF0ull);

    Raw raw(path);
    // Identifiers low half first, little-endian; times as 8-byte blobs; directory-only and file-only NULLs.
    EXPECT_EQ(raw.rows("SELECT RecordType, ParentId IS NULL, ShareId, AssetId, typeof(LocalId), LocalId, Name, "
                       "LastModificationTime, FileSize, VersionNumber, IsSynchronised, IsOwned FROM Nodes "
                       "WHERE LocalId IN (2, -2) ORDER BY RecordId"),
              (std::vector<std::string>{
                  "2|0|18171615141312110807060504030201|0a000000000000000900000000000000|integer|2|"
                  "Sh\xc3\xa4re \xf0\x9f\x98\x80|NULL|NULL|NULL|1|0",
                  "1|0|00000000000000000000000000000000|0100000000000000ffffffffffffffff|integer|-2|doc.pdf|"
                  "ffeeddccbbaad901|123456789012|42|NULL|NULL"}));
}

TEST_F(SerializerTest, ListenerWritesEachChangeAtOnce)
{
    auto root = sampleTree();
    Serializer serializer;
    serializer.open(widePath);
    serializer.saveTree(*root);
    Raw raw(path);
    raw.exec("CREATE TABLE Writes(Kind TEXT, Name TEXT); "
             "CREATE TRIGGER logDelete AFTER DELETE ON Nodes BEGIN INSERT INTO Writes VALUES('delete', old.Name); END;"
             "CREATE TRIGGER logUpdate AFTER UPDATE ON Nodes BEGIN INSERT INTO Writes VALUES('update', new.Name); END;");

    Tree::Directory& share = *root->children().front().asDirectory();
    Tree::Directory& folder = *share.children().front().asDirectory();
    auto& second = folder.addChild(std::make_unique<Tree::File>(7, L"second", 1, 1));
    second.setName(L"renamed");
    EXPECT_EQ(raw.rows("SELECT Kind, Name FROM Writes"), std::vector<std::string>{"update|renamed"});
    second.moveTo(share);
    EXPECT_EQ(raw.rows("SELECT n.ParentId = p.RecordId FROM Nodes n, Nodes p WHERE n.Name = 'renamed' AND p.Name = "
                       "'Sh\xc3\xa4re \xf0\x9f\x98\x80'"),
              std::vector<std::string>{"1"});
    raw.exec("DELETE FROM Writes");

    folder.addChild(std::make_unique<Tree::File>(8, L"third", 1, 1));
    folder.detach();
    EXPECT_EQ(raw.rows("SELECT Kind, Name FROM Writes"),
              (std::vector<std::string>{"delete|doc.pdf", "delete|third", "delete|folder"}));
    EXPECT_EQ(contents(*reload()), contents(*root));
}

TEST_F(SerializerTest, OtherFormatIsRefusedAndLeftUntouched)
{
    {
        Serializer serializer;
        serializer.open(widePath);
    }
    Raw(path).exec("UPDATE Configuration SET Value = 12 WHERE Key = 'Format'");
    std::ifstream before(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(before)), {});

    Serializer serializer;
    try
    {
        serializer.open(widePath);
        FAIL() << "no InvalidFormat";
    }
    catch (const Serializer::InvalidFormat& error)
    {
        EXPECT_EQ(error.message(), L"Cannot load database '" + widePath +
                                       L"': The database format (v12) does not match the expected format (v13)");
        EXPECT_EQ(error.storedFormat(), 12);
    }
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), bytes);
}

TEST_F(SerializerTest, UnexpectedContentFailsTheLoad)
{
    {
        Serializer serializer;
        serializer.open(widePath);
    }
    Raw raw(path);
    auto loadError = [&]() -> std::wstring {
        Serializer serializer;
        serializer.open(widePath);
        try
        {
            serializer.loadTree();
        }
        catch (const Serializer::Error& error)
        {
            return error.message();
        }
        return L"";
    };
    raw.exec("INSERT INTO Nodes(RecordId, RecordType, Name) VALUES(1, 1, 'root')");
    EXPECT_EQ(loadError(), L"Record containing the root node doesn't have the expected type");
    raw.exec("UPDATE Nodes SET RecordType = 2; INSERT INTO Nodes(RecordId, RecordType, Name) VALUES(2, 2, 'other')");
    EXPECT_EQ(loadError(), L"There is more than one record containing a potential root node");
    raw.exec("UPDATE Nodes SET ParentId = 1 WHERE RecordId = 2; "
             "INSERT INTO Nodes(RecordType, ParentId, Name) VALUES(3, 1, 'odd')");
    EXPECT_EQ(loadError(), L"Invalid database record type");

    raw.exec("DELETE FROM Nodes WHERE Name = 'odd'; UPDATE Nodes SET ShareId = zeroblob(15) WHERE RecordId = 2");
    Serializer serializer;
    serializer.open(widePath);
    auto root = serializer.loadTree();
    EXPECT_TRUE(root->children().front().shareId().isNil());

    raw.exec("UPDATE Nodes SET Name = CAST(X'FF' AS TEXT) WHERE RecordId = 2");
    EXPECT_THROW(serializer.loadTree(), qcl::string::invalid_utf_sequence);
}

// Only rows that a chain of parents links to the root make the tree, and a bad row elsewhere does not fail
// the load. Children keep their record order, also below a directory whose record comes after them.
TEST_F(SerializerTest, RowsOutsideTheTreeAreLeftOut)
{
    {
        Serializer serializer;
        serializer.open(widePath);
    }
    Raw(path).exec("INSERT INTO Nodes(RecordId, RecordType, ParentId, LocalId, Name) VALUES"
                   "(5, 2, NULL, 1, 'root'), (9, 2, 5, 2, 'late'), (2, 1, 9, 3, 'b'), (3, 1, 9, 4, 'a'),"
                   "(6, 1, 5, 5, 'file'), (7, 2, 6, 6, 'below a file'),"
                   "(10, 3, 99, 7, 'orphan'), (11, 2, 12, 8, 'cycle'), (12, 2, 11, 9, 'cycle'),"
                   "(13, 2, 'x', 10, 'text parent'), (14, 1, 99, 11, CAST(X'FF' AS TEXT))");
    Serializer serializer;
    serializer.open(widePath);
    auto root = serializer.loadTree();
    ASSERT_NE(root, nullptr);
    std::wostringstream printed;
    Tree::printTree(printed, *root);
    EXPECT_EQ(printed.str(), L"* 'root', Local ID = 0000-0000-0000-0001\n"
                             L"|--  'file', Local ID = 0000-0000-0000-0005, size = 0\n"
                             L"+--* 'late', Local ID = 0000-0000-0000-0002\n"
                             L"  |--  'b', Local ID = 0000-0000-0000-0003, size = 0\n"
                             L"  +--  'a', Local ID = 0000-0000-0000-0004, size = 0\n");
    // The loaded nodes know their records: a change reaches the right row.
    root->children().back().setName(L"renamed");
    EXPECT_EQ(Raw(path).rows("SELECT Name FROM Nodes WHERE RecordId = 9"),
              std::vector<std::string>{"renamed"});
}

TEST_F(SerializerTest, UnopenableFileNamesThePath)
{
    Serializer serializer;
    std::filesystem::create_directories(path);
    try
    {
        serializer.open(widePath);
        FAIL() << "opened a directory";
    }
    catch (const dwl::Database::Error& error)
    {
        EXPECT_EQ(error.message().rfind(L"Cannot load database '" + widePath + L"': ", 0), 0u);
    }
    std::filesystem::remove(path);
}

// Makes the i-th row write fail, for every i over a scripted sequence of changes: each failed change is
// undone in memory and in the database, and the changes after it still work.
TEST_F(SerializerTest, FailedWritesLeaveMemoryAndDatabaseInStep)
{
    auto script = [](Tree::Directory& root, Serializer& serializer) -> std::vector<std::function<void()>> {
        Tree::Directory& share = *root.children().front().asDirectory();
        Tree::Directory& folder = *share.children().front().asDirectory();
        return {
            [&] {
                auto& added = folder.addChild(std::make_unique<Tree::Directory>(20, L"added"));
                added.addChild(std::make_unique<Tree::File>(21, L"a1", 1, 1));
            },
            [&] {
                auto tree = std::make_unique<Tree::Directory>(30, L"subtree");
                tree->addChild(std::make_unique<Tree::File>(31, L"s1", 1, 1));
                tree->addChild(std::make_unique<Tree::Directory>(32, L"s2"))
                    .addChild(std::make_unique<Tree::File>(33, L"s3", 3, 3));
                share.addChild(std::move(tree));
            },
            [&] { folder.children().front().setName(L"doc renamed.pdf"); },
            [&] { folder.children().front().asFile()->setSize(77); },
            [&] { share.setSynchronised(false); },
            [&] { folder.moveTo(root); },
            [&] { Tree::findNodeById(&root, qcl::uint128::fromHalves(~0ull, 1))->setLocalId(99); },
            [&] { serializer.setNextServerMessageNumber(5); },
            [&] {
                if (Tree::Node* subtree = share.findNodeByLocalId(30))
                    subtree->detach();
            },
            [&] { share.removeAllChildren(); },
            [&] { root.setAssetId(qcl::uint128::fromHalves(4, 4)); },
        };
    };

    auto runScript = [&](long failAt, int& failures) {
        removeFiles();
        auto root = sampleTree();
        Serializer serializer;
        serializer.open(widePath);
        serializer.saveTree(*root);
        root->children().front().asDirectory()->buildLocalIdIndex();
        Raw raw(path);
        for (const char* table : {"Nodes", "Configuration"})
            for (const char* operation : {"INSERT", "UPDATE", "DELETE"})
                raw.exec(std::string("CREATE TRIGGER fail_") + table + operation + " BEFORE " + operation + " ON " +
                         table + " WHEN inject_failure() BEGIN SELECT RAISE(ABORT, 'injected'); END;");
        gWrites = 0;
        gFailAt = failAt;
        for (auto& step : script(*root, serializer))
        {
            try
            {
                step();
            }
            catch (const dwl::Database::Error&)
            {
                ++failures;
            }
            ASSERT_EQ(contents(*reload()), contents(*root)) << "failing write " << failAt;
        }
    };

    int failures = 0;
    runScript(0, failures);
    ASSERT_EQ(failures, 0);
    const long totalWrites = gWrites;
    ASSERT_GT(totalWrites, 15);
    for (long failAt = 1; failAt <= totalWrites; ++failAt)
    {
        failures = 0;
        runScript(failAt, failures);
        EXPECT_EQ(failures, 1) << failAt;
        if (HasFatalFailure())
            return;
    }
}

TEST_F(SerializerTest, TreeNoLongerSavedRefusesChanges)
{
    auto root = sampleTree();
    Serializer serializer;
    serializer.open(widePath);
    serializer.saveTree(*root);
    auto loaded = serializer.loadTree(); // the database now belongs to the loaded tree
    Tree::Node& share = root->children().front();
    EXPECT_THROW(share.setName(L"lost"), Serializer::Error);
    EXPECT_EQ(share.name(), L"Sh\xe4re \xD83D\xDE00");
    serializer.close();
    EXPECT_THROW(loaded->addChild(std::make_unique<Tree::File>(70, L"x", 1, 1)), Serializer::Error);
    EXPECT_EQ(loaded->children().size(), 2u);
}
