// The alert thread, the reload, the notices and the two deliveries with their records.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "AlertExpiredWin.h"
#include "AlertFixture.h"
#include "AlertMessageWin.h"
#include "LogReader.h"
#include "Quorvix.h"
#include "WaitFor.h"

namespace {

using uie::value;
using Strings = std::vector<std::wstring>;

}  // namespace

// The engine with the two alert windows present (made, not started: the thread only
// needs them to exist).
class AlertRunTest : public AlertTest {
protected:
    AlertRunTest() {
        g_pAlertMessageWin = &popupWin_;
        g_pAlertExpiredWin = &expiredWin_;
    }
    ~AlertRunTest() override {
        alert_->StopWork();
        g_pAlertMessageWin = nullptr;
        g_pAlertExpiredWin = nullptr;
    }
    // The clock hook counts its readings in readings_; onReading sees each one's number.
    void CountClockReadings(std::function<void(int)> onReading = {}) {
        Hooks().localTime = [this, onReading](SYSTEMTIME& st) {
            std::lock_guard lock(clockLock_);
            st = now_;
            const int reading = ++readings_;
            if (onReading) onReading(reading);
        };
    }
    // Columns of the tAlertList rows of alertNo, in order.
    SqlRows ListRows(int alertNo) {
        return Rows(L"select * from tAlertList where alertNo=" + std::to_wstring(alertNo) + L";");
    }

    CAlertMessageWin popupWin_;
    CAlertExpiredWin expiredWin_;
    std::atomic<int> readings_{0};
};

TEST_F(AlertRunTest, DeliveryMessagesInBothForms) {
    struAlertConfigDetail d;
    d.alertNo = 3;
    d.no = 2;
    d.message = L"喝水";
    d.actionNo = 9;
    d.actionRuleFlag = L"1";
    d.alertLevel = 1;
    d.alertMode = 2;
    d.procMode = 3;
    EXPECT_EQ(CAlert::MakePopupMessage(d).to_json(),
              L"{\"title\":\"Quorv提醒\",\"alertNo\":3,\"no\":2,\"alertType\":\"0\",\"additionalMessage\":\"\","
              L"\"message\":\"喝水\",\"actionNo\":9,\"sourceType\":\"2\",\"alertLevel\":1,\"alertMode\":2,"
              L"\"procMode\":3}");
    d.actionRuleFlag = L"0";
    EXPECT_EQ(CAlert::MakePopupMessage(d).get_item(value(L"sourceType")).get_string(), L"1");
    EXPECT_EQ(CAlert::MakeListMessage(d).to_json(),
              L"{\"funcName\":\"BandCommonMessage\",\"title\":\"Quorv提醒\",\"alertNo\":3,\"no\":2,"
              L"\"alertType\":\"1\",\"additionalMessage\":\"\",\"message\":\"喝水\",\"actionNo\":9,\"alertLevel\":1,"
              L"\"alertMode\":2,\"procMode\":3}");
}

TEST_F(AlertRunTest, PopupDeliveryWritesStampsAndUploads) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(930);
    ASSERT_EQ(alert_->RecalcAndNotify(), 1);
    ASSERT_EQ(alert_->Popups().size(), 1u);
    EXPECT_EQ(alert_->Popups()[0].get_item(value(L"message")).get_string(), L"msg1-1");

    const SqlRows rows = ListRows(1);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 14u);
    EXPECT_EQ(rows[0][0], L"20260311");
    EXPECT_EQ(rows[0][3], L"0");
    EXPECT_EQ(rows[0][4], L"msg1-1");
    EXPECT_EQ(rows[0][7], L"930");
    EXPECT_EQ(rows[0][8].substr(0, 16), L"2026-03-11 09:30");  // the engine's clock
    EXPECT_EQ(rows[0][11], L"1");
    EXPECT_NE(rows[0][13], L"");
    EXPECT_NE(Column(L"tAlertConfigDetail", L"lastAlertTime", L" where alertNo=1"), L"2000-01-01 00:00:00");
    EXPECT_NE(Column(L"tAlertConfig", L"lastAlertTime", L" where alertNo=1"), L"2000-01-01 00:00:00");
    EXPECT_NE(Column(L"tAlertConfig", L"modifyTime", L" where alertNo=1"), L"");

    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest upload = server_.Requests()[0];
    EXPECT_EQ(upload.commandId, 0x1190);
    ASSERT_EQ(upload.fields.size(), 13u);
    EXPECT_EQ(upload.fields,
              (std::vector<std::string>{"7", "20260311", "1", "1", "0", "msg1-1", "sum", "0", "930",
                                        text::ToAnsi(rows[0][8]), "5", "0", ""}));
    EXPECT_TRUE(alert_->GetAlertList().empty()) << "only recurring deliveries are listed again";

    const std::vector<std::wstring> posted = Posted();
    EXPECT_NE(std::find(posted.begin(), posted.end(), L"8027"), posted.end());
    EXPECT_NE(std::find(posted.begin(), posted.end(), L"8038"), posted.end());
    EXPECT_EQ(std::find(posted.begin(), posted.end(), L"803A"), posted.end());
    alert_->PostToDayNotice(true);
    EXPECT_EQ(Posted(), (Strings{L"8027", L"8038", L"803A"}));
}

