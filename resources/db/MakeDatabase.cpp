// Build tool: make_database OUT.db FILE.sql...
// Creates OUT.db afresh and runs each SQL file whole, all in one transaction,
// so a broken SQL file fails the build instead of shipping a partial database.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>

namespace {

struct DbCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

bool ReadFile(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Runs sql; on failure prints where and SQLite's message.
bool Exec(sqlite3* db, const std::string& sql, const char* where) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
        return true;
    }
    std::fprintf(stderr, "make_database: %s: %s\n", where, message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_database OUT.db FILE.sql...\n");
        return 2;
    }
    const char* out = argv[1];
    std::error_code ec;
    std::filesystem::remove(out, ec);
    if (ec) {
        std::fprintf(stderr, "make_database: cannot remove %s: %s\n", out, ec.message().c_str());
        return 1;
    }

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(out, &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    DbPtr db(raw);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "make_database: %s: %s\n", out, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return 1;
    }

    // No half-built database is left behind for the next build step.
    const auto fail = [&] {
        db.reset();
        std::filesystem::remove(out, ec);
        return 1;
    };
    if (!Exec(db.get(), "BEGIN;", out)) {
        return fail();
    }
    for (int i = 2; i < argc; ++i) {
        std::string sql;
        if (!ReadFile(argv[i], sql)) {
            std::fprintf(stderr, "make_database: cannot read %s\n", argv[i]);
            return fail();
        }
        if (!Exec(db.get(), sql, argv[i])) {
            return fail();
        }
    }
    if (!Exec(db.get(), "COMMIT;", out)) {
        return fail();
    }
    db.reset();
    return 0;
}
