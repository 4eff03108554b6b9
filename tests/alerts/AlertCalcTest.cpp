// Today's reminders: which rules are listed, in which state, and which are due.
#include "AlertFixture.h"
#include "UserOperation.h"
#include "realWeather.h"

namespace {

using uie::value;
using Strings = std::vector<std::wstring>;

int Int(const value& object, const wchar_t* key) { return object.get_item(value(key)).get_int(-99); }

}  // namespace

TEST_F(AlertTest, TimeGivesStateAndCountDown) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(alert_->GetLastMinute(), CAlert::kRecalcMinute);

    At(900);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 0);
    EXPECT_EQ(Detail(1, 1).alertComeDownMinute, 30);
    EXPECT_EQ(Listed(), Strings{L"1,1:0"});

    At(745);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertComeDownMinute, 145);  // 1 h 45 written as hhmm
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 930);

    At(930, 10);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 1);
    ASSERT_EQ(due_.size(), 1u);
    EXPECT_EQ(due_[0].form, AlertDelivery::kPopup);
    EXPECT_EQ(due_[0].detail.message, L"msg1-1");
    EXPECT_TRUE(Listed().empty());
    At(930, 40);
    Calc();
    EXPECT_TRUE(due_.empty()) << "a due reminder reaches the pop-up once";

    At(931);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 2);
    EXPECT_EQ(Detail(1, 1).alertComeDownMinute, -1);
    EXPECT_EQ(Listed(), Strings{L"1,1:2"});
}

TEST_F(AlertTest, RulesOutsideTodayOrMalformedAreHidden) {
    AddAlert(1, 1, 2360);
    AddAlert(1, 2, 1260);
    AddAlert(1, 3, -1);
    AddAlert(1, 4, 1000);
    SetDetail(1, 4, L"status='0'");
    AddAlert(1, 5, 1000);
    SetDetail(1, 5, L"endDate=20260310");
    AddAlert(1, 6, 1000);
    SetDetail(1, 6, L"startDate=20260312");
    AddAlert(1, 7, 1000, false);  // no condition at all
    AddAlert(1, 8, 1000, false);
    AddItem(1, 8, L"Date", L"=", L"20260311");  // conditions, but no time
    // Bounds outside 1900..2099 are no bounds.
    AddAlert(2, 1, 1000);
    SetDetail(2, 1, L"startDate=0, endDate=0");
    AddAlert(2, 2, 1001);
    SetDetail(2, 2, L"startDate=99999999, endDate=99999999");
    AddAlert(2, 3, 1002);
    SetDetail(2, 3, L"startDate=20260311, endDate=20260311");
    ASSERT_EQ(Load(), 1);
    At(900);
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"2,1:0", L"2,2:0", L"2,3:0"}));
    EXPECT_EQ(Detail(1, 8).alertState, -1);
    EXPECT_TRUE(due_.empty());
}

TEST_F(AlertTest, KeysDoNotCollideAtLargeNumbers) {
    AddAlert(1, 100, 1000);
    AddAlert(2, 0, 1001);
    AddItem(1, 100, L"Week", L"=", L"0000000");  // must stay with (1, 100), not (2, 0)
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(alert_->DetailCount(), 2u);
    EXPECT_EQ(alert_->ItemCount(), 3u);
    struAlertConfigItem item;
    ASSERT_TRUE(alert_->GetItem(1, 100, 2, item));
    EXPECT_EQ(item.itemName, L"Week");
    At(900);
    Calc();
    EXPECT_EQ(Listed(), Strings{L"2,0:0"});
}

TEST_F(AlertTest, LoaderReadsByPositionAndDropsDuplicates) {
    AddAlert(3, 1, 815);
    SetDetail(3, 1, L"alertLevel='x', repeatFlag='1', lastAlertTime=''");
    // Two rows of one rule, read in descending duraMinute: that numbers them.
    Exec(L"insert into tAlertConfigItem values (3,1,'Month','=','111111111111',5,1,'1','',null);");
    Exec(L"insert into tAlertConfig (alertNo,alertType,message) values (4,'0','a');");
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(alert_->ConfigCount(), 2u);
    const struAlertConfigDetail d = Detail(3, 1);
    EXPECT_EQ(d.alertLevel, 0);  // not a number
    EXPECT_EQ(d.summary, L"sum");
    EXPECT_EQ(d.actionNo, 5);
    EXPECT_EQ(d.stLastAlertTime.wYear, 0);
    struAlertConfigItem first;
    ASSERT_TRUE(alert_->GetItem(3, 1, 1, first));
    EXPECT_EQ(first.itemName, L"Month");
    EXPECT_EQ(first.int6, 5);
    EXPECT_EQ(first.text8, L"1");
    At(800);
    Calc();
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"msg3-1(1)");
}

