// The system parameters against a real user database: what is loaded, what a server
// record writes, and the rank tables they hand to the assessment.
#include "parameter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogReader.h"
#include "RecordsFixture.h"
#include "assessInfo.h"

namespace {

// 101 ranks "10,11,...,99,10,..." : all two-digit, about 290 characters.
std::wstring FullRankTable() {
    std::wstring value;
    for (int i = 0; i <= 100; ++i) {
        if (i > 0) value += L',';
        value += std::to_wstring(10 + i % 90);
    }
    return value;
}

class ParameterTest : public RecordsTest {
protected:
    ParameterTest() {
        g_pAssessInfo = &assess_;
        g_pParameter = &parameter_;
    }
    ~ParameterTest() override {
        EndWorkers();
        g_pParameter = nullptr;
        g_pAssessInfo = nullptr;
    }

    void Insert(int no, const std::wstring& id, const std::wstring& value, const wchar_t* status = L"1") {
        Exec(L"insert into tParameter (parameterNo, parameterID, value, syncNo, status, note) values (" +
             std::to_wstring(no) + L", '" + id + L"', '" + value + L"', 0, '" + status + L"', '')");
    }
    static std::wstring Reply(int no, const std::wstring& id, const std::wstring& value, int syncNo = 3) {
        return JoinFields({std::to_wstring(no), id, value, std::to_wstring(syncNo), L"1", L"it's new"});
    }

    CAssessInfo assess_;
    CParameter parameter_;
};

TEST_F(ParameterTest, LoadsTheFirstTwentyRowsInForceAndNothingElse) {
    Exec(L"delete from tParameter");
    for (int no = 1; no <= 25; ++no) Insert(no * 10, L"p" + std::to_wstring(no), L"v");
    Insert(5, L"off", L"v", L"0");

    EXPECT_EQ(parameter_.ReadParameterFromDB(), 1);
    EXPECT_EQ(parameter_.GetParameterCount(), 20u);
    const SqlRows first20 = Rows(L"select parameterNo from tParameter where status='1' limit 20");
    ASSERT_EQ(first20.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const auto p = parameter_.GetParameterByIndex(i);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->parameterNo, text::WToI(first20[static_cast<std::size_t>(i)].front().c_str()));
        EXPECT_NE(p->parameterID, L"off");
        EXPECT_EQ(p->status, L"1");
    }
    EXPECT_EQ(parameter_.GetParameterByIndex(0)->parameterNo, 10);  // the lowest number first
    EXPECT_FALSE(parameter_.GetParameterByIndex(20).has_value());
    EXPECT_FALSE(parameter_.GetParameterByIndex(-1).has_value());

    // A second load updates the records it holds in place.
    Exec(L"update tParameter set value='changed' where parameterNo=10");
    EXPECT_EQ(parameter_.ReadParameterFromDB(), 1);
    EXPECT_EQ(parameter_.GetParameterCount(), 20u);
    EXPECT_EQ(parameter_.GetParameterByIndex(0)->value, L"changed");
}

TEST_F(ParameterTest, LoadHandsRankTablesToTheAssessment) {
    Exec(L"update tParameter set value='5,6,7' where parameterID='assessPoint_type3'");
    EXPECT_EQ(parameter_.ReadParameterFromDB(), 1);
    EXPECT_EQ(parameter_.GetParameterCount(), 11u);
    const auto table = assess_.GetRankTable(L"assessPoint_type3");
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ((*table)[0], 5);
    EXPECT_EQ((*table)[2], 7);
    EXPECT_EQ((*table)[3], 0);
}

TEST_F(ParameterTest, LoadWithoutTheDatabaseFails) {
    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "missing.db").string());
    EXPECT_EQ(parameter_.ReadParameterFromDB(), 0);
    EXPECT_EQ(parameter_.GetParameterCount(), 0u);
}

