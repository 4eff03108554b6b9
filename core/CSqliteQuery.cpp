#include "CSqliteQuery.h"

#include <utility>

#include "CSqliteException.h"
#include "SqliteText.h"

CSqliteQuery::CSqliteQuery(sqlite3* db, sqlite3_stmt* statement, bool eof, bool ownsStatement)
    : db_(db), statement_(statement), eof_(eof), columnCount_(sqlite3_column_count(statement)),
      ownsStatement_(ownsStatement) {}

CSqliteQuery::CSqliteQuery(CSqliteQuery&& other) noexcept { *this = std::move(other); }

CSqliteQuery& CSqliteQuery::operator=(CSqliteQuery&& other) noexcept {
    if (this == &other) return *this;
    finalizeQuietly();
    db_ = other.db_;
    statement_ = std::exchange(other.statement_, nullptr);
    eof_ = other.eof_;
    columnCount_ = other.columnCount_;
    ownsStatement_ = other.ownsStatement_;
    return *this;
}

CSqliteQuery::~CSqliteQuery() { finalizeQuietly(); }

void CSqliteQuery::finalizeQuietly() noexcept {
    try {
        finalize();
    } catch (const CSqliteException&) {
    }
}

void CSqliteQuery::checkStatement() const {
    if (statement_ == nullptr) throw CSqliteException(CSqliteException::kWrapperError, L"Null Virtual Machine pointer");
}

void CSqliteQuery::checkField(int field) const {
    checkStatement();
    if (field < 0 || field > columnCount_ - 1) {
        throw CSqliteException(CSqliteException::kWrapperError, L"Invalid field index requested");
    }
}

bool CSqliteQuery::eof() const {
    checkStatement();
    return eof_;
}

int CSqliteQuery::numFields() const {
    checkStatement();
    return columnCount_;
}

void CSqliteQuery::nextRow() {
    checkStatement();
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_DONE) {
        eof_ = true;
    } else if (rc != SQLITE_ROW) {
        const int frc = sqlite3_finalize(statement_);
        statement_ = nullptr;
        throw CSqliteException(frc != SQLITE_OK ? frc : rc, SqliteErrorText(db_));
    }
}

int CSqliteQuery::fieldDataType(int field) const {
    checkField(field);
    return sqlite3_column_type(statement_, field);
}

bool CSqliteQuery::fieldIsNull(int field) const { return fieldDataType(field) == SQLITE_NULL; }

std::wstring CSqliteQuery::fieldName(int field) const {
    checkField(field);
    return FromSqlite16(sqlite3_column_name16(statement_, field));
}

std::wstring CSqliteQuery::getStringField(int field) const {
    if (fieldIsNull(field)) return std::wstring();
    return FromSqlite16(sqlite3_column_text16(statement_, field));
}

void CSqliteQuery::finalize() {
    if (statement_ == nullptr || !ownsStatement_) return;
    const int rc = sqlite3_finalize(statement_);
    statement_ = nullptr;
    if (rc != SQLITE_OK) throw CSqliteException(rc, SqliteErrorText(db_));
}
