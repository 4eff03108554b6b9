#include "UserOperation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "FloatBarWin.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "PopWin.h"
#include "Quorvix.h"
#include "Text.h"
#include "UserActivity.h"
#include "UserOpPopGraph.h"

CUserOperation* g_pUserOperation = nullptr;

namespace {

constexpr DWORD kPeriodicSeconds = 5;  // the day check runs when more than this has passed
constexpr DWORD kModulePathChars = 260;

int RoundedSeconds(std::uint64_t ms) { return static_cast<int>((ms + 500) / 1000); }

// (part * 100 + 50) / whole by integer division, 0 when whole is 0 or less.
int Rate(int part, int whole) { return whole > 0 ? (part * 100 + 50) / whole : 0; }

// trunc(part / whole * 100 + 0.5); 0 when nothing is active (no division by zero).
int Percent(std::uint64_t part, std::uint64_t whole) {
    if (whole == 0) return 0;
    return static_cast<int>(std::trunc(static_cast<double>(part) / static_cast<double>(whole) * 100.0 + 0.5));
}

CPopWin* UserOpPopup() {
    CFloatBarWin* bar = g_pFloatBarWin;
    return bar != nullptr ? bar->GetPopup(CFloatBarWin::kApp) : nullptr;
}

bool Visible(const CSciterWindow* window) { return window != nullptr && IsWindowVisible(window->GetHwnd()); }

bool FrameExists() { return g_pMainFrame != nullptr; }
bool FrameHasWindow() { return g_pMainFrame != nullptr && g_pMainFrame->GetHwnd() != nullptr; }
bool FrameReady() { return g_pMainFrame != nullptr && g_pMainFrame->IsReady() != nullptr; }
bool FrameStarted() { return g_pMainFrame != nullptr && g_pMainFrame->GetState() != 0; }
bool ElementsLoaded() { return g_Config.GetLoadPageState(L"healthElement") == 1; }

}  // namespace

std::wstring CUserOperation::LowerAscii(std::wstring s) {
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

CUserOperation::CUserOperation() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    m_nCurDay = st.wYear * 10000 + st.wMonth * 100 + st.wDay;
}

CUserOperation::~CUserOperation() { StopWork(); }

int CUserOperation::StartWork() {
    ReadAppTypeFromDB();
    ResetDayData();
    ReadLastUserOperation();
    if (m_thread.joinable()) return 0;
    // The foreground program is always asked through the platform layer, so there is no
    // library to load here; without a display it is simply unknown.
    m_bWorking = true;
    const bool started = m_stop.Start(m_thread, [this] {
        WorkThread();
        m_bWorking = false;
    }, L"CUserOperation::StartWork");
    if (!started) m_bWorking = false;
    return started ? 0 : -2;
}

void CUserOperation::StopWork() {
    m_stop.Stop(m_thread);
}

bool CUserOperation::WaitUntil(bool (*condition)()) {
    while (!condition()) {
        if (g_nRunState == 4 || m_stop.Wait(10)) return false;
    }
    return true;
}

void CUserOperation::WorkThread() {
    if (!WaitUntil(FrameExists) || !WaitUntil(FrameHasWindow) || !WaitUntil(FrameReady) ||
        !WaitUntil(FrameStarted) || !WaitUntil(ElementsLoaded))
        return;
    // The main page has reported its element panel: from here on computer use is measured.
    LOGF(LOG_MESSAGE, L"CUserOperation::WorkThread", L"CUserOperation::WorkThread start...");
    while (g_nRunState != 4) {
        if (m_stop.Wait(m_dwWaitMs)) return;
        SampleStep();
        PeriodicStep();
        Sleep(10);
    }
    LOGF(LOG_MESSAGE, L"CUserOperation::WorkThread", L"CUserOperation::WorkThread exit...");
    Sleep(500);
    LOGF(LOG_MESSAGE, L"CUserOperation::WorkThread", L"CUserOperation::WorkThread exit.");
}

void CUserOperation::SampleStep() {
    LASTINPUTINFO info{sizeof(LASTINPUTINFO), 0};
    if (!GetLastInputInfo(&info)) {
        Sleep(50);
        return;
    }
    DWORD last = 0;
    {
        std::lock_guard lock(m_lock);
        last = m_dwLastInputTime;
    }
    if (info.dwTime - last <= kMinSampleGapMs) return;
    ProcData(info.dwTime);
    std::lock_guard lock(m_lock);
    m_dwLastInputTime = info.dwTime;  // also when the sample was dropped
}

