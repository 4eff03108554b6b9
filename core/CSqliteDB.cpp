#include "CSqliteDB.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <optional>
#include <system_error>

#include "CSqliteException.h"
#include "Hooks.h"
#include "SqliteText.h"

std::atomic<int> CSqliteDB::s_busyRetries{1000};
std::atomic<int> CSqliteDB::s_busySleepMs{10};

namespace {

// A schema change between compile and step is retried; a few times is plenty.
constexpr int kSchemaRetries = 16;
// Virtual-machine steps between looks at the clock while a budget holds. With no function
// but the date and time ones, a step does at most a copy or comparison of values within the
// length limit: a hundred of them end well within a second.
constexpr int kBudgetCheckSteps = 100;
// What a row from outside needs, ten times over, after SQLite's advice for SQL from an
// untrusted source; each is bounded in time and memory by the list's clock and heap bound
// anyway. The fullest article insert or update compiles to under 40 instructions, a delete
// by an IN list of n numbers to 3n + 20. SQLite grows a program by doubling from 42
// instructions and refuses the growth past the limit, so the limit sits on one of its steps:
// an IN list of 14,000 numbers fits, ten times a server's list of 1,000 and more.
constexpr int kRowInstructions = 42 << 10;
// A chain of a hundred ORs, sums or concatenations is a hundred deep: ten times that is
// SQLite's own most.
constexpr int kRowExpressionDepth = 1000;
// datetime('now', 'localtime', 'start of day') takes three.
constexpr int kRowFunctionArgs = 30;
// A row names each of its table's columns once.
constexpr int kRowColumnsPerColumn = 10;
// A checkpoint that a reader of an older state keeps from the end of the log is tried again
// this often, this far apart: readers end within milliseconds.
constexpr int kCheckpointAttempts = 100;
constexpr DWORD kCheckpointPauseMs = 10;
// Below this the disk, not a bound, ends a growing list.
constexpr std::uintmax_t kDiskRoomBytes = 1 << 20;

std::wstring Bytes(std::int64_t bytes) {
    constexpr std::int64_t kMiB = 1 << 20;
    return bytes % kMiB == 0 ? std::to_wstring(bytes / kMiB) + L" MiB" : std::to_wstring(bytes) + L" bytes";
}

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
    // A restriction is the connection's: one opened next is unrestricted.
    writableTable_.clear();
    heapBudget_.reset();
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
    throw CSqliteException(code, errorText(failureCause_));
}

std::wstring CSqliteDB::errorText(int cause) const {
    const std::wstring message = SqliteErrorText(db_);
    if (writableTable_.empty()) return message;
    switch (cause & 0xFF) {
    case SQLITE_INTERRUPT: return message + L": the list's " + std::to_wstring(budget_.ms) + L" ms are spent";
    case SQLITE_NOMEM: return message + L": the list's memory bound of " + Bytes(budget_.heapBytes);
    case SQLITE_TOOBIG: return message + L": the length limit of " + Bytes(budget_.lengthBytes);
    case SQLITE_FULL: {
        std::error_code unknown;
        const char* file = sqlite3_db_filename(db_, "main");
        const auto room = file != nullptr ? std::filesystem::space(std::filesystem::path(file).parent_path(), unknown)
                                          : std::filesystem::space_info{};
        if (unknown || room.available < kDiskRoomBytes) return message;
        return message + (fileBound_ ? L": the file's size bound of " + Bytes(budget_.fileBytes)
                                     : L": the list's growth bound of " + Bytes(budget_.growthBytes));
    }
    default: break;
    }
    // The limits whose refusals do not say how far they go.
    static const std::pair<const wchar_t*, int> kLimits[] = {
        {L"too many columns", SQLITE_LIMIT_COLUMN},
        {L"too many arguments on function", SQLITE_LIMIT_FUNCTION_ARG},
        {L"too many SQL variables", SQLITE_LIMIT_VARIABLE_NUMBER},
        {L"too many levels of trigger recursion", SQLITE_LIMIT_TRIGGER_DEPTH},
    };
    for (const auto& [start, limit] : kLimits) {
        if (message.starts_with(start))
            return message + L" (limit " + std::to_wstring(sqlite3_limit(db_, limit, -1)) + L")";
    }
    // The parser's stack is SQLite's own, of a hundred entries.
    if (message == L"parser stack overflow") return message + L": SQLite parses some 90 nested parentheses at most";
    return message;
}

int CSqliteDB::causeOf(const CSqliteException& e) const {
    return e.errorCode() == SQLITE_ERROR ? failureCause_ : e.errorCode();
}

