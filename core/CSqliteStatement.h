// Holds a compiled statement until it is finalized.
#pragma once

struct sqlite3;
struct sqlite3_stmt;

class CSqliteStatement {
public:
    CSqliteStatement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;
    virtual ~CSqliteStatement();

    void finalize();

private:
    sqlite3* db_;
    sqlite3_stmt* statement_;
};