TEST_F(AlertRunTest, ADeliveredOneOffIsListedOnce) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(930);
    alert_->RecalcAndNotify();
    At(931);
    alert_->RecalcAndNotify();
    EXPECT_EQ(Listed(), Strings{L"1,1:2"});
    ASSERT_EQ(Load(), 1);  // a reload reads the list again
    alert_->RecalcAndNotify();
    EXPECT_EQ(Listed(), Strings{L"1,1:2"});
    EXPECT_EQ(alert_->Popups().size(), 1u);
}

TEST_F(AlertRunTest, NoUploadWithoutAStampedConfigRow) {
    AddAlert(1, 1, 930);
    AddAlert(2, 1, 930);
    Exec(L"delete from tAlertConfig where alertNo=1;");
    ASSERT_EQ(Load(), 1);
    struAlertConfigDetail first = Detail(1, 1);
    EXPECT_EQ(alert_->DeliverPopup(&first), 0);  // the stamp changed no row
    EXPECT_EQ(ListRows(1).size(), 1u);
    struAlertConfigDetail second = Detail(2, 1);
    alert_->DeliverPopup(&second);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(server_.Requests()[0].fields.at(2), "2");
    EXPECT_EQ(alert_->DeliverPopup(nullptr), 0);
    EXPECT_EQ(alert_->DeliverList(nullptr), 0);
}

TEST_F(AlertRunTest, AFailedStampIsNotUploaded) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    Exec(L"alter table tAlertConfig rename to tAlertConfigAway;");
    struAlertConfigDetail d = Detail(1, 1);
    EXPECT_EQ(alert_->DeliverPopup(&d), -1);
    EXPECT_EQ(ListRows(1).size(), 1u);
    Exec(L"alter table tAlertConfigAway rename to tAlertConfig;");
    EXPECT_EQ(alert_->DeliverPopup(&d), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(ListRows(1).size(), 2u);
}

TEST_F(AlertRunTest, AFailedInsertIsLogged) {
    const std::wstring token = L"lost-row-" + std::to_wstring(tick_);
    AddAlert(1, 1, 930);
    SetDetail(1, 1, L"message='" + token + L"'");
    ASSERT_EQ(Load(), 1);
    Exec(L"alter table tAlertList rename to tAlertListAway;");
    struAlertConfigDetail d = Detail(1, 1);
    alert_->DeliverPopup(&d);
    Exec(L"alter table tAlertListAway rename to tAlertList;");
    EXPECT_EQ(CountLogLines(L"insert into tAlertList fail:[insert into tAlertList values (20260311,1,1,'0','" + token),
              1);
}

TEST_F(AlertRunTest, ListDeliveryWithoutMessageWindowKeepsTextsIntact) {
    const std::wstring longText(3000, L'长');
    AddAlert(4, 1, 0, false);
    AddItem(4, 1, L"Date", L">", L"0");
    SetDetail(4, 1, L"alertType='1', message='it''s '' ; drop table tAlertList; --', note='" + longText + L"'");
    ASSERT_EQ(Load(), 1);
    At(1200);
    CAlert plain;  // the real queues; no message window exists
    ASSERT_EQ(plain.ReadAlertFormDB(), 1);
    struAlertConfigDetail d;
    ASSERT_TRUE(plain.GetDetail(4, 1, d));
    plain.DeliverList(&d);
    const SqlRows rows = ListRows(4);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][4], L"it's ' ; drop table tAlertList; --");
    EXPECT_EQ(rows[0][12], longText);
    ASSERT_TRUE(server_.WaitForRequests(1));
    EXPECT_EQ(plain.GetAlertList().size(), 1u);
    EXPECT_EQ(plain.GetAlertList()[0].alertMinute, 0);
}

