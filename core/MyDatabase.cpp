#include "MyDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "Config.h"
#include "CxLog.h"
#include "Hooks.h"
#include "SQLThread.h"
#include "Text.h"
#include "global.h"

CMyDatabase* g_pMyDatabase = nullptr;

namespace {

constexpr std::size_t kSqlChars = 260;
constexpr int kMaxSerialNo = 99999999;
constexpr int kMaxSerialCount = 1000;
// How much a list from outside may grow the file (a reply is at most 16 MB), the longest
// text, blob or statement it may build, far above any article, and what SQLite may
// allocate for its statements: the longest article the length allows takes 14 MB.
constexpr std::int64_t kOutsideGrowthBytes = 64LL << 20;
constexpr int kOutsideLengthBytes = 4 << 20;
constexpr std::int64_t kOutsideHeapBytes = 32LL << 20;
// And what the lists of one login may grow the file by, for each day it lasts: ten of the
// largest replies, so that a row that doubles the articles at every sync stops there.
constexpr std::int64_t kOutsideGrowthPerDayBytes = 160LL << 20;
// A third of the table lock's time-out: a writer may wait behind both kinds' lists, one
// after the other, each with its commit.
constexpr int kOutsideBudgetMs = 10000;

const wchar_t* SerialName(int serialCode) {
    switch (serialCode) {
    case 5000: return L"AlertNo";
    case 5010: return L"ElementDataRecNo";
    case 5020: return L"ActionDataRecNo";
    default: return L"";
    }
}

void LogException(int level, const wchar_t* function, const std::wstring& context, const CSqliteException& e) {
    CxLog::GetInstance()->WriteFormat(CXLOG_FILE, function, __LINE__, level, L"CSqliteException[%s]:[%d][%s]",
                                      context.c_str(), e.errorCode(), e.errorMessage());
}

bool IsColumnName(const std::wstring& name) {
    if (name.empty()) return false;
    for (wchar_t c : name) {
        if (!(std::iswalnum(c) && c < 0x80) && c != L'_') return false;
    }
    return true;
}

}  // namespace

CMyDatabase::CMyDatabase()
    : m_outsideBudgetMs(kOutsideBudgetMs),
      m_outsideGrowthBytes(kOutsideGrowthBytes),
      m_outsideGrowthPerDayBytes(kOutsideGrowthPerDayBytes) {}

CMyDatabase::~CMyDatabase() = default;

int CMyDatabase::Init() {
    if (!m_pSQLThread) {
        // Before the worker opens its connection: the switch needs the file to itself.
        OpenForLogin();
        m_pSQLThread = std::make_unique<CSQLThread>(*this);
        m_pSQLThread->Start(g_Config.m_config.userDBName);
    }
    m_bWriteDBLock = false;
    m_lockTimeoutMs = m_initTimeoutMs;
    m_bReady = true;  // last: a page thread may ask before the worker exists
    return 0;
}

void CMyDatabase::OpenForLogin() {
    m_loginTime = std::chrono::steady_clock::now();
    try {
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        // Readers then never wait for a writer, however long its list.
        db.useWriteAheadLog();
        m_loginBytes = db.fileBytes();
        db.close();
    } catch (const CSqliteException& e) {
        LOGF(LOG_WARNING, L"CMyDatabase::Init", L"CSqliteException[%s]:[%d][%s]", g_Config.m_config.userDBName.c_str(),
             e.errorCode(), e.errorMessage());
    }
}

CSqliteDB::RowBudget CMyDatabase::OutsideBudget(CSqliteDB& db) {
    // A file that could not be read at login is measured by its first list.
    if (m_loginBytes < 0) m_loginBytes = db.fileBytes();
    const auto days =
        std::chrono::duration_cast<std::chrono::hours>(std::chrono::steady_clock::now() - m_loginTime).count() / 24;
    const std::int64_t fileBytes = m_loginBytes + (days + 1) * m_outsideGrowthPerDayBytes;
    return {m_outsideBudgetMs, m_outsideGrowthBytes, fileBytes, kOutsideLengthBytes, kOutsideHeapBytes};
}

void CMyDatabase::SetLockTiming(int timeoutMs, int sleepMs) {
    m_initTimeoutMs = timeoutMs;
    m_lockTimeoutMs = timeoutMs;
    m_lockSleepMs = sleepMs;
}

