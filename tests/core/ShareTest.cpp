#include "share.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <random>

#include "Autostart.h"
#include "Config.h"
#include "LogReader.h"
#include "MyDatabase.h"
#include "Profile.h"
#include "ProgramFolderFixture.h"
#include "MemberNames.h"
#include "ScriptDBFixture.h"

namespace {

using uie::value;
namespace test = uie::test;

std::wstring W(const std::filesystem::path& p) { return text::FromUtf8(p.string()); }

// "share" on a page VM of its own, in a program folder whose settings file and user
// database the settings methods write; the settings in memory and the already flag are
// put back afterwards.
class ShareTest : public ProgramFolderFixture {
protected:
    ShareTest() : saved_(g_Config.m_config), vm_(FreshVM()) {
        std::filesystem::copy_file(dir_ / "Quorv10.db", dir_ / "user.db");
        g_Config.m_config.iniFileName = W(dir_ / "Quorv10.ini");
        g_Config.m_config.userDBName = W(dir_ / "user.db");
        EXPECT_TRUE(RegisterShareScriptObject(vm_));
    }
    ~ShareTest() override {
        g_Config.m_config = saved_;
        g_bAlReady = false;
        g_pMyDatabase = nullptr;
    }

    test::CallResult Call(const char* method, std::vector<value> args = {}) {
        return test::CallNative(vm_, "share", method, std::move(args));
    }
    static value Record(std::initializer_list<std::pair<const wchar_t*, value>> fields) {
        value record = value::make_map();
        for (const auto& [key, v] : fields) record.set_item(value(key), v);
        return record;
    }
    std::wstring StoredRow(const wchar_t* id) {
        ConfigMap map;
        EXPECT_EQ(g_Config.ReadDBConfigToMap(W(dir_ / "user.db"), map), 0);
        return CConfig::GetMapString(id, map, L"<absent>");
    }
    std::wstring IniLogin(const wchar_t* key) {
        wchar_t text[64] = {};
        GetPrivateProfileStringW(L"Login", key, L"<absent>", text, 64, W(dir_ / "Quorv10.ini").c_str());
        return text;
    }