void CUserOperation::PeriodicStep() {
    const DWORD now = GetTickCount();
    if (m_bPeriodicDone && (now - m_dwPeriodicTick) / 1000 <= kPeriodicSeconds) return;
    const int today = GetCurDate();
    if (today != m_nCurDay) {
        RecordUserOpertion();  // closes the old day's row before the figures start again
        m_nCurDay = today;
        ResetDayData();
        ReadLastUserOperation();
        if (CHealthResources* resources = g_pHealthResources) resources->RefreshAgeElement();
    }
    PostUserOpInfoToPopup();
    m_bPeriodicDone = true;
    m_dwPeriodicTick = now;
}

void CUserOperation::PostUserOpInfoToPopup() {
    CPopWin* popup = UserOpPopup();
    if (Visible(popup)) popup->PostFloatUserOpInfo();
}

void CUserOperation::ProcData(DWORD inputTime) {
    wchar_t module[kModulePathChars];
    if (GetForegroundModuleFileName(module, kModulePathChars) == 0) return;
    const std::wstring path = module;
    std::wstring previous;
    DWORD gap = 0;
    {
        std::lock_guard lock(m_lock);
        const DWORD last = m_dwLastInputTime;
        gap = inputTime - last;
        previous = m_strCurProgram;
        m_dwLastInputTime = inputTime;
        m_strCurProgram = path;
        // A gap over the limit was idle time: nothing is credited.
        if (last == 0 || gap == 0 || gap > kMaxCreditedGapMs || previous.empty()) return;
    }
    ProcessUserTimeAdd(previous, gap);
    if (GetLastUserOpGraphData().empty()) RefreshUserOpGraph();
}

int CUserOperation::ProcessUserTimeAdd(std::wstring path, DWORD ms) {
    path = LowerAscii(std::move(path));
    std::wstring folder;
    std::wstring fileName;
    SplitAppPath(path, folder, fileName);
    bool known = false;
    {
        std::lock_guard lock(m_lock);
        known = m_mapProcessInfo.count(path) != 0;
    }
    // The type is read before the lock is taken: no database call under it.
    const int appType = known ? 0 : GetAppTypeByAppFile(fileName);

    std::lock_guard lock(m_lock);
    const DWORD now = GetTickCount();
    // The unsigned difference stays right across the tick count's wrap.
    m_computerUseMs = static_cast<std::uint64_t>(m_dayRecord.baseSecond) * 1000 + (now - m_dwStartTick);
    m_activeMs = std::min(m_activeMs + ms, m_computerUseMs);
    PROCESSINFO* info = nullptr;
    if (const auto it = m_mapProcessInfo.find(path); it != m_mapProcessInfo.end()) {
        info = it->second.get();
        info->activeMs += ms;
    } else {
        auto made = std::make_unique<PROCESSINFO>();
        made->fullPath = path;
        made->fileName = fileName;
        made->appType = appType;
        made->activeMs = ms;
        info = m_mapProcessInfo.emplace(path, std::move(made)).first->second.get();
    }
    if (info->appType == kBrowsingType) m_browsingMs = std::min(m_browsingMs + ms, m_activeMs);
    RecomputeLocked();
    return 0;
}

void CUserOperation::RecomputeLocked() {
    std::lock_guard lock(m_lock);
    UserOpDayRecord& r = m_dayRecord;
    r.computerUseSecond = RoundedSeconds(m_computerUseMs);
    r.mskbUseSecond = RoundedSeconds(m_activeMs);
    r.browerUseSecond = RoundedSeconds(m_browsingMs);
    r.mskbOpRate = Rate(r.mskbUseSecond, r.computerUseSecond);
    r.browsingRate = Rate(r.browerUseSecond, r.mskbUseSecond);
    RebuildTypeTotals();
    FillSlotsLocked();
}

