#include "RawSqlite.h"

namespace bench {

RawSqlite::RawSqlite(const std::filesystem::path& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
}

RawSqlite::~RawSqlite() { sqlite3_close(db_); }

bool RawSqlite::Run(const std::string& statement) {
    sqlite3_stmt* compiled = nullptr;
    if (db_ == nullptr || sqlite3_prepare_v2(db_, statement.c_str(), -1, &compiled, nullptr) != SQLITE_OK) return false;
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) rc = sqlite3_step(compiled);
    return sqlite3_finalize(compiled) == SQLITE_OK && rc == SQLITE_DONE;
}

bool RawSqlite::Run(const std::vector<std::string>& statements) {
    for (const std::string& statement : statements) {
        if (!Run(statement)) return false;
    }
    return true;
}

bool RawSqlite::RunInTransaction(const std::vector<std::string>& statements) {
    if (!Run(std::string("begin")) || !Run(statements)) {
        Run(std::string("rollback"));
        return false;
    }
    return Run(std::string("commit"));
}

bool RawSqlite::ReadFirst(const std::string& statement, std::string& out) {
    sqlite3_stmt* compiled = nullptr;
    if (db_ == nullptr || sqlite3_prepare_v2(db_, statement.c_str(), -1, &compiled, nullptr) != SQLITE_OK) return false;
    const int rc = sqlite3_step(compiled);
    if (rc == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(compiled, 0));
        if (text != nullptr) out.append(text, static_cast<std::size_t>(sqlite3_column_bytes(compiled, 0)));
    }
    return sqlite3_finalize(compiled) == SQLITE_OK && (rc == SQLITE_ROW || rc == SQLITE_DONE);
}

const std::filesystem::path& FreshDatabase::Fresh() {
    std::filesystem::remove(file_);
    RawSqlite(file_).Run(std::vector<std::string>{createTable_});
    return file_;
}

}  // namespace bench
