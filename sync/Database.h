#pragma once
// A thin layer over SQLite 3: owning holders of the database handle and of prepared statements, result
// checks, and the error class that carries the library's text for a result code.

#include "qcl/Error.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace dwl
{
class Database
{
public:
    Database() = delete;

    // A SQLite call failed; the message is the library's English text for the result code.
    class Error : public qcl::basic_runtime_error<wchar_t>
    {
    public:
        explicit Error(int resultCode);
        Error(int resultCode, const std::wstring& message) : basic_runtime_error(message), mResultCode(resultCode) {}
        int resultCode() const { return mResultCode; }

    private:
        int mResultCode;
    };

    // Throws Error for any code but SQLITE_OK.
    static void check(int resultCode);

    // Owns a database handle and closes it when destroyed or replaced.
    class Connection
    {
    public:
        Connection() = default;
        Connection(Connection&& other) noexcept : mHandle(std::exchange(other.mHandle, nullptr)) {}
        Connection& operator=(Connection&& other) noexcept;
        ~Connection() { reset(); }

        // Opens (creating when missing) the file read-write; a failure closes what was opened and throws.
        static Connection open(const std::wstring& path);

        sqlite3* get() const { return mHandle; }
        explicit operator bool() const { return mHandle != nullptr; }
        void reset();
        // Runs one or more statements given as one text.
        void execute(const char* sql);

    private:
        explicit Connection(sqlite3* handle) : mHandle(handle) {}
        sqlite3* mHandle = nullptr;
    };

    // Owns a prepared statement and finalizes it when destroyed or replaced.
    class Statement
    {
    public:
        Statement() = default;
        // Prepares `sql` on the handle; a failure throws Error.
        Statement(const Connection& connection, const char* sql);
        Statement(Statement&& other) noexcept : mStatement(std::exchange(other.mStatement, nullptr)) {}
        Statement& operator=(Statement&& other) noexcept;
        ~Statement() { reset(nullptr); }

        explicit operator bool() const { return mStatement != nullptr; }

        // Steps once; anything but SQLITE_DONE throws. The statement is reset afterwards, also on failure.
        void execute();
        // Steps once: true for a row; false (after a reset) when done; anything else resets and throws.
        bool step();
        void reset();
        void clearBindings();

        // Indexes of parameters count from 1, of columns from 0. Blobs and text are copied at binding.
        void bindBlob(int index, const void* data, int size);
        void bindInt(int index, int value);
        void bindInt64(int index, std::int64_t value);
        void bindText(int index, const std::string& utf8);
        void bindNull(int index);

        int columnType(int column) const { return sqlite3_column_type(mStatement, column); }
        const void* columnBlob(int column) const { return sqlite3_column_blob(mStatement, column); }
        int columnBytes(int column) const { return sqlite3_column_bytes(mStatement, column); }
        int columnInt(int column) const { return sqlite3_column_int(mStatement, column); }
        std::int64_t columnInt64(int column) const { return sqlite3_column_int64(mStatement, column); }
        std::string columnText(int column) const;
        // Valid until the next step, reset or column call on the statement.
        std::string_view columnTextView(int column) const;

    private:
        void reset(sqlite3_stmt* statement);
        sqlite3_stmt* mStatement = nullptr;
    };
};
} // namespace dwl