TEST_F(AlertTest, CalendarConditions) {
    AddAlert(1, 1, 1000);
    AddItem(1, 1, L"Week", L"=", L"1111100");
    AddAlert(1, 2, 1000);
    AddItem(1, 2, L"Week", L"=", L"11");
    AddAlert(1, 3, 1000);
    AddItem(1, 3, L"Month", L"<", L"111111111111");
    AddAlert(1, 4, 1000);
    AddItem(1, 4, L"Day", L"=", L"00000000001");
    AddAlert(1, 5, 1000);
    AddItem(1, 5, L"Date", L">=", L"20260311");
    AddAlert(1, 6, 1000);
    AddItem(1, 6, L"Date", L"=", L"2026x");
    AddAlert(1, 7, 1000);
    AddItem(1, 7, L"Sunshine", L"=", L"1");
    ASSERT_EQ(Load(), 1);
    const auto listedOn = [&](WORD day, WORD weekDay) {
        At(900, 0, day, weekDay);
        Calc();
        return Listed();
    };
    EXPECT_EQ(listedOn(11, 3), (Strings{L"1,1:0", L"1,4:0", L"1,5:0"}));  // Wednesday the 11th
    EXPECT_EQ(listedOn(10, 2), (Strings{L"1,1:0", L"1,2:0"}));             // Tuesday the 10th
    EXPECT_EQ(listedOn(14, 6), (Strings{L"1,5:0"}));                       // Saturday
    EXPECT_EQ(listedOn(15, 0), (Strings{L"1,5:0"}));                       // Sunday is 7
}

class AlertWeatherTest : public AlertTest {
protected:
    AlertWeatherTest() { g_pRealWeather = &weather_; }
    ~AlertWeatherTest() override { g_pRealWeather = nullptr; }
    void Weather(int weatherNo, int temperature, int minTemperature) {
        Exec(L"update tRealWeather set areaCodeNo=101, solarCalendar=20260311, realWeatherNo=" +
             std::to_wstring(weatherNo) + L", realTemperature=" + std::to_wstring(temperature) +
             L", realMinTemperature=" + std::to_wstring(minTemperature) +
             L", realMaxTemperature=30, realHumidity=50, realMinHumidity=40, realMaxHumidity=70, realWindLevel=3;");
        weather_.LoadFromDB(101);
        Posted();
    }
    CRealWeather weather_;
};

TEST_F(AlertWeatherTest, WeatherConditions) {
    AddAlert(1, 1, 1000);
    AddItem(1, 1, L"RealWeatherNo", L"in", L"|1|2|");
    AddAlert(1, 2, 1000);
    AddItem(1, 2, L"RealTemperature", L">", L"-40000");
    AddAlert(1, 3, 1000);
    AddItem(1, 3, L"RealMinTemperature", L"<", L"100");
    AddAlert(1, 4, 1000);
    AddItem(1, 4, L"RealMaxMinDiffTemperature", L">=", L"0");
    AddAlert(1, 5, 1000);
    AddItem(1, 5, L"RealMaxMinDiffHumidity", L"=", L"30");
    AddAlert(1, 6, 1000);
    AddItem(1, 6, L"RealWindLevel", L"<=", L"3");
    AddAlert(1, 7, 1000);
    AddItem(1, 7, L"RealHumidity", L"~", L"50");
    ASSERT_EQ(Load(), 1);
    At(900);

    Weather(2, 20, 10);
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,1:0", L"1,2:0", L"1,3:0", L"1,4:0", L"1,5:0", L"1,6:0"}));

    Weather(12, -29999, -29999);  // 12 is not |1|2|; no temperature known
    Calc();
    EXPECT_EQ(Listed(), (Strings{L"1,5:0", L"1,6:0"}));
}

