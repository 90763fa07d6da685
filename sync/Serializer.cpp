#include "sync/Serializer.h"

#include "qcl/Log.h"
#include "qcl/qcl_scope.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <span>
#include <string_view>

namespace dwl
{
namespace
{
using Event = Tree::TreeModificationEvent;

constexpr const char* kSchema =
    "PRAGMA encoding = \"UTF-8\";"
    "CREATE TABLE Nodes(RecordId INTEGER PRIMARY KEY,RecordType INTEGER,ParentId INTEGER,ShareId BLOB,AssetId BLOB,"
    "LocalId BLOB,Name TEXT,LastModificationTime BLOB,FileSize INTEGER,VersionNumber INTEGER,IsSynchronised BOOLEAN,"
    "IsOwned BOOLEAN,ChangeTime INTEGER DEFAULT 0);"
    "CREATE INDEX AssetByParentIndex ON Nodes(ParentId);"
    "CREATE TABLE Configuration(Key TEXT PRIMARY KEY, Value);";

constexpr const char* kInsert =
    "INSERT INTO Nodes(RecordType,ParentId,ShareId,AssetId,LocalId,Name,LastModificationTime,FileSize,"
    "VersionNumber,IsSynchronised,IsOwned,ChangeTime) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?13)";
constexpr const char* kUpdate =
    "UPDATE Nodes SET RecordType = ?1,ParentId = ?2,ShareId = ?3,AssetId = ?4,LocalId = ?5,Name = ?6,"
    "LastModificationTime = ?7,FileSize = ?8,VersionNumber = ?9,IsSynchronised= ?10,IsOwned = ?11,"
    "ChangeTime = ?13 WHERE RecordId = ?12";
constexpr const char* kDeleteOne = "DELETE FROM Nodes WHERE RecordId = ?1";
constexpr const char* kDeleteAll = "DELETE FROM Nodes";
// The table's own order: no sort step.
constexpr const char* kSelectAllNodes = "SELECT * FROM Nodes ORDER BY RecordId";
constexpr const char* kCountNodes = "SELECT count(*) FROM Nodes";
constexpr const char* kCreationIntentsSchema =
    "CREATE TABLE IF NOT EXISTS CreationIntents(ShareId BLOB,ParentId BLOB,Name TEXT,IsFolder BOOLEAN,"
    "AssetId BLOB,PRIMARY KEY(ShareId,ParentId,Name,IsFolder));";
constexpr const char* kInsertCreationIntent =
    "INSERT OR REPLACE INTO CreationIntents(ShareId,ParentId,Name,IsFolder,AssetId,VersionNumber,LocalId,FileSize,"
    "LastModificationTime) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)";
constexpr const char* kIntentColumns = "Name,IsFolder,AssetId,VersionNumber,LocalId,FileSize,LastModificationTime";
const std::string kSelectCreationIntents =
    std::string("SELECT ") + kIntentColumns + ",ShareId,ParentId FROM CreationIntents WHERE ShareId = ?1 AND ParentId = ?2";
const std::string kSelectDownloadIntents =
    std::string("SELECT ") + kIntentColumns + ",ShareId,ParentId FROM CreationIntents WHERE LocalId != 0";
constexpr const char* kDeleteCreationIntent =
    "DELETE FROM CreationIntents WHERE ShareId = ?1 AND ParentId = ?2 AND Name = ?3 AND IsFolder = ?4";

// Columns that files made by earlier versions lack; their rows read the default.
struct AddedColumn
{
    const char* table;
    const char* column;
    const char* type;
};
constexpr AddedColumn kAddedColumns[] = {
    // 0: not known.
    {"Nodes", "ChangeTime", "INTEGER DEFAULT 0"},
    {"CreationIntents", "VersionNumber", "INTEGER DEFAULT 0"},
    {"CreationIntents", "LocalId", "INTEGER DEFAULT 0"},
    {"CreationIntents", "FileSize", "INTEGER DEFAULT 0"},
    {"CreationIntents", "LastModificationTime", "INTEGER DEFAULT 0"},
};
constexpr const char* kSelectConfiguration = "SELECT Value FROM Configuration WHERE Key = ?1";
constexpr const char* kInsertConfiguration = "INSERT OR REPLACE INTO Configuration VALUES (?1, ?2)";

constexpr int kFileRecord = 1;
constexpr int kDirectoryRecord = 2;

enum Column
{
    RecordId,
    RecordType,
    ParentId,
    ShareId,
    AssetId,
    LocalId,
    Name,
    LastModificationTime,
    FileSize,
    VersionNumber,
    IsSynchronised,
    IsOwned,
    ChangeTime,
};

const std::wstring kFormatKey = L"Format";
const std::wstring kApplicationVersionKey = L"Application Version";
const std::wstring kNextServerMessageNumberKey = L"Next Server Message Number";

void putLittleEndian(std::uint64_t value, unsigned char* out)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t getLittleEndian(const unsigned char* in)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return value;
}

// The in-memory form of the identifier: low half first, each half little-endian.
std::array<unsigned char, 16> idBytes(const qcl::uint128& id)
{
    std::array<unsigned char, 16> bytes{};
    putLittleEndian(id.low(), bytes.data());
    putLittleEndian(id.high(), bytes.data() + 8);
    return bytes;
}

// A blob of exactly 16 bytes, else zero.
qcl::uint128 readId(const Database::Statement& row, int column)
{
    const auto* bytes = static_cast<const unsigned char*>(row.columnBlob(column));
    if (!bytes || row.columnBytes(column) != 16)
        return {};
    return qcl::uint128::fromHalves(getLittleEndian(bytes + 8), getLittleEndian(bytes));
}

// Puts `context: ` in front of the message of the exception in flight and throws it again, same kind.
[[noreturn]] void rethrowWithContext(const std::wstring& context)
{
    try
    {
        throw;
    }
    catch (const Serializer::InvalidFormat& error)
    {
        throw Serializer::InvalidFormat(error.storedFormat(), error.expectedFormat(),
                                        context + L": " + error.message());
    }
    catch (const Serializer::Error& error)
    {
        throw Serializer::Error(context + L": " + error.message());
    }
    catch (const Database::Error& error)
    {
        throw Database::Error(error.resultCode(), context + L": " + error.message());
    }
    catch (const qcl::basic_runtime_error<wchar_t>& error)
    {
        throw qcl::basic_runtime_error<wchar_t>(context + L": " + error.message());
    }
}
} // namespace

