// The "alert" object as a page calls it, with both alert windows served by the test thread.
#include <string>
#include <vector>

#include "../ui/UiTestSupport.h"
#include "AlertExpiredWin.h"
#include "AlertFixture.h"
#include "AlertMessageWin.h"
#include "DataClassKit.h"
#include "LogReader.h"
#include "TrayIcon.h"

namespace {

namespace test = uie::test;
using uie::value;
using Strings = std::vector<std::wstring>;

value Object(std::initializer_list<std::pair<const wchar_t*, value>> members) { return records::MakeObject(members); }

value Array(std::initializer_list<value> items) {
    value array = value::make_array();
    for (const value& item : items) array.append(item);
    return array;
}

class AlertScriptTest : public AlertTest {
protected:
    AlertScriptTest() {
        test::PageHost::Reset();
        savedShowMessageBox_ = g_Config.m_config.ShowMessageBox;
        for (auto [window, page] : {std::pair<CSciterWindow*, const char*>{&popup_, "alert-popwin.htm"},
                                    std::pair<CSciterWindow*, const char*>{&expired_, "expired-alert.htm"}}) {
            window->m_cs.page = ScrambledPage(page);
            window->m_cs.ownThread = false;
            EXPECT_EQ(window->Start(), 0);
        }
        g_pAlertMessageWin = &popup_;
        g_pAlertExpiredWin = &expired_;
        alert_->RegisterScriptObject(vm_);
    }
    ~AlertScriptTest() override {
        g_pAlertMessageWin = nullptr;
        g_pAlertExpiredWin = nullptr;
        g_pTrayIcon = nullptr;
        Pump();
        g_Config.m_config.ShowMessageBox = savedShowMessageBox_;
    }

    value Call(const char* method, std::vector<value> args = {}) {
        return test::CallNative(vm_, "alert", method, std::move(args)).result;
    }
    int CallInt(const char* method, std::vector<value> args = {}) { return Call(method, std::move(args)).get_int(-99); }
    // Runs what was posted to the two windows.
    void Pump() {
        MSG msg{};
        for (HWND hwnd : {popup_.GetHwnd(), expired_.GetHwnd()}) {
            while (hwnd != nullptr && PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
    }
    void QueuePopups(int count) {
        for (int i = 1; i <= count; ++i) popup_.AddAlert(Object({{L"alertNo", value(90 + i)}, {L"no", value(1)}}));
    }
    int ExpiredRows(int alertNo) {
        return std::stoi(FirstValue(L"select count(*) from tAlertExpired where alertNo=" + std::to_wstring(alertNo)));
    }
    value Ignore(int alertNo, int no, int delaySecond) {
        return Call("AlertIgnore", {Object({{L"alertNo", value(alertNo)},
                                            {L"no", value(no)},
                                            {L"delaySecond", value(delaySecond)}})});
    }
    DWORD PutOffMs(int alertNo, int no) {
        const struAlertConfigDetail d = Detail(alertNo, no);
        return d.delayUntilTick - d.delayStartTick;
    }

    CAlertMessageWin popup_;
    CAlertExpiredWin expired_;
    bool savedShowMessageBox_ = false;
};

TEST_F(AlertScriptTest, APageReloadsTheRulesAndReadsTodaysList) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    AddAlert(1, 2, 1000);
    EXPECT_TRUE(Call("SendReLoadAlertMessage").is_undefined());
    ASSERT_TRUE(WaitFor([this] { return alert_->ItemCount() == 2; }));  // the rules, then their conditions
    At(900);
    Calc();
    const value today = Call("GetToDayShowAlertInfo");
    ASSERT_EQ(today.length(), 2u);
    EXPECT_EQ(today.nth(1).get_item(value(L"no")).get_int(), 2);
}

TEST_F(AlertScriptTest, PutOffCountsDownShowsItsCountThenPopsUpAgain) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(930);
    Calc();
    ASSERT_EQ(due_.size(), 1u);  // due now: the first pop-up
    QueuePopups(1);