TEST_F(AlertTest, FiguresAreKeptWithTheirConditions) {
    AddAlert(1, 1, 1000);
    AddItem(1, 1, L"UserOp_computerUseSecond", L">", L"3000");
    AddAlert(1, 2, 1000);
    AddItem(1, 2, L"UserOp_mskbOpRate", L">=", L"50");
    AddAlert(1, 3, 1000);
    AddItem(1, 3, L"PedoPeriodCompPercent", L">", L"10");
    ASSERT_EQ(Load(), 1);
    At(900);
    Exec(L"insert into tUserOpData (userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond, syncNo) "
         L"values (7, 20260311, 4000, 1000, 0, 1);");
    CUserOperation monitor;
    monitor.ResetDayData();
    ASSERT_EQ(monitor.ReadLastUserOperation(), 0);
    g_pUserOperation = &monitor;
    Calc();
    g_pUserOperation = nullptr;
    EXPECT_EQ(Listed(), Strings{L"1,1:0"});

    struAlertConfigItem item;
    ASSERT_TRUE(alert_->GetItem(1, 1, 2, item));
    EXPECT_EQ(item.lastOperand, 3000);
    EXPECT_EQ(item.lastMeasured, 4000);
    EXPECT_EQ(item.lastResult, 1);
    ASSERT_TRUE(alert_->GetItem(1, 2, 2, item));
    EXPECT_EQ(item.lastOperand, 50);
    EXPECT_EQ(item.lastMeasured, 25);
    EXPECT_EQ(item.lastResult, 0);
    ASSERT_TRUE(alert_->GetItem(1, 3, 2, item));  // no pedometer window
    EXPECT_EQ(item.lastOperand, 10);
    EXPECT_EQ(item.lastMeasured, 0);
    EXPECT_EQ(item.lastResult, 0);

    Calc();  // no computer-use monitor: false, nothing measured
    ASSERT_TRUE(alert_->GetItem(1, 1, 2, item));
    EXPECT_EQ(item.lastMeasured, 0);
    EXPECT_EQ(item.lastResult, 0);
}

TEST_F(AlertTest, RecurringFiresOncePerPeriod) {
    AddHourlyRule(L"lastAlertTime='', repeatFlag='1'");
    ASSERT_EQ(Load(), 1);

    const auto runAt = [&](int hhmm) {
        At(hhmm);
        Calc();
        for (const AlertDelivery& d : due_) alert_->DeliverList(&d.detail);
        return Listed();
    };
    EXPECT_EQ(runAt(800), Strings{L"5,1:2"}) << "never fired: due";
    ASSERT_EQ(alert_->Lists().size(), 1u);
    EXPECT_EQ(Detail(5, 1).alertMinute, 800);
    EXPECT_EQ(runAt(830), Strings{L"5,1:7"});
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"msg5-1");
    EXPECT_EQ(runAt(859), Strings{L"5,1:7"});
    EXPECT_EQ(runAt(900), (Strings{L"5,1:2", L"5,1:7"}));
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"msg5-1(1)");
    EXPECT_EQ(runAt(1000), (Strings{L"5,1:2", L"5,1:7", L"5,1:7"}));
    EXPECT_EQ(Int(Entry(1), L"alertMinute"), 900) << "delivered copies newest first";
    EXPECT_EQ(Int(Entry(2), L"alertMinute"), 800);
    EXPECT_EQ(alert_->Lists().size(), 3u);
    EXPECT_EQ(alert_->GetAlertList().size(), 3u);
}

TEST_F(AlertTest, TodayObjectKeysAndArrayOrder) {
    AddAlert(1, 1, 1100);
    AddAlert(1, 2, 930);
    AddAlert(1, 3, 800);
    AddAlert(1, 4, 700);
    ASSERT_EQ(Load(), 1);
    At(900);
    Calc();
    // Upcoming soonest first, then passed latest first.
    EXPECT_EQ(Listed(), (Strings{L"1,2:0", L"1,1:0", L"1,3:2", L"1,4:2"}));
    EXPECT_EQ(Entry(0).to_json(),
              L"{\"alertNo\":1,\"no\":2,\"alertType\":\"0\",\"alertLevel\":1,\"alertMode\":2,\"procMode\":3,"
              L"\"execNo\":4,\"duraMinute\":0,\"alertDate\":20260311,\"alertMinute\":930,"
              L"\"alertComeDownMinute\":30,\"alertFlag\":0,\"message\":\"msg1-2\",\"actionNo\":5,"
              L"\"actionRuleFlag\":\"0\"}");
    EXPECT_EQ(Int(Entry(2), L"alertComeDownMinute"), -60);
}

