// A connection to one SQLite database file. Every failure throws CSqliteException.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CSqliteQuery.h"
#include "SqliteHeapBudget.h"

struct sqlite3;
struct sqlite3_stmt;
class CSqliteException;

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
    // nothing of the list stays applied). failedAt, when given, learns which one failed
    // and why.
    struct SetFailure {
        std::size_t index = 0;
        std::wstring message;
        int code = 0;  // the specific SQLite result code (causeOf)
    };
    int execDMLSet(const std::vector<std::wstring>& statements, bool inTransaction, SetFailure* failedAt = nullptr);
    // For statements that come from outside, until the connection's close (the lowered
    // limits and page count are the connection's own and end with it): SQL as data only. Each statement may insert, update or delete rows of the table
    // named, with values and simple expressions: it may read that table's own columns and
    // call the date and time functions, nothing else ("not authorized" for other tables,
    // any SELECT (a subquery, a CTE, a compound, INSERT ... SELECT), every other function,
    // RETURNING, attach, schema changes, pragmas, transactions). The limits are lowered to
    // ten times what such a row needs, and the list as a whole stays within the budget: its
    // time ("interrupted" past it, looked at before each statement and every few steps of
    // one; a whole-table delete goes row by row), the file's growth ("database or disk is
    // full"), the longest text, blob or statement ("string or blob too big"), and the
    // memory SQLite allocates for its statements ("out of memory"); each refusal names the
    // bound or limit it met. The database is put in WAL mode, where readers never wait for
    // the list and its commit and rollback are bounded steps (what is left in the page
    // cache, one sync); the log is not copied into the file at the commit: the caller runs
    // checkpointPassively once nobody waits for it.
    struct RowBudget {
        int ms = 0;
        std::int64_t growthBytes = 0;
        std::int64_t fileBytes = 0;  // what the file may hold in all; 0: no such bound
        int lengthBytes = 0;
        std::int64_t heapBytes = 0;
    };
    void restrictToRows(const std::wstring& table, const RowBudget& budget);
    // Puts the database in WAL mode (it stays so, in the file), where readers never wait
    // for a writer; throws when it cannot be.
    void useWriteAheadLog();
    // Copies what the write-ahead log holds into the file without making a reader or a
    // writer wait; tries again a few times while a reader still reads an older state.
    // True once all of it is in the file.
    bool checkpointPassively();
    // What the file holds: its pages, those still in the write-ahead log included.
    std::int64_t fileBytes();
    std::int64_t lastRowId() const;
    // Whether an SQLite result code says the file system refused a write: a read-only
    // file or folder, a full disk, an I/O error, a file that cannot be opened.
    static bool isFileSystemRefusal(int code);
    // The specific result code behind e, which this connection threw: a failing step
    // throws the generic SQLITE_ERROR, while its cause came with the finalize.
    int causeOf(const CSqliteException& e) const;
    // True when sql is one statement that cannot change any database; false for a
    // write, several statements or text that does not compile.
    bool isReadOnly(const std::wstring& sql);

    sqlite3* handle() const { return db_; }

private:
    void checkDB() const;
    // cause: the specific code when code is the generic one (0: code itself).
    [[noreturn]] void throwError(int code, int cause = 0) const;

    static bool allowedFunction(const char* name);
    static int authorizeData(void* self, int action, const char* first, const char* second, const char* database,
                             const char* trigger);
    static int pastBudget(void* self);
    // SQLite's text of the last error, with the bound or limit of a restriction it met
    // where SQLite does not name it.
    std::wstring errorText(int cause) const;
    // begin, commit and rollback of execDMLSet's own transaction, past the restriction.
    void execOwnTransactionStep(const wchar_t* sql);
    // The first column of the first row as a number; 0 without a row.
    std::int64_t execScalar(const std::wstring& sql);
    // Throws "interrupted" once a restriction's time is spent.
    void checkBudgetTime() const;
    void setRowLimits(const RowBudget& budget, int columns);

    sqlite3* db_ = nullptr;
    std::u16string sql16_;          // the statement being compiled, its room kept for the next
    mutable int failureCause_ = 0;  // of the last error thrown
    int busyTimeoutMs_ = 60000;
    bool ownTransactionStep_ = false;
    std::chrono::steady_clock::time_point budgetEnd_;
    RowBudget budget_;
    bool fileBound_ = false;  // the file's bound, not the list's growth, sets the page count
    std::string writableTable_;  // UTF-8, as the authorizer is told names; empty: unrestricted
    std::unique_ptr<SqliteHeapBudget> heapBudget_;
};
