// A cursor over one compiled statement. Exactly one query owns a statement at a time:
// moving a query hands the statement over.
#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CSqliteQuery {
public:
    CSqliteQuery() = default;
    CSqliteQuery(sqlite3* db, sqlite3_stmt* statement, bool eof, bool ownsStatement);
    CSqliteQuery(CSqliteQuery&& other) noexcept;
    CSqliteQuery& operator=(CSqliteQuery&& other) noexcept;
    CSqliteQuery(const CSqliteQuery&) = delete;
    CSqliteQuery& operator=(const CSqliteQuery&) = delete;
    virtual ~CSqliteQuery();

    bool eof() const;
    int numFields() const;
    void nextRow();
    int fieldDataType(int field) const;
    bool fieldIsNull(int field) const;
    std::wstring fieldName(int field) const;
    // The column as text; NULL reads as an empty text.
    std::wstring getStringField(int field) const;
    void finalize();

private:
    void checkStatement() const;
    void checkField(int field) const;
    void finalizeQuietly() noexcept;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* statement_ = nullptr;
    bool eof_ = true;
    int columnCount_ = 0;
    bool ownsStatement_ = false;
};