TEST_F(ParameterTest, FullRankTableSurvivesAReplyAndAReload) {
    ASSERT_EQ(parameter_.ReadParameterFromDB(), 1);
    const std::wstring value = FullRankTable();
    ASSERT_GT(value.size(), 260u);

    EXPECT_EQ(parameter_.BussDataProc(Reply(1, L"assessPoint_all", value, 9)), 1);
    EXPECT_EQ(Column(L"tParameter", L"value", L" where parameterNo=1"), value);
    EXPECT_EQ(Column(L"tParameter", L"note", L" where parameterNo=1"), L"it's new");
    EXPECT_EQ(parameter_.GetParameterByIndex(0)->value, value);
    EXPECT_EQ(parameter_.GetParameterByIndex(0)->syncNo, 9);
    const auto table = assess_.GetRankTable(L"assessPoint_all");
    ASSERT_TRUE(table.has_value());
    for (int i = 0; i <= 100; ++i) EXPECT_EQ((*table)[static_cast<std::size_t>(i)], 10 + i % 90) << i;

    // The next start reads it back whole.
    CAssessInfo assess;
    CParameter parameter;
    g_pAssessInfo = &assess;
    EXPECT_EQ(parameter.ReadParameterFromDB(), 1);
    EXPECT_EQ(parameter.GetParameterByIndex(0)->value, value);
    EXPECT_EQ(assess.GetRankTable(L"assessPoint_all"), table);
    g_pAssessInfo = &assess_;
}

TEST_F(ParameterTest, NoDataMarkerWritesNothingAndIsLogged) {
    ASSERT_EQ(parameter_.ReadParameterFromDB(), 1);
    Exec(L"update tParameter set modifyTime='before'");
    const int logged = CountLogLines(L"BussDataProc_parameter err: NODATA_RETURN!");
    EXPECT_EQ(parameter_.BussDataProc(Reply(-99999, L"assessPoint_all", L"7")), 0);
    EXPECT_EQ(CountLogLines(L"BussDataProc_parameter err: NODATA_RETURN!"), logged + 1);
    EXPECT_EQ(Rows(L"select * from tParameter where modifyTime<>'before'").size(), 0u);
    EXPECT_EQ((*assess_.GetRankTable(L"assessPoint_all"))[0], 0);
}

TEST_F(ParameterTest, RankReplyReplacesTheWholeTable) {
    ASSERT_EQ(parameter_.ReadParameterFromDB(), 1);
    ASSERT_EQ(parameter_.BussDataProc(Reply(4, L"assessPoint_type2", FullRankTable())), 1);
    EXPECT_EQ(assess_.GetAssessRank(L"assessPoint_type2", 100), 10 + 100 % 90);

    EXPECT_EQ(parameter_.BussDataProc(Reply(4, L"assessPoint_type2", L"7")), 1);
    EXPECT_EQ(Column(L"tParameter", L"value", L" where parameterNo=4"), L"7");
    const auto table = assess_.GetRankTable(L"assessPoint_type2");
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ((*table)[0], 7);
    for (int i = 1; i <= 100; ++i) EXPECT_EQ((*table)[static_cast<std::size_t>(i)], 0) << i;
    EXPECT_EQ(parameter_.GetParameterByIndex(3)->value, L"7");
}

TEST_F(ParameterTest, ReplyForAnUnloadedNumberUpdatesTheTableOnly) {
    Exec(L"delete from tParameter");
    for (int no = 1; no <= 21; ++no) Insert(no, L"p" + std::to_wstring(no), L"old");
    ASSERT_EQ(parameter_.ReadParameterFromDB(), 1);
    ASSERT_EQ(parameter_.GetParameterCount(), 20u);

    EXPECT_EQ(parameter_.BussDataProc(Reply(21, L"p21", L"new")), 1);
    EXPECT_EQ(Column(L"tParameter", L"value", L" where parameterNo=21"), L"new");
    EXPECT_EQ(parameter_.GetParameterCount(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_NE(parameter_.GetParameterByIndex(i)->parameterNo, 21);

    // A number the table does not hold either: nothing written, nothing changed.
    EXPECT_EQ(parameter_.BussDataProc(Reply(99, L"p99", L"x")), 0);
    EXPECT_EQ(Rows(L"select * from tParameter where parameterNo=99").size(), 0u);
}

TEST_F(ParameterTest, FailedRankWriteLeavesTheTables) {
    ASSERT_EQ(parameter_.BussDataProc(Reply(4, L"assessPoint_type2", L"7")), 1);
    EXPECT_EQ(parameter_.BussDataProc(Reply(98, L"assessPoint_type2", L"50")), 0);  // no row 98
    EXPECT_EQ((*assess_.GetRankTable(L"assessPoint_type2"))[0], 7);
}

}  // namespace
