#include "CSqliteDB.h"

#include "CSqliteException.h"
#include "Hooks.h"
#include "SqliteText.h"

std::atomic<int> CSqliteDB::s_busyRetries{1000};
std::atomic<int> CSqliteDB::s_busySleepMs{10};

namespace {

// A schema change between compile and step is retried; a few times is plenty.
constexpr int kSchemaRetries = 16;

int BusyHandler(void*, int count) {
    if (count >= CSqliteDB::s_busyRetries) return 0;
    Sleep(static_cast<DWORD>(CSqliteDB::s_busySleepMs.load()));
    return 1;
}

}  // namespace

CSqliteDB::~CSqliteDB() {
    try {
        close();
    } catch (const CSqliteException&) {
        // Statements still open: let SQLite close once they are finalized.
        sqlite3_close_v2(db_);
    }
}

void CSqliteDB::open(const std::wstring& fileName, bool create) {
    close();
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(text::ToUtf8(fileName).c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::wstring message = db_ != nullptr ? SqliteErrorText(db_) : L"out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw CSqliteException(rc, message);
    }
    setBusyTimeout(busyTimeoutMs_);
    setBusyHandler();
}

void CSqliteDB::setBusyTimeout(int ms) {
    busyTimeoutMs_ = ms;
    sqlite3_busy_timeout(db_, ms);
}

void CSqliteDB::setBusyHandler() {
    if (db_ == nullptr) return;
    const int rc = sqlite3_busy_handler(db_, BusyHandler, db_);
    if (rc != SQLITE_OK) throwError(rc);
}

void CSqliteDB::close() {
    if (db_ == nullptr) return;
    const int rc = sqlite3_close(db_);
    if (rc != SQLITE_OK) throwError(rc);
    db_ = nullptr;
}

void CSqliteDB::checkDB() const {
    if (db_ == nullptr) throw CSqliteException(CSqliteException::kWrapperError, L"Database not open");
}

void CSqliteDB::throwError(int code) const { throw CSqliteException(code, SqliteErrorText(db_)); }

sqlite3_stmt* CSqliteDB::compile(const std::wstring& sql) {
    checkDB();
    const std::u16string sql16 = ToSqlite16(sql);
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare16(db_, sql16.c_str(), -1, &statement, nullptr);
    if (rc != SQLITE_OK) throwError(rc);
    return statement;
}

bool CSqliteDB::isReadOnly(const std::wstring& sql) {
    checkDB();
    const std::u16string sql16 = ToSqlite16(sql);
    sqlite3_stmt* statement = nullptr;
    const void* tail = nullptr;
    const int rc = sqlite3_prepare16_v2(db_, sql16.c_str(), -1, &statement, &tail);
    const bool readOnly = rc == SQLITE_OK && statement != nullptr && sqlite3_stmt_readonly(statement) != 0;
    sqlite3_finalize(statement);
    if (!readOnly || tail == nullptr) return readOnly;
    // A second statement after the first would run unchecked.
    for (const char16_t* c = static_cast<const char16_t*>(tail); *c != u'\0'; ++c)
        if (*c != u' ' && *c != u';' && *c != u'\t' && *c != u'\r' && *c != u'\n') return false;
    return true;
}

// Every step result other than done or row is an error: a write that could not get
// its lock must not look like a success.
int CSqliteDB::execDML(const std::wstring& sql) {
    checkDB();
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* statement = compile(sql);
        if (statement == nullptr) return 0;  // an empty text or a comment: nothing to run
        const int rc = sqlite3_step(statement);
        const int frc = sqlite3_finalize(statement);
        if (rc == SQLITE_ERROR) throwError(SQLITE_ERROR);
        if (frc == SQLITE_SCHEMA && attempt < kSchemaRetries) continue;
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) throwError(frc != SQLITE_OK ? frc : rc);
        return sqlite3_changes(db_);
    }
}

CSqliteQuery CSqliteDB::execQuery(const std::wstring& sql) {
    checkDB();
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* statement = compile(sql);
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE || rc == SQLITE_ROW) return CSqliteQuery(db_, statement, rc == SQLITE_DONE, true);
        const int frc = sqlite3_finalize(statement);
        if (frc == SQLITE_SCHEMA && attempt < kSchemaRetries) continue;
        throwError(frc != SQLITE_OK ? frc : rc);
    }
}

int CSqliteDB::execDMLSet(const std::vector<std::wstring>& statements, bool inTransaction) {
    try {
        if (inTransaction) execDML(L"begin transaction");
    } catch (const CSqliteException&) {
        return -1;  // nothing ran, so there is nothing to roll back
    }
    try {
        for (const auto& sql : statements) execDML(sql);
        if (inTransaction) execDML(L"commit transaction");
        return 0;
    } catch (const CSqliteException&) {
        if (inTransaction) execDML(L"rollback transaction");
        return -1;
    }
}

std::int64_t CSqliteDB::lastRowId() const { return sqlite3_last_insert_rowid(db_); }
