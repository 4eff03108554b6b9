// The floor under the database wrappers: the same statements through SQLite's own calls,
// each prepared, stepped to its end and finalized, on one connection that stays open. UTF-8
// statements are prepared with sqlite3_prepare_v2; UTF-16 ones with sqlite3_prepare16, as the
// wrapper compiles its wide text, their texts read as UTF-16 as the wrapper reads them. What
// the wrappers add (wide text, their own connections, the table lock, exceptions) shows as
// their figure's distance to this one.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"

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
    bool RunInTransaction(const std::vector<std::u16string>& statements);
    // The first column of the statement's first row as text, appended to `out`; false
    // when the statement fails.
    bool ReadFirst(const std::string& statement, std::string& out);
    bool ReadFirst(const std::u16string& statement, std::u16string& out);

private:
    sqlite3_stmt* Prepare(const std::string& statement);
    sqlite3_stmt* Prepare(const std::u16string& statement);
    template <typename Text>
    bool Run(const Text& statement);
    template <typename Text>
    bool RunAll(const std::vector<Text>& statements);
    template <typename Text>
    bool InTransaction(const std::vector<Text>& statements);
    static void AppendFirst(sqlite3_stmt* row, std::string& out);
    static void AppendFirst(sqlite3_stmt* row, std::u16string& out);
    template <typename Text>
    bool First(const Text& statement, Text& out);

    sqlite3* db_ = nullptr;
};

// A database file of its own in a temporary folder, made afresh with one table and no rows,
// in WAL mode as the program leaves its databases.
class FreshDatabase {
public:
    FreshDatabase(const std::string& name, std::string createTable)
        : file_(dir_ / name), createTable_(std::move(createTable)) {}

    // The file removed and made again; its path.
    const std::filesystem::path& Fresh();
    const std::filesystem::path& Path() const { return file_; }

private:
    TempDir dir_;
    std::filesystem::path file_;
    std::string createTable_;
};

}  // namespace bench
