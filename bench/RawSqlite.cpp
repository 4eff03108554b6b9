#include "RawSqlite.h"

namespace bench {

RawSqlite::RawSqlite(const std::filesystem::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
}

RawSqlite::~RawSqlite() { sqlite3_close(db_); }

sqlite3_stmt* RawSqlite::Prepare(const std::string& statement) {
    sqlite3_stmt* compiled = nullptr;
    if (db_ == nullptr || sqlite3_prepare_v2(db_, statement.c_str(), -1, &compiled, nullptr) != SQLITE_OK)
        return nullptr;
    return compiled;
}

sqlite3_stmt* RawSqlite::Prepare(const std::u16string& statement) {
    sqlite3_stmt* compiled = nullptr;
    if (db_ == nullptr || sqlite3_prepare16(db_, statement.c_str(), -1, &compiled, nullptr) != SQLITE_OK)
        return nullptr;
    return compiled;
}

template <typename Text>
bool RawSqlite::Run(const Text& statement) {
    sqlite3_stmt* compiled = Prepare(statement);
    if (compiled == nullptr) return false;
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) rc = sqlite3_step(compiled);
    return sqlite3_finalize(compiled) == SQLITE_OK && rc == SQLITE_DONE;
}

template <typename Text>
bool RawSqlite::RunAll(const std::vector<Text>& statements) {
    for (const Text& statement : statements) {
        if (!Run(statement)) return false;
    }
    return true;
}

template <typename Text>
bool RawSqlite::InTransaction(const std::vector<Text>& statements) {
    if (!Run(std::string("begin")) || !RunAll(statements)) {
        Run(std::string("rollback"));
        return false;
    }
    return Run(std::string("commit"));
}

bool RawSqlite::Run(const std::vector<std::string>& statements) { return RunAll(statements); }
bool RawSqlite::RunInTransaction(const std::vector<std::string>& statements) { return InTransaction(statements); }
bool RawSqlite::RunInTransaction(const std::vector<std::u16string>& statements) { return InTransaction(statements); }

void RawSqlite::AppendFirst(sqlite3_stmt* row, std::string& out) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
    if (text != nullptr) out.append(text, static_cast<std::size_t>(sqlite3_column_bytes(row, 0)));
}

void RawSqlite::AppendFirst(sqlite3_stmt* row, std::u16string& out) {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(row, 0));
    if (text != nullptr) out.append(text, static_cast<std::size_t>(sqlite3_column_bytes16(row, 0)) / 2);
}

template <typename Text>
bool RawSqlite::First(const Text& statement, Text& out) {
    sqlite3_stmt* compiled = Prepare(statement);
    if (compiled == nullptr) return false;
    const int rc = sqlite3_step(compiled);
    if (rc == SQLITE_ROW) AppendFirst(compiled, out);
    return sqlite3_finalize(compiled) == SQLITE_OK && (rc == SQLITE_ROW || rc == SQLITE_DONE);
}

bool RawSqlite::ReadFirst(const std::string& statement, std::string& out) { return First(statement, out); }
bool RawSqlite::ReadFirst(const std::u16string& statement, std::u16string& out) { return First(statement, out); }

const std::filesystem::path& FreshDatabase::Fresh() {
    // A leftover log beside a new file of the same name would be replayed into it.
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(file_.string() + suffix);
    RawSqlite db(file_);
    std::string mode;
    db.ReadFirst("pragma journal_mode=wal", mode);
    db.Run(std::vector<std::string>{createTable_});
    return file_;
}

}  // namespace bench
