#include "CSqliteDB.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "BusyRetriesScope.h"
#include "CSqliteException.h"
#include "TempDir.h"
#include "Text.h"

namespace {

class CSqliteDBTest : public ::testing::Test {
protected:
    CSqliteDBTest() : file_(text::FromUtf8((dir_ / "t.db").string())) {
        db_.open(file_, true);
        db_.execDML(L"create table t (a integer primary key, b text)");
    }

    std::wstring Expect(int code, const std::function<void()>& action) {
        try {
            action();
        } catch (const CSqliteException& e) {
            EXPECT_EQ(e.errorCode(), code);
            return e.errorMessage();
        }
        ADD_FAILURE() << "no exception";
        return L"";
    }

    int Count() {
        CSqliteQuery q = db_.execQuery(L"select count(*) from t");
        return text::WToI(q.getStringField(0).c_str());
    }

    TempDir dir_;
    std::wstring file_;
    CSqliteDB db_;
};

TEST_F(CSqliteDBTest, QueryReadsRowsColumnsAndNullsAsText) {
    EXPECT_EQ(db_.execDML(L"insert into t values (1, '中文'), (2, NULL)"), 2);
    CSqliteQuery q = db_.execQuery(L"select a, b from t order by a");
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.numFields(), 2);
    EXPECT_EQ(q.fieldName(1), L"b");
    EXPECT_EQ(q.getStringField(0), L"1");
    EXPECT_EQ(q.getStringField(1), L"中文");
    q.nextRow();
    EXPECT_TRUE(q.fieldIsNull(1));
    EXPECT_EQ(q.getStringField(1), L"");
    q.nextRow();
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(db_.execDML(L"update t set b = 'x' where a = 99"), 0);
    EXPECT_EQ(db_.execDML(L""), 0);
    EXPECT_EQ(db_.execDML(L"-- nothing"), 0);
}

TEST_F(CSqliteDBTest, FaultsCarryTheirCodesAndTexts) {
    CSqliteQuery empty = db_.execQuery(L"select a, b from t");
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(Expect(1000, [&] { empty.getStringField(2); }), L"CSQLITE_ERROR[1000]: Invalid field index requested");
    EXPECT_EQ(Expect(1000, [&] { empty.getStringField(-1); }), L"CSQLITE_ERROR[1000]: Invalid field index requested");
    empty.finalize();
    EXPECT_EQ(Expect(1000, [&] { empty.getStringField(0); }), L"CSQLITE_ERROR[1000]: Null Virtual Machine pointer");
    EXPECT_EQ(Expect(1000, [&] { CSqliteQuery().eof(); }), L"CSQLITE_ERROR[1000]: Null Virtual Machine pointer");

    EXPECT_EQ(Expect(1, [&] { db_.execDML(L"insert into t valuez (1)"); }),
              L"SQLITE_ERROR[1]: near \"valuez\": syntax error");
    EXPECT_EQ(Expect(1, [&] { db_.execQuery(L"select nope from t"); }), L"SQLITE_ERROR[1]: no such column: nope");
    db_.execDML(L"insert into t values (1, 'a')");
    EXPECT_EQ(Expect(1, [&] { db_.execDML(L"insert into t values (1, 'b')"); }),
              L"SQLITE_ERROR[1]: UNIQUE constraint failed: t.a");

    CSqliteDB closed;
    EXPECT_EQ(Expect(1000, [&] { closed.execDML(L"select 1"); }), L"CSQLITE_ERROR[1000]: Database not open");
    EXPECT_STREQ(CSqliteException(77, L"m").errorMessage(), L"UNKNOWN_ERROR[77]: m");
    EXPECT_STREQ(CSqliteException::errorCodeAsString(101), L"SQLITE_DONE");
}

TEST_F(CSqliteDBTest, MissingFileIsNotCreatedByOpening) {
    CSqliteDB other;
    const auto missing = dir_ / "missing.db";
    Expect(SQLITE_CANTOPEN, [&] { other.open(text::FromUtf8(missing.string())); });
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(CSqliteDBTest, MovingAQueryHandsOverItsStatement) {
    db_.execDML(L"insert into t values (1, 'a')");
    CSqliteQuery target;
    target = db_.execQuery(L"select b from t");
    CSqliteQuery moved(std::move(target));
    EXPECT_EQ(moved.getStringField(0), L"a");
    Expect(1000, [&] { target.eof(); });
    moved = std::move(moved);  // self-assignment keeps the statement
    EXPECT_EQ(moved.getStringField(0), L"a");
}

TEST_F(CSqliteDBTest, StatementListRunsInOneTransactionOrNotAtAll) {
    EXPECT_EQ(db_.execDMLSet({}, true), 0);
    EXPECT_EQ(db_.execDMLSet({L"insert into t values (1, 'a')", L"insert into t values (2, 'b')"}, true), 0);
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(db_.execDMLSet({L"insert into t values (3, 'c')", L"insert into t values (1, 'dup')",
                              L"insert into t values (4, 'd')"},
                             true),
              -1);
    EXPECT_EQ(Count(), 2);
    // Without a transaction what ran before the failure stays.
    EXPECT_EQ(db_.execDMLSet({L"insert into t values (5, 'e')", L"bad sql", L"insert into t values (6, 'f')"}, false),
              -1);
    EXPECT_EQ(Count(), 3);
}

TEST_F(CSqliteDBTest, LockHeldByAnotherConnectionThrowsBusy) {
    BusyRetriesScope<CSqliteDB> quick(3, 1);
    CSqliteDB holder;
    holder.open(file_);
    holder.execDML(L"begin exclusive transaction");
    holder.execDML(L"insert into t values (1, 'held')");

    EXPECT_EQ(Expect(SQLITE_BUSY, [&] { db_.execDML(L"insert into t values (2, 'blocked')"); }).substr(0, 14),
              L"SQLITE_BUSY[5]");
    Expect(SQLITE_BUSY, [&] { db_.execQuery(L"select * from t"); });
    EXPECT_EQ(db_.execDMLSet({L"insert into t values (3, 'x')"}, true), -1);

    holder.execDML(L"commit transaction");
    EXPECT_EQ(db_.execDML(L"insert into t values (2, 'free')"), 1);
    EXPECT_EQ(Count(), 2);
}

}  // namespace
