// The floor under the database wrappers: the same statements through SQLite's own calls,
// each prepared (sqlite3_prepare_v2), stepped to its end and finalized, on one connection
// that stays open. What the wrappers add (wide text, their own connections, the table lock,
// exceptions) shows as their figure's distance to this one.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

class RawSqlite {
public:
    // Opens the file, creating it when missing.
    explicit RawSqlite(const std::filesystem::path& file);
    ~RawSqlite();
    RawSqlite(const RawSqlite&) = delete;
    RawSqlite& operator=(const RawSqlite&) = delete;

    // Each statement to its end in turn, each its own transaction; false at the first failure.
    bool Run(const std::vector<std::string>& statements);
    // The same inside one transaction.
    bool RunInTransaction(const std::vector<std::string>& statements);
    // The first column of the statement's first row as text, appended to `out`; false
    // when the statement fails.
    bool ReadFirst(const std::string& statement, std::string& out);

private:
    bool Run(const std::string& statement);

    sqlite3* db_ = nullptr;
};

}  // namespace bench
