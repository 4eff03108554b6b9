#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "Config.h"
#include "DatabaseScriptObject.h"
#include "DefaultDatabase.h"
#include "LogReader.h"
#include "MyDatabase.h"
#include "MemberNames.h"
#include "ScriptDBFixture.h"

namespace {

using uie::value;
namespace test = uie::test;

// The object on a page VM of its own over a user database made from the default one,
// with the table lock's waits shortened.
class QuorvDbTest : public ::testing::Test {
protected:
    QuorvDbTest() : vm_(FreshVM()) {
        MakeDefaultDatabase(dir_ / "user.db");
        g_Config.m_config.userDBName = text::FromUtf8((dir_ / "user.db").string());
        db_.SetLockTiming(150, 1);
        db_.Init();
        g_pMyDatabase = &db_;
        EXPECT_TRUE(RegisterDatabaseScriptObject(vm_));
    }
    ~QuorvDbTest() override {
        g_pMyDatabase = nullptr;
        g_Config.m_config.userDBName.clear();
    }

    test::CallResult Call(const char* method, std::vector<value> args = {}) {
        return test::CallNative(vm_, "quorvDb", method, std::move(args));
    }
    value Property(const char* name) { return test::GetProperty(vm_, "quorvDb", name).result; }
    static value Statement(const wchar_t* sql) {
        value item = value::make_map();
        item.set_item(value(L"sql"), value(sql));
        return item;
    }

    TempDir dir_;
    CMyDatabase db_;
    HVM vm_;
};

TEST_F(QuorvDbTest, ClassesThenTheObjectWithItsTablesInOrder) {
    EXPECT_EQ(uie::NativeNames(vm_), (std::vector<std::string>{"DB", "Recordset", "quorvDb"}));
    const auto def = DatabaseScriptObjectDef();
    EXPECT_EQ(def, DatabaseScriptObjectDef());  // built once
    EXPECT_EQ(MemberNames(def->methods),
              (std::vector<std::string>{"LockSqliteTable", "UnLockSqliteTable", "ExecSql", "ExecSqlSet",
                                        "ExecSql_asyn", "SelectSQL", "GetDictAreaName", "GetDictAreaCodeName",
                                        "GetDictAreaNameByAreaCodeNo", "GetDictSolarTermsName",
                                        "GetDictWeatherName", "GetDictWindDirectionName", "GetDictLiveIndexIDName",
                                        "MakeSerialNo"}));
    EXPECT_EQ(MemberNames(def->properties),
              (std::vector<std::string>{"_userDBName", "tempDBName", "_bWriteDBLock", "_tableNameLock"}));
    EXPECT_TRUE(def->constants.empty());
    EXPECT_EQ(Property("_userDBName"), value(g_Config.m_config.userDBName));
    EXPECT_FALSE(test::SetProperty(vm_, "quorvDb", "_userDBName", value(L"x")).ok);
}

TEST_F(QuorvDbTest, TheTableLockAsAPageSeesIt) {
    EXPECT_EQ(Call("LockSqliteTable", {value(L"tUser"), value(-1)}).result, value(0));
    EXPECT_EQ(Property("_bWriteDBLock"), value(true));
    EXPECT_EQ(Call("LockSqliteTable", {value(L"tOther"), value(20)}).result, value(-1));  // not re-entrant
    EXPECT_EQ(Call("UnLockSqliteTable", {value(L"tUser")}).result, value(0));
    EXPECT_EQ(Property("_bWriteDBLock"), value(false));
    EXPECT_EQ(Property("_tableNameLock"), value(L"tUser"));
}

TEST_F(QuorvDbTest, AnEmptyStatementListNeedsNoLock) {
    std::thread([this] { EXPECT_EQ(db_.LockSqliteTable(L"elsewhere", -1), 0); }).join();
    EXPECT_EQ(Call("ExecSqlSet", {value::make_array()}).result, value(0));
    EXPECT_EQ(Call("ExecSqlSet", {value::make_array({Statement(L"delete from tUser")})}).result, value(-1));
    db_.UnLockSqliteTable(L"elsewhere");
    EXPECT_EQ(Call("ExecSqlSet", {value::make_array({Statement(L"delete from tUser")})}).result, value(0));
}

TEST_F(QuorvDbTest, StatementsAndSelects) {
    const value rows = Call("SelectSQL", {value(L"select 7 as n, 'x' as t")}).result;
    ASSERT_TRUE(rows.is_array());
    EXPECT_EQ(rows.nth(0).get_item(value(L"n")), value(L"7"));
    EXPECT_EQ(rows.nth(0).get_item(value(L"t")), value(L"x"));

    const auto broken = Call("SelectSQL", {value(L"selec 1")});
    EXPECT_TRUE(broken.ok);
    EXPECT_EQ(broken.result, value(-1));

    const int first = Call("MakeSerialNo", {value(5000), value(3)}).result.get_int(-99);
    EXPECT_GT(first, 0);
    EXPECT_EQ(Call("MakeSerialNo", {value(5000), value(1)}).result, value(first + 3));
    EXPECT_EQ(Call("MakeSerialNo", {value(5000), value(1001)}).result, value(-2));
    EXPECT_EQ(CountLogLines(L"MakeSerialNo[-2]"), 1);
}

TEST_F(QuorvDbTest, AMistypedArgumentStopsTheCallWithoutAValue) {
    const struct {
        const char* method;
        std::vector<value> args;
        const wchar_t* error;
    } cases[] = {
        {"GetDictWeatherName", {value(L"x")}, L"parameter 1, expecting integer"},
        {"GetDictLiveIndexIDName", {value(3)}, L"parameter 1, expecting string"},
        {"LockSqliteTable", {value(L"t")}, L"parameter 2, expecting integer"},
        {"ExecSqlSet", {value(L"delete from tUser")}, L"parameter 1, expecting array"},
        {"SelectSQL", {}, L"parameter 1, expecting string"},
        {"MakeSerialNo", {value(5000), value(L"1")}, L"parameter 2, expecting integer"},
    };
    for (const auto& c : cases) {
        const auto r = Call(c.method, c.args);
        EXPECT_FALSE(r.ok) << c.method;
        EXPECT_EQ(r.error, c.error) << c.method;
        EXPECT_TRUE(r.result.is_undefined()) << c.method;
    }
    EXPECT_EQ(Property("_bWriteDBLock"), value(false));
}

TEST_F(QuorvDbTest, WithoutTheDatabaseObjectTheFirstSixGiveMinusOne) {
    g_pMyDatabase = nullptr;
    EXPECT_EQ(Call("LockSqliteTable", {value(L"t"), value(0)}).result, value(-1));
    EXPECT_EQ(Call("UnLockSqliteTable", {value(L"t")}).result, value(-1));
    EXPECT_EQ(Call("ExecSql", {value(L"delete from tUser")}).result, value(-1));
    EXPECT_EQ(Call("ExecSqlSet", {value::make_array()}).result, value(-1));
    EXPECT_EQ(Call("ExecSql_asyn", {value(L"delete from tUser")}).result, value(-1));
    EXPECT_EQ(Call("SelectSQL", {value(L"select 1")}).result, value(-1));
    EXPECT_EQ(Call("GetDictWeatherName", {value(1)}).result, value(L""));
    EXPECT_EQ(Property("_bWriteDBLock"), value(false));
}

}  // namespace
