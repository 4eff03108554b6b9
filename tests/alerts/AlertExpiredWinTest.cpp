#include "AlertExpiredWin.h"

#include <gtest/gtest.h>

#include <string>

#include "../records/RecordsFixture.h"
#include "../ui/UiTestSupport.h"
#include "Alert.h"
#include "DataClassKit.h"

namespace test = uie::test;
using uie::value;

namespace {

// The window served by the test thread, on the records fixture's user database.
class AlertExpiredWinTest : public RecordsTest {
protected:
    AlertExpiredWinTest() {
        test::PageHost::Reset();
        saved_ = g_Config.m_config;
        win_.m_cs.page = ScrambledPage("expired-alert.htm");
        win_.m_cs.ownThread = false;
        EXPECT_EQ(win_.Start(), 0);
        hwnd_ = win_.GetHwnd();
        // SQLite's 'now' is the real clock: the rows are dated by it.
        today_ = std::stoi(FirstValue(L"select strftime('%Y%m%d','now','localtime');"));
        yesterday_ = std::stoi(FirstValue(L"select strftime('%Y%m%d',datetime('now','-1 day'),'localtime');"));
        older_ = std::stoi(FirstValue(L"select strftime('%Y%m%d',datetime('now','-2 day'),'localtime');"));
    }
    ~AlertExpiredWinTest() override {
        g_pAlert = nullptr;
        g_Config.m_config = saved_;
    }

