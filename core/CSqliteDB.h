// A connection to one SQLite database file. Every failure throws CSqliteException.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "CSqliteQuery.h"

struct sqlite3;
struct sqlite3_stmt;

class CSqliteDB {
public:
    // How long a connection waits for a lock another connection holds: this many
    // retries of this many milliseconds. Tests shorten them.
    static std::atomic<int> s_busyRetries;
    static std::atomic<int> s_busySleepMs;

    CSqliteDB() = default;
    CSqliteDB(const CSqliteDB&) = delete;
    CSqliteDB& operator=(const CSqliteDB&) = delete;
    virtual ~CSqliteDB();

    // Opens an existing database; a missing file is an error unless create is set.
    void open(const std::wstring& fileName, bool create = false);
    void close();
    void setBusyTimeout(int ms);
    void setBusyHandler();

    sqlite3_stmt* compile(const std::wstring& sql);
    // Runs one statement; returns the rows it changed.
    int execDML(const std::wstring& sql);
    CSqliteQuery execQuery(const std::wstring& sql);
    // Runs the statements in order; 0, or -1 when one failed (inside a transaction
    // nothing of the list stays applied).
    int execDMLSet(const std::vector<std::wstring>& statements, bool inTransaction);
    std::int64_t lastRowId() const;
    // True when sql is one statement that cannot change any database; false for a
    // write, several statements or text that does not compile.
    bool isReadOnly(const std::wstring& sql);

    sqlite3* handle() const { return db_; }

private:
    void checkDB() const;
    [[noreturn]] void throwError(int code) const;

    sqlite3* db_ = nullptr;
    int busyTimeoutMs_ = 60000;
};