TEST_F(AlertTest, NothingIsComputedBeforeTheMainFrame) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    g_pMainFrame = nullptr;
    At(930);
    EXPECT_EQ(Calc(), 0);
    g_pMainFrame = &frame_;
    EXPECT_TRUE(due_.empty());
    EXPECT_EQ(Detail(1, 1).alertState, -1);
}

TEST_F(AlertTest, AReaderThatFailsKeepsTheLoadGoing) {
    AddAlert(1, 1, 1000);
    Exec(L"alter table tAlertConfigItem rename to tAlertConfigItemAway;");
    EXPECT_EQ(Load(), 1);
    EXPECT_EQ(alert_->DetailCount(), 1u);
    EXPECT_EQ(alert_->ItemCount(), 0u);
    Exec(L"alter table tAlertConfigItemAway rename to tAlertConfigItem;");
}

TEST_F(AlertTest, ReloadsOfTheListDuringComputationsAreSafe) {
    AddHourlyRule(L"lastAlertTime='2026-03-11 07:59:00'");
    for (int minute = 0; minute < 20; ++minute)
        Exec(L"insert into tAlertList values (20260311,5,1,'1','m','s',60," + std::to_wstring(700 + minute) +
             L",'2026-03-11 07:00:00',0,'0','1','',null);");
    ASSERT_EQ(Load(), 1);
    At(800);
    std::atomic<bool> done{false};
    std::thread reloader([&] {
        while (!done) alert_->ReadAlertListType1FormDB();
    });
    for (int i = 0; i < 30; ++i) {
        Calc();
        ASSERT_EQ(Listed().size(), 20u);
    }
    done = true;
    reloader.join();
}

TEST_F(AlertTest, APutOffCountsDownThenComesBack) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(900);
    Tick(1'000'000);
    ASSERT_EQ(alert_->DelayAlert(1, 1, 90), 0);
    Calc();
    EXPECT_EQ(Listed(), Strings{L"1,1:5"});
    EXPECT_EQ(Int(Entry(0), L"alertComeDownMinute"), 2);
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 902) << "09:00 plus the 2 minutes left";
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"延1 - msg1-1");
    Tick(1'000'000 + 31'000);
    Calc();
    EXPECT_EQ(Int(Entry(0), L"alertComeDownMinute"), 1);
    EXPECT_TRUE(due_.empty());

    Tick(1'000'000 + 90'000);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 6);
    EXPECT_EQ(Detail(1, 1).delayUntilTick, 0u);
    ASSERT_EQ(due_.size(), 1u);
    EXPECT_EQ(due_[0].form, AlertDelivery::kPopup);
    Calc();
    EXPECT_EQ(Listed(), Strings{L"1,1:0"});

    alert_->DelayAlert(1, 1, 60);
    Calc();
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"延2 - msg1-1");
}

TEST_F(AlertTest, ALongPutOffShowsItsEndAsTimeOfDay) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(900);
    Tick(1'000'000);
    alert_->DelayAlert(1, 1, 150 * 60);
    Calc();
    EXPECT_EQ(Int(Entry(0), L"alertComeDownMinute"), 150);
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 1130) << "09:00 plus 2:30";
    At(1000);
    Tick(1'000'000 + 60 * 60'000);
    Calc();
    EXPECT_EQ(Int(Entry(0), L"alertComeDownMinute"), 90);
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 1130) << "the end stays where it was";
}

TEST_F(AlertTest, APutOffMadePartWayThroughAMinuteKeepsItsEnd) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(900, 30);
    Tick(1'000'000);
    alert_->DelayAlert(1, 1, 150 * 60);
    Calc();
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 1131) << "ends at 11:30:30: back at the computation of 11:31";
    At(901, 2);
    Tick(1'000'000 + 32'000);
    Calc();
    EXPECT_EQ(Int(Entry(0), L"alertMinute"), 1131);
    At(1131);
    Tick(1'000'000 + 150 * 60'000 + 30'000);
    Calc();
    EXPECT_EQ(due_.size(), 1u);
}

