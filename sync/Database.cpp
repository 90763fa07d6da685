#include "sync/Database.h"

#include "compat/FileNameText.h"
#include "compat/PrivateFiles.h"

namespace dwl
{
Database::Error::Error(int resultCode)
    : basic_runtime_error(qcl::string::utf8ToUtf16Lenient(sqlite3_errstr(resultCode))), mResultCode(resultCode)
{
}

void Database::check(int resultCode)
{
    if (resultCode != SQLITE_OK)
        throw Error(resultCode);
}

Database::Connection& Database::Connection::operator=(Connection&& other) noexcept
{
    if (this != &other)
    {
        reset();
        mHandle = std::exchange(other.mHandle, nullptr);
    }
    return *this;
}

Database::Connection Database::Connection::open(const std::wstring& path)
{
    std::string systemPath;
    if (!compat::toSystemPath(path.c_str(), systemPath))
        throw Error(SQLITE_CANTOPEN);
    // The file is made private before the library sees it: the library gives its journal, -wal and -shm
    // files the mode of the database file, and opens none of them through a link.
    compat::PrivateFile file;
    if (!file.open(systemPath, compat::PrivateFile::Creation::OpenOrCreate))
        throw Error(SQLITE_CANTOPEN);
    file.close();
    sqlite3* handle = nullptr;
    // One connection is used by one thread at a time (its owner keeps the threads apart), so the library's
    // lock around every call on it, about a tenth of the time of a tree load, buys nothing.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int result = sqlite3_open_v2(systemPath.c_str(), &handle, flags, nullptr);
    Connection connection(handle); // closes a half-opened handle on failure
    check(result);
    return connection;
}

void Database::Connection::reset()
{
    sqlite3_close(std::exchange(mHandle, nullptr));
}

void Database::Connection::execute(const char* sql)
{
    check(sqlite3_exec(mHandle, sql, nullptr, nullptr, nullptr));
}

Database::Statement::Statement(const Connection& connection, const char* sql)
{
    check(sqlite3_prepare_v2(connection.get(), sql, -1, &mStatement, nullptr));
}

Database::Statement& Database::Statement::operator=(Statement&& other) noexcept
{
    if (this != &other)
        reset(std::exchange(other.mStatement, nullptr));
    return *this;
}

void Database::Statement::reset(sqlite3_stmt* statement)
{
    sqlite3_finalize(std::exchange(mStatement, statement));
}

void Database::Statement::execute()
{
    const int result = sqlite3_step(mStatement);
    sqlite3_reset(mStatement);
    if (result != SQLITE_DONE)
        throw Error(result);
}

bool Database::Statement::step()
{
    const int result = sqlite3_step(mStatement);
    if (result == SQLITE_ROW)
        return true;
    sqlite3_reset(mStatement);
    if (result != SQLITE_DONE)
        throw Error(result);
    return false;
}

void Database::Statement::reset() { sqlite3_reset(mStatement); }

void Database::Statement::clearBindings() { check(sqlite3_clear_bindings(mStatement)); }

void Database::Statement::bindBlob(int index, const void* data, int size)
{
    check(sqlite3_bind_blob(mStatement, index, data, size, SQLITE_TRANSIENT));
}

void Database::Statement::bindInt(int index, int value) { check(sqlite3_bind_int(mStatement, index, value)); }

void Database::Statement::bindInt64(int index, std::int64_t value)
{
    check(sqlite3_bind_int64(mStatement, index, value));
}

void Database::Statement::bindText(int index, const std::string& utf8)
{
    check(sqlite3_bind_text(mStatement, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT));
}

void Database::Statement::bindNull(int index) { check(sqlite3_bind_null(mStatement, index)); }

std::string Database::Statement::columnText(int column) const
{
    return std::string(columnTextView(column));
}

std::string_view Database::Statement::columnTextView(int column) const
{
    // The text first, then its length: the library gives the length of the form asked for last.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mStatement, column));
    return text ? std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(mStatement, column)))
                : std::string_view();
}
} // namespace dwl