Serializer::InvalidFormat::InvalidFormat(int storedFormat, int expectedFormat)
    : InvalidFormat(storedFormat, expectedFormat,
                    L"The database format (v" + std::to_wstring(storedFormat) +
                        L") does not match the expected format (v" + std::to_wstring(expectedFormat) + L")")
{
}

Serializer::InvalidFormat::InvalidFormat(int storedFormat, int expectedFormat, const std::wstring& message)
    : Error(message), mStoredFormat(storedFormat), mExpectedFormat(expectedFormat)
{
}

Serializer::~Serializer() { close(); }

void Serializer::open(const std::wstring& path)
{
    try
    {
        close();
        mDatabase = Database::Connection::open(path);
        auto closer = qcl::scope::makeGuard([this] { close(); });
        try
        {
            const int format = getConfigurationValue<int>(kFormatKey);
            if (format != kFormat)
                throw InvalidFormat(format, kFormat);
            mDatabase.execute(kCreationIntentsSchema);
            addMissingColumns();
            prepareNodeStatements();
        }
        catch (const Database::Error& error)
        {
            QCL_LOG_TRACE(L"Cannot load database: " << error.message());
            QCL_LOG_TRACE(L"Let's try to create the database schema");
            createSchema();
        }
        // Only now that the format is known good may the file change. With the write-ahead log a change
        // costs tens of microseconds instead of the milliseconds of a synchronised rollback journal; a
        // power failure may lose the last changes but never corrupts the file.
        mDatabase.execute("PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;");
        closer.dismiss();
    }
    catch (const qcl::basic_runtime_error<wchar_t>&)
    {
        rethrowWithContext(L"Cannot load database '" + path + L"'");
    }
}

void Serializer::createSchema()
{
    mSelectConfiguration = {};
    // One transaction, so that a failure half-way leaves no partial schema behind.
    inSavepoint([this] {
        mDatabase.execute(kSchema);
        mDatabase.execute(kCreationIntentsSchema);
        addMissingColumns();
        prepareNodeStatements();
        setConfigurationValue(kFormatKey, kFormat);
        setConfigurationValue(kApplicationVersionKey, mApplicationVersion);
        setConfigurationValue(kNextServerMessageNumberKey, std::int64_t{0});
    });
}

