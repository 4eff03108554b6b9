// The life indices against a real user database: a reply as one transaction, the posts
// made either way, and which day the start-up read takes.
#include "lifeIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTest.h"
#include "FeedFixture.h"
#include "LogReader.h"
#include "ReplyFields.h"

namespace {

std::wstring Row(int area, int date, const std::wstring& indexID, int messNo, const std::wstring& level = L"适宜") {
    return JoinFields({std::to_wstring(area), std::to_wstring(date), L"08", std::to_wstring(messNo), L"07", indexID,
                       level, L"多喝水", L"1", L"it's"});
}
std::wstring Reply(const std::vector<std::wstring>& rows) { return JoinFields(rows, L'\x03'); }

class LifeIndexTest : public FeedTest {
protected:
    LifeIndexTest() {
        g_pLifeIndex = &index_;
        index_.RegisterScriptObject(vm_);
        StartBar();
    }
    ~LifeIndexTest() override {
        EndWorkers();
        g_pLifeIndex = nullptr;
    }
    int Rows() { return std::stoi(FirstValue(L"select count(*) from tLiveIndex")); }
    uie::value Maps() { return uie::test::CallNative(vm_, "lifeIndex", "getLifeIndex").result; }
    std::wstring MapText(std::size_t n, const wchar_t* key) {
        return Maps().nth(n).get_item(uie::value(key)).get_string(L"<none>");
    }
    static std::wstring Indices(int n, int firstNo = 1) {
        std::vector<std::wstring> rows;
        for (int i = 0; i < n; ++i) rows.push_back(Row(101, 20260401, L"id" + std::to_wstring(i), firstNo + i));
        return Reply(rows);
    }
    // Both refreshes, to the main page and to the environment pop-up.
    void ExpectBothPosts() {
        EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8024"}));
        EXPECT_EQ(PopupCommands(), (std::vector<std::wstring>{L"8067"}));
    }

    CLifeIndex index_;
};

TEST_F(LifeIndexTest, AReplyReplacesTheSlotsUpToSix) {
    EXPECT_EQ(index_.BussDataProc(Indices(4)), 4);
    EXPECT_EQ(index_.GetCount(), 4);
    const uie::value maps = Maps();
    ASSERT_EQ(maps.length(), 4u);
    const uie::value first = maps.nth(0);
    std::vector<std::wstring> keys;
    for (const auto& [key, v] : *first.map_ptr()) keys.push_back(key.get_string());
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"areaCodeNo", L"solarCalendar", L"pubTime", L"liveIndexMessNo",
                                               L"gatherTime", L"indexID", L"indexLevel", L"indexNote", L"status",
                                               L"note", L"modifyTime"}));
    EXPECT_EQ(MapText(3, L"indexID"), L"id3");
    EXPECT_EQ(MapText(3, L"note"), L"it's");
    EXPECT_EQ(Rows(), 4);
    EXPECT_EQ(index_.m_nLiveIndexMessNo.load(), 1);
    ExpectBothPosts();

    EXPECT_EQ(index_.BussDataProc(Indices(8, 11)), 6);
    EXPECT_EQ(index_.GetCount(), 6);
    EXPECT_EQ(Rows(), 6);  // the first four updated in place, two more
    EXPECT_EQ(index_.m_nLiveIndexMessNo.load(), 11);
}

TEST_F(LifeIndexTest, AFailingStatementLeavesTableAndMemoryButStillPosts) {
    ASSERT_EQ(index_.BussDataProc(Indices(1)), 1);
    ExpectBothPosts();
    Exec(L"create trigger refuse before insert on tLiveIndex when new.indexID='bad' "
         L"begin select raise(abort, 'refused'); end");
    const int unique = 100000 + static_cast<int>(tick_ % 800000);
    const std::wstring reply = Reply({Row(unique, 20260401, L"id0", 5, L"较差"), Row(101, 20260401, L"bad", 6)});
    EXPECT_EQ(index_.BussDataProc(reply), 2);  // the rows held, though nothing was stored

    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Column(L"tLiveIndex", L"indexLevel"), L"适宜");
    EXPECT_EQ(index_.GetCount(), 1);
    EXPECT_EQ(MapText(0, L"indexLevel"), L"适宜");
    EXPECT_EQ(index_.m_nLiveIndexMessNo.load(), 1);
    EXPECT_EQ(CountLogLines(L"ExecSQLSet:[-1][insert into tLiveIndex (areaCodeNo, solarCalendar, pubTime, liveIndexMessNo, "
                            L"gatherTime, \t\t\t\t\tindexID, indexLevel, indexNote, status, note,modifyTime) values (" +
                            std::to_wstring(unique) + L", "),
              1);
    ExpectBothPosts();
}

TEST_F(LifeIndexTest, RowsAllHeldRunAnEmptyTransactionAndPost) {
    ASSERT_EQ(index_.BussDataProc(Indices(2)), 2);
    ExpectBothPosts();
    Exec(L"delete from tLiveIndex");
    EXPECT_EQ(index_.BussDataProc(Indices(2)), 2);
    EXPECT_EQ(Rows(), 0);  // nothing was written
    EXPECT_EQ(index_.GetCount(), 2);
    ExpectBothPosts();
}

TEST_F(LifeIndexTest, ARowCutShortEndsTheRows) {
    const int unique = 100000 + static_cast<int>(tick_ % 800000);
    std::wstring cut = Row(unique, 20260401, L"idx", 9);
    cut.erase(cut.rfind(L'\x02', cut.size() - 2) + 1);  // 9 fields
    EXPECT_EQ(index_.BussDataProc(Reply({Row(101, 20260401, L"id0", 1), cut, Row(101, 20260401, L"id2", 3)})), 1);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(index_.GetCount(), 1);
    EXPECT_EQ(CountLogLines(L"reply 0x1102 cut short: 9 of 10 fields:[" + std::to_wstring(unique) + L"\x02"), 1);
}

TEST_F(LifeIndexTest, TheStartUpReadTakesTheLocalDateAndKeepsItsModifyTime) {
    const int yesterday = SqliteDate(-1), today = SqliteDate(0);
    for (const auto& [date, id, no] : std::vector<std::tuple<int, const wchar_t*, int>>{
             {yesterday, L"old", 10}, {today, L"a", 20}, {today, L"b", 21}}) {
        Exec(L"insert into tLiveIndex (areaCodeNo, solarCalendar, liveIndexMessNo, indexID, modifyTime) values (101, " +
             std::to_wstring(date) + L", " + std::to_wstring(no) + L", '" + id + L"', 'stamp')");
    }
    EXPECT_EQ(index_.LoadFromDB(101), 0);
    EXPECT_EQ(index_.GetCount(), 2);
    EXPECT_EQ(MapText(0, L"indexID"), L"a");
    EXPECT_EQ(MapText(1, L"indexID"), L"b");
    EXPECT_EQ(index_.m_nLiveIndexMessNo.load(), 20);

    // A reply's record keeps the modifyTime read at start-up.
    EXPECT_EQ(index_.BussDataProc(Reply({Row(101, today, L"a", 22, L"较差")})), 1);
    EXPECT_EQ(MapText(0, L"indexLevel"), L"较差");
    EXPECT_EQ(MapText(0, L"modifyTime"), L"stamp");
    EXPECT_EQ(index_.GetCount(), 1);

    CLifeIndex none;
    EXPECT_EQ(none.LoadFromDB(102), 0);
    EXPECT_EQ(none.GetCount(), 0);
}

}  // namespace
