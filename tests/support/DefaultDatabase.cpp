#include "DefaultDatabase.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Exec(sqlite3* db, const std::string& sql, const std::string& where) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw std::runtime_error(where + ": " + text);
    }
}

}  // namespace

void MakeDefaultDatabase(const std::filesystem::path& file) {
    std::filesystem::remove(file);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error(file.string() + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    Exec(db.get(), "BEGIN;", file.string());
    // The build passes the files joined with '|', in the order they run.
    std::string_view files = QUORV_DB_SQL_FILES;
    while (!files.empty()) {
        const auto bar = files.find('|');
        const std::string path(files.substr(0, bar));
        files = bar == std::string_view::npos ? std::string_view() : files.substr(bar + 1);
        Exec(db.get(), ReadFile(path), path);
    }
    Exec(db.get(), "COMMIT;", file.string());
}

std::filesystem::path IniTemplatePath() { return QUORV_INI_TEMPLATE; }