sqlite3_stmt* CSqliteDB::compile(const std::wstring& sql) {
    checkDB();
    ToSqlite16(sql, sql16_);
    sqlite3_stmt* statement = nullptr;
    const std::int64_t heapRefusals = heapBudget_ ? heapBudget_->Refusals() : 0;
    const int rc = sqlite3_prepare16(db_, sql16_.c_str(), -1, &statement, nullptr);
    // SQLite refuses a program's growth past the instruction limit as "out of memory".
    if (rc == SQLITE_NOMEM && heapBudget_ && heapBudget_->Refusals() == heapRefusals) {
        failureCause_ = SQLITE_ERROR;
        throw CSqliteException(SQLITE_ERROR, L"too many instructions: a row compiles to at most " +
                                                 std::to_wstring(kRowInstructions) + L" virtual-machine instructions");
    }
    if (rc != SQLITE_OK) throwError(rc);
    // SQLite reads a UTF-16 text as a value, and one past the length limit comes back as
    // no statement at all, as a comment does: it must not pass for one that ran.
    const auto lengthLimit = static_cast<std::size_t>(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1));
    if (statement == nullptr && sql16_.size() * sizeof(char16_t) > lengthLimit) {
        failureCause_ = SQLITE_TOOBIG;
        throw CSqliteException(SQLITE_TOOBIG, L"statement too long: the length limit of " + Bytes(lengthLimit));
    }
    return statement;
}

bool CSqliteDB::isReadOnly(const std::wstring& sql) {
    checkDB();
    ToSqlite16(sql, sql16_);
    sqlite3_stmt* statement = nullptr;
    const void* tail = nullptr;
    const int rc = sqlite3_prepare16_v2(db_, sql16_.c_str(), -1, &statement, &tail);
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
    // A statement from outside runs within what is left of its list's time, and what
    // SQLite allocates for it counts against the list's memory.
    const bool fromOutside = !writableTable_.empty() && !ownTransactionStep_;
    std::optional<SqliteHeapBudget::Scope> counted;
    if (fromOutside) {
        checkBudgetTime();
        counted.emplace(*heapBudget_);
    }
    for (int attempt = 0;; ++attempt) {
        sqlite3_stmt* statement = compile(sql);
        if (statement == nullptr) return 0;  // an empty text or a comment: nothing to run
        // RETURNING gathers its values for every changed row in a temporary file, beyond
        // the growth bound, before the first comes back; no authorizer call names it.
        if (fromOutside && sqlite3_column_count(statement) != 0) {
            sqlite3_finalize(statement);
            failureCause_ = SQLITE_AUTH;
            throw CSqliteException(SQLITE_AUTH, L"not authorized to return values");
        }
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
    if (!SqliteHeapBudget::Installed())
        throw CSqliteException(CSqliteException::kWrapperError, L"no memory bound for statements from outside");
    // Read and set before the authorizer, which refuses every pragma. Counting the table's
    // columns loads the schema, which the lowered limits would no longer let parse.
    // A rollback journal's commit writes every changed page into the file, and its rollback
    // copies them back, each in one step, while readers wait: only the log bounds both.
    useWriteAheadLog();
    sqlite3_wal_autocheckpoint(db_, 0);
    const std::int64_t pageSize = std::max<std::int64_t>(execScalar(L"pragma page_size"), 512);
    std::int64_t pages = execScalar(L"pragma page_count") + budget.growthBytes / pageSize;
    fileBound_ = budget.fileBytes > 0 && budget.fileBytes / pageSize < pages;
    if (fileBound_) pages = budget.fileBytes / pageSize;
    execScalar(L"pragma max_page_count=" + std::to_wstring(pages));
    const auto columns = static_cast<int>(
        execScalar(L"select count(*) from pragma_table_info('" + text::QuoteSql(table) + L"')"));
    setRowLimits(budget, columns);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    writableTable_ = text::ToUtf8(table);
    heapBudget_ = std::make_unique<SqliteHeapBudget>(budget.heapBytes);
    budget_ = budget;
    budgetEnd_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget.ms);
    sqlite3_progress_handler(db_, kBudgetCheckSteps, &CSqliteDB::pastBudget, this);
    sqlite3_set_authorizer(db_, &CSqliteDB::authorizeData, this);
}