void Serializer::addMissingColumns()
{
    for (const AddedColumn& added : kAddedColumns)
    {
        Database::Statement query(mDatabase,
                                  (std::string("SELECT count(*) FROM pragma_table_info('") + added.table +
                                   "') WHERE name = '" + added.column + "'")
                                      .c_str());
        const bool present = query.step() && query.columnInt(0) != 0;
        query.reset();
        if (!present)
            mDatabase.execute((std::string("ALTER TABLE ") + added.table + " ADD COLUMN " + added.column + " " +
                               added.type)
                                  .c_str());
    }
}

void Serializer::prepareNodeStatements()
{
    mInsert = Database::Statement(mDatabase, kInsert);
    mUpdate = Database::Statement(mDatabase, kUpdate);
    mDeleteOne = Database::Statement(mDatabase, kDeleteOne);
    mDeleteAll = Database::Statement(mDatabase, kDeleteAll);
}

void Serializer::close()
{
    stopListening();
    mRecordIds.clear();
    mInsert = {};
    mUpdate = {};
    mDeleteOne = {};
    mDeleteAll = {};
    mSelectConfiguration = {};
    mInsertConfiguration = {};
    mInsertIntent = {};
    mDeleteIntent = {};
    mSelectIntents = {};
    mDatabase.reset();
}

namespace
{
constexpr std::uint32_t kNoRow = std::numeric_limits<std::uint32_t>::max();

// A row of Nodes as loadTree reads it. A row that cannot become a node keeps the reason, which fails the
// load only when the row is part of the tree.
struct Row
{
    enum class Parent : std::uint8_t
    {
        None,      // NULL: a root
        Record,    // the record `parentId`
        Unmatched, // a value no record id equals
    };

    std::int64_t recordId = 0;
    std::int64_t parentId = 0;
    std::unique_ptr<Tree::Node> node;
    std::exception_ptr failure;
    Parent parent = Parent::None;
    std::uint8_t recordType = 0; // kFileRecord, kDirectoryRecord, or 0 for any other value
};

// The rows below each row, in record order, as one array of row numbers sliced by parent. `rows` are in
// ascending record order.
class ChildRows
{
public:
    explicit ChildRows(const std::vector<Row>& rows) : mStart(rows.size() + 1, 0)
    {
        std::vector<std::uint32_t> parents(rows.size(), kNoRow);
        std::int64_t lastParentId = 0;
        std::uint32_t lastParent = kNoRow;
        bool anyParent = false;
        for (std::size_t i = 0; i < rows.size(); ++i)
        {
            if (rows[i].parent != Row::Parent::Record)
                continue;
            // Rows of one directory mostly follow each other: look the parent up once for a run of them.
            if (!anyParent || rows[i].parentId != lastParentId)
            {
                lastParentId = rows[i].parentId;
                anyParent = true;
                const auto found =
                    std::lower_bound(rows.begin(), rows.end(), lastParentId,
                                     [](const Row& row, std::int64_t id) { return row.recordId < id; });
                lastParent = found != rows.end() && found->recordId == lastParentId
                                 ? static_cast<std::uint32_t>(found - rows.begin())
                                 : kNoRow;
            }
            parents[i] = lastParent;
            if (lastParent != kNoRow)
                ++mStart[lastParent + 1];
        }
        for (std::size_t i = 1; i < mStart.size(); ++i)
            mStart[i] += mStart[i - 1];
        mChildren.resize(mStart.back());
        std::vector<std::uint32_t> filled(mStart.begin(), mStart.end() - 1);
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (parents[i] != kNoRow)
                mChildren[filled[parents[i]]++] = static_cast<std::uint32_t>(i);
    }