void CUserOperation::RebuildTypeTotals() {
    std::lock_guard lock(m_lock);
    m_mapTypeTotals.clear();
    for (auto& [path, info] : m_mapProcessInfo) {
        info->percent = Percent(info->activeMs, m_activeMs);
        auto& total = m_mapTypeTotals[info->appType];
        if (!total) {
            total = std::make_unique<AppTypeTotal>();
            total->appType = info->appType;
            total->appTypeName = GetAppTypeName(info->appType);
        }
        total->ms += info->activeMs;
        total->seconds = RoundedSeconds(total->ms);
        total->percent = Percent(total->ms, m_activeMs);
    }
}

void CUserOperation::FillSlotsLocked() {
    std::vector<const PROCESSINFO*> order;
    for (const auto& entry : m_mapProcessInfo) order.push_back(entry.second.get());
    // Largest time first; among equal times the path that sorts last.
    std::sort(order.begin(), order.end(), [](const PROCESSINFO* a, const PROCESSINFO* b) {
        return a->activeMs != b->activeMs ? a->activeMs > b->activeMs : a->fullPath > b->fullPath;
    });
    // Slots beyond the programs keep their values: the map only grows during a day.
    for (std::size_t i = 0; i < order.size() && i < kSlotCount; ++i) {
        UserOpDayRecord::AppSlot& slot = m_dayRecord.apps[i];
        slot.appName = order[i]->fullPath;
        slot.appUseSecond = RoundedSeconds(order[i]->activeMs);
        slot.appUsePercent = order[i]->percent;
        slot.appType = order[i]->appType;
        m_dayRecord.appFileNames[i] = order[i]->fileName;
    }
}

void CUserOperation::ResetDayData() {
    const int userNo = LoggedInUserNo();
    std::lock_guard lock(m_lock);
    m_mapTypeTotals.clear();
    m_mapProcessInfo.clear();
    m_dwLastInputTime = 0;
    m_dwStartTick = GetTickCount();
    m_computerUseMs = m_activeMs = m_browsingMs = 0;
    UserOpDayRecord fresh;
    fresh.userNo = userNo;
    fresh.recDate = m_nCurDay;
    fresh.modifyTime = m_dayRecord.modifyTime;
    fresh.syncNo = -1;
    m_dayRecord = std::move(fresh);
}

int CUserOperation::ReadLastUserOperation() {
    UserOpDayRecord r = GetDayRecord();
    std::wstring sql;
    text::FormatW(sql, 4096,
                  L"select userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond, appName, appUseSecond, "
                  L"appUsePercent, appType, appName2, appUseSecond2, appUsePercent2, appType2, appName3, "
                  L"appUseSecond3, appUsePercent3, appType3, appName4, appUseSecond4, appUsePercent4, appType4, "
                  L"appName5, appUseSecond5, appUsePercent5, appType5, appName6, appUseSecond6, appUsePercent6, "
                  L"appType6, syncNo, status, note, modifyTime from tUserOpData where userNo = %d and recDate = %d;",
                  r.userNo, r.recDate);
    SqlRows rows;
    const int error = g_pMyDatabase != nullptr ? g_pMyDatabase->SelectTableWithReturn(sql, rows) : -1;
    if (error != 0) return error;
    if (rows.empty()) return 0;
    const std::vector<std::wstring>& row = rows.front();
    std::size_t c = 2;
    r.computerUseSecond = records::ColumnInt(row, c++);
    r.mskbUseSecond = records::ColumnInt(row, c++);
    r.browerUseSecond = records::ColumnInt(row, c++);
    for (auto& slot : r.apps) {
        slot.appName = records::ColumnText(row, c++);
        slot.appUseSecond = records::ColumnInt(row, c++);
        slot.appUsePercent = records::ColumnInt(row, c++);
        slot.appType = records::ColumnInt(row, c++);
    }
    r.syncNo = records::ColumnInt(row, c++);
    r.status = records::ColumnText(row, c++);
    r.note = records::ColumnText(row, c++);
    r.modifyTime = records::ColumnText(row, c++);
    r.baseSecond = r.computerUseSecond;

    std::lock_guard lock(m_lock);
    m_dayRecord = r;
    m_dwStartTick = GetTickCount();
    m_computerUseMs = static_cast<std::uint64_t>(std::max(r.baseSecond, 0)) * 1000;
    m_activeMs = static_cast<std::uint64_t>(std::max(r.mskbUseSecond, 0)) * 1000;
    m_browsingMs = static_cast<std::uint64_t>(std::max(r.browerUseSecond, 0)) * 1000;
    m_dayRecord.mskbOpRate = Rate(r.mskbUseSecond, r.computerUseSecond);
    m_dayRecord.browsingRate = Rate(r.browerUseSecond, r.mskbUseSecond);
    for (const auto& slot : r.apps) {
        if (slot.appName.empty()) continue;
        auto info = std::make_unique<PROCESSINFO>();
        info->fullPath = slot.appName;
        std::wstring folder;
        SplitAppPath(slot.appName, folder, info->fileName);
        info->appType = slot.appType;
        info->percent = slot.appUsePercent;
        info->activeMs = static_cast<std::uint64_t>(std::max(slot.appUseSecond, 0)) * 1000;
        if (!m_mapProcessInfo.emplace(slot.appName, std::move(info)).second)
            LOGF(LOG_WARNING, L"CUserOperation::ReadLastUserOperation", L"m_mapProcessInfo.insert[%s] fail!!!",
                 slot.appName.c_str());
    }
    RebuildTypeTotals();
    return 0;
}