void CSqliteDB::useWriteAheadLog() {
    CSqliteQuery mode = execQuery(L"pragma journal_mode=wal");
    const std::wstring got = mode.eof() ? std::wstring() : mode.getStringField(0);
    mode.finalize();
    if (got == L"wal") return;
    failureCause_ = SQLITE_ERROR;
    throw CSqliteException(SQLITE_ERROR, L"not in WAL mode: journal mode \"" + got + L"\"");
}

bool CSqliteDB::checkpointPassively() {
    checkDB();
    for (int attempt = 1;; ++attempt) {
        int logged = 0;
        int copied = 0;
        // Not in WAL mode: done at once, with both counts -1.
        const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logged, &copied);
        if (rc == SQLITE_OK && copied >= logged) return true;
        if (attempt == kCheckpointAttempts) return false;
        Sleep(kCheckpointPauseMs);
    }
}

std::int64_t CSqliteDB::fileBytes() { return execScalar(L"pragma page_count") * execScalar(L"pragma page_size"); }

void CSqliteDB::setRowLimits(const RowBudget& budget, int columns) {
    const std::pair<int, int> limits[] = {
        {SQLITE_LIMIT_ATTACHED, 0},
        {SQLITE_LIMIT_LENGTH, budget.lengthBytes},
        // Handed over in UTF-16, a statement meets the length limit first: as many UTF-8
        // bytes hold any statement that passed it.
        {SQLITE_LIMIT_SQL_LENGTH, budget.lengthBytes},
        {SQLITE_LIMIT_COLUMN, columns * kRowColumnsPerColumn},
        {SQLITE_LIMIT_EXPR_DEPTH, kRowExpressionDepth},
        {SQLITE_LIMIT_COMPOUND_SELECT, 1},
        {SQLITE_LIMIT_VDBE_OP, kRowInstructions},
        {SQLITE_LIMIT_FUNCTION_ARG, kRowFunctionArgs},
        // Neither like nor glob may be called, and a row binds no parameter.
        {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 0},
        {SQLITE_LIMIT_VARIABLE_NUMBER, 0},
        // The article tables have no trigger; one of the table's own may run, but start no other.
        {SQLITE_LIMIT_TRIGGER_DEPTH, 1},
    };
    for (const auto& [id, value] : limits) sqlite3_limit(db_, id, value);
}

void CSqliteDB::checkBudgetTime() const {
    if (std::chrono::steady_clock::now() < budgetEnd_) return;
    failureCause_ = SQLITE_INTERRUPT;
    throw CSqliteException(SQLITE_INTERRUPT,
                           L"interrupted before it ran: the list's " + std::to_wstring(budget_.ms) + L" ms are spent");
}

int CSqliteDB::pastBudget(void* self) {
    return std::chrono::steady_clock::now() >= static_cast<CSqliteDB*>(self)->budgetEnd_ ? 1 : 0;
}

// The rows set the date and time they were stored: these three give a text of a few
// characters, in time linear in their (at most eight) arguments. Any other function may
// be slow within one step (like, glob, instr, replace on megabytes), or build big values
// from short SQL (hex, zeroblob, printf, randomblob), or reach outside (load_extension).
bool CSqliteDB::allowedFunction(const char* name) {
    for (const char* allowed : {"datetime", "date", "time"}) {
        if (sqlite3_stricmp(name, allowed) == 0) return true;
    }
    return false;
}

int CSqliteDB::authorizeData(void* self, int action, const char* first, const char* second, const char* database,
                             const char*) {
    const CSqliteDB& db = *static_cast<CSqliteDB*>(self);
    // With attaching refused, "main" and an empty "temp" are all there is.
    const bool writable = first != nullptr && database != nullptr && std::strcmp(database, "main") == 0 &&
                          sqlite3_stricmp(first, db.writableTable_.c_str()) == 0;
    switch (action) {
    case SQLITE_DELETE:
        // Ignoring a delete lets it run row by row, where the clock reaches it, instead of
        // freeing the whole table's pages in one step.
        return writable ? SQLITE_IGNORE : SQLITE_DENY;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_READ:
        return writable ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_FUNCTION:
        return second != nullptr && allowedFunction(second) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_TRANSACTION:
        return db.ownTransactionStep_ ? SQLITE_OK : SQLITE_DENY;
    default:
        // SQLITE_SELECT among them: SQLite reports one for every select it compiles, so a
        // subquery, a CTE, a compound, several rows of values or INSERT ... SELECT is
        // refused. (Only a copy of a whole table of the same shape as this one compiles
        // without a select; the schema has no such table.)
        return SQLITE_DENY;
    }
}

std::int64_t CSqliteDB::lastRowId() const { return sqlite3_last_insert_rowid(db_); }