    struConfig saved_;
    HVM vm_;
};

TEST_F(ShareTest, TheObjectsTablesInOrder) {
    const auto def = ShareScriptObjectDef();
    EXPECT_EQ(MemberNames(def->methods),
              (std::vector<std::string>{
                  "isFullScreen", "MainWinIsShow", "isAlready", "GetDate", "GetYear", "GetMonth", "GetDay",
                  "GetWeek", "GetTime", "GetDayDiffIntDate", "GetAgeDiffIntDate", "DateIsValid", "UpdateWindow",
                  "CloseMsgWin", "WriteLog", "DateAddDay", "AddMinute", "DateDiffForShare", "RemoteCall", "FuncOp",
                  "HealthNoteOp", "UserActionDataOp", "SetLoadPageState", "GetSystemConfig", "SetSystemConfig",
                  "OpenResPlayer", "CloseResPlayer", "GetResPlayerXMLData", "SetResPlayerTitle", "OpenPedometerWin",
                  "ClosePedometerWin", "OpenBloodPressureWin", "CloseBloodPressureWin", "SetAlReady",
                  "InvalidateRect", "ShutComputer", "LockScreen", "StartScreenSave", "CancelScreenSave"}));
    EXPECT_EQ(MemberNames(def->properties), (std::vector<std::string>{"version", "installFlash"}));
    EXPECT_EQ(test::GetProperty(vm_, "share", "ERROR").result, value(-1));

    g_Config.m_config.version.clear();
    EXPECT_EQ(test::GetProperty(vm_, "share", "version").result, value(L"1.2.0.0"));
    g_Config.m_config.version = L"10.3.0.1";
    EXPECT_EQ(test::GetProperty(vm_, "share", "version").result, value(L"10.3.0.1"));
    EXPECT_EQ(test::GetProperty(vm_, "share", "installFlash").result, value(false));
    EXPECT_FALSE(test::SetProperty(vm_, "share", "version", value(L"9")).ok);
}

// yyyymmdd of the local date `days` from now.
int LocalDate(int days) {
    std::time_t t = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
    const std::tm local = *std::localtime(&t);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

TEST_F(ShareTest, DatesAreLocalAndChecked) {
    EXPECT_EQ(Call("DateIsValid", {value(20240229)}).result, value(0));
    EXPECT_EQ(Call("DateIsValid", {value(20230229)}).result, value(-1));

    CMyDatabase db;
    g_pMyDatabase = &db;
    const int before = LocalDate(-1);
    const int yesterday = Call("DateAddDay", {value(0), value(-1)}).result.get_int();
    EXPECT_TRUE(yesterday == before || yesterday == LocalDate(-1)) << yesterday;  // midnight may pass
    EXPECT_EQ(Call("DateAddDay", {value(20240229), value(1)}).result, value(0));
}

TEST_F(ShareTest, GetSystemConfigAnswersKnownKeysOnlyKeepingTheRecordsOtherFields) {
    g_Config.m_config.AutoRunWithWindows = true;
    g_Config.m_config.UpdateMode = 3;
    g_Config.m_config.CloseSystemTipSound = true;
    const value answer = Call("GetSystemConfig",
                              {value::make_array({Record({{L"ID", value(L"AutoRunWithWindows")}, {L"row", value(4)}}),
                                                  Record({{L"ID", value(L"zzz")}}), value(L"UpdateMode"),
                                                  Record({{L"ID", value(L"autorunwithwindows")}})})})
                             .result;
    ASSERT_EQ(answer.length(), 1u);
    EXPECT_EQ(answer.nth(0),
              Record({{L"ID", value(L"AutoRunWithWindows")}, {L"row", value(4)}, {L"value", value(L"1")}}));

    const value more = Call("GetSystemConfig", {value::make_array({Record({{L"ID", value(L"UpdateMode")}}),
                                                                    Record({{L"ID", value(L"CloseMsgSound")}})})})
                           .result;
    EXPECT_EQ(more.nth(0).get_item(value(L"value")), value(L"3"));
    EXPECT_EQ(more.nth(1).get_item(value(L"value")), value(L"1"));
}

TEST_F(ShareTest, SetSystemConfigSetsTheNumberAndStoresTheTextAsGiven) {
    auto set = [this](const wchar_t* id, const wchar_t* text) {
        return Call("SetSystemConfig",
                    {value::make_array({Record({{L"ID", value(id)}, {L"value", value(text)}})})});
    };
    EXPECT_EQ(set(L"DataSaveWay", L"2").result, value(0));
    EXPECT_EQ(g_Config.m_config.DataSaveWay, 2);
    EXPECT_EQ(StoredRow(L"DataSaveWay"), L"2");
    EXPECT_EQ(set(L"DataSaveWay", L"ab").result, value(0));
    EXPECT_EQ(g_Config.m_config.DataSaveWay, 0);
    EXPECT_EQ(StoredRow(L"DataSaveWay"), L"ab");

    // Not settable, unknown, or without a text value: nothing changes and the answer is 0.
    const std::wstring address = g_Config.m_config.HttpServiceAddr;
    EXPECT_EQ(set(L"HttpServiceAddr", L"http://elsewhere/").result, value(0));
    EXPECT_EQ(g_Config.m_config.HttpServiceAddr, address);
    EXPECT_EQ(Call("SetSystemConfig", {value::make_array({Record({{L"ID", value(L"UpdateMode")}, {L"value", value(5)}}),
                                                         Record({{L"value", value(L"5")}}), value(5)})})
                  .result,
              value(0));
    EXPECT_EQ(StoredRow(L"UpdateMode"), L"1");
}

TEST_F(ShareTest, TheMessageSoundChoiceSurvivesTheNextLogin) {
    Call("SetSystemConfig",
         {value::make_array({Record({{L"ID", value(L"CloseMsgSound")}, {L"value", value(L"1")}})})});
    EXPECT_TRUE(g_Config.m_config.CloseSystemTipSound);
    EXPECT_EQ(StoredRow(L"CloseMsgSound"), L"1");

    CConfig next;  // what the configuration after the next login reads
    ASSERT_EQ(next.InitConfig(), 0);
    next.m_config.userDBName = W(dir_ / "user.db");
    next.questDataSyncCheck = [](const std::wstring&) { return 0; };
    ASSERT_EQ(next.ReadAllConfigKey(), 1);
    EXPECT_TRUE(next.m_config.CloseSystemTipSound);
}

TEST_F(ShareTest, StartingWithTheSessionWritesTheEntryAndTheSettingsFileWithoutLineBreaks) {
    Call("SetSystemConfig",
         {value::make_array({Record({{L"ID", value(L"AutoRunWithWindows")}, {L"value", value(L"1")}}),
                             Record({{L"ID", value(L"AutoLoginWhenRun")}, {L"value", value(L"1")}})})});
    std::wstring commandLine;
    EXPECT_TRUE(ReadRunValue(L"Quorvix", commandLine));
    EXPECT_TRUE(commandLine.ends_with(L" /autoRun"));
    EXPECT_EQ(IniLogin(L"AutoRunWithWindows"), L"1");
    EXPECT_EQ(IniLogin(L"AutoLoginWhenRun"), L"1");
    EXPECT_TRUE(g_Config.m_config.AutoLoginWhenRun);

    const int warned = CountLogLines(L"AutoLoginWhenRun: a value with a line break is not written");
    Call("SetSystemConfig", {value::make_array({Record(
                                {{L"ID", value(L"AutoLoginWhenRun")}, {L"value", value(L"0\r\nLoginPassword=x")}})})});
    EXPECT_FALSE(g_Config.m_config.AutoLoginWhenRun);
    EXPECT_EQ(IniLogin(L"AutoLoginWhenRun"), L"1");
    EXPECT_EQ(CountLogLines(L"AutoLoginWhenRun: a value with a line break is not written"), warned + 1);

    Call("SetSystemConfig",
         {value::make_array({Record({{L"ID", value(L"AutoRunWithWindows")}, {L"value", value(L"0")}})})});
    EXPECT_FALSE(ReadRunValue(L"Quorvix", commandLine));
    EXPECT_EQ(IniLogin(L"AutoRunWithWindows"), L"0");
}

TEST_F(ShareTest, TheAlreadyFlagIsSharedByEveryPage) {
    const HVM other = FreshVM();
    ASSERT_TRUE(RegisterShareScriptObject(other));
    EXPECT_EQ(Call("isAlready").result, value(false));
    EXPECT_EQ(test::CallNative(other, "share", "isAlready").result, value(false));
    EXPECT_EQ(Call("SetAlReady").result, value(true));
    EXPECT_EQ(test::CallNative(other, "share", "isAlready").result, value(true));
}

TEST_F(ShareTest, SystemActionsGoThroughTheSystemActionHookOnly) {
    std::vector<SystemAction> actions;
    bool allow = true;
    Hooks().systemAction = [&](SystemAction action) {
        actions.push_back(action);
        return allow;
    };
    EXPECT_EQ(Call("ShutComputer").result, value(0));
    EXPECT_EQ(Call("LockScreen").result, value(true));
    EXPECT_EQ(Call("StartScreenSave").result, value(true));
    EXPECT_EQ(Call("CancelScreenSave").result, value(true));
    allow = false;
    EXPECT_EQ(Call("ShutComputer").result, value(-3));
    EXPECT_EQ(Call("LockScreen").result, value(false));
    EXPECT_EQ(actions, (std::vector<SystemAction>{SystemAction::Shutdown, SystemAction::LockWorkstation,
                                                  SystemAction::ScreenSaverOn, SystemAction::ScreenSaverOff,
                                                  SystemAction::Shutdown, SystemAction::LockWorkstation}));
}

TEST_F(ShareTest, WithoutTheirWindowsTheWindowMethodsDoNothing) {
    EXPECT_EQ(Call("UpdateWindow", {value(L"MainWin")}).result, value(-1));
    EXPECT_EQ(Call("UpdateWindow", {value(L"mainWin")}).result, value(0));
    EXPECT_EQ(Call("CloseMsgWin", {value(1)}).result, value(0));
    const value records = value::make_array({Record({{L"rootID", value(L"quorvix")}, {L"funcName", value(L"F")}}),
                                             Record({{L"rootID", value(L"popWin")}, {L"funcName", value(L"F")}})});
    const auto call = Call("RemoteCall", {records});
    EXPECT_TRUE(call.ok);
    EXPECT_TRUE(call.result.is_undefined());
}

TEST_F(ShareTest, WriteLogKeepsThePagesTextAsItIs) {
    const std::wstring text = L"share %s %d %n 100% " + std::to_wstring(std::random_device{}());
    EXPECT_TRUE(Call("WriteLog", {value(text)}).result.is_undefined());
    EXPECT_EQ(CountLogLines(text), 1);
}

TEST_F(ShareTest, EachMethodsArgumentErrorRaisesAndAnswersItsFallback) {
    const value list = value::make_array({value(1)});
    const struct {
        const char* method;
        std::vector<value> args;
        value fallback;
        const wchar_t* error;
    } cases[] = {
        {"GetDayDiffIntDate", {value(L"20240101"), value(1), value(3)}, value(-1), L"parameter 1, expecting integer"},
        {"GetAgeDiffIntDate", {value(20000101)}, value(-1), L"parameter 2, expecting integer"},
        {"DateIsValid", {}, value(-1), L"parameter 1, expecting integer"},
        {"UpdateWindow", {value(1)}, value(-1), L"parameter 1, expecting string"},
        {"CloseMsgWin", {value(L"1")}, value(-1), L"parameter 1, expecting integer"},
        {"WriteLog", {value(5)}, value(-1), L"parameter 1, expecting string"},
        {"DateAddDay", {value(0), value(L"1")}, value(0), L"parameter 2, expecting integer"},
        {"AddMinute", {value(100)}, value(), L"parameter 2, expecting integer"},
        {"DateDiffForShare", {value(L"dd"), value(L"2024-01-01")}, value(), L"parameter 3, expecting string"},
        {"RemoteCall", {value(L"[]")}, value(), L"parameter 1, expecting array"},
        {"FuncOp", {value(L"f")}, value(), L"parameter 2, expecting string"},
        {"HealthNoteOp", {value(1)}, value(), L"parameter 1, expecting object"},
        {"UserActionDataOp", {}, value(), L"parameter 1, expecting object"},
        {"SetLoadPageState", {value(L"healthElement"), value(L"1")}, value(-1), L"parameter 2, expecting integer"},
        {"GetSystemConfig", {value::make_map()}, value(-1), L"parameter 1, expecting array"},
        {"SetSystemConfig", {}, value(-1), L"parameter 1, expecting array"},
        {"OpenResPlayer", {list, list}, value(L""), L"parameter 3, expecting array"},
        {"SetResPlayerTitle", {value(1)}, value(false), L"parameter 1, expecting string"},
    };
    for (const auto& c : cases) {
        const auto r = Call(c.method, c.args);
        EXPECT_FALSE(r.ok) << c.method;
        EXPECT_EQ(r.error, c.error) << c.method;
        EXPECT_EQ(r.result, c.fallback) << c.method;
    }
}

}  // namespace
