// Function use against a real user database, a loopback server and a main frame made on
// this thread: what tFuncOp and tUser get, what memory holds, what is posted.
#include "funcOp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Hooks.h"
#include "LogReader.h"
#include "RecordsFixture.h"
#include "userInfo.h"

namespace {

using uie::test::GetProperty;

class FuncOpTest : public RecordsTest {
protected:
    FuncOpTest() {
        // The user's row as a previous login left it.
        Exec(L"update tUser set userNo=1001, userID='ann', syncNo=5, lastPluseTime='kept', modifyTime='before'");
        EXPECT_EQ(user_.ReadUserFromDB(), 1);
        user_.RegisterScriptObject(vm_);
        g_pUserInfo = &user_;
        Insert(L"home", 4);
        Insert(L"it's", 0);
        Hooks().localTime = [](SYSTEMTIME& st) { st = SYSTEMTIME{2024, 5, 1, 6, 7, 8, 9, 0}; };
        Posted();
    }
    ~FuncOpTest() override {
        EndWorkers();
        g_pUserInfo = nullptr;
    }

    void Insert(const std::wstring& id, int totalCount, const wchar_t* status = L"1") {
        Exec(L"insert into tFuncOp (funcID, funcName, totalCount, lastOpTime, lowerSecond, opValueA1, opValueB1, "
             L"middleSecond, opValueA2, opValueB2, upperSecond, opValueA3, opValueB3, status, note) values ('" +
             text::QuoteSql(id) + L"', 'name', " + std::to_wstring(totalCount) +
             L", '2000-01-01 00:00:00', 60, 1, 11, 3600, 2, 12, 86400, 3, 13, '" + status + L"', 'n')");
    }
    std::wstring Count(const std::wstring& id) {
        return Column(L"tFuncOp", L"totalCount", L" where funcID='" + text::QuoteSql(id) + L"'");
    }
    std::wstring TotalOfCounts() { return FirstValue(L"select sum(totalCount) from tFuncOp"); }

    // The reply to an upload: result, message, funcID, two unused fields, the profile.
    static std::vector<std::wstring> Fields(const std::wstring& funcID, int syncNo, const std::wstring& code = L"0",
                                            int userNo = 1001) {
        return {code, L"ok", funcID, L"x", L"y", std::to_wstring(userNo), L"ann", L"Ann", L"secret", L"20200101",
                L"dev-1", L"1", L"2026-01-01 08:00:00", L"2026-01-01 10:00:00", L"10.0.0.1", L"7", L"101010100",
                L"A", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10", L"11", std::to_wstring(syncNo), L"1",
                L"Bob's note"};
    }
    static std::wstring Reply(const std::wstring& funcID, int syncNo, const std::wstring& code = L"0",
                              int userNo = 1001) {
        return JoinFields(Fields(funcID, syncNo, code, userNo));
    }
    uie::value Prop(const char* name) { return GetProperty(vm_, "user", name).result; }

    CUserInfo user_;
    CFuncOp funcOp_;
};

TEST_F(FuncOpTest, LoadHoldsTheFunctionsInForceAndKeepsThemWhenTheDatabaseFails) {
    Insert(L"off", 9, L"0");
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    const auto home = funcOp_.GetFuncOp(L"home");
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(home->totalCount, 4);
    EXPECT_EQ(home->lastOpTime, L"2000-01-01 00:00:00");
    EXPECT_EQ(home->lowerSecond, 60);
    EXPECT_EQ(home->opValueB2, 12);
    EXPECT_EQ(home->opValueB3, 13);
    EXPECT_EQ(home->status, L"1");
    EXPECT_EQ(home->note, L"n");
    EXPECT_TRUE(funcOp_.GetFuncOp(L"it's").has_value());
    EXPECT_FALSE(funcOp_.GetFuncOp(L"off").has_value());

    // A second load updates what it holds.
    Exec(L"update tFuncOp set totalCount=40 where funcID='home'");
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.GetFuncOp(L"home")->totalCount, 40);

    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "missing.db").string());
    EXPECT_FALSE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.GetFuncOp(L"home")->totalCount, 40);
}

TEST_F(FuncOpTest, RefusedRepliesChangeNeitherTable) {
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"home", 6, L"1")), 0);
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"home", 6, L"-3")), 0);

    // Success, but the profile is cut short: its missing fields would blank the row.
    std::vector<std::wstring> fields = Fields(L"home", 6);
    fields.pop_back();
    const int logged = CountLogLines(L"reply 0x1140 cut short: 29 of 30 fields");
    EXPECT_EQ(funcOp_.BussDataProc(JoinFields(fields)), 0);
    EXPECT_EQ(CountLogLines(L"reply 0x1140 cut short: 29 of 30 fields"), logged + 1);

    EXPECT_EQ(Count(L"home"), L"4");
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"5");
    EXPECT_EQ(Column(L"tUser", L"modifyTime"), L"before");
    EXPECT_EQ(Prop("syncNo").get_int(), 5);
    EXPECT_EQ(funcOp_.GetFuncOp(L"home")->lastOpTime, L"2000-01-01 00:00:00");
    EXPECT_TRUE(Posted().empty());
}