    void Pump() {
        MSG msg{};
        while (PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    std::vector<std::wstring> PageCalls() const {
        std::vector<std::wstring> calls;
        for (const auto& call : test::PageHost::Calls()) {
            if (call.hwnd != hwnd_) continue;
            calls.push_back(text::FromUtf8(call.name) + (call.args.empty() ? L"" : L" " + call.args[0].to_json()));
        }
        return calls;
    }
    void InsertRow(int alertDate, int alertNo, const std::wstring& message) {
        Exec(L"insert into tAlertExpired values (" + std::to_wstring(alertDate) + L"," + std::to_wstring(alertNo) +
             L",1,'0',7,'" + text::QuoteSql(message) + L"',930,'1','1','');");
    }
    int Rows(int alertDate, int alertNo, int no) {
        return std::stoi(FirstValue(L"select count(*) from tAlertExpired where alertDate=" + std::to_wstring(alertDate) +
                                    L" and alertNo=" + std::to_wstring(alertNo) + L" and no=" + std::to_wstring(no)));
    }
    static value One(const value& entry) {
        value array = value::make_array();
        array.append(entry);
        return array;
    }

    struConfig saved_;
    CAlertExpiredWin win_;
    HWND hwnd_ = nullptr;
    int today_ = 0, yesterday_ = 0, older_ = 0;
};

TEST_F(AlertExpiredWinTest, ReadsTodayAndYesterdayOnlyAndKeepsItsListWhenTheTableFails) {
    InsertRow(today_, 1, L"today's");
    InsertRow(yesterday_, 2, L"yesterday");
    InsertRow(older_, 3, L"older");
    EXPECT_EQ(win_.ReadAlertExpiredFromDB(), 2);
    const value list = win_.GetList();
    ASSERT_EQ(list.length(), 2u);
    for (std::size_t i = 0; i < list.length(); ++i) EXPECT_NE(list.nth(i).get_item(value(L"alertNo")).get_int(), 3);
    const value first = list.nth(0).get_item(value(L"alertNo")).get_int() == 1 ? list.nth(0) : list.nth(1);
    EXPECT_EQ(first.to_json(), L"{\"alertDate\":" + std::to_wstring(today_) +
                                   L",\"alertNo\":1,\"no\":1,\"alertType\":\"0\",\"actionNo\":7,\"message\":\"today's\","
                                   L"\"alertMinute\":930,\"actionRuleFlag\":\"1\",\"status\":\"1\",\"note\":\"\"}");
    EXPECT_EQ(Rows(older_, 3, 1), 1);  // no longer read, never deleted

    Exec(L"alter table tAlertExpired rename to tAlertExpiredAway;");
    EXPECT_EQ(win_.ReadAlertExpiredFromDB(), 0);
    EXPECT_EQ(win_.GetCount(), 2);
}

TEST_F(AlertExpiredWinTest, ExpiringTwiceKeepsOneEntryAndOneRowWithItsTextsWhole) {
    const std::wstring message = L"O'Brien's " + std::wstring(2000, L'长');
    const value entry = records::MakeObject({{L"alertDate", value(today_)},
                                             {L"alertNo", value(4)},
                                             {L"no", value(100)},
                                             {L"alertType", value(L"0")},
                                             {L"actionNo", value(9)},
                                             {L"message", value(message)},
                                             {L"alertMinute", value(1745)},
                                             {L"actionRuleFlag", value(L"1")}});  // no status, no note
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(win_.AddAlertExpired(One(entry)), 1);
        EXPECT_EQ(win_.InsertAlertExpiredToDB(today_, 4, 100), 0);
    }
    EXPECT_EQ(Rows(today_, 4, 100), 1);
    EXPECT_EQ(FirstValue(L"select message from tAlertExpired where alertNo=4"), message);
    EXPECT_EQ(FirstValue(L"select status || '|' || note || '|' || alertMinute from tAlertExpired where alertNo=4"),
              L"||1745");

    // Not exactly one object: nothing changes; an entry not listed writes nothing.
    value two = One(entry);
    two.append(entry);
    EXPECT_EQ(win_.AddAlertExpired(two), 1);
    EXPECT_EQ(win_.AddAlertExpired(entry), 1);
    EXPECT_EQ(win_.AddAlertExpired(value::make_array()), 1);
    EXPECT_EQ(win_.InsertAlertExpiredToDB(today_, 4, 1), -1);
    EXPECT_EQ(Rows(today_, 4, 1), 0);

    // Answered: out of the list and the table.
    EXPECT_EQ(win_.DeleteAlertExpiredFromDB(today_, 4, 100), 1);
    win_.RemoveAlertExpired(today_, 4, 100);
    EXPECT_EQ(win_.GetCount(), 0);
    EXPECT_EQ(Rows(today_, 4, 100), 0);
}

TEST_F(AlertExpiredWinTest, TheTrayBringsItUpOnlyForANewCountWithTheSettingOn) {
    InsertRow(today_, 1, L"a");
    ASSERT_EQ(win_.ReadAlertExpiredFromDB(), 1);
    g_Config.m_config.ShowMessageBox = false;
    win_.ShowAlertExpired(-1, true);
    Pump();
    EXPECT_TRUE(PageCalls().empty());
    EXPECT_FALSE(IsWindowVisible(hwnd_));

    g_Config.m_config.ShowMessageBox = true;
    win_.ShowAlertExpired(-1, false);
    Pump();
    EXPECT_EQ(PageCalls(), (std::vector<std::wstring>{L"EABandAlertExpiredInfo 1"}));
    EXPECT_FALSE(IsWindowVisible(hwnd_));
    win_.ShowAlertExpired(-1, true);
    Pump();
    EXPECT_EQ(PageCalls().size(), 2u);
    EXPECT_TRUE(IsWindowVisible(hwnd_));
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(hwnd_, &rect));
    EXPECT_EQ(rect.left, 1920 - 320 - 20);
    EXPECT_EQ(rect.top, 1080 - 240);

    // The count was acknowledged: the tray leaves it alone.
    ShowWindow(hwnd_, SW_HIDE);
    CAlert alert;
    g_pAlert = &alert;
    alert.m_nAckExpiredCount = 1;
    win_.ShowAlertExpired(-1, true);
    Pump();
    EXPECT_EQ(PageCalls().size(), 2u);
    EXPECT_FALSE(IsWindowVisible(hwnd_));
}

}  // namespace
