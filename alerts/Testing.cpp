#include "Testing.h"

#include <chrono>

#include "Alert.h"
#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MessageWin.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"

CTesting* g_pTesting = nullptr;

namespace {

using uie::NativeArgs;
using uie::value;

bool ParseTime(const std::wstring& text, SYSTEMTIME& out) {
    return StrToSystemTime(text::ToAnsi(text).c_str(), &out) == 1;
}

std::wstring TimeText(const SYSTEMTIME& t) {
    std::wstring s;
    text::FormatW(s, 32, L"%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return s;
}

value TestingAfterUpdateVarFn(HVM, const NativeArgs& args) {
    CTesting* testing = g_pTesting;
    if (testing == nullptr) return value(-1);
    return value(testing->TestingAfterUpdateVar(args[0]));
}

}  // namespace

CTesting::CTesting() : m_dwLastAlertTick(GetTickCount()) {}

CTesting::~CTesting() { StopWork(); }

int CTesting::StartWork() {
    if (ReadTestingFormDB() == 0) {
        LOGF(LOG_ERROR, L"CTesting::StartWork", L"ReadTestingFormDB fail!!!");
        return 0;
    }
    if (m_thread.joinable()) return 1;
    return m_stop.Start(m_thread, [this] { RunTesting(); }, L"CTesting::StartWork") ? 1 : 0;
}

void CTesting::StopWork() {
    m_stop.Stop(m_thread);
}

int CTesting::ReadTestingFormDB() {
    std::map<std::wstring, std::unique_ptr<struTesting>> loaded;
    records::SelectOwnConnection(
        L"CTesting::ReadTestingFormDB", L"ReadTestingFormDB",
        L"select testingItemID, testingItemName, lastTestingTime, testingCycle, alertFlag, duraMinute, "
        L"lastAlertTime,alertResponseFunc from tTesting order by testingItemID;",
        [&loaded](const std::vector<std::wstring>& row) {
            auto item = std::make_unique<struTesting>();
            item->testingItemID = records::ColumnText(row, 0);
            item->testingItemName = records::ColumnText(row, 1);
            item->lastTestingTime = records::ColumnText(row, 2);
            item->testingCycle = records::ColumnInt(row, 3);
            item->alertFlag = records::ColumnText(row, 4);
            item->duraMinute = records::ColumnInt(row, 5);
            item->lastAlertTime = records::ColumnText(row, 6);
            item->alertResponseFunc = records::ColumnText(row, 7);
            item->lastTestingTimeOk = ParseTime(item->lastTestingTime, item->stLastTestingTime);
            item->lastAlertTimeOk = ParseTime(item->lastAlertTime, item->stLastAlertTime);
            const std::wstring id = item->testingItemID;
            if (!loaded.emplace(id, std::move(item)).second)
                LOGF(LOG_WARNING, L"CTesting::ReadTestingFormDB", L"m_mapTesting.insert[%s] fail!!!", id.c_str());
            return true;
        });
    std::lock_guard lock(m_lock);
    ClearTesting();
    m_mapTesting = std::move(loaded);
    return 1;
}

void CTesting::ClearTesting() {
    std::lock_guard lock(m_lock);
    m_mapTesting.clear();
}

int CTesting::WriteLastAlertTime(const std::wstring& testingItemID) {
    const std::wstring sql =
        L"update tTesting set lastAlertTime = datetime('now','localtime'), modifyTime = datetime('now','localtime') "
        L"where testingItemID = '" + text::QuoteSql(testingItemID) + L"';";
    return g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQL(sql) : -1;
}

bool CTesting::GetItem(const std::wstring& testingItemID, struTesting& out) const {
    std::lock_guard lock(m_lock);
    const auto it = m_mapTesting.find(testingItemID);
    if (it == m_mapTesting.end()) return false;
    out = *it->second;
    return true;
}

bool CTesting::WaitForMainFrame() {
    const auto until = [this](bool (*condition)()) {
        while (!condition())
            if (g_nRunState == 4 || m_stop.Wait(100)) return false;
        return true;
    };
    return until([] { return g_pMainFrame != nullptr; }) &&
           until([] { return g_pMainFrame != nullptr && g_pMainFrame->IsReady() != nullptr; }) &&
           until([] { return g_pMainFrame != nullptr && g_pMainFrame->GetState() != 0; });
}

void CTesting::RunTesting() {
    if (!WaitForMainFrame()) return;
    Sleep(kStartDelayMs);
    m_bRunning = true;
    // The run state is tested on every turn, also while no message window exists.
    while (g_nRunState != 4 && !m_stop.Wait(0)) {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        if (now.wMinute != m_nLastMinute) {
            if (g_pMessageWin == nullptr) {
                Sleep(10);
                continue;
            }
            RunPass(now, GetTickCount());
            m_nLastMinute = now.wMinute;
        }
        for (int step = 0; step < 20; ++step)
            if (g_nRunState == 4 || m_stop.Wait(100)) break;
    }
    LOGF(LOG_MESSAGE, L"CTesting::RunTesting", L"CTesting::RunTesting exit...");
    Sleep(500);
    ClearTesting();
    m_bRunning = false;
    LOGF(LOG_MESSAGE, L"CTesting::RunTesting", L"CTesting::RunTesting exit.");
}

bool CTesting::Due(struTesting& item, const SYSTEMTIME& now, DWORD tick) {
    if (item.alertFlag != L"1") return false;
    if (!item.lastTestingTimeOk ||
        DateDiffBySystemTime("minute", item.stLastTestingTime, now, &item.testingMinutes) != 1 ||
        item.testingMinutes <= item.testingCycle)
        return false;
    if (!item.lastAlertTimeOk || DateDiffBySystemTime("minute", item.stLastAlertTime, now, &item.alertMinutes) != 1 ||
        item.alertMinutes <= item.duraMinute)
        return false;
    // Ticks wrap: the unsigned difference is the time passed.
    return !m_bReminded || tick - m_dwLastAlertTick >= kReminderGapMs;
}

int CTesting::RunPass(const SYSTEMTIME& now, DWORD tick) {
    std::vector<Reminder> due;
    {
        std::lock_guard lock(m_lock);
        for (auto& [id, item] : m_mapTesting) {
            if (!Due(*item, now, tick)) continue;
            m_bReminded = true;
            m_dwLastAlertTick = tick;
            item->lastAlertTime = TimeText(now);
            item->stLastAlertTime = now;
            item->lastAlertTimeOk = true;
            due.push_back({item->testingItemID, item->testingItemName, item->alertResponseFunc, item->alertNo});
        }
    }
    for (const Reminder& reminder : due) Remind(reminder, now);
    return static_cast<int>(due.size());
}

void CTesting::Remind(const Reminder& reminder, const SYSTEMTIME& now) {
    value list = value::make_array();
    list.append(records::MakeObject({{L"funcName", value(L"BandCommonMessage")},
                                     {L"alertType", value(L"2")},
                                     {L"alertNo", value(reminder.alertNo)},
                                     {L"additionalMessage", value(L"")},
                                     {L"message", value(reminder.testingItemName)},
                                     {L"ResponseFunc", value(reminder.alertResponseFunc)}}));
    QueueMessage(list);
    WriteLastAlertTime(reminder.testingItemID);
    struAlertListW alert;
    alert.alertDate = now.wYear * 10000 + now.wMonth * 100 + now.wDay;
    alert.alertNo = alert.no = reminder.alertNo;
    alert.alertType = L"2";
    alert.message = reminder.testingItemName;
    alert.duraMinute = alert.alertMinute = alert.actionNo = -1;
    if (g_pCommunication != nullptr) g_pCommunication->AlertListUpLoad_asyn(alert);
}

void CTesting::QueueMessage(const value& message) {
    if (CMessageWin* window = g_pMessageWin) window->AddMessage(message, 1);
}

int CTesting::TestingAfterUpdateVar(const value& arg) {
    constexpr const wchar_t* kFn = L"CTesting::TestingAfterUpdateVar";
    if (!arg.is_array()) {
        LOGF(LOG_WARNING, kFn, L"TestingAfterUpdateVar: no array");
        return -1;
    }
    if (arg.length() <= 0) {
        LOGF(LOG_WARNING, kFn, L"TestingAfterUpdateVar: jVal.length()<=0");
        return -1;
    }
    const value first = arg.nth(0);
    if (!first.is_map()) {
        LOGF(LOG_WARNING, kFn, L"TestingAfterUpdateVar: the first element is no map");
        return -1;
    }
    struTestingResultW result;
    result.testingItemID = records::MemberText(first, L"testingItemID");
    result.lastTestingTime = records::MemberText(first, L"lastTestingTime");
    result.lastTestingNote = records::MemberText(first, L"lastTestingNote");
    result.lastTestingPoint = records::MemberInt(first, L"lastTestingPoint", -1);
    if (g_pCommunication != nullptr) g_pCommunication->TestingListUpLoad_asyn(result);
    SYSTEMTIME parsed{};
    const bool parses = ParseTime(result.lastTestingTime, parsed);
    std::lock_guard lock(m_lock);
    const auto it = m_mapTesting.find(result.testingItemID);
    if (it != m_mapTesting.end()) {
        it->second->lastTestingTime = result.lastTestingTime;
        // The worker compares the parsed time: a test just done must hold the reminder back.
        if (parses) {
            it->second->stLastTestingTime = parsed;
            it->second->lastTestingTimeOk = true;
        }
    }
    return 0;
}

int CTesting::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "testing", ScriptObjectDef()) ? 1 : 0; }

std::shared_ptr<const uie::NativeObjectDef> CTesting::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"testingAfterUpdateVar", TestingAfterUpdateVarFn}};
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}