int CMyDatabase::LockSqliteTable(const std::wstring& tableName, int timeoutMs) {
    // Init clears the lock: one taken before it would be dropped without its owner knowing.
    if (!Ready()) return -1;
    if (timeoutMs < 0) timeoutMs = m_lockTimeoutMs;
    const DWORD start = GetTickCount();
    for (;;) {
        if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return -1;
        {
            std::lock_guard<std::mutex> guard(m_tableLockGuard);
            if (!m_bWriteDBLock) {
                m_bWriteDBLock = true;
                m_tableNameLock = tableName;
                return 0;
            }
        }
        Sleep(static_cast<DWORD>(m_lockSleepMs.load()));
    }
}

int CMyDatabase::UnLockSqliteTable(const std::wstring&) {
    m_bWriteDBLock = false;
    return 0;
}

std::wstring CMyDatabase::LockTableName() const {
    std::lock_guard<std::mutex> guard(m_tableLockGuard);
    return m_tableNameLock;
}

int CMyDatabase::ExecSQL(const std::wstring& sql) { return Ready() ? m_pSQLThread->ExecSQL(sql) : -1; }

int CMyDatabase::InsertTableWithReturnRowID(const std::wstring& sql) {
    return Ready() ? m_pSQLThread->InsertTableWithReturnRowID(sql) : -1;
}

int CMyDatabase::ExecSQL_asyn(const std::wstring& sql) { return Ready() ? m_pSQLThread->PostSQL(sql) : -1; }

int CMyDatabase::ExecSQLSet(const std::vector<std::wstring>& statements, bool inTransaction, const SqlScope& scope) {
    if (!Ready()) return -1;
    const std::wstring first = statements.empty() ? L"" : statements.front();
    if (LockSqliteTable(L"", -1) != 0 && LockSqliteTable(L"", -1) != 0) {
        LOGF(LOG_ERROR, L"CMyDatabase::ExecSQLSet", L"SQL:[%s] LockSqliteTable fail!", first.c_str());
        return -1;
    }
    int result = 0;
    // The restriction holds for this list only, and the connection ends with it.
    const bool outside = !scope.rowsOf.empty();
    CSqliteDB db;
    try {
        db.open(g_Config.m_config.userDBName);
        if (outside) db.restrictToRows(scope.rowsOf, OutsideBudget(db));
        CSqliteDB::SetFailure failure;
        result = db.execDMLSet(statements, inTransaction, &failure);
        // The cause first: a long statement is cut at the end of the line.
        if (result < 0 && outside && failure.index < statements.size()) {
            LOGF(LOG_WARNING, L"CMyDatabase::ExecSQLSet", L"refused:[%s] SQL:[%s]", failure.message.c_str(),
                 statements[failure.index].c_str());
        }
        // A list from outside that fills the database has used up its growth, not the disk.
        const bool budgetUsed = outside && (failure.code & 0xFF) == SQLITE_FULL;
        if (result < 0 && !budgetUsed && FirstFileSystemRefusal(failure.code)) {
            const std::wstring& failed = failure.index < statements.size() ? statements[failure.index] : first;
            LOGF(LOG_ERROR, L"CMyDatabase::ExecSQLSet", L"CSqliteException[%s]:[%d][%s]", failed.c_str(), failure.code,
                 failure.message.c_str());
        }
        if (!outside) db.close();
    } catch (const CSqliteException&) {
        LOGF(LOG_ERROR, L"CMyDatabase::ExecSQLSet", L"SQL:[%s] try fail!", first.c_str());
        if (result == 0) result = -2;
    }
    UnLockSqliteTable(L"");
    // What a list from outside wrote reaches the file once its lock is free: neither
    // readers nor writers wait for that, and no reader's close is left to do it.
    if (outside && db.handle() != nullptr) {
        try {
            db.checkpointPassively();
            db.close();
        } catch (const CSqliteException& e) {
            LOGF(LOG_MESSAGE, L"CMyDatabase::ExecSQLSet", L"CSqliteException[%s]:[%d][%s]", L"checkpoint",
                 e.errorCode(), e.errorMessage());
        }
    }
    return result;
}

