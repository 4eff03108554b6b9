#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "BloodPressureWinFixture.h"
#include "LogReader.h"
#include "PageScriptObject.h"
#include "Quorvix.h"

namespace {

using uie::value;
namespace test = uie::test;

// "bloodPressure" as a page sees it, on the main frame's VM (the test thread's), made as
// every page's objects are made.
class BloodPressureScriptTest : public BloodPressureWinTest, protected PageScriptObject {
protected:
    BloodPressureScriptTest() : PageScriptObject(vm_, "bloodPressure") { RegisterScriptObjects(vm_); }
};

TEST_F(BloodPressureScriptTest, EveryPageHasTheObjectWhileTheWindowExists) {
    const std::vector<std::string> natives = uie::NativeNames(vm_);
    EXPECT_NE(std::find(natives.begin(), natives.end(), "bloodPressure"), natives.end());
}

TEST_F(BloodPressureScriptTest, WithoutAWindowEveryMemberAnswersItsDefault) {
    CBloodPressureWin* window = g_pBloodPressure.exchange(nullptr);
    const value reading = Array({Map({{L"systolic", value(120)}, {L"save", value(1)}})});
    EXPECT_EQ(Get("regDeviceID").get_string(), L"");
    EXPECT_EQ(Get("deviceID").get_string(), L"");
    EXPECT_FALSE(Get("updateBloodPressureData_State").get_bool());
    EXPECT_EQ(Get("updateBloodPressureData_RetCode").get_int(), -1);
    EXPECT_EQ(Get("updateBloodPressureData_RetMsg").get_string(), L"");
    EXPECT_EQ(Call("GetDevDataLoadStatus").to_json(), L"{}");
    EXPECT_EQ(Call("ReadDevData").to_json(), L"[]");
    EXPECT_EQ(Call("IsOnline_bloodPressure").get_int(), 0);
    EXPECT_EQ(Call("GenBloodPressureGraphData", {Array({}), Array({})}).get_string(), L"");
    EXPECT_EQ(Call("ChooseDevData", {reading}).get_int(), -1);
    EXPECT_EQ(Call("UserInputData", {value(1002), value(L"M"), reading}).get_int(), -1);
    EXPECT_EQ(Call("GenVirtualData", {value(1002), value(L"VirtualData"), reading}).get_int(), -1);
    g_pBloodPressure = window;
    EXPECT_EQ(StoredRows(), 0);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(BloodPressureScriptTest, MistypedArgumentsAnswerMinusOneWithALogLineAndChangeNothing) {
    const int before = CountLogLines(L"UserInputData: parameter 1");
    const value reading = Array({Map({{L"systolic", value(120)}, {L"save", value(1)}})});
    EXPECT_EQ(test::CallNative(vm_, "bloodPressure", "UserInputData", {value(L"1002"), value(L"M"), reading})
                  .result.get_int(),
              -1);
    EXPECT_EQ(CountLogLines(L"UserInputData: parameter 1"), before + 1);
    EXPECT_EQ(test::CallNative(vm_, "bloodPressure", "GenVirtualData", {value(1002), value(L"V"), value(5)})
                  .result.get_int(),
              -1);
    EXPECT_EQ(test::CallNative(vm_, "bloodPressure", "ChooseDevData", {value(L"[]")}).result.get_int(), -1);
    EXPECT_EQ(bp_->GetDeviceBussData().count, 0);
    EXPECT_EQ(StoredRows(), 0);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(BloodPressureScriptTest, AfterADownloadThePageReadsTheReadingsTheStatusAndTheRegisteredDevice) {
    ASSERT_EQ(devices_.UserDeviceProc(nullptr, kSource, L"TSV-REG-7"), 0);
    EXPECT_EQ(Get("regDeviceID").get_string(), L"TSV-REG-7");
    EXPECT_EQ(bp_->GetReadState().regDeviceID, L"TSV-REG-7");  // kept for the batch

    EXPECT_EQ(bp_->DevChangeProc(Source(), 1), 0);
    ASSERT_TRUE(ReadEnded());
    EXPECT_EQ(Call("GetDevDataLoadStatus").to_json(),
              L"{\"state\":3,\"msg\":\"下载设备数据完成。\",\"total\":-1,\"processed\":-1,\"precent\":100}");
    const value readings = Call("ReadDevData");
    ASSERT_EQ(readings.length(), 2);
    EXPECT_EQ(readings.nth(1).to_json(),
              L"{\"bpKbn\":3,\"systolic\":131,\"diastolic\":85,\"pulse\":66,\"fPulseFlag\":0,"
              L"\"recTime\":\"2013-03-04 21:30:05\",\"deviceID\":\"\",\"summary\":\"\",\"bpLevel\":2,"
              L"\"bpAssessNote\":\"\",\"save\":1,\"note\":\"\"}");
    EXPECT_EQ(bp_->GetDeviceBussData().regDeviceID, L"TSV-REG-7");
    // The module names no device: the page is not told one is online.
    EXPECT_EQ(Call("IsOnline_bloodPressure").get_int(), 0);
    EXPECT_EQ(Get("deviceID").get_string(), L"");
}

}  // namespace