bool CUserOperation::GetUseSecondValue(const std::wstring& elementID, int* seconds) {
    int UserOpDayRecord::*field = nullptr;
    if (elementID == L"computerUseSecond") field = &UserOpDayRecord::computerUseSecond;
    if (elementID == L"mskbUseSecond") field = &UserOpDayRecord::mskbUseSecond;
    if (elementID == L"surfingInternetSecond") field = &UserOpDayRecord::browerUseSecond;
    if (field == nullptr || seconds == nullptr) return false;
    *seconds = GetField(field);
    return true;
}

std::wstring CUserOperation::UserOpStatement(const UserOpDayRecord& r, bool update) const {
    // Built whole: six long paths must not cut the statement, and every text is quoted.
    std::wstring sql;
    const auto q = [](const std::wstring& s) { return L"'" + text::QuoteSql(s) + L"'"; };
    const auto n = [](int v) { return std::to_wstring(v); };
    const auto suffix = [](std::size_t i) { return i == 0 ? std::wstring() : std::to_wstring(i + 1); };
    if (update) {
        sql = L"update tUserOpData set computerUseSecond=" + n(r.computerUseSecond) +
              L", mskbUseSecond=" + n(r.mskbUseSecond) + L", browerUseSecond=" + n(r.browerUseSecond);
        for (std::size_t i = 0; i < kSlotCount; ++i) {
            const auto& a = r.apps[i];
            const std::wstring s = suffix(i);
            sql += L", appName" + s + L"=" + q(a.appName) + L", appUseSecond" + s + L"=" + n(a.appUseSecond) +
                   L", appUsePercent" + s + L"=" + n(a.appUsePercent) + L", appType" + s + L"=" + n(a.appType);
        }
        sql += L", syncNo=" + n(r.syncNo) + L", status=" + q(r.status) + L", note=" + q(r.note) +
               L", modifyTime=datetime('now','localtime') where userNo=" + n(r.userNo) +
               L" and recDate=" + n(r.recDate) + L";";
        return sql;
    }
    sql = L"insert into tUserOpData (userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond";
    for (std::size_t i = 0; i < kSlotCount; ++i) {
        const std::wstring s = suffix(i);
        sql += L", appName" + s + L", appUseSecond" + s + L", appUsePercent" + s + L", appType" + s;
    }
    sql += L", syncNo, status, note, modifyTime) values (" + n(r.userNo) + L", " + n(r.recDate) + L", " +
           n(r.computerUseSecond) + L", " + n(r.mskbUseSecond) + L", " + n(r.browerUseSecond);
    for (const auto& a : r.apps)
        sql += L", " + q(a.appName) + L", " + n(a.appUseSecond) + L", " + n(a.appUsePercent) + L", " + n(a.appType);
    sql += L", " + n(r.syncNo) + L", " + q(r.status) + L", " + q(r.note) + L", datetime('now','localtime'));";
    return sql;
}

