// The "userOp" object: forty figures in the pages' order, read at the moment of the call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTest.h"
#include "UserOpFixture.h"

namespace {

using uie::test::CallNative;
using uie::test::GetProperty;

std::vector<std::string> ExpectedNames() {
    std::vector<std::string> names = {"computerUseSecond", "mskbUseSecond", "browerUseSecond"};
    for (const char* suffix : {"", "2", "3", "4", "5", "6"})
        for (const char* base : {"programFullName", "programFileName", "programUseSecond", "programUsePercent",
                                 "programUseType", "programUseTypeName"})
            names.push_back(std::string(base) + suffix);
    names.push_back("mskbOpRate");
    return names;
}

class UserOpScriptTest : public UserOpTest {
protected:
    UserOpScriptTest() { EXPECT_EQ(monitor_->RegisterScriptObject(vm_), 1); }
    uie::value Prop(const std::string& name) { return GetProperty(vm_, "userOp", name).result; }
};

TEST_F(UserOpScriptTest, FortyPropertiesInThePagesOrderAllZeroOrEmptyBeforeActivity) {
    const std::vector<std::string> names = ExpectedNames();
    const auto& properties = CUserOperation::ScriptObjectDef()->properties;
    ASSERT_EQ(properties.size(), 40u);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(properties[i].name, names[i]) << i;
        const uie::value v = Prop(names[i]);
        if (v.is_string()) {
            EXPECT_EQ(v.get_string(), L"") << names[i];
        } else {
            EXPECT_EQ(v.get_int(-1), 0) << names[i];
        }
    }
    EXPECT_EQ(CallNative(vm_, "userOp", "GetLastUserOpGraphData").result.get_string(), L"");
}

TEST_F(UserOpScriptTest, SlotPropertiesFollowTheMonitorsOrderWithTypeNames) {
    Exec(L"insert into tApplication (appFile, appType) values ('browser', 4);");
    monitor_->ReadAppTypeFromDB();
    tick_ += 40000;
    monitor_->ProcessUserTimeAdd(L"/usr/bin/Editor", 4000);
    monitor_->ProcessUserTimeAdd(L"/opt/Browser", 16000);
    EXPECT_EQ(Prop("programFullName").get_string(), L"/opt/browser");
    EXPECT_EQ(Prop("programFileName").get_string(), L"browser");
    EXPECT_EQ(Prop("programUseSecond").get_int(), 16);
    EXPECT_EQ(Prop("programUsePercent").get_int(), 80);
    EXPECT_EQ(Prop("programUseType").get_int(), 4);
    EXPECT_EQ(Prop("programUseTypeName").get_string(), L"网页浏览");
    EXPECT_EQ(Prop("programFullName2").get_string(), L"/usr/bin/editor");
    EXPECT_EQ(Prop("programUseTypeName2").get_string(), L"其他软件");
    EXPECT_EQ(Prop("programUseTypeName3").get_string(), L"");
    EXPECT_EQ(Prop("computerUseSecond").get_int(), 40);
    EXPECT_EQ(Prop("browerUseSecond").get_int(), 16);
    EXPECT_EQ(Prop("mskbOpRate").get_int(), 51);  // (20 * 100 + 50) / 40
}

// The chart player installed before the main frame starts, so that it makes the charts.
struct ChartPlayer {
    ChartPlayer() { Hooks().flashInstalled = true; }
    HookScope scope_;
};

class UserOpChartTest : private ChartPlayer, public UserOpScriptTest {};

TEST_F(UserOpChartTest, TheChartDocumentIsWhatThePagesRead) {
    ASSERT_NE(frame_.GetUserOpPopGraph(), nullptr);
    ShowWindow(frame_.GetHwnd(), SW_SHOW);
    Posted();
    Exec(L"insert into tApplication (appFile, appType) values ('browser', 4);");
    monitor_->ReadAppTypeFromDB();
    tick_ += 60000;
    SetForeground(L"/opt/browser");
    monitor_->ProcData(1000);
    monitor_->ProcData(4000);  // the day's first credit builds the chart
    const std::wstring document = CallNative(vm_, "userOp", "GetLastUserOpGraphData").result.get_string();
    EXPECT_NE(document.find(L"<chart"), std::wstring::npos) << text::ToUtf8(document);
    EXPECT_NE(document.find(L"label=\"网页浏览\""), std::wstring::npos) << text::ToUtf8(document);
    EXPECT_EQ(document, monitor_->GetLastUserOpGraphData());
    const std::vector<std::wstring> posted = Posted();
    EXPECT_NE(std::find(posted.begin(), posted.end(), L"8026"), posted.end());
}

}  // namespace
