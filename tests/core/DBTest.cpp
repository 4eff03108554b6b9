#include "DB.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "BusyRetriesScope.h"
#include "ScriptDBFixture.h"

namespace {

using uie::value;
namespace test = uie::test;

class DBTest : public ScriptDBTest {
protected:
    DBTest() { EXPECT_EQ(Exec(L"create table t (a integer primary key, b)").result, value(DB::kDone)); }
};

TEST_F(DBTest, ExecReturnsDoneARecordsetOrMinusOne) {
    EXPECT_EQ(Exec(L"insert into t values (41, 'x')").result, value(DB::kDone));
    EXPECT_EQ(Call(db_, "lastInsertedID").result, value(41));
    EXPECT_EQ(Exec(L"insert into t (b) values ('y')").result, value(DB::kDone));
    EXPECT_EQ(Call(db_, "lastInsertedID").result, value(42));

    EXPECT_EQ(Exec(L"select * from t where a = 0").result, value(DB::kDone));  // no row: no Recordset

    // Every statement runs; the last one's row is the Recordset's.
    const auto two = Exec(L"select 1; select 2");
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(uie::ClassName(two.result), "Recordset");
    EXPECT_EQ(Item(two.result, value(0)), value(2));

    EXPECT_EQ(Exec(L" \t\r\n ").result, value(-1));
    EXPECT_EQ(Exec(L"").result, value(-1));
    // An empty statement after a real one is not a failure.
    EXPECT_TRUE(Exec(L"insert into t values (50, 'z'); -- done").ok);
}

TEST_F(DBTest, FailuresRaiseSQLitesOwnMessageAndCode) {
    const auto syntax = Exec(L"selec 1");
    EXPECT_FALSE(syntax.ok);
    EXPECT_EQ(syntax.error, L"near \"selec\": syntax error");
    EXPECT_TRUE(syntax.result.is_null());

    ASSERT_EQ(Exec(L"insert into t values (1, 'a')").result, value(DB::kDone));
    const auto constraint = Exec(L"insert into t values (1, 'b')");
    EXPECT_FALSE(constraint.ok);
    EXPECT_EQ(constraint.result, value(19));
    EXPECT_EQ(constraint.error, L"UNIQUE constraint failed: t.a");

    // The connection stays usable and holds no statement: the table can be dropped.
    EXPECT_EQ(Exec(L"drop table t").result, value(DB::kDone));
}

TEST_F(DBTest, ParametersBindTheFirstStatementOnlyWithArraysFlattened) {
    const auto bound = Exec(L"select ?1, ?2, ?3", {value::make_array({value(1), value(2)}), value(L"x")});
    ASSERT_TRUE(bound.ok) << text::ToUtf8(bound.error);
    EXPECT_EQ(test::Iterate(vm_, bound.result).result, value::make_array({value(1), value(2), value(L"x")}));

    const auto nested = Exec(L"select ?1, ?2, ?3",
                             {value::make_array({value(1), value::make_array({value(2), value(3)})})});
    EXPECT_EQ(test::Iterate(vm_, nested.result).result, value::make_array({value(1), value(2), value(3)}));

    // A second statement gets no parameters: its ?1 stays NULL.
    const auto later = Exec(L"select ?1; select ?1", {value(7)});
    EXPECT_TRUE(Item(later.result, value(0)).is_null());

    for (const value& refused : {value(), value::make_map(), value::symbol(L"s")}) {
        const auto r = Exec(L"select ?1", {refused});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, L"wrong type of SQL parameter value");
        EXPECT_EQ(r.result, value(DB::kError));
    }
}

TEST_F(DBTest, EveryKindOfValueRoundTrips) {
    const value blob = value::from_bytes({0, 1, 0xFF});
    ASSERT_EQ(Exec(L"insert into t values (1, ?)", {value(2.5)}).result, value(DB::kDone));
    ASSERT_EQ(Exec(L"insert into t values (2, ?)", {value(L"健康 'q'")}).result, value(DB::kDone));
    ASSERT_EQ(Exec(L"insert into t values (3, ?)", {blob}).result, value(DB::kDone));
    ASSERT_EQ(Exec(L"insert into t values (4, ?)", {value::null()}).result, value(DB::kDone));
    ASSERT_EQ(Exec(L"insert into t values (5, ?)", {value(true)}).result, value(DB::kDone));
    ASSERT_EQ(Exec(L"insert into t values (6, ?)", {value::from_bytes({})}).result, value(DB::kDone));

    const auto rows = Exec(L"select b, typeof(b) from t order by a");
    const std::vector<std::pair<value, std::wstring>> expected = {
        {value(2.5), L"real"}, {value(L"健康 'q'"), L"text"}, {blob, L"blob"},
        {value::null(), L"null"}, {value(1), L"integer"}, {value::from_bytes({}), L"blob"}};
    for (const auto& [v, type] : expected) {
        EXPECT_EQ(Item(rows.result, value(0)), v);
        EXPECT_EQ(Item(rows.result, value(1)), value(type));
        Call(rows.result, "next");
    }
}

TEST_F(DBTest, AClosedDBRefusesAndCloseIsIdempotent) {
    EXPECT_EQ(Call(db_, "close").result, value(0));
    EXPECT_EQ(Call(db_, "close").result, value(0));
    for (const char* method : {"exec", "lastInsertedID"}) {
        const auto r = Call(db_, method, {value(L"select 1")});
        EXPECT_FALSE(r.ok) << method;
        EXPECT_EQ(r.error, L"DB is already closed");
        EXPECT_TRUE(r.result.is_undefined());
    }
}

TEST_F(DBTest, OpenCreatesAMissingFileAndGivesNullWhenItCannotOpen) {
    const std::wstring fresh = text::FromUtf8((dir_ / "fresh.db").string());
    const value other = Open(fresh);
    EXPECT_EQ(uie::ClassName(other), "DB");
    EXPECT_EQ(Item(Call(other, "exec", {value(L"pragma encoding")}).result, value(0)), value(L"UTF-16le"));

    EXPECT_TRUE(Open(text::FromUtf8((dir_ / "no-such-folder" / "x.db").string())).is_null());
    EXPECT_FALSE(test::CallNative(vm_, "DB", "open", {value(5)}).ok);

    EXPECT_EQ(test::GetProperty(vm_, "DB", "ROW").result, value(100));
    EXPECT_EQ(test::GetProperty(vm_, "DB", "SCHEMA").result, value(17));
}

TEST_F(DBTest, ALockHeldElsewhereIsWaitedForThenGivesBusy) {
    BusyRetriesScope<DB> shortWait(3, 1);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(text::ToUtf8(path_).c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto busy = Exec(L"insert into t values (1, 'a')");
    EXPECT_EQ(busy.result, value(DB::kBusy));
    EXPECT_EQ(busy.error, L"database is locked");

    sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(Exec(L"insert into t values (1, 'a')").result, value(DB::kDone));
}

}  // namespace