int CMyDatabase::ExecSQLSetFromArray(const uie::value& statements) {
    if (statements.length() < 1) return 0;
    const uie::value key(std::wstring(L"sql"));
    std::vector<std::wstring> list;
    for (std::size_t i = 0; i < statements.length(); ++i) {
        const uie::value sql = statements.nth(i).get_item(key);
        list.push_back(sql.is_string() ? sql.get_string() : std::wstring());
    }
    return ExecSQLSet(list, true);
}

int CMyDatabase::SetMaxDeletedRecNo(const std::wstring& columnName, int value) {
    if (value < 0 || !IsColumnName(columnName)) return -2;
    std::lock_guard<std::mutex> serial(m_serialLock);
    std::wstring sql;
    if (!FormatCut(sql, kSqlChars, L"update tMaxDeletedRecNo set %s=%d, modifyTime=datetime('now','localtime');",
                   columnName.c_str(), value)) {
        return -999;
    }
    return ExecSQL(sql);
}

// A number is handed out only once it is stored: any failure to store it returns an
// error, never the number.
int CMyDatabase::MakeSerialNo(int serialCode, int count) {
    if (count > kMaxSerialCount || count < 0) return -2;
    std::lock_guard<std::mutex> serial(m_serialLock);
    std::wstring stored;
    const int found = ReadFieldValueField(L"tSerialNo", L"serialNo", L"where serialCode=" + std::to_wstring(serialCode),
                                          stored);
    if (found < 0) return -997;
    std::wstring sql;
    int first = 1;
    bool cut = false;
    if (found == 0) {
        cut = !FormatCut(sql, kSqlChars,
                         L"insert into tSerialNo (serialCode, serialName, serialNo, modifyTime) values "
                         L"(%d,'%s',%d,datetime('now','localtime'));",
                         serialCode, SerialName(serialCode), 1 + count);
    } else {
        first = text::WToI(stored.c_str());
        int next = first + count;
        if (first < 1 || next > kMaxSerialNo) {
            first = 1;
            next = 1 + count;
        }
        cut = !FormatCut(sql, kSqlChars,
                         L"update tSerialNo set serialNo=%d, modifyTime=datetime('now','localtime') where serialCode=%d;",
                         next, serialCode);
    }
    if (cut) return -999;
    const int changed = ExecSQL(sql);
    if (changed < 0) return changed;
    return changed == 1 ? first : -1;
}

int CMyDatabase::SelectRows(const std::wstring& dbPath, const std::wstring& sql, SqlRows& rows,
                            const wchar_t* context) {
    try {
        CSqliteDB db;
        db.open(dbPath);
        CSqliteQuery query = db.execQuery(sql);
        for (; !query.eof(); query.nextRow()) {
            std::vector<std::wstring> row;
            for (int i = 0; i < query.numFields(); ++i) row.push_back(query.getStringField(i));
            rows.push_back(std::move(row));
        }
        query.finalize();
        db.close();
        return 0;
    } catch (const CSqliteException& e) {
        if (context != nullptr) LogException(LOG_MESSAGE, L"CMyDatabase::SelectSQL", context, e);
        return -1;
    }
}

int CMyDatabase::SelectTableWithReturn(const std::wstring& sql, SqlRows& rows) {
    return SelectRows(g_Config.m_config.userDBName, sql, rows, L"SelectTableWithReturn");
}

int CMyDatabase::SelectTableWithReturnFromDB(const std::wstring& dbPath, const std::wstring& sql, SqlRows& rows) {
    return SelectRows(dbPath, sql, rows, nullptr);
}

int CMyDatabase::ReadFieldValueField(const std::wstring& tableName, const std::wstring& fieldExpr,
                                     const std::wstring& whereClause, std::wstring& value) {
    std::wstring sql;
    if (!FormatCut(sql, kSqlChars, L"select %s from %s %s;", fieldExpr.c_str(), tableName.c_str(),
                   whereClause.c_str())) {
        return -1;
    }
    SqlRows rows;
    if (SelectRows(g_Config.m_config.userDBName, sql, rows, sql.c_str()) < 0) return -1;
    if (rows.empty() || rows.front().empty()) return 0;
    value = rows.front().front();
    return 1;
}