    std::span<const std::uint32_t> of(std::uint32_t row) const
    {
        return {mChildren.data() + mStart[row], mChildren.data() + mStart[row + 1]};
    }

private:
    std::vector<std::uint32_t> mStart; // the children of row i are mChildren[mStart[i]] to [mStart[i + 1]]
    std::vector<std::uint32_t> mChildren;
};

std::unique_ptr<Tree::Node> readNode(const Database::Statement& row)
{
    const std::string_view utf8Name = row.columnTextView(Name);
    std::wstring name = qcl::string::utf8ToUtf16(utf8Name.data(), utf8Name.data() + utf8Name.size());
    const auto localId = static_cast<std::uint64_t>(row.columnInt64(LocalId));
    std::unique_ptr<Tree::Node> node;
    switch (row.columnInt(RecordType))
    {
    case kFileRecord:
    {
        std::uint64_t time = 0;
        if (const auto* bytes = static_cast<const unsigned char*>(row.columnBlob(LastModificationTime));
            bytes && row.columnBytes(LastModificationTime) == 8)
            time = getLittleEndian(bytes);
        auto file = std::make_unique<Tree::File>(localId, std::move(name),
                                                 static_cast<std::uint64_t>(row.columnInt64(FileSize)), time,
                                                 static_cast<std::uint64_t>(row.columnInt64(ChangeTime)));
        file->setVersionNumber(static_cast<std::uint64_t>(row.columnInt64(VersionNumber)));
        node = std::move(file);
        break;
    }
    case kDirectoryRecord:
    {
        auto directory = std::make_unique<Tree::Directory>(localId, std::move(name));
        directory->setOwned(row.columnInt(IsOwned) != 0);
        directory->setSynchronised(row.columnInt(IsSynchronised) != 0);
        node = std::move(directory);
        break;
    }
    default:
        throw Serializer::Error(L"Invalid database record type");
    }
    node->setShareId(readId(row, ShareId));
    node->setAssetId(readId(row, AssetId));
    return node;
}

Row readRow(const Database::Statement& row)
{
    Row result;
    result.recordId = row.columnInt64(RecordId);
    switch (row.columnType(ParentId))
    {
    case SQLITE_NULL:
        result.parent = Row::Parent::None;
        break;
    case SQLITE_INTEGER:
        result.parent = Row::Parent::Record;
        result.parentId = row.columnInt64(ParentId);
        break;
    default: // no record id matches it
        result.parent = Row::Parent::Unmatched;
        break;
    }
    const int recordType = row.columnInt(RecordType);
    if (recordType == kFileRecord || recordType == kDirectoryRecord)
        result.recordType = static_cast<std::uint8_t>(recordType);
    try
    {
        result.node = readNode(row);
    }
    catch (const std::bad_alloc&)
    {
        throw; // no fault of the row
    }
    catch (...)
    {
        result.failure = std::current_exception();
    }
    return result;
}

} // namespace

std::unique_ptr<Tree::Directory> Serializer::loadTree()
{
    stopListening(); // the tree listened to so far loses its records now
    mRecordIds.clear();
    // The records of nodes that a failed load destroys must not stay behind.
    auto forget = qcl::scope::makeGuard([this] { mRecordIds.clear(); });
    std::unique_ptr<Tree::Directory> root;
    // One read transaction: one consistent picture of the file.
    inSavepoint([&] { root = readTree(); });
    if (!root)
        return nullptr;
    listenTo(*root);
    forget.dismiss();
    return root;
}