TEST_F(AlertTest, AReloadKeepsWhatTheDayDidWithEachRule) {
    AddAlert(1, 1, 930);
    AddAlert(1, 2, 1000);
    ASSERT_EQ(Load(), 1);
    At(930);
    Calc();
    ASSERT_EQ(due_.size(), 1u);
    Tick(1'000'000);
    ASSERT_EQ(alert_->DelayAlert(1, 2, 180), 0);
    Calc();

    SetDetail(1, 2, L"message='edited'");  // the user changed a rule: the page reloads
    ASSERT_EQ(Load(), 1);
    At(930, 40);
    Calc();
    EXPECT_TRUE(due_.empty()) << "delivered once, reload or not";
    EXPECT_EQ(Listed(), Strings{L"1,2:5"});
    EXPECT_EQ(Entry(0).get_item(value(L"message")).get_string(), L"延1 - edited");
    Tick(1'000'000 + 180'000);
    Calc();
    ASSERT_EQ(due_.size(), 1u) << "the put-off comes back";
    EXPECT_EQ(due_[0].detail.message, L"edited");
}

TEST_F(AlertTest, AReminderMovedOnTheDayComesAtItsNewTimeAndAnUnmovedOneOnlyOnce) {
    AddAlert(1, 1, 930);
    AddAlert(1, 2, 930);
    ASSERT_EQ(Load(), 1);
    At(930);
    Calc();
    ASSERT_EQ(due_.size(), 2u);

    SetDetail(1, 1, L"alertMinute=1500");  // the user moves one and edits the other: the page reloads
    SetDetail(1, 2, L"message='edited'");
    ASSERT_EQ(Load(), 1);
    At(930, 40);
    Calc();
    EXPECT_TRUE(due_.empty()) << "the unmoved one was delivered this minute already";
    At(1500);
    Calc();
    ASSERT_EQ(due_.size(), 1u) << "the moved one comes at its new time";
    EXPECT_EQ(due_[0].detail.no, 1);
}

TEST_F(AlertTest, AReloadKeepsTheDayOfAnIntervalRuleWhoseMinuteMovedAsItFired) {
    AddHourlyRule(L"lastAlertTime=''");
    ASSERT_EQ(Load(), 1);
    At(800);
    Calc();
    ASSERT_EQ(due_.size(), 1u);
    ASSERT_EQ(Detail(5, 1).alertMinute, 800);
    Tick(1'000'000);
    ASSERT_EQ(alert_->DelayAlert(5, 1, 180), 0);

    SetDetail(5, 1, L"message='edited'");
    ASSERT_EQ(Load(), 1);
    EXPECT_EQ(Detail(5, 1).delayCount, 1) << "its row's minute is unchanged: the put-off stays";
    EXPECT_EQ(Detail(5, 1).shownCount, 1);
}

TEST_F(AlertTest, APutOffAcrossTheTickWrapEndsOnTime) {
    AddAlert(1, 1, 930);
    ASSERT_EQ(Load(), 1);
    At(900);
    const DWORD start = 0xFFFFFFFFu - 30'000;
    Tick(start);
    alert_->DelayAlert(1, 1, 90);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 5);
    Tick(start + 60'000);  // wrapped, 30 s left
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 5);
    EXPECT_EQ(Detail(1, 1).alertComeDownMinute, 1);
    Tick(start + 90'000);
    Calc();
    EXPECT_EQ(Detail(1, 1).alertState, 6);
    EXPECT_EQ(due_.size(), 1u);
}

TEST_F(AlertTest, ANewDayStartsAfresh) {
    AddAlert(1, 1, 930);
    Exec(L"insert into tAlertList values (20260311,5,1,'1','m','s',60,700,'2026-03-11 07:00:00',0,'0','1','',null);");
    ASSERT_EQ(Load(), 1);
    At(930);
    Calc();
    EXPECT_EQ(due_.size(), 1u);
    EXPECT_EQ(Listed(), Strings{L"5,1:7"});
    At(930, 0, 12, 4);  // the program ran through the night
    Calc();
    EXPECT_EQ(due_.size(), 1u) << "due again on the next day";
    EXPECT_TRUE(Listed().empty()) << "yesterday's deliveries are not today's";
}