    EXPECT_EQ(Ignore(1, 1, 90).get_int(-99), 0);
    EXPECT_TRUE(popup_.GetQueue().empty());
    EXPECT_EQ(alert_->GetLastMinute(), CAlert::kRecalcMinute);
    EXPECT_EQ(PutOffMs(1, 1), 90000u);
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,1:5"}));
    EXPECT_EQ(Entry(0).get_item(value(L"alertComeDownMinute")).get_int(), 2);
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"延1 - msg1-1");
    Tick(tickNow_ + 30000);
    Calc();
    EXPECT_EQ(Entry(0).get_item(value(L"alertComeDownMinute")).get_int(), 1);
    Tick(tickNow_ + 60000);
    Calc();
    EXPECT_TRUE(Listed().empty());
    ASSERT_EQ(due_.size(), 1u);  // the put-off is over: the second pop-up
    EXPECT_EQ(due_[0].form, AlertDelivery::kPopup);
    EXPECT_EQ(Detail(1, 1).delayUntilTick, 0u);

    // Put off again: the count shows.
    EXPECT_EQ(Call("AlertIgnore", {Object({{L"alertNo", value(1)}, {L"no", value(1)}})}).get_int(-99), 0);
    EXPECT_EQ(PutOffMs(1, 1), 180000u);  // the default
    Calc();
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"延2 - msg1-1");
}

TEST_F(AlertScriptTest, PutOffBoundsLongDelaysAndTheTickWrap) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(930);
    // 150 minutes: shown at 09:30 + 2:30.
    EXPECT_EQ(Ignore(1, 1, 9000).get_int(-99), 0);
    Calc();
    EXPECT_EQ(Entry(0).get_item(value(L"alertComeDownMinute")).get_int(), 150);
    EXPECT_EQ(Entry(0).get_item(value(L"alertMinute")).get_int(), 1200);
    // Out of range: one second at least, a day at most, no overflow.
    Ignore(1, 1, -5);
    EXPECT_EQ(PutOffMs(1, 1), 1000u);
    Ignore(1, 1, 2'000'000'000);
    EXPECT_EQ(PutOffMs(1, 1), 86'400'000u);

    // Put off 90 s just before the tick wraps: still ahead after the wrap, over on time.
    Tick(0xFFFFFFFFu - 9999u);
    Ignore(1, 1, 90);
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,1:5"}));
    Tick(70000);  // 80 s on
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,1:5"}));
    Tick(80001);
    Calc();
    EXPECT_TRUE(Listed().empty());
    EXPECT_EQ(due_.size(), 1u);
    // A deadline that lands on 0 would read as none: it is 1.
    Tick(0xFFFFFFFFu - 89999u);
    Ignore(1, 1, 90);
    EXPECT_EQ(Detail(1, 1).delayUntilTick, 1u);
}

TEST_F(AlertScriptTest, PutOffOfAnUnknownOrUnreadableReminder) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    QueuePopups(3);
    EXPECT_EQ(Ignore(1, 2, 90).get_int(-99), -1);  // unknown: the pop-up still moves on
    EXPECT_EQ(popup_.GetQueue().size(), 2u);
    EXPECT_EQ(Detail(1, 1).delayCount, 0);
    // An object without members, a missing or mistyped argument: nothing moves.
    EXPECT_EQ(CallInt("AlertIgnore", {value::make_map()}), 0);
    EXPECT_EQ(CallInt("AlertIgnore"), -1);
    EXPECT_EQ(CallInt("AlertIgnore", {value(3)}), -1);
    EXPECT_EQ(popup_.GetQueue().size(), 2u);
    EXPECT_EQ(Detail(1, 1).delayCount, 0);
}

