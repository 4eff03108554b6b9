// The program's gateway to the logged-in user's database: every write goes through it
// under one program-wide table lock; reads open a connection of their own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CSqliteDB.h"
#include "Value.h"

class CSQLThread;

using SqlRows = std::vector<std::vector<std::wstring>>;

// What a list of statements may do. Statements that come from outside get the rows of one
// table: they insert, update or delete its rows with values and simple expressions, within
// a time, growth, length and memory budget; every other statement fails and is logged with
// its cause and text.
struct SqlScope {
    static SqlScope Any() { return {}; }
    static SqlScope RowsOf(std::wstring table) { return {std::move(table)}; }
    std::wstring rowsOf;  // empty: any statement
};

class CMyDatabase {
public:
    CMyDatabase();
    ~CMyDatabase();
    CMyDatabase(const CMyDatabase&) = delete;
    CMyDatabase& operator=(const CMyDatabase&) = delete;

    // Starts the SQL worker on the user database; the lock, write and queue
    // operations refuse to run (-1) before it.
    int Init();

    // 0 when taken, -1 after the time-out; a negative time-out means the stored one.
    int LockSqliteTable(const std::wstring& tableName, int timeoutMs);
    int UnLockSqliteTable(const std::wstring& tableName);
    bool IsWriteLocked() const { return m_bWriteDBLock; }
    std::wstring LockTableName() const;
    // Tests shorten the waits: the time-out Init would set, and the step between tries.
    void SetLockTiming(int timeoutMs, int sleepMs);

    int ExecSQL(const std::wstring& sql);
    int InsertTableWithReturnRowID(const std::wstring& sql);
    int ExecSQL_asyn(const std::wstring& sql);
    // 0, -1 when the lock or a statement failed (nothing of the list stays applied
    // inside a transaction), -2 on any other database failure.
    int ExecSQLSet(const std::vector<std::wstring>& statements, bool inTransaction,
                   const SqlScope& scope = SqlScope::Any());
    // The time a list from outside may take in all, while it holds the table lock (readers
    // never wait for it), and the file's growth: by one list, and by the lists of each day
    // since the login (the first Init). Tests shorten them.
    void SetOutsideBudget(int ms) { m_outsideBudgetMs = ms; }
    void SetOutsideGrowth(std::int64_t perList, std::int64_t perDay) {
        m_outsideGrowthBytes = perList;
        m_outsideGrowthPerDayBytes = perDay;
    }
    // The "sql" text of each element of a script array, run in one transaction; 0 for
    // an empty array.
    int ExecSQLSetFromArray(const uie::value& statements);
    int SetMaxDeletedRecNo(const std::wstring& columnName, int value);
    // Reserves count consecutive numbers of the counter and returns the first.
    int MakeSerialNo(int serialCode, int count);

    int SelectTableWithReturn(const std::wstring& sql, SqlRows& rows);
    int SelectTableWithReturnFromDB(const std::wstring& dbPath, const std::wstring& sql, SqlRows& rows);
    // Text form: 1 and value set when a row came back, 0 when none, -1 on error.
    int ReadFieldValueField(const std::wstring& tableName, const std::wstring& fieldExpr,
                            const std::wstring& whereClause, std::wstring& value);
    // Number form: the first column as a number, defaultValue when no row or on error.
    int ReadFieldValueField(const std::wstring& tableName, const std::wstring& fieldExpr,
                            const std::wstring& whereClause, int defaultValue);
    // An array with one map per row, column names to texts; the integer -1 on error.
    uie::value SelectSQL(const std::wstring& sql);
    int ReadRecordCount(const std::wstring& tableName, const std::wstring& whereClause);

    std::wstring GetDictLiveIndexIDName(const std::wstring& indexID);
    std::wstring GetDictWindDirectionName(int windDirectionNo);
    std::wstring GetDictWeatherName(int weatherNo);
    std::wstring GetDictSolarTermsName(int solarTermsNo);
    std::wstring GetDictAreaNameByAreaCodeNo(int areaCodeNo);
    std::wstring GetDictAreaCodeName(int areaCodeNo);
    std::wstring GetDictAreaName(int areaNo);

    // True for the first failure of each cause that says the file system refused a
    // write (a read-only or full disk ...): that one is logged as an error, so that a
    // database that stores nothing stands out; the others are logged as before.
    bool FirstFileSystemRefusal(int sqliteCode);

private:
    // At the first Init: the database put in WAL mode, its size and the time noted.
    void OpenForLogin();
    CSqliteDB::RowBudget OutsideBudget(CSqliteDB& db);
    int SelectRows(const std::wstring& dbPath, const std::wstring& sql, SqlRows& rows, const wchar_t* context);
    std::wstring ReadLastText(const std::wstring& sql);
    std::wstring DictName(const wchar_t* format, int key);
    bool Ready() const { return m_bReady; }

    std::atomic<bool> m_bWriteDBLock{false};
    mutable std::mutex m_tableLockGuard;
    std::wstring m_tableNameLock;
    std::unique_ptr<CSQLThread> m_pSQLThread;  // set once by Init, before m_bReady
    std::atomic<bool> m_bReady{false};
    std::mutex m_serialLock;
    std::atomic<int> m_lockTimeoutMs{30000};
    std::atomic<int> m_lockSleepMs{10};
    int m_initTimeoutMs = 30000;
    std::atomic<int> m_outsideBudgetMs;
    std::atomic<std::int64_t> m_outsideGrowthBytes;
    std::atomic<std::int64_t> m_outsideGrowthPerDayBytes;
    // Read and set by lists from outside, which run one at a time under the table lock.
    std::int64_t m_loginBytes = -1;
    std::chrono::steady_clock::time_point m_loginTime = std::chrono::steady_clock::now();
    std::mutex m_refusalLock;
    std::set<int> m_refusalsLogged;  // primary SQLite result codes
};

extern CMyDatabase* g_pMyDatabase;