int CUserOperation::RecordUserOpertion() {
    constexpr const wchar_t* kFn = L"CUserOperation::RecordUserOpertion";
    std::lock_guard step(m_recordStep);
    const int commUser = LoggedInUserNo();
    int userNo = -1;
    int recDate = 0;
    {
        std::lock_guard lock(m_lock);
        if (m_dayRecord.userNo < 0 && commUser > 0) m_dayRecord.userNo = commUser;
        userNo = m_dayRecord.userNo;
        recDate = m_dayRecord.recDate;
    }
    if (userNo < 0) return -1;
    if (g_pMyDatabase == nullptr) return -1;
    const std::wstring select = L"select recDate, syncNo from tUserOpData where userNo=" + std::to_wstring(userNo) +
                                L" and recDate=" + std::to_wstring(recDate) + L";";
    SqlRows rows;
    if (const int error = g_pMyDatabase->SelectTableWithReturn(select, rows); error != 0) {
        LOGF(LOG_ERROR, kFn, L"执行失败[%s]", select.c_str());
        return error;
    }
    const bool exists = !rows.empty();
    UserOpDayRecord copy;
    {
        std::lock_guard lock(m_lock);
        m_dayRecord.syncNo = exists ? records::ColumnInt(rows.front(), 1) + 1 : 1;
        copy = m_dayRecord;
    }
    const std::wstring sql = UserOpStatement(copy, exists);
    Sleep(1);
    if (g_pMyDatabase->ExecSQL(sql) < 0) {
        LOGF(LOG_ERROR, kFn, L"CUserOperation::RecordUserOpertion:ExecuteSQLCommandWithReturn");
        return -1;
    }
    FeedHealthElements(copy);
    RefreshUserOpGraph();
    if (g_pCommunication != nullptr) g_pCommunication->UserOpDataUpLoad_asyn(1);
    return 0;
}

void CUserOperation::FeedHealthElements(const UserOpDayRecord& r) {
    CHealthResources* resources = g_pHealthResources;
    if (resources == nullptr) return;
    const std::pair<const wchar_t*, int> figures[] = {{L"computerUseSecond", r.computerUseSecond},
                                                      {L"mskbUseSecond", r.mskbUseSecond},
                                                      {L"surfingInternetSecond", r.browerUseSecond},
                                                      {L"mskbOpRate", r.mskbOpRate}};
    uie::value list = uie::value::make_array();
    for (const auto& [id, number] : figures) {
        std::wstring shown;
        resources->GetElementValueByValueNo(shown, id, number);
        list.append(records::MakeObject(
            {{L"healthElementID", uie::value(id)}, {L"valueNo", uie::value(number)}, {L"value", uie::value(shown)}}));
    }
    resources->SetHealthElementValue_Batch(records::MakeObject({{L"recordDataList", list}}));
}

int CUserOperation::RefreshUserOpGraph() {
    CMainFrame* frame = g_pMainFrame;
    CUserOpPopGraph* chart = frame != nullptr ? frame->GetUserOpPopGraph() : nullptr;
    if (chart == nullptr) return 0;
    CPopWin* popup = UserOpPopup();
    const bool popupVisible = Visible(popup);
    const bool frameVisible = Visible(frame);
    if (!popupVisible && !frameVisible) return 0;
    SqlRows rows;
    {
        std::lock_guard lock(m_lock);
        for (const auto& [type, total] : m_mapTypeTotals)
            if (total->percent > 0)
                rows.push_back({total->appTypeName, std::to_wstring(total->percent), std::to_wstring(total->seconds)});
    }
    std::string document;
    chart->GenGraphXml(rows, document);
    {
        std::lock_guard lock(m_lock);
        m_strLastGraphData = text::FromAnsi(document);
    }
    if (frameVisible) frame->PostHomePageUserOpData();
    if (popupVisible && popup->GetState() == 2) popup->PostFloatLoadFlashTrend();
    return 0;
}

std::wstring CUserOperation::GetLastUserOpGraphData() const {
    std::lock_guard lock(m_lock);
    return m_strLastGraphData;
}

UserOpDayRecord::AppSlot CUserOperation::GetSlot(std::size_t slot) const {
    std::lock_guard lock(m_lock);
    return slot < kSlotCount ? m_dayRecord.apps[slot] : UserOpDayRecord::AppSlot{};
}

std::wstring CUserOperation::GetSlotFileName(std::size_t slot) const {
    std::lock_guard lock(m_lock);
    return slot < kSlotCount ? m_dayRecord.appFileNames[slot] : std::wstring();
}