// The whole table is read in one pass in record order, which the table's own order gives without a sort;
// the tree is then linked from plain arrays. Only rows that a chain of parents links to the root become
// part of the tree, as a walk down from the root would find them: the others (without a parent, below a
// file, or in a cycle) are left out, and a row that cannot become a node fails the load only when it is
// part of the tree. Rows of one directory keep their record order.
std::unique_ptr<Tree::Directory> Serializer::readTree()
{
    std::vector<Row> rows;
    {
        Database::Statement countQuery(mDatabase, kCountNodes);
        if (countQuery.step())
        {
            const auto count = static_cast<std::size_t>(countQuery.columnInt64(0));
            rows.reserve(count);
            mRecordIds.reserve(count);
        }
        countQuery.reset();
    }
    Database::Statement allRows(mDatabase, kSelectAllNodes);
    while (allRows.step())
        rows.push_back(readRow(allRows));

    const auto isRoot = [](const Row& row) { return row.parent == Row::Parent::None; };
    const auto root = std::find_if(rows.begin(), rows.end(), isRoot);
    if (root == rows.end())
        return nullptr;
    if (root->recordType != kDirectoryRecord)
        throw Error(L"Record containing the root node doesn't have the expected type");
    if (root->failure)
        std::rethrow_exception(root->failure);
    if (std::find_if(root + 1, rows.end(), isRoot) != rows.end())
        throw Error(L"There is more than one record containing a potential root node");

    const ChildRows children(rows);
    // Directories of the tree, breadth-first from the root: each row is checked in the order a walk down
    // from the root would read it.
    std::vector<std::uint32_t> directories{static_cast<std::uint32_t>(root - rows.begin())};
    for (std::size_t next = 0; next < directories.size(); ++next)
        for (const std::uint32_t child : children.of(directories[next]))
        {
            if (rows[child].failure)
                std::rethrow_exception(rows[child].failure);
            if (rows[child].node->asDirectory())
                directories.push_back(child);
        }
    // Deepest directories first: each is filled before it joins its parent, so that an added child's event
    // stops at once instead of climbing to the root.
    for (auto directory = directories.rbegin(); directory != directories.rend(); ++directory)
    {
        Tree::Directory& parent = *rows[*directory].node->asDirectory();
        for (const std::uint32_t child : children.of(*directory))
        {
            mRecordIds[rows[child].node.get()] = rows[child].recordId;
            parent.addChild(std::move(rows[child].node));
        }
    }
    mRecordIds[root->node.get()] = root->recordId;
    return std::unique_ptr<Tree::Directory>(root->node.release()->asDirectory());
}

void Serializer::saveTree(Tree::Directory& root)
{
    auto formerRecordIds = mRecordIds;
    auto restore = qcl::scope::makeGuard([&] { mRecordIds = std::move(formerRecordIds); });
    inSavepoint([&] {
        mDeleteAll.execute();
        mRecordIds.clear();
        addSubtree(root);
    });
    restore.dismiss();
    listenTo(root);
}

void Serializer::stopListening()
{
    if (mListenerToken)
        *mListenerToken = nullptr;
    mListenerToken.reset();
}

void Serializer::listenTo(Tree::Directory& root)
{
    stopListening();
    mListenerToken = std::make_shared<Serializer*>(this);
    root.setModificationListener([token = mListenerToken](const Event& event) {
        if (!*token)
            throw Error(L"The tree is no longer kept in the database");
        (*token)->onModification(event);
    });
}

void Serializer::onModification(const Event& event)
{
    const Tree::Directory* directory = event.node->asDirectory();
    const bool severalRows = directory && !directory->children().empty();
    switch (event.kind)
    {
    case Event::Added:
        if (severalRows)
            inSavepoint([&] { addSubtree(*event.node); });
        else
            addSubtree(*event.node);
        break;
    case Event::Removed:
        if (severalRows)
            inSavepoint([&] { removeSubtree(*event.node); });
        else
            removeSubtree(*event.node);
        break;
    case Event::Moved:
    case Event::Changed:
        updateNode(*event.node);
        break;
    case Event::LocalIdChanging:
    case Event::LocalIdChanged:
        break; // the Changed event that follows writes the new id
    }
}

template <class Writes>
void Serializer::inSavepoint(Writes&& writes)
{
    MapJournal journal;
    mJournal = &journal;
    auto rollBack = qcl::scope::makeGuard([&] {
        mJournal = nullptr;
        for (const Tree::Node* node : journal.added)
            mRecordIds.erase(node);
        for (const auto& [node, recordId] : journal.removed)
            mRecordIds[node] = recordId;
        // A failed commit may have ended the transaction already.
        if (mDatabase && !sqlite3_get_autocommit(mDatabase.get()))
            mDatabase.execute("ROLLBACK TO tree_change;RELEASE tree_change;");
    });
    mDatabase.execute("SAVEPOINT tree_change");
    writes();
    mDatabase.execute("RELEASE tree_change");
    mJournal = nullptr;
    rollBack.dismiss();
}