TEST_F(AlertScriptTest, AnAnswerEndsAPutOffAndStaysInMemory) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(931, 15);
    Ignore(1, 1, 600);
    QueuePopups(2);
    EXPECT_EQ(CallInt("AlertResponse", {Array({Object({{L"alertNo", value(1)}, {L"no", value(1)},
                                                        {L"responseType", value(L"done")}}),
                                               Object({{L"alertNo", value(8)}, {L"no", value(8)}})})}),
              0);
    EXPECT_EQ(popup_.GetQueue().size(), 1u);
    const struAlertConfigDetail d = Detail(1, 1);
    EXPECT_EQ(d.delayUntilTick, 0u);
    EXPECT_EQ(d.lastResponseType, L"done");
    EXPECT_EQ(d.lastResponseTime, L"2026-03-11 09:31:15.000");
    EXPECT_EQ(Column(L"tAlertConfigDetail", L"ifnull(lastResponseType,'')", L" where alertNo=1"), L"");
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,1:2"}));

    EXPECT_EQ(CallInt("AlertResponse", {value::make_array()}), 0);  // nothing answered, still moves on
    EXPECT_TRUE(popup_.GetQueue().empty());
    EXPECT_EQ(CallInt("AlertResponse"), -1);
}

TEST_F(AlertScriptTest, LetPassTwiceIsExpiredOnceThenAnsweredAway) {
    AddAlert(2, 100, 930);
    SetDetail(2, 100, L"repeatFlag='1', message='it''s time'");
    ASSERT_EQ(Load(), 1);
    At(931);
    Calc();
    QueuePopups(4);
    EXPECT_EQ(CallInt("AlertNoResponse", {value(7), value(7)}), 0);  // unknown: nothing stored
    EXPECT_EQ(expired_.GetCount(), 0);
    EXPECT_EQ(popup_.GetQueue().size(), 3u);
    for (int round = 0; round < 2; ++round) EXPECT_EQ(CallInt("AlertNoResponse", {value(2), value(100)}), 0);
    EXPECT_EQ(alert_->GetLastMinute(), CAlert::kRecalcMinute);
    ASSERT_EQ(expired_.GetCount(), 1);
    EXPECT_EQ(ExpiredRows(2), 1);
    EXPECT_EQ(Column(L"tAlertExpired", L"alertDate || '|' || message || '|' || alertMinute"),
              std::to_wstring(kToday) + L"|it's time(100)|930");
    const value listed = Call("GetAlertExpired");
    ASSERT_EQ(listed.length(), 1u);
    EXPECT_EQ(listed.nth(0).get_item(value(L"alertFlag")).get_int(), 2);
    EXPECT_EQ(CallInt("AlertNoResponse", {value(L"2"), value(100)}), -1);

    // Answered: out of the table and the list; the pop-up shows its alert again as it is.
    Pump();
    const std::uint64_t seq = test::PageHost::LastSeq();
    const value answer = Object({{L"alertDate", value(kToday)}, {L"alertNo", value(2)}, {L"no", value(100)},
                                 {L"responseType", value(L"seen")}});
    EXPECT_EQ(CallInt("AlertExpiredResponse", {Array({answer})}), 0);
    EXPECT_EQ(expired_.GetCount(), 0);
    EXPECT_EQ(ExpiredRows(2), 0);
    EXPECT_EQ(popup_.GetQueue().size(), 1u);
    Pump();
    const auto shown = test::PageHost::WaitForCall("AlertPopwinBandAlertInfo", std::chrono::milliseconds(0), seq);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->args.at(0).get_item(value(L"alertNo")).get_int(), 94);

    // Without the expired-alert window the answers are read and nothing breaks.
    g_pAlertExpiredWin = nullptr;
    EXPECT_EQ(CallInt("AlertExpiredResponse", {Array({answer})}), 0);
    EXPECT_TRUE(Call("GetAlertExpired").is_undefined());
    EXPECT_EQ(CallInt("AlertExpiredResponse", {value(1)}), -1);
}