TEST_F(FuncOpTest, UseWithTheHeldSyncNoIsCountedAndLeavesTheProfileAlone) {
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"home", 5)), 1);

    EXPECT_EQ(Count(L"home"), L"5");
    EXPECT_NE(Column(L"tFuncOp", L"lastOpTime", L" where funcID='home'"), L"2000-01-01 00:00:00");
    const auto home = funcOp_.GetFuncOp(L"home");
    EXPECT_EQ(home->lastOpTime, L"2024-05-06 07:08:09");
    EXPECT_EQ(home->totalCount, 4);  // memory keeps the loaded count
    EXPECT_EQ(Count(L"it's"), L"0");
    EXPECT_EQ(Column(L"tUser", L"modifyTime"), L"before");
    EXPECT_TRUE(Posted().empty());
}

TEST_F(FuncOpTest, NewSyncNoRefreshesTheProfileWhetherOrNotTheFunctionIsKnown) {
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"home", 6)), 1);
    EXPECT_EQ(Count(L"home"), L"5");
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"6");
    EXPECT_EQ(Column(L"tUser", L"userPass"), L"");
    EXPECT_EQ(Column(L"tUser", L"note"), L"Bob's note");
    EXPECT_EQ(Column(L"tUser", L"lastPluseTime"), L"kept");
    EXPECT_EQ(Column(L"tUser", L"lastOpTime"), L"2026-01-01 10:00:00");  // the field after lastLoginTime
    EXPECT_EQ(Prop("syncNo").get_int(), 6);
    EXPECT_EQ(Prop("userPass").get_string(), L"secret");
    EXPECT_EQ(Prop("note").get_string(), L"Bob's note");
    EXPECT_EQ(Prop("areaCodeNo").get_int(), 101010100);
    EXPECT_EQ(Prop("assessRank").get_int(), 11);
    EXPECT_EQ(user_.GetUser().lastPluseTime, L"kept");
    EXPECT_EQ(Posted(), std::vector<std::wstring>{L"8034"});

    // A function the table does not hold: nothing counted, the profile still taken.
    const std::wstring counts = TotalOfCounts();
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"gone", 7)), 1);
    EXPECT_EQ(TotalOfCounts(), counts);
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"7");
    EXPECT_EQ(Posted(), std::vector<std::wstring>{L"8034"});
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"gone", 7)), 0);
    EXPECT_TRUE(Posted().empty());

    // A profile whose row is not there: logged, memory and pages left as they were.
    const int logged = CountLogLines(L"ExecSQLSet:[0][update tUser set userID='ann'");
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"gone", 8, L"0", 2002)), 0);
    EXPECT_EQ(CountLogLines(L"ExecSQLSet:[0][update tUser set userID='ann'"), logged + 1);
    EXPECT_EQ(Prop("syncNo").get_int(), 7);
    EXPECT_EQ(Prop("userNo").get_int(), 1001);
    EXPECT_TRUE(Posted().empty());

    // Without a main frame the profile is still taken.
    g_pMainFrame = nullptr;
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"home", 9)), 1);
    g_pMainFrame = &frame_;
    EXPECT_EQ(Prop("syncNo").get_int(), 9);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(FuncOpTest, FunctionInTheTableButNotHeldIsCountedAndAnswersMinusOne) {
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    Insert(L"late", 2);
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"late", 6)), -1);
    EXPECT_EQ(Count(L"late"), L"3");
    EXPECT_FALSE(funcOp_.GetFuncOp(L"late").has_value());
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"5");
    EXPECT_TRUE(Posted().empty());
}

TEST_F(FuncOpTest, FunctionIdIsTextInTheStatement) {
    ASSERT_TRUE(funcOp_.ReadFuncOpFromDB());
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"it's", 5)), 1);
    EXPECT_EQ(Count(L"it's"), L"1");
    EXPECT_EQ(funcOp_.GetFuncOp(L"it's")->lastOpTime, L"2024-05-06 07:08:09");
    EXPECT_EQ(Count(L"home"), L"4");

    // A crafted id matches no function instead of every one.
    EXPECT_EQ(funcOp_.BussDataProc(Reply(L"x' or '1'='1", 5)), 0);
    EXPECT_EQ(Count(L"home"), L"4");
    EXPECT_EQ(Count(L"it's"), L"1");
}

}  // namespace