int CMyDatabase::ReadFieldValueField(const std::wstring& tableName, const std::wstring& fieldExpr,
                                     const std::wstring& whereClause, int defaultValue) {
    std::wstring sql;
    if (!FormatCut(sql, kSqlChars, L"select %s %s %s %s;", fieldExpr.c_str(), tableName.empty() ? L"" : L"from",
                   tableName.c_str(), whereClause.c_str())) {
        return defaultValue;
    }
    SqlRows rows;
    if (SelectRows(g_Config.m_config.userDBName, sql, rows, sql.c_str()) < 0) return defaultValue;
    if (rows.empty() || rows.front().empty()) return defaultValue;
    return text::WToI(rows.front().front().c_str());
}

uie::value CMyDatabase::SelectSQL(const std::wstring& sql) {
    try {
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        CSqliteQuery query = db.execQuery(sql);
        uie::value rows = uie::value::make_array();
        for (; !query.eof(); query.nextRow()) {
            uie::value row = uie::value::make_map();
            for (int i = 0; i < query.numFields(); ++i) row.set_item(query.fieldName(i), query.getStringField(i));
            rows.append(std::move(row));
        }
        query.finalize();
        db.close();
        return rows;
    } catch (const CSqliteException& e) {
        LogException(LOG_MESSAGE, L"CMyDatabase::SelectSQL", sql, e);
        return uie::value(-1);
    }
}

int CMyDatabase::ReadRecordCount(const std::wstring& tableName, const std::wstring& whereClause) {
    std::wstring sql;
    if (!FormatCut(sql, kSqlChars, L"select count(*) from %s %s;", tableName.c_str(), whereClause.c_str())) return -1;
    SqlRows rows;
    if (SelectRows(g_Config.m_config.userDBName, sql, rows, sql.c_str()) < 0) return -1;
    return rows.empty() || rows.front().empty() ? 0 : text::WToI(rows.front().front().c_str());
}

// The last matching row wins, as the dictionaries are read row by row.
std::wstring CMyDatabase::ReadLastText(const std::wstring& sql) {
    SqlRows rows;
    SelectRows(g_Config.m_config.userDBName, sql, rows, sql.c_str());
    return rows.empty() || rows.back().empty() ? std::wstring() : rows.back().front();
}

std::wstring CMyDatabase::DictName(const wchar_t* format, int key) {
    std::wstring sql;
    return FormatCut(sql, kSqlChars, format, key) ? ReadLastText(sql) : std::wstring();
}

bool CMyDatabase::FirstFileSystemRefusal(int sqliteCode) {
    if (!CSqliteDB::isFileSystemRefusal(sqliteCode)) return false;
    std::lock_guard<std::mutex> guard(m_refusalLock);
    return m_refusalsLogged.insert(sqliteCode & 0xFF).second;
}

std::wstring CMyDatabase::GetDictLiveIndexIDName(const std::wstring& indexID) {
    std::wstring sql;
    if (!FormatCut(sql, kSqlChars, L"select indexName from tDictIndexID where indexID = '%s';",
                   text::QuoteSql(indexID).c_str())) {
        return std::wstring();
    }
    return ReadLastText(sql);
}

std::wstring CMyDatabase::GetDictWindDirectionName(int windDirectionNo) {
    return DictName(L"select windDirectionName from tDictWindDirection where windDirectionNo = %d;", windDirectionNo);
}

std::wstring CMyDatabase::GetDictWeatherName(int weatherNo) {
    return DictName(L"select weatherName from tDictWeather where weatherNo = %d;", weatherNo);
}

std::wstring CMyDatabase::GetDictSolarTermsName(int solarTermsNo) {
    return DictName(L"select solarTermsName from tDictSolarTerms where solarTermsNo = %d;", solarTermsNo);
}

std::wstring CMyDatabase::GetDictAreaNameByAreaCodeNo(int areaCodeNo) {
    return DictName(L"select areaName from tWeatherAreaCode where areaCodeNo = %d;", areaCodeNo);
}

std::wstring CMyDatabase::GetDictAreaCodeName(int areaCodeNo) {
    return DictName(L"select areaCodeName from tWeatherAreaCode where areaCodeNo = %d;", areaCodeNo);
}

std::wstring CMyDatabase::GetDictAreaName(int areaNo) {
    return DictName(L"select note from tAreaNo where areaNo = %d;", areaNo);
}
