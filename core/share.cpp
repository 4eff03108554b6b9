#include "share.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "ArticleMsgWin.h"
#include "Communication.h"
#include "Config.h"
#include "CheckedNative.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "EngineSdk.h"
#include "FloatBarWin.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "Quorvix.h"
#include "ResPlayer.h"
#include "Text.h"
#include "Window.h"
#include "bloodPressureWin.h"
#include "global.h"
#include "pedometerWin.h"

std::atomic<bool> g_bAlReady{false};

namespace {

using uie::NativeArgs;
using uie::value;

constexpr int kError = -1;
constexpr wchar_t kDefaultVersion[] = L"1.2.0.0";
// How long an opener waits for a window it just started to exist.
constexpr std::chrono::milliseconds kWindowWait{3000};

// ---- argument checks --------------------------------------------------------------------

// A method without arguments.
template <class Result>
uie::NativeFn Plain(Result (*fn)()) {
    return [fn](HVM, const NativeArgs&) { return value(fn()); };
}

// An array or an object, as pages pass the records of a note or of user actions.
const value& ArgObject(const NativeArgs& args, std::size_t i) {
    return args[i].is_array() ? args[i] : uie::ArgMap(args, i);
}

// An integer field of a page's record; 0 when it is missing or not an integer.
int FieldInt(const value& record, const wchar_t* key) {
    const value v = record.get_item(value(key));
    return v.is_int() ? v.get_int() : 0;
}

// ---- dates ----------------------------------------------------------------------------------

value DateIsValid(HVM, const NativeArgs& args) {
    const int date = uie::ArgInt(args, 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date / 10000, date / 100 % 100, date % 100);
    SYSTEMTIME st{};
    return value(StrToSystemTime(text, &st) == 1 ? 0 : kError);
}

value DateAddDay(HVM, const NativeArgs& args) {
    const int base = uie::ArgInt(args, 0);
    const int days = uie::ArgInt(args, 1);
    return value(base == 0 ? GetDateAddDays(days) : 0);
}

// ---- windows --------------------------------------------------------------------------------

HWND MainWindow() {
    const CMainFrame* frame = g_pMainFrame;
    return frame != nullptr ? frame->GetHwnd() : nullptr;
}

value UpdateMainWindow(HVM, const NativeArgs& args) {
    if (uie::ArgString(args, 0) != L"mainWin") return value(kError);
    if (const HWND hwnd = MainWindow()) {
        SciterUpdateWindow(hwnd);
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
    }
    return value(0);
}

value CloseMsgWin(HVM, const NativeArgs& args) {
    static_cast<void>(uie::ArgInt(args, 0));  // not used, yet a page must pass a number
    try {
        if (const auto window = g_pArticleMsgWin.load()) window->ShowNextArticle();
    } catch (...) {
        // The page's close click must never fail.
    }
    return value(0);
}

value WriteLog(HVM, const NativeArgs& args) {
    const std::wstring text = uie::ArgString(args, 0);
    // The page's text is data: a "%" in it is never read as a format.
    CxLog::GetInstance()->Write(L"share", L"WriteLog", __LINE__, LOG_MESSAGE, text.c_str());
    return value();
}

// One call record: to the main window for "quorv...", to the floating bar for
// "popWin...", nowhere else. Records without their names are skipped.
void RemoteCallOne(const value& record) {
    if (!record.is_map()) return;
    const std::wstring rootID = records::MemberText(record, L"rootID");
    const std::wstring funcName = records::MemberText(record, L"funcName");
    if (rootID.empty() || funcName.empty()) return;
    const int flag = FieldInt(record, L"funcParaFlag");
    const std::wstring para = flag == 1 ? records::MemberText(record, L"funcPara") : std::wstring();
    if (rootID.starts_with(L"quorv")) {
        if (CMainFrame* frame = g_pMainFrame) frame->RemoteCall(rootID, funcName, flag, para);
    } else if (rootID.starts_with(L"popWin")) {
        if (CFloatBarWin* bar = CFloatBarWin::Made(L"share.RemoteCall")) bar->RemoteCall(rootID, funcName, flag, para);
    }
}

value RemoteCall(HVM, const NativeArgs& args) {
    const value& records = uie::ArgArray(args, 0);
    for (std::size_t i = 0; i < records.length(); ++i) RemoteCallOne(records.nth(i));
    return value();
}

// ---- settings -------------------------------------------------------------------------------

enum class Store { None, Ini, Database };

// One setting the settings page shows: its member in memory (a flag, a number or a
// text) and where a change is kept.
struct Setting {
    const wchar_t* id;
    bool struConfig::*flag;
    int struConfig::*number;
    std::wstring struConfig::*text;
    Store store;
    bool autoRun;              // also the start with the session
    const wchar_t* alsoStored;  // a second configuration row with the same value
};

constexpr Setting kSettings[] = {
    {L"AutoRunWithWindows", &struConfig::AutoRunWithWindows, nullptr, nullptr, Store::Ini, true, nullptr},
    {L"AutoLoginWhenRun", &struConfig::AutoLoginWhenRun, nullptr, nullptr, Store::Ini, false, nullptr},
    {L"HttpServiceAddr", nullptr, nullptr, &struConfig::HttpServiceAddr, Store::None, false, nullptr},
    {L"DataSaveWay", nullptr, &struConfig::DataSaveWay, nullptr, Store::Database, false, nullptr},
    {L"CloseAllSound", &struConfig::CloseAllSound, nullptr, nullptr, Store::Database, false, nullptr},
    {L"ShowMessageBox", &struConfig::ShowMessageBox, nullptr, nullptr, Store::Database, false, nullptr},
    // The page's name for the system-tip sound; the configuration after login reads
    // the row "CloseSystemTipSound", so that row is kept too.
    {L"CloseMsgSound", &struConfig::CloseSystemTipSound, nullptr, nullptr, Store::Database, false,
     L"CloseSystemTipSound"},
    {L"UpdateMode", nullptr, &struConfig::UpdateMode, nullptr, Store::Database, false, nullptr},
    {L"AutoHideFullScreen", &struConfig::AutoHideFullScreen, nullptr, nullptr, Store::Database, false, nullptr},
    {L"NotifyMessageFullScreen", &struConfig::NotifyMessageFullScreen, nullptr, nullptr, Store::Database, false,
     nullptr},
};

const Setting* FindSetting(const std::wstring& id) {
    for (const Setting& s : kSettings)
        if (id == s.id) return &s;
    return nullptr;
}

std::wstring ShownValue(const Setting& s) {
    const struConfig& c = g_Config.m_config;
    if (s.flag != nullptr) return c.*s.flag ? L"1" : L"0";
    if (s.number != nullptr) return std::to_wstring(c.*s.number);
    return c.*s.text;
}

value GetSystemConfig(HVM, const NativeArgs& args) {
    const value& records = uie::ArgArray(args, 0);
    value result = value::make_array();
    for (std::size_t i = 0; i < records.length(); ++i) {
        value record = records.nth(i);
        const Setting* s = record.is_map() ? FindSetting(records::MemberText(record, L"ID")) : nullptr;
        if (s == nullptr) continue;
        record.set_item(value(L"ID"), value(s->id));
        record.set_item(value(L"value"), value(ShownValue(*s)));
        result.append(std::move(record));
    }
    return result;
}

// A line break in a settings-file value would start a line of its own: a key of the
// page's making.
void WriteIni(const Setting& s, const std::wstring& text) {
    if (text.find_first_of(L"\r\n") != std::wstring::npos) {
        LOGF(LOG_WARNING, L"SetSystemConfig", L"%s: a value with a line break is not written", s.id);
        return;
    }
    g_Config.WriteProfileString(L"Login", s.id, text.c_str());
}

void ApplySetting(const Setting& s, const std::wstring& text) {
    struConfig& c = g_Config.m_config;
    const int number = text::WToI(text.c_str());
    if (s.flag != nullptr) c.*s.flag = number != 0;
    if (s.number != nullptr) c.*s.number = number;
    if (s.autoRun && !SetAutoRun(number != 0))
        LOGF(LOG_MESSAGE, L"SetSystemConfig", L"AutoRunWithWindows[%d]:fail", number != 0 ? 1 : 0);
    if (s.store == Store::Ini) WriteIni(s, text);
    if (s.store == Store::Database) g_Config.SetConfigDBKeyValue(s.id, text);
    if (s.alsoStored != nullptr) g_Config.SetConfigDBKeyValue(s.alsoStored, text);
}

value SetSystemConfig(HVM, const NativeArgs& args) {
    const value& records = uie::ArgArray(args, 0);
    for (std::size_t i = 0; i < records.length(); ++i) {
        const value record = records.nth(i);
        const value text = record.get_item(value(L"value"));
        const Setting* s = record.is_map() ? FindSetting(records::MemberText(record, L"ID")) : nullptr;
        if (s != nullptr && s->store != Store::None && text.is_string()) ApplySetting(*s, text.get_string());
    }
    return value(0);
}

// ---- device windows ---------------------------------------------------------------------------

std::mutex& OpenerLock() {
    static std::mutex lock;
    return lock;
}

// The window of the global, made and started on first use; null, logged, when it cannot
// be made. Test and make under one lock, so racing pages make one window.
template <class Win>
Win* DeviceWindow(std::atomic<Win*>& global, const wchar_t* function, const wchar_t* failure) {
    std::lock_guard lock(OpenerLock());
    if (global != nullptr) return global;
    Win* made = new (std::nothrow) Win();  // lives as long as the program
    if (made == nullptr) {
        LOGF(LOG_ERROR, function, L"%s", failure);
        return nullptr;
    }
    global = made;
    made->Start();
    return made;
}

// A window just started exists a moment later, on its own thread.
HWND WaitForWindow(const CSciterWindow& window) {
    const auto end = std::chrono::steady_clock::now() + kWindowWait;
    HWND hwnd = window.GetHwnd();
    while (hwnd == nullptr && g_nRunState != 4 && std::chrono::steady_clock::now() < end) {
        Sleep(10);
        hwnd = window.GetHwnd();
    }
    return hwnd;
}

void BringToFront(const CSciterWindow& window) {
    const HWND hwnd = WaitForWindow(window);
    SetForegroundWindow(hwnd);
    SetActiveWindow(hwnd);
    ShowWindow(hwnd, SW_SHOW);
}

// ---- the object ---------------------------------------------------------------------------------

value True() { return value(true); }

std::vector<uie::NativeMethod> DateMethods() {
    return {
        {"GetDate", Plain(GetCurDate)},
        {"GetYear", Plain(GetCurYear)},
        {"GetMonth", Plain(GetCurMonth)},
        {"GetDay", Plain(GetCurDay)},
        {"GetWeek", Plain(GetWeekDay)},
        {"GetTime", Plain(GetCurTimeHHMM)},
        {"GetDayDiffIntDate", Checked(kError,
                                      [](HVM, const NativeArgs& a) {
                                          const int d1 = uie::ArgInt(a, 0);
                                          const int d2 = uie::ArgInt(a, 1);
                                          return value(IntDateDiff(d1, d2, uie::ArgInt(a, 2)));
                                      })},
        {"GetAgeDiffIntDate", Checked(kError,
                                      [](HVM, const NativeArgs& a) {
                                          const int birth = uie::ArgInt(a, 0);
                                          return value(GetAgeByDate(birth, uie::ArgInt(a, 1)));
                                      })},
        {"DateIsValid", Checked(kError, DateIsValid)},
    };
}

std::vector<uie::NativeMethod> Methods() {
    std::vector<uie::NativeMethod> methods = {
        {"isFullScreen", Plain(GetFullScreenFlag)},
        {"MainWinIsShow", [](HVM, const NativeArgs&) {
             const HWND hwnd = MainWindow();
             return value(hwnd != nullptr && IsWindowVisible(hwnd) != FALSE);
         }},
        {"isAlready", [](HVM, const NativeArgs&) { return value(g_bAlReady.load()); }},
    };
    for (auto& m : DateMethods()) methods.push_back(std::move(m));
    const std::vector<uie::NativeMethod> rest = {
        {"UpdateWindow", Checked(kError, UpdateMainWindow)},
        {"CloseMsgWin", Checked(kError, CloseMsgWin)},
        {"WriteLog", Checked(kError, WriteLog)},
        {"DateAddDay", Checked(0, DateAddDay)},
        {"AddMinute", Checked(value(),
                              [](HVM, const NativeArgs& a) {
                                  const int first = uie::ArgInt(a, 0);
                                  return value(AddTimeHHMM(first, uie::ArgInt(a, 1)));
                              })},
        {"DateDiffForShare", Checked(value(),
                                     [](HVM, const NativeArgs& a) {
                                         const std::wstring unit = uie::ArgString(a, 0);
                                         const std::wstring older = uie::ArgString(a, 1);
                                         return value(DateDiff(unit, older, uie::ArgString(a, 2)));
                                     })},
        {"RemoteCall", Checked(value(), RemoteCall)},
        {"FuncOp", Checked(value(),
                           [](HVM, const NativeArgs& a) {
                               const std::wstring funcID = uie::ArgString(a, 0);
                               const std::wstring operation = uie::ArgString(a, 1);
                               CCommunication* comm = g_pCommunication;
                               return value(comm != nullptr ? comm->FuncOp(funcID, operation) : kError);
                           })},
        {"HealthNoteOp", Checked(value(),
                                 [](HVM, const NativeArgs& a) {
                                     const value& note = ArgObject(a, 0);
                                     CCommunication* comm = g_pCommunication;
                                     return value(comm != nullptr ? comm->HealthNoteOp(note) : kError);
                                 })},
        {"UserActionDataOp", Checked(value(),
                                     [](HVM, const NativeArgs& a) {
                                         const value& actions = ArgObject(a, 0);
                                         CCommunication* comm = g_pCommunication;
                                         return value(comm != nullptr ? comm->UserActionDataOp(actions) : kError);
                                     })},
        {"SetLoadPageState", Checked(kError,
                                     [](HVM, const NativeArgs& a) {
                                         const std::wstring key = uie::ArgString(a, 0);
                                         return value(g_Config.SetLoadPageState(key, uie::ArgInt(a, 1)));
                                     })},
        {"GetSystemConfig", Checked(kError, GetSystemConfig)},
        {"SetSystemConfig", Checked(kError, SetSystemConfig)},
        {"OpenResPlayer", Checked(value(L""),
                                  [](HVM, const NativeArgs& a) {
                                      const value& settings = uie::ArgArray(a, 0);
                                      const value& classes = uie::ArgArray(a, 1);
                                      const value& items = uie::ArgArray(a, 2);
                                      return value(CResPlayer::Open(settings, classes, items));
                                  })},
        {"CloseResPlayer", Plain(True)},
        {"GetResPlayerXMLData", Plain(CResPlayer::GetOpenPlayerXml)},
        {"SetResPlayerTitle", Checked(false,
                                      [](HVM, const NativeArgs& a) {
                                          CResPlayer::SetOpenPlayerTitle(uie::ArgString(a, 0).c_str());
                                          return value(true);
                                      })},
        {"OpenPedometerWin", [](HVM, const NativeArgs&) { return value(OpenPedometerWin(2)); }},
        {"ClosePedometerWin", Plain(True)},
        {"OpenBloodPressureWin", [](HVM, const NativeArgs&) { return value(OpenBloodPressureWin(2)); }},
        {"CloseBloodPressureWin", Plain(True)},
        {"SetAlReady", [](HVM, const NativeArgs&) {
             g_bAlReady = true;
             return value(true);
         }},
        {"InvalidateRect", [](HVM, const NativeArgs&) {
             if (const HWND hwnd = MainWindow()) InvalidateRect(hwnd, nullptr, TRUE);
             return value(0);
         }},
        {"ShutComputer", [](HVM, const NativeArgs&) { return value(ShutComputer(1)); }},
        {"LockScreen", Plain(LockWorkStationNow)},
        {"StartScreenSave", [](HVM, const NativeArgs&) { return value(SetScreenSaveActive(true)); }},
        {"CancelScreenSave", [](HVM, const NativeArgs&) { return value(SetScreenSaveActive(false)); }},
    };
    methods.insert(methods.end(), rest.begin(), rest.end());
    return methods;
}

std::vector<uie::NativeProperty> Properties() {
    return {
        {"version",
         [](HVM, const NativeArgs&) {
             const std::wstring& version = g_Config.m_config.version;
             return value(version.empty() ? std::wstring(kDefaultVersion) : version);
         },
         {}},
        {"installFlash", Plain(IsFlashInstalled), {}},
    };
}

}  // namespace

std::shared_ptr<const uie::NativeObjectDef> ShareScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = Methods();
        d->properties = Properties();
        d->constants = {{"ERROR", value(kError)}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

bool RegisterShareScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "share", ShareScriptObjectDef()); }

bool OpenPedometerWin(int mode) {
    CPedometerWin* window = DeviceWindow(g_pPedometer, L"OpenPedometerWin", L"g_pPedometer == NULL!!!");
    if (window == nullptr) return false;
    BringToFront(*window);
    if (mode == 2) window->QuestPedoRank();
    return true;
}

bool OpenBloodPressureWin(int) {
    CBloodPressureWin* window =
        DeviceWindow(g_pBloodPressure, L"OpenBloodPressureWin", L"g_pBloodPressure == NULL!!!");
    if (window == nullptr) return false;
    BringToFront(*window);
    return true;
}
