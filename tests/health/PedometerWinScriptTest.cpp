#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PedometerWinFixture.h"
#include "PageScriptObject.h"

namespace {

using uie::value;
namespace test = uie::test;

// "pedometer" as the pedometer page sees it, on the main frame's VM (the test thread's).
class PedometerScriptTest : public PedometerWinTest, protected PageScriptObject {
protected:
    PedometerScriptTest() : PageScriptObject(vm_, "pedometer") { CPedometerWin::RegisterScriptObject(vm_); }
};

TEST_F(PedometerScriptTest, WithoutAWindowEveryMemberAnswersItsDefault) {
    CPedometerWin* window = g_pPedometer.exchange(nullptr);
    EXPECT_EQ(Get("deviceID").get_string(), L"");
    EXPECT_EQ(Get("regDeviceID").get_string(), L"");
    EXPECT_FALSE(Get("updatePedoData_State").get_bool());
    EXPECT_EQ(Get("updatePedoData_RetCode").get_int(), -1);
    EXPECT_EQ(Get("updatePedoData_RetMsg").get_string(), L"");
    EXPECT_EQ(Get("pedoUnitMode").get_int(), -1);
    EXPECT_EQ(Get("pedoWeight").get_int(), -1);
    EXPECT_EQ(Get("pedoStepLong").get_int(), -1);
    EXPECT_EQ(Get("targetStep").get_int(), -1);
    EXPECT_EQ(Get("periodDatePercent").get_int(), 0);
    EXPECT_EQ(Get("status").get_string(), L"");
    EXPECT_EQ(Call("GenVirtualData", {value(122), value(L"VirtualData"), Array({})}).get_int(), -1);
    EXPECT_EQ(Call("SettingWinState", {value(1)}).get_int(), 0);
    EXPECT_TRUE(Call("GetPedoRank").is_undefined());
    EXPECT_TRUE(Call("PedoSettingsProc", {Map({})}).is_undefined());
    EXPECT_EQ(Call("IsOnline_pedometer").get_int(), 0);
    EXPECT_EQ(Call("GenPedometerGraphData", {Array({}), Array({})}).get_string(), L"");
    g_pPedometer = window;
    EXPECT_EQ(pedometer_->GetSettingWinState(), 0);  // nothing was stored anywhere
}

TEST_F(PedometerScriptTest, OnlyZeroAndOneAreSettingsPanelStatesAndMistypedArgumentsAnswerMinusOne) {
    EXPECT_EQ(Call("SettingWinState", {value(1)}).get_int(), 0);
    EXPECT_EQ(Call("SettingWinState", {value(2)}).get_int(), 0);
    EXPECT_EQ(pedometer_->GetSettingWinState(), 1);
    EXPECT_EQ(Call("SettingWinState", {value(-1)}).get_int(), 0);
    EXPECT_EQ(pedometer_->GetSettingWinState(), 1);

    const test::CallResult wrong = test::CallNative(vm_, "pedometer", "SettingWinState", {value(L"0")});
    EXPECT_EQ(wrong.result.get_int(), -1);
    EXPECT_EQ(pedometer_->GetSettingWinState(), 1);
    EXPECT_EQ(test::CallNative(vm_, "pedometer", "PedoSettingsProc", {value(3)}).result.get_int(), -1);
    EXPECT_EQ(test::CallNative(vm_, "pedometer", "GenVirtualData", {value(122), value(1), Array({})}).result.get_int(),
              -1);
    EXPECT_EQ(Call("SettingWinState", {value(0)}).get_int(), 0);
    EXPECT_EQ(pedometer_->GetSettingWinState(), 0);
}

TEST_F(PedometerScriptTest, DemoRowsAreStoredOnlyWhenThereAreAny) {
    StartPage();
    Pump();
    const std::uint64_t after = test::PageHost::LastSeq();
    EXPECT_EQ(Call("GenVirtualData", {value(122), value(L"VirtualData"), Array({})}).get_int(), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tDeviceDataList_122"), L"0");
    EXPECT_TRUE(PageCalls(after).empty());

    const value rows = Array({Map({{L"recDate", value(20240229)}, {L"step", value(4000)}})});
    EXPECT_EQ(Call("GenVirtualData", {value(122), value(L"VirtualData"), rows}).get_int(), 0);
    EXPECT_EQ(FirstValue(L"select step from tDeviceDataList_122 where recDate=20240229"), L"4000");
    EXPECT_EQ(PageCalls(after), std::vector<std::string>{"RefreshPedoData 0"});
}

TEST_F(PedometerScriptTest, TheRankingIsAMapOfTwelveFigures) {
    EXPECT_EQ(pedometer_->BussDataProc_PedoRank(
                  L"0\x02ok\x02" L"1\x02" L"2\x02" L"3\x02" L"4\x02" L"5\x02" L"6\x02" L"7\x02" L"8\x02" L"9\x02"
                  L"10\x02" L"11\x02" L"12\x02"),
              0);
    const value rank = Call("GetPedoRank");
    EXPECT_EQ(rank.to_json(),
              L"{\"all_rank\":1,\"all_rankRate\":2,\"last_all_rank\":3,\"last_all_rankRate\":4,"
              L"\"diff_all_rank\":9,\"diff_all_rankRate\":10,\"avg_rank\":5,\"avg_rankRate\":6,"
              L"\"last_avg_rank\":7,\"last_avg_rankRate\":8,\"diff_avg_rank\":11,\"diff_avg_rankRate\":12}");
    EXPECT_EQ(rank.get_item(value(L"diff_all_rank")).get_int(), 9);
    EXPECT_EQ(rank.get_item(value(L"avg_rank")).get_int(), 5);
}

TEST_F(PedometerScriptTest, TheReadStateShowsAfterARead) {
    StartPage();
    EXPECT_EQ(Call("IsOnline_pedometer").get_int(), 0);  // nothing read yet
    EXPECT_EQ(Get("regDeviceID").get_string(), L"123456789A");
    EXPECT_EQ(pedometer_->GetDeviceOrigData().regDeviceID, L"123456789A");  // kept for the upload

    EXPECT_EQ(pedometer_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(ReadEnded());
    EXPECT_EQ(Get("deviceID").get_string(), L"123456789A");
    EXPECT_EQ(Call("IsOnline_pedometer").get_int(), 122);
    EXPECT_EQ(Get("pedoUnitMode").get_int(), 1);
    EXPECT_EQ(Get("pedoWeight").get_int(), 650);
    EXPECT_EQ(Get("pedoStepLong").get_int(), 75);
    usb_.RemoveDevice("1-1");
    EXPECT_EQ(Call("IsOnline_pedometer").get_int(), 0);
}

TEST_F(PedometerScriptTest, TheChartGetsTheOptionsFirstAndTheWindowsTargets) {
    const value options = Array({Map({{L"seriesList", value(L"step")}})});
    const value records = Array({Map({{L"recName", value(L"Mon")}, {L"step", value(4321)}, {L"avgTarget", value(50)}})});
    const std::wstring plain = Call("GenPedometerGraphData", {records, options}).get_string();
    EXPECT_NE(plain.find(L"4321"), std::wstring::npos);
    EXPECT_EQ(plain.find(L"运动目标"), std::wstring::npos);  // no step target yet

    pedometer_->WithData([](auto&, auto&, auto&, struPedoTarget& target) { target.targetStep = 8000; });
    const std::wstring withTarget = Call("GenPedometerGraphData", {records, options}).get_string();
    EXPECT_NE(withTarget.find(L"运动目标"), std::wstring::npos);
}

}  // namespace
