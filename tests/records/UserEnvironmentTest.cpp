// The user environment as the pages see it: no device reports, so every reading keeps
// its "no value" mark and the air quality shows the best level.
#include "userEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTest.h"
#include "Window.h"

namespace {

using uie::test::CallNative;
using uie::test::GetProperty;

class UserEnvironmentTest : public ::testing::Test {
protected:
    UserEnvironmentTest() {
        static const ATOM cls = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = DefWindowProcW;
            wc.lpszClassName = L"UserEnvironmentTestWindow";
            return RegisterClassExW(&wc);
        }();
        EXPECT_NE(cls, 0);
        hwnd_ = CreateWindowExW(0, L"UserEnvironmentTestWindow", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr);
        vm_ = SciterGetVM(hwnd_);
        EXPECT_EQ(env_.RegisterScriptObject(vm_), 1);
        g_pUserEnvironment = &env_;
    }
    ~UserEnvironmentTest() override {
        g_pUserEnvironment = nullptr;
        DestroyWindow(hwnd_);
    }

    HWND hwnd_ = nullptr;
    HVM vm_ = nullptr;
    CUserEnvironment env_;
};

TEST_F(UserEnvironmentTest, PagesReadSixteenPropertiesInTableOrderWithTheirNoValueMarks) {
    struct Expected {
        const char* name;
        uie::value v;
    };
    const std::vector<Expected> expected = {
        {"devAirQuality", uie::value(1)},  // the level of a reading never made
        {"devHumidity", uie::value(-1)},
        {"devTemperature", uie::value(-29999)},
        {"userNo", uie::value(-1)},
        {"recNo", uie::value(-1)},
        {"recDate", uie::value(-1)},
        {"lastTime", uie::value(L"")},
        {"thisTime", uie::value(L"")},
        {"duration", uie::value(-1)},
        {"averageTemperature", uie::value(-29999)},
        {"averageHumidity", uie::value(-1)},
        {"averageAirQuality", uie::value(-1)},
        {"averageAirQualityLevel", uie::value(-1)},
        {"status", uie::value(L"")},
        {"note", uie::value(L"")},
        {"modifyTime", uie::value(L"")},
    };
    const auto& properties = CUserEnvironment::ScriptObjectDef()->properties;
    ASSERT_EQ(properties.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(properties[i].name, expected[i].name);
        const uie::test::CallResult read = GetProperty(vm_, "userEnv", expected[i].name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(read.result.is_string(), expected[i].v.is_string());
        EXPECT_EQ(read.result.to_string(), expected[i].v.to_string());
        EXPECT_FALSE(uie::test::SetProperty(vm_, "userEnv", expected[i].name, uie::value(5)).ok);
    }
}

TEST_F(UserEnvironmentTest, DeviceStatusIsZeroWhateverThePageHandsOver) {
    const std::vector<std::vector<uie::value>> argumentLists = {
        {}, {uie::value(1)}, {uie::value(L"dev"), uie::value(2.5)}, {uie::value::make_map()}};
    for (const auto& args : argumentLists) {
        const uie::test::CallResult call = CallNative(vm_, "userEnv", "GetDevStatus", args);
        EXPECT_TRUE(call.ok);
        EXPECT_TRUE(call.result.is_int());
        EXPECT_EQ(call.result.get_int(-99), 0) << args.size();
    }
}

TEST(UserEnvironmentLevelTest, AirQualityLevelsIncludeTheirUpperBounds) {
    const std::vector<std::pair<int, int>> readings = {{200, 1}, {201, 2}, {400, 2}, {401, 3}, {600, 3},
                                                       {601, 4}, {800, 4}, {801, 5}, {-5, 1}};
    for (const auto& [reading, level] : readings) EXPECT_EQ(CUserEnvironment::AirQualityLevel(reading), level) << reading;
    EXPECT_EQ(CUserEnvironment().GetAirQualityLevel(), 1);
}

}  // namespace