TEST_F(AlertRunTest, WithoutThePopupNothingIsComputed) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    g_pAlertMessageWin = nullptr;
    At(930);
    Posted();
    EXPECT_TRUE(alert_->PollOnce());
    EXPECT_TRUE(alert_->Popups().empty());
    EXPECT_EQ(Detail(1, 1).alertState, -1);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(AlertRunTest, AReloadIsComputedWithinTheMinute) {
    At(1015, 20);
    ASSERT_EQ(Load(), 1);
    EXPECT_TRUE(alert_->PollOnce());
    EXPECT_FALSE(alert_->PollOnce());
    AddAlert(1, 1, 1100);
    At(1015, 30);
    alert_->StartReload();
    alert_->StartReload();  // while one runs: read once more, never twice at once
    ASSERT_TRUE(WaitFor([&] { return alert_->GetLastMinute() == CAlert::kRecalcMinute; }));
    At(1015, 32);
    EXPECT_TRUE(alert_->PollOnce());
    EXPECT_EQ(Listed(), Strings{L"1,1:0"});
}

TEST_F(AlertRunTest, ARecomputeAskedForDuringAComputationIsKept) {
    AddAlert(1, 1, 1100);
    ASSERT_EQ(Load(), 1);
    At(1000);
    HookScope restoreClock;
    CountClockReadings([this](int reading) {
        if (reading == 2) alert_->RequestRecalc();  // the computation's own reading
    });
    EXPECT_TRUE(alert_->PollOnce());
    EXPECT_EQ(alert_->GetLastMinute(), CAlert::kRecalcMinute);
    EXPECT_TRUE(alert_->PollOnce());
    EXPECT_FALSE(alert_->PollOnce());
}

TEST_F(AlertRunTest, AnAnswerDoesNotWaitForTheComputationsPacing) {
    for (int no = 1; no <= 8; ++no) AddAlert(1, no, 1100);
    ASSERT_EQ(Load(), 1);
    alert_->SetDetailPause(60000);  // the computation's pacing lasts till the thread's stop signal
    At(1000);
    HookScope restoreClock;
    CountClockReadings();
    std::atomic<bool> polled{false};
    std::thread poll([&] {
        alert_->PollOnce();
        polled = true;
    });
    ASSERT_TRUE(WaitFor([&] { return readings_.load() >= 2; }));  // the second is the computation's own
    auto answer = std::async(std::launch::async, [&] { return alert_->DelayAlert(1, 1, 60); });
    EXPECT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the answer waited";
    EXPECT_FALSE(polled);
    alert_->StopWork();  // the pacing ends with the thread's stop signal
    EXPECT_EQ(answer.get(), 0);
    poll.join();
}

TEST_F(AlertRunTest, TheThreadWaitsForTheFrameAndEndsWithTheProgram) {
    AddAlert(1, 1, 1100);
    At(1000);
    CMainFrame unready;  // made, its page never loaded; its making clears the window globals
    g_pAlertMessageWin = &popupWin_;
    // The window globals change only while no thread runs: it reads them unlocked.
    for (const auto& [frame, expired] : {std::pair<CMainFrame*, CAlertExpiredWin*>{&unready, &expiredWin_},
                                         std::pair<CMainFrame*, CAlertExpiredWin*>{&frame_, nullptr}}) {
        g_pMainFrame = frame;
        g_pAlertExpiredWin = expired;
        ASSERT_EQ(alert_->StartWork(), 1);
        EXPECT_EQ(alert_->StartWork(), 1);  // one thread only
        EXPECT_FALSE(WaitFor([&] { return alert_->IsRunning(); }, std::chrono::milliseconds(150)));
        alert_->StopWork();  // a thread still waiting ends too
    }
    EXPECT_TRUE(Listed().empty());
    g_pAlertExpiredWin = &expiredWin_;

    // After its computation the thread paces for a minute: the program's end ends that too.
    alert_->SetDetailPause(60000);
    ASSERT_EQ(alert_->StartWork(), 1);
    ASSERT_TRUE(WaitFor([&] { return Listed() == Strings{L"1,1:0"}; }));
    const int savedRun = g_nRunState.exchange(4);
    const bool ended = WaitFor([&] { return !alert_->IsRunning(); }, std::chrono::seconds(20));
    g_nRunState = savedRun;
    ASSERT_TRUE(ended);
    EXPECT_EQ(alert_->DetailCount(), 0u);
    EXPECT_EQ(alert_->ConfigCount(), 0u);
    EXPECT_EQ(alert_->ItemCount(), 0u);
}