void Serializer::bindNode(Database::Statement& statement, const Tree::Node& node)
{
    statement.clearBindings();
    const Tree::File* file = node.asFile();
    statement.bindInt(1, file ? kFileRecord : kDirectoryRecord);
    if (node.parent())
        statement.bindInt64(2, recordIdOf(*node.parent()));
    const auto shareId = idBytes(node.shareId());
    const auto assetId = idBytes(node.assetId());
    statement.bindBlob(3, shareId.data(), static_cast<int>(shareId.size()));
    statement.bindBlob(4, assetId.data(), static_cast<int>(assetId.size()));
    statement.bindInt64(5, static_cast<std::int64_t>(node.localId()));
    statement.bindText(6, qcl::string::utf16ToUtf8(node.name()));
    if (file)
    {
        unsigned char time[8];
        putLittleEndian(file->lastModificationTime(), time);
        statement.bindBlob(7, time, sizeof time);
        statement.bindInt64(8, static_cast<std::int64_t>(file->size()));
        statement.bindInt64(9, static_cast<std::int64_t>(file->versionNumber()));
        statement.bindInt64(13, static_cast<std::int64_t>(file->changeTime()));
    }
    else
    {
        const Tree::Directory& directory = *node.asDirectory();
        statement.bindInt(10, directory.isSynchronised() ? 1 : 0);
        statement.bindInt(11, directory.isOwned() ? 1 : 0);
    }
}

std::int64_t Serializer::recordIdOf(const Tree::Node& node) const
{
    auto it = mRecordIds.find(&node);
    if (it == mRecordIds.end())
        throw Error(L"The node '" + node.name() + L"' has no record in the database");
    return it->second;
}

void Serializer::addSubtree(const Tree::Node& top)
{
    bindNode(mInsert, top);
    mInsert.execute();
    mRecordIds[&top] = sqlite3_last_insert_rowid(mDatabase.get());
    if (mJournal)
        mJournal->added.push_back(&top);
    if (const Tree::Directory* directory = top.asDirectory())
        for (const Tree::Node& child : directory->children())
            addSubtree(child);
}

void Serializer::removeSubtree(const Tree::Node& top)
{
    if (const Tree::Directory* directory = top.asDirectory())
        for (const Tree::Node& child : directory->children())
            removeSubtree(child);
    const std::int64_t recordId = recordIdOf(top);
    mDeleteOne.clearBindings();
    mDeleteOne.bindInt64(1, recordId);
    mDeleteOne.execute();
    mRecordIds.erase(&top);
    if (mJournal)
        mJournal->removed.emplace_back(&top, recordId);
}

void Serializer::updateNode(const Tree::Node& node)
{
    bindNode(mUpdate, node);
    mUpdate.bindInt64(12, recordIdOf(node));
    mUpdate.execute();
}

std::uint64_t Serializer::getNextServerMessageNumber()
{
    return static_cast<std::uint64_t>(getConfigurationValue<std::int64_t>(kNextServerMessageNumberKey));
}

void Serializer::setNextServerMessageNumber(std::uint64_t number)
{
    setConfigurationValue(kNextServerMessageNumberKey, static_cast<std::int64_t>(number));
}

Database::Statement& Serializer::prepared(Database::Statement& statement, const char* sql)
{
    if (!statement)
        statement = Database::Statement(mDatabase, sql);
    return statement;
}

Database::Statement& Serializer::configurationSelect()
{
    return prepared(mSelectConfiguration, kSelectConfiguration);
}

template <class T>
T Serializer::getConfigurationValue(const std::wstring& key)
{
    Database::Statement& select = configurationSelect();
    auto reset = qcl::scope::makeGuard([&] { select.reset(); });
    select.bindText(1, qcl::string::utf16ToUtf8(key));
    if (!select.step())
        throw Error(L"Cannot get '" + key + L"'");
    if constexpr (std::is_same_v<T, int>)
        return select.columnInt(0);
    else
        return select.columnInt64(0);
}

template int Serializer::getConfigurationValue<int>(const std::wstring& key);
template std::int64_t Serializer::getConfigurationValue<std::int64_t>(const std::wstring& key);

void Serializer::writeConfigurationValue(const std::wstring& key,
                                         const std::function<void(Database::Statement&)>& bindValue)
{
    if (!mInsertConfiguration)
        mInsertConfiguration = Database::Statement(mDatabase, kInsertConfiguration);
    mInsertConfiguration.clearBindings();
    mInsertConfiguration.bindText(1, qcl::string::utf16ToUtf8(key));
    bindValue(mInsertConfiguration);
    mInsertConfiguration.execute();
}

void Serializer::setConfigurationValue(const std::wstring& key, int value)
{
    writeConfigurationValue(key, [value](Database::Statement& statement) { statement.bindInt(2, value); });
}

