#include "Recordset.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "LogReader.h"
#include "ScriptDBFixture.h"

namespace {

using uie::value;
namespace test = uie::test;

class RecordsetTest : public ScriptDBTest {
protected:
    RecordsetTest() {
        EXPECT_EQ(Exec(L"create table t (a integer, b text)").result, value(DB::kDone));
        EXPECT_EQ(Exec(L"insert into t values (1, 'one'), (2, 'two'), (3, 'three')").result, value(DB::kDone));
    }
    value Rows(const std::wstring& sql) {
        const auto r = Exec(sql);
        EXPECT_EQ(uie::ClassName(r.result), "Recordset") << text::ToUtf8(r.error);
        return r.result;
    }
    value Property(const value& recordset, const char* name) {
        return test::GetInstanceProperty(vm_, recordset, name).result;
    }
};

TEST_F(RecordsetTest, NextWalksTheRowsThenTheRecordsetIsClosed) {
    const value rs = Rows(L"select a from t order by a");
    EXPECT_EQ(Item(rs, value(0)), value(1));
    EXPECT_EQ(Call(rs, "next").result, value(true));
    EXPECT_EQ(Call(rs, "next").result, value(true));
    EXPECT_EQ(Item(rs, value(0)), value(3));
    EXPECT_EQ(Call(rs, "next").result, value(false));
    EXPECT_EQ(Property(rs, "valid"), value(false));
    EXPECT_TRUE(Property(rs, "length").is_undefined());

    const auto again = Call(rs, "next");
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, L"Recordset is already closed");
    EXPECT_EQ(again.result, value(false));
    EXPECT_EQ(Call(rs, "close").result, value(false));
    EXPECT_FALSE(test::GetItem(vm_, rs, value(0)).ok);
    EXPECT_EQ(test::Iterate(vm_, rs).result, value::make_array());
}

TEST_F(RecordsetTest, AStepErrorEndsTheRowsAndIsLogged) {
    ASSERT_EQ(Exec(L"insert into t values (-9223372036854775807 - 1, 'min')").result, value(DB::kDone));
    const value rs = Rows(L"select abs(a) from t");
    EXPECT_EQ(Call(rs, "next").result, value(true));
    EXPECT_EQ(Call(rs, "next").result, value(true));
    const auto failed = Call(rs, "next");  // abs() of the smallest integer overflows
    EXPECT_TRUE(failed.ok);
    EXPECT_EQ(failed.result, value(false));
    EXPECT_EQ(Property(rs, "valid"), value(false));
    EXPECT_EQ(CountLogLines(L"integer overflow"), 1);
}

TEST_F(RecordsetTest, ItemsByIndexNameAndSymbol) {
    const value rs = Rows(L"select a, b as Label from t where a = 2");
    EXPECT_EQ(Property(rs, "length"), value(2));
    EXPECT_EQ(Property(rs, "valid"), value(true));
    EXPECT_EQ(Item(rs, value(L"Label")), value(L"two"));
    EXPECT_EQ(Item(rs, value::symbol(L"a")), value(2));
    EXPECT_EQ(test::Iterate(vm_, rs).result, value::make_array({value(2), value(L"two")}));

    const auto past = test::GetItem(vm_, rs, value(5));  // nothing, silently
    EXPECT_TRUE(past.ok);
    EXPECT_TRUE(past.result.is_undefined());
    EXPECT_TRUE(test::GetItem(vm_, rs, value(-1)).ok);

    for (const value& key : {value(L"label"), value(L"b"), value::symbol(L"zz"), value(1.0), value::null()}) {
        const auto missing = test::GetItem(vm_, rs, key);
        EXPECT_FALSE(missing.ok) << text::ToUtf8(key.to_json());
        EXPECT_EQ(missing.error, L"Field with the index is not found");
        EXPECT_TRUE(missing.result.is_undefined());
    }
}

TEST_F(RecordsetTest, IntegersBeyond32BitsReadAsTheirLowBits) {
    const value rs = Rows(L"select 4294967303, -4294967297, 2147483648");
    EXPECT_EQ(test::Iterate(vm_, rs).result, value::make_array({value(7), value(-1), value(-2147483647 - 1)}));
}

TEST_F(RecordsetTest, NamesOfEachKind) {
    const value rs = Rows(L"select a as x, b, a + 1 from t");
    EXPECT_EQ(Call(rs, "name", {value(0)}).result, value(L"x"));
    EXPECT_EQ(Call(rs, "name", {value(0), value::symbol(L"logical")}).result, value(L"x"));
    EXPECT_EQ(Call(rs, "name", {value(0), value::symbol(L"field")}).result, value(L"a"));
    EXPECT_EQ(Call(rs, "name", {value(1), value::symbol(L"table")}).result, value(L"t"));
    EXPECT_EQ(Call(rs, "name", {value(1), value::symbol(L"database")}).result, value(L"main"));
    EXPECT_TRUE(Call(rs, "name", {value(2), value::symbol(L"field")}).result.is_undefined());  // an expression
    EXPECT_TRUE(Call(rs, "name", {value(9)}).result.is_undefined());

    const auto unknown = Call(rs, "name", {value(0), value::symbol(L"column")});
    EXPECT_EQ(unknown.error, L"Unknown type of name");
    EXPECT_EQ(unknown.result, value(false));

    Call(rs, "close");
    const auto closed = Call(rs, "name", {value(0)});
    EXPECT_EQ(closed.error, L"Recordset is already closed");
    EXPECT_EQ(closed.result, value(false));
}

TEST_F(RecordsetTest, OnlyDBExecMakesOne) {
    const auto made = test::Construct(vm_, "Recordset");
    EXPECT_FALSE(made.ok);
    EXPECT_EQ(made.error, L"Recordset is creatable only by DB.exec()");
    EXPECT_TRUE(made.result.is_null());
}

// SQLite's exclusive lock, taken on a connection of its own that waits for nobody.
bool CanLockExclusively(const std::wstring& path) {
    sqlite3* other = nullptr;
    if (sqlite3_open(text::ToUtf8(path).c_str(), &other) != SQLITE_OK) return false;
    const bool locked = sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (locked) sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    return locked;
}

TEST_F(RecordsetTest, ClosingTheDBUnderAnOpenRecordsetFreesTheFileWhenTheRecordsetGoes) {
    const value rs = Rows(L"select a from t order by a");
    EXPECT_EQ(Call(db_, "close").result, value(DB::kBusy));
    EXPECT_FALSE(Call(db_, "exec", {value(L"select 1")}).ok);  // the DB counts as closed

    // The rows stay readable until the Recordset goes, and so does the read lock.
    EXPECT_EQ(Call(rs, "next").result, value(true));
    EXPECT_EQ(Item(rs, value(0)), value(2));
    EXPECT_FALSE(CanLockExclusively(path_));
    EXPECT_EQ(Call(rs, "close").result, value(true));
    EXPECT_TRUE(CanLockExclusively(path_));
}

TEST_F(RecordsetTest, DroppingTheLastReferencesFinalizesAndCloses) {
    {
        value rs = Rows(L"select a from t");
        db_ = value();  // the connection waits for the statement
        EXPECT_FALSE(CanLockExclusively(path_));
    }
    EXPECT_TRUE(CanLockExclusively(path_));
}

}  // namespace