TEST_F(AlertScriptTest, AcknowledgedExpiredCountStopsBlinkingUntilItChanges) {
    g_Config.m_config.ShowMessageBox = true;
    CTrayIcon tray;
    g_pTrayIcon = &tray;
    for (int alertNo = 1; alertNo <= 3; ++alertNo) {
        expired_.AddAlertExpired(Array({Object({{L"alertDate", value(kToday)}, {L"alertNo", value(alertNo)},
                                                {L"no", value(1)}})}));
    }
    Calc();
    EXPECT_TRUE(tray.GetBlink());
    ShowWindow(expired_.GetHwnd(), SW_SHOW);
    EXPECT_EQ(CallInt("CanceleFlicker"), 0);
    EXPECT_FALSE(tray.GetBlink());
    EXPECT_FALSE(IsWindowVisible(expired_.GetHwnd()));
    Calc();
    EXPECT_FALSE(tray.GetBlink());
    // One answered: the count changed, it blinks again.
    const auto answer = [this](int alertNo) {
        return CallInt("AlertExpiredResponse", {Array({Object({{L"alertDate", value(kToday)},
                                                               {L"alertNo", value(alertNo)},
                                                               {L"no", value(1)}})})});
    };
    EXPECT_EQ(answer(3), 0);
    Calc();
    EXPECT_TRUE(tray.GetBlink());

    // Acknowledged, then all answered: the next two are news again, though two were acknowledged.
    EXPECT_EQ(CallInt("CanceleFlicker"), 0);
    EXPECT_EQ(answer(1), 0);
    EXPECT_EQ(answer(2), 0);
    Calc();
    EXPECT_FALSE(tray.GetBlink());
    for (int alertNo = 4; alertNo <= 5; ++alertNo) {
        expired_.AddAlertExpired(Array({Object({{L"alertDate", value(kToday)}, {L"alertNo", value(alertNo)},
                                                {L"no", value(1)}})}));
    }
    Calc();
    EXPECT_TRUE(tray.GetBlink());
}

TEST_F(AlertScriptTest, ShowWindowKnowsFourWindows) {
    EXPECT_EQ(CallInt("ShowWindow", {value(L"FloatBarWin"), value(true)}), -1);
    EXPECT_EQ(CallInt("ShowWindow", {value(L"AlertMessageWin"), value(true)}), 0);
    EXPECT_TRUE(IsWindowVisible(popup_.GetHwnd()));
    EXPECT_EQ(CallInt("ShowWindow", {value(L"AlertMessageWin"), value(0)}), 0);
    EXPECT_FALSE(IsWindowVisible(popup_.GetHwnd()));
    EXPECT_EQ(CallInt("ShowWindow", {value(L"AlertExpiredWin"), value(1)}), 0);
    EXPECT_TRUE(IsWindowVisible(expired_.GetHwnd()));
    // Windows that are not there are left alone.
    EXPECT_EQ(CallInt("ShowWindow", {value(L"MessageWin"), value(true)}), 0);
    EXPECT_EQ(CallInt("ShowWindow", {value(L"ResPlayerWin"), value(true)}), 0);
    EXPECT_EQ(CallInt("ShowWindow", {value(L"AlertMessageWin")}), -1);
}

TEST_F(AlertScriptTest, WithoutTheAlertObjectEveryAnswerIsRefused) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    QueuePopups(1);
    g_pAlert = nullptr;
    const int logged = CountLogLines(L"g_pAlert == NULL");
    EXPECT_EQ(Ignore(1, 1, 90).get_int(-99), -1);
    EXPECT_EQ(CallInt("AlertResponse", {value::make_array()}), -1);
    EXPECT_EQ(CallInt("AlertNoResponse", {value(1), value(1)}), -1);
    EXPECT_EQ(CallInt("AlertExpiredResponse", {value::make_array()}), -1);
    EXPECT_TRUE(Call("GetToDayShowAlertInfo").is_undefined());
    EXPECT_EQ(CountLogLines(L"g_pAlert == NULL"), logged + 4);
    EXPECT_EQ(popup_.GetQueue().size(), 1u);
    EXPECT_EQ(Detail(1, 1).delayCount, 0);
    g_pAlert = alert_.get();
}

}  // namespace