void Serializer::setConfigurationValue(const std::wstring& key, std::int64_t value)
{
    writeConfigurationValue(key, [value](Database::Statement& statement) { statement.bindInt64(2, value); });
}

void Serializer::setConfigurationValue(const std::wstring& key, const std::wstring& value)
{
    const std::string utf8 = qcl::string::utf16ToUtf8(value);
    writeConfigurationValue(key, [&utf8](Database::Statement& statement) { statement.bindText(2, utf8); });
}

namespace
{
void bindFolder(Database::Statement& statement, const qcl::uint128& shareId, const qcl::uint128& parentId)
{
    const auto share = idBytes(shareId);
    const auto parent = idBytes(parentId);
    statement.bindBlob(1, share.data(), static_cast<int>(share.size()));
    statement.bindBlob(2, parent.data(), static_cast<int>(parent.size()));
}

void bindItem(Database::Statement& statement, const CreationIntent& intent)
{
    bindFolder(statement, intent.shareId, intent.parentId);
    statement.bindText(3, qcl::string::utf16ToUtf8(intent.name));
    statement.bindInt(4, intent.folder ? 1 : 0);
}
} // namespace

void Serializer::add(const CreationIntent& intent)
{
    Database::Statement& insert = prepared(mInsertIntent, kInsertCreationIntent);
    bindItem(insert, intent);
    const auto asset = idBytes(intent.assetId);
    insert.bindBlob(5, asset.data(), static_cast<int>(asset.size()));
    insert.bindInt64(6, static_cast<std::int64_t>(intent.versionNumber));
    insert.bindInt64(7, static_cast<std::int64_t>(intent.localId));
    insert.bindInt64(8, static_cast<std::int64_t>(intent.size));
    insert.bindInt64(9, static_cast<std::int64_t>(intent.lastModificationTime));
    insert.execute();
}

void Serializer::remove(const CreationIntent& intent)
{
    Database::Statement& erase = prepared(mDeleteIntent, kDeleteCreationIntent);
    bindItem(erase, intent);
    erase.execute();
}

void Serializer::endWhenRecorded(const CreationIntent& intent, const std::function<void()>& record)
{
    // One transaction instead of two. When `record` fails, whatever the tree kept of its changes stays
    // written, as it would have been without the savepoint, and the intent is written again.
    mDatabase.execute("SAVEPOINT intent_end");
    const auto release = [this]
    {
        if (!sqlite3_get_autocommit(mDatabase.get()))
            mDatabase.execute("RELEASE intent_end");
    };
    try
    {
        remove(intent);
        record();
    }
    catch (...)
    {
        try
        {
            add(intent);
            release();
        }
        catch (const std::exception& error)
        {
            QCL_LOG_ERROR(L"Cannot keep a creation intent: " << qcl::string::utf8ToUtf16(error.what()));
        }
        throw;
    }
    release();
}

namespace
{
std::vector<CreationIntent> readIntents(Database::Statement& select)
{
    auto reset = qcl::scope::makeGuard([&] { select.reset(); });
    std::vector<CreationIntent> found;
    while (select.step())
    {
        CreationIntent& intent = found.emplace_back();
        intent.name = qcl::string::utf8ToUtf16(select.columnText(0));
        intent.folder = select.columnInt(1) != 0;
        intent.assetId = readId(select, 2);
        intent.versionNumber = static_cast<std::uint64_t>(select.columnInt64(3));
        intent.localId = static_cast<std::uint64_t>(select.columnInt64(4));
        intent.size = static_cast<std::uint64_t>(select.columnInt64(5));
        intent.lastModificationTime = static_cast<std::uint64_t>(select.columnInt64(6));
        intent.shareId = readId(select, 7);
        intent.parentId = readId(select, 8);
    }
    return found;
}
} // namespace

std::vector<CreationIntent> Serializer::inFolder(const qcl::uint128& shareId, const qcl::uint128& parentId)
{
    Database::Statement& select = prepared(mSelectIntents, kSelectCreationIntents.c_str());
    bindFolder(select, shareId, parentId);
    return readIntents(select);
}

std::vector<CreationIntent> Serializer::downloads()
{
    Database::Statement select(mDatabase, kSelectDownloadIntents.c_str());
    return readIntents(select);
}
} // namespace dwl
