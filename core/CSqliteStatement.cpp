#include "CSqliteStatement.h"

#include "CSqliteException.h"
#include "SqliteText.h"

CSqliteStatement::~CSqliteStatement() {
    try {
        finalize();
    } catch (const CSqliteException&) {
    }
}

void CSqliteStatement::finalize() {
    if (statement_ == nullptr) return;
    const int rc = sqlite3_finalize(statement_);
    statement_ = nullptr;
    if (rc != SQLITE_OK) throw CSqliteException(rc, SqliteErrorText(db_));
}
