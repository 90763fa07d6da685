#pragma once
// Keeps the synchronised tree and a few settings of the engine in the SQLite file "Data". After loadTree or
// saveTree, a listener on the root writes every change of the tree at once; the writes of one change
// either all happen or none (a savepoint), and the tree operation is undone when they fail.

#include "sync/CreationIntents.h"
#include "sync/Database.h"
#include "sync/Tree.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace dwl
{
class Serializer final : public CreationIntents
{
public:
    // The content of the database is not as expected.
    class Error : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        using basic_runtime_error::basic_runtime_error;
    };

    class InvalidFormat : public Error
    {
    public:
        InvalidFormat(int storedFormat, int expectedFormat);
        InvalidFormat(int storedFormat, int expectedFormat, const std::wstring& message);
        int storedFormat() const { return mStoredFormat; }
        int expectedFormat() const { return mExpectedFormat; }

    private:
        int mStoredFormat;
        int mExpectedFormat;
    };

    static constexpr int kFormat = 13;

    Serializer() = default;
    Serializer(const Serializer&) = delete;
    Serializer& operator=(const Serializer&) = delete;
    ~Serializer();

    // Written under "Application Version" when the schema is created.
    void setApplicationVersion(std::wstring version) { mApplicationVersion = std::move(version); }

    // Opens the file, creating it with the schema when it is new. A file of another format is left as it
    // is and fails with InvalidFormat. Errors read "Cannot load database '<path>': <reason>".
    void open(const std::wstring& path);
    void close();

    // The stored tree, listened to from now on; null when the database holds no root.
    std::unique_ptr<Tree::Directory> loadTree();
    // Replaces the stored tree by `root` and listens to it from now on.
    void saveTree(Tree::Directory& root);

    std::uint64_t getNextServerMessageNumber();
    void setNextServerMessageNumber(std::uint64_t number);

    // T is int or std::int64_t. A missing key throws Error "Cannot get '<key>'".
    template <class T>
    T getConfigurationValue(const std::wstring& key);
    void setConfigurationValue(const std::wstring& key, int value);
    void setConfigurationValue(const std::wstring& key, std::int64_t value);
    void setConfigurationValue(const std::wstring& key, const std::wstring& value);

    // Kept in a table of their own, which a file made before it existed gets when it is opened.
    void add(const CreationIntent& intent) override;
    void remove(const CreationIntent& intent) override;
    void endWhenRecorded(const CreationIntent& intent, const std::function<void()>& record) override;
    std::vector<CreationIntent> inFolder(const qcl::uint128& shareId, const qcl::uint128& parentId) override;
    std::vector<CreationIntent> downloads() override;

private:
    // Node-to-record changes of one tree change, undone when its database writes are rolled back.
    struct MapJournal
    {
        std::vector<const Tree::Node*> added;
        std::vector<std::pair<const Tree::Node*, std::int64_t>> removed;
    };

    void createSchema();
    void addMissingColumns();
    void prepareNodeStatements();
    void listenTo(Tree::Directory& root);
    // A tree still carrying the listener then refuses its changes rather than write with stale records.
    void stopListening();
    void onModification(const Tree::TreeModificationEvent& event);
    // Runs `writes` inside a savepoint; when they throw, rolls the database and the record map back.
    template <class Writes>
    void inSavepoint(Writes&& writes);

    std::unique_ptr<Tree::Directory> readTree();
    void bindNode(Database::Statement& statement, const Tree::Node& node);
    std::int64_t recordIdOf(const Tree::Node& node) const;
    void addSubtree(const Tree::Node& top);
    void removeSubtree(const Tree::Node& top);
    void updateNode(const Tree::Node& node);

    // The statement, prepared on first use.
    Database::Statement& prepared(Database::Statement& statement, const char* sql);
    Database::Statement& configurationSelect();
    void writeConfigurationValue(const std::wstring& key, const std::function<void(Database::Statement&)>& bindValue);

    Database::Connection mDatabase;
    Database::Statement mInsert;
    Database::Statement mUpdate;
    Database::Statement mDeleteOne;
    Database::Statement mDeleteAll;
    Database::Statement mSelectConfiguration;
    Database::Statement mInsertConfiguration;
    Database::Statement mInsertIntent;
    Database::Statement mDeleteIntent;
    Database::Statement mSelectIntents;
    std::unordered_map<const Tree::Node*, std::int64_t> mRecordIds;
    std::wstring mApplicationVersion;

    MapJournal* mJournal = nullptr; // while a savepoint is open
    // Shared with the listener on the tree root; cleared when this serializer stops listening.
    std::shared_ptr<Serializer*> mListenerToken;
};
} // namespace dwl
