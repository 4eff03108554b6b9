#include "CSqliteDB.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "CSqliteException.h"
#include "Hooks.h"
#include "SqliteText.h"

std::atomic<int> CSqliteDB::s_busyRetries{1000};
std::atomic<int> CSqliteDB::s_busySleepMs{10};

namespace {

// A schema change between compile and step is retried; a few times is plenty.
constexpr int kSchemaRetries = 16;
// Virtual-machine steps between looks at the clock while a budget holds.
constexpr int kBudgetCheckSteps = 1000;

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
        failureCause_ = rc;
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

bool CSqliteDB::isFileSystemRefusal(int code) {
    switch (code & 0xFF) {  // an extended code carries its primary one in its low byte
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_IOERR:
        case SQLITE_FULL:
        case SQLITE_CANTOPEN: return true;
        default: return false;
    }
}

void CSqliteDB::checkDB() const {
    if (db_ == nullptr) throw CSqliteException(CSqliteException::kWrapperError, L"Database not open");
}

void CSqliteDB::throwError(int code, int cause) const {
    failureCause_ = cause != SQLITE_OK ? cause : code;
    throw CSqliteException(code, SqliteErrorText(db_));
}

int CSqliteDB::causeOf(const CSqliteException& e) const {
    return e.errorCode() == SQLITE_ERROR ? failureCause_ : e.errorCode();
}

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
        if (rc == SQLITE_ERROR) throwError(SQLITE_ERROR, frc);
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

int CSqliteDB::execDMLSet(const std::vector<std::wstring>& statements, bool inTransaction, SetFailure* failedAt) {
    try {
        if (inTransaction) execOwnTransactionStep(L"begin transaction");
    } catch (const CSqliteException& e) {
        if (failedAt != nullptr) *failedAt = {0, e.errorMessage(), causeOf(e)};
        return -1;  // nothing ran, so there is nothing to roll back
    }
    std::size_t index = 0;
    try {
        for (; index < statements.size(); ++index) execDML(statements[index]);
        if (inTransaction) execOwnTransactionStep(L"commit transaction");
        return 0;
    } catch (const CSqliteException& e) {
        if (failedAt != nullptr) *failedAt = {index, e.errorMessage(), causeOf(e)};
        // Some failures (a full disk, no memory) have rolled the transaction back already.
        if (inTransaction && sqlite3_get_autocommit(db_) == 0) execOwnTransactionStep(L"rollback transaction");
        return -1;
    }
}

void CSqliteDB::execOwnTransactionStep(const wchar_t* sql) {
    ownTransactionStep_ = true;
    try {
        execDML(sql);
    } catch (const CSqliteException&) {
        ownTransactionStep_ = false;
        throw;
    }
    ownTransactionStep_ = false;
}

std::int64_t CSqliteDB::execScalar(const std::wstring& sql) {
    CSqliteQuery query = execQuery(sql);
    const std::int64_t value = query.eof() ? 0 : std::wcstoll(query.getStringField(0).c_str(), nullptr, 10);
    query.finalize();
    return value;
}

void CSqliteDB::restrictToRows(const std::wstring& table, const RowBudget& budget) {
    checkDB();
    // Set before the authorizer, which refuses every pragma.
    const std::int64_t pageSize = std::max<std::int64_t>(execScalar(L"pragma page_size"), 512);
    const std::int64_t pages = execScalar(L"pragma page_count") + budget.growthBytes / pageSize;
    execScalar(L"pragma max_page_count=" + std::to_wstring(pages));
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, budget.lengthBytes);
    writableTable_ = text::ToUtf8(table);
    budgetEnd_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget.ms);
    sqlite3_progress_handler(db_, kBudgetCheckSteps, &CSqliteDB::pastBudget, this);
    sqlite3_set_authorizer(db_, &CSqliteDB::authorizeData, this);
}

int CSqliteDB::pastBudget(void* self) {
    return std::chrono::steady_clock::now() > static_cast<CSqliteDB*>(self)->budgetEnd_ ? 1 : 0;
}

// load_extension reaches outside the database. printf (and its other name, format) past the
// length limit gives null instead of failing, after as long as the width or precision asked
// for (seconds for a few bytes of SQL, beyond the progress handler's reach): no article row
// needs it.
bool CSqliteDB::refusedFunction(const char* name) {
    for (const char* refused : {"load_extension", "printf", "format"}) {
        if (sqlite3_stricmp(name, refused) == 0) return true;
    }
    return false;
}

int CSqliteDB::authorizeData(void* self, int action, const char* first, const char* second, const char* database,
                             const char*) {
    // With attaching refused, "main" and an empty "temp" are all there is; a table read
    // for no column (count(*), a join's row) comes without its database's name.
    const bool ownTable = first != nullptr && std::strncmp(first, "sqlite_", 7) != 0 &&
                          (database != nullptr ? std::strcmp(database, "main") == 0 : action == SQLITE_READ);
    switch (action) {
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        return ownTable && sqlite3_stricmp(first, static_cast<CSqliteDB*>(self)->writableTable_.c_str()) == 0
                   ? SQLITE_OK
                   : SQLITE_DENY;
    case SQLITE_READ:
        return ownTable ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_SELECT:
        return SQLITE_OK;
    case SQLITE_FUNCTION:
        return second != nullptr && !refusedFunction(second) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_TRANSACTION:
        return static_cast<CSqliteDB*>(self)->ownTransactionStep_ ? SQLITE_OK : SQLITE_DENY;
    default:
        return SQLITE_DENY;
    }
}

std::int64_t CSqliteDB::lastRowId() const { return sqlite3_last_insert_rowid(db_); }
