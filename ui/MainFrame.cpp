#include "MainFrame.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <utility>

#include "Alert.h"
#include "AlertExpiredWin.h"
#include "AlertMessageWin.h"
#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DeviceBroadcast.h"
#include "DynamicLibrary.h"
#include "FloatBarWin.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "LoginWin.h"
#include "MessageWin.h"
#include "Quorvix.h"
#include "Text.h"
#include "TrayIcon.h"
#include "UiThreadManager.h"
#include "UserOperation.h"
#include "Value.h"
#include "Window.h"
#include "assessInfo.h"
#include "bloodPressureWin.h"
#include "global.h"
#include "pedometerWin.h"
#include "share.h"

CMainFrame* g_pMainFrame = nullptr;

namespace {

constexpr int kCornerDiameter = 6;
constexpr int kNoValue = -29999;
constexpr UINT kExitQuestionType = 0x40031;  // OK/Cancel, warning icon, topmost
constexpr UINT kMaxTimerMs = 0x7FFFFFFF;     // longer periods are cut to this, as Windows does

// The frames, in the order of their tabs, band-tip timers and navigation-tip commands.
constexpr int kHome = 0;
constexpr int kAssess = 1;
constexpr int kMonitor = 2;
constexpr int kArchives = 3;
constexpr int kArticle = 4;
constexpr int kAssistant = 5;
constexpr int kRootPage = -1;  // a command run in the main page itself, not a frame

// Commands that only have one page function run, without argument.
struct PageCommand {
    WORD id;
    int frame;
    const char* function;
};
constexpr PageCommand kPageCommands[] = {
    {ID_CMD_HOMEPAGE_LASTASSESS, kHome, "HomePageLastAssess"},
    {ID_CMD_HOMEPAGE_USERINFO, kHome, "HomePageUserInfo"},
    {ID_CMD_HOMEPAGE_REALWEATHER, kHome, "HomePageRealWeather"},
    {ID_CMD_HOMEPAGE_LIFEINDEX, kHome, "HomePageLifeIndex"},
    {ID_CMD_HOMEPAGE_USERENV, kHome, "HomePageUserEnv"},
    {ID_CMD_HOMEPAGE_USEROPDATA, kHome, "HomePageUserOpData"},
    {ID_CMD_HOMEPAGE_ALERTTODAY, kHome, "HomePageAlertToday"},
    {ID_CMD_HOMEPAGE_ARTICLETODAY, kHome, "HomePageArticleToday"},
    {ID_CMD_ARTICLE_NEWSUMMARY, kArticle, "ArticleNewArticleSummary"},
    {ID_CMD_ASSESS_RECENT, kAssess, "AssessRecentAssess"},
    {ID_CMD_PAGEINIT, kMonitor, "PageInit"},
    {ID_CMD_BOTTOM_USERINFO, kRootPage, "QuorvixBottomUserInfo"},
    {ID_CMD_BOTTOM_NETSTATE, kRootPage, "QuorvixBottomNetState"},
    {ID_CMD_ASSISTANT_ALERTTODAY, kAssistant, "AssistantAlertToday"},
    {ID_CMD_ASSISTANT_ALERTCONFIGLIST, kAssistant, "AssistantAlertConfigList"},
    {ID_CMD_BAND_USERINFO, kArchives, "BandUserInfo"},
    {ID_CMD_BAND_ARTICLEFOCUS, kArticle, "BandArticleFocus"},
    {ID_CMD_BAND_ARTICLE, kArticle, "BandArticle"},
    {ID_CMD_USERDEVICE_ADD, kRootPage, "userDeviceAdd"},
};

constexpr const char* kBandTipFunctions[CMainFrame::kFrameCount] = {
    "HomePageBandTips", "AssessBandTips", "TsvBandTips", "ArchivesBandTips", "ArticleBandTips", "AssistantBandTips"};

// What PostScriptCall hands to the window: the element stays in use until the call is done.
struct ScriptCallRecord {
    dom::element element;
    std::string name;
};

UINT TimerMs(int seconds) {
    const std::int64_t ms = static_cast<std::int64_t>(seconds) * 1000;
    return static_cast<UINT>(std::min<std::int64_t>(ms, kMaxTimerMs));
}

void ArmBandTipTimer(HWND hwnd, int index, int seconds) {
    const UINT_PTR id = CMainFrame::kBandTipTimerFirst + static_cast<UINT_PTR>(index);
    KillTimer(hwnd, id);
    if (seconds > 0) SetTimer(hwnd, id, TimerMs(seconds), nullptr);
}

// Makes one of the windows Init owns, unless another exists; false (logged) when it
// cannot be made.
template <class W, class... Args>
bool MakeChild(std::atomic<W*>& global, std::unique_ptr<W>& owned, const wchar_t* failure, Args&&... args) {
    if (global.load() != nullptr) return true;
    owned.reset(new (std::nothrow) W(std::forward<Args>(args)...));
    if (!owned) {
        LOGF(LOG_ERROR, L"CMainFrame::Init", L"%s", failure);
        return false;
    }
    // Published made: the threads that read the global use the window at once. It is made on
    // this thread, so Start has made it when it returns.
    owned->Start();
    global.store(owned.get(), std::memory_order_release);
    return true;
}

template <class T>
void Unpublish(std::atomic<T*>& global, const std::unique_ptr<T>& owned) {
    T* expected = owned.get();
    if (expected != nullptr) global.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

template <class T>
T* Locked(std::mutex& lock, const std::unique_ptr<T>& chart) {
    std::lock_guard guard(lock);
    return chart.get();
}

template <class T>
void MakeChart(std::mutex& lock, std::unique_ptr<T>& chart, const char* movie, const char* data) {
    std::lock_guard guard(lock);
    if (!chart) chart.reset(new (std::nothrow) T(movie, data));
}

// Nothing to hand to a page: no value, or an empty text.
bool IsEmptyValue(const uie::value& v) {
    return v.is_undefined() || v.is_null() || (v.is_string() && v.get_string().empty());
}

// The scheme and host (with port) of an address: "http://host:port/x" gives "http://host:port".
std::wstring SiteOf(std::wstring_view address) {
    const std::size_t scheme = address.find(L"://");
    const std::size_t hostAt = scheme == std::wstring_view::npos ? 0 : scheme + 3;
    const std::size_t end = address.find(L'/', hostAt);
    const std::wstring_view host = address.substr(hostAt, end == std::wstring_view::npos ? end : end - hostAt);
    if (host.empty()) return {};
    return std::wstring(address.substr(0, hostAt + host.size()));
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Up to eight hexadecimal digits from `at` on; false when there is none.
bool ReadHex(std::wstring_view text, std::size_t& at, int& out) {
    unsigned number = 0;
    std::size_t digits = 0;
    for (; at < text.size() && digits < 8 && HexDigit(text[at]) >= 0; ++at, ++digits)
        number = number * 16 + static_cast<unsigned>(HexDigit(text[at]));
    out = static_cast<int>(number);
    return digits > 0;
}

// The vendor and product ids of a device path such as "\\?\USB#Vid_0c45&Pid_70c1#...":
// the mixed-case form when present, else the upper-case one.
bool ParseVidPid(std::wstring_view name, int& vendorId, int& productId) {
    struct Form {
        std::wstring_view vendor;
        std::wstring_view product;
    };
    static constexpr Form kForms[] = {{L"Vid_", L"&Pid_"}, {L"VID_", L"&PID_"}};
    for (const Form& form : kForms) {
        std::size_t at = name.find(form.vendor);
        if (at == std::wstring_view::npos) continue;
        at += form.vendor.size();
        if (!ReadHex(name, at, vendorId) || !name.substr(at).starts_with(form.product)) return false;
        at += form.product.size();
        return ReadHex(name, at, productId);
    }
    return false;
}

// The root of the document a frame element has loaded; empty when it has none.
dom::element LoadedDocument(const dom::element& frame) {
    return frame.is_valid() && frame.children_count() > 0 ? frame.child(0) : dom::element();
}

}  // namespace

CMainFrame::CMainFrame() {
    m_cs.ownThread = true;
    m_cs.name = L"Main";
    m_cs.page = g_Config.m_config.mainPage;
    m_cs.style = kStyle;
    m_cs.showOnCreate = g_nRunMode != 1;  // started with the session: stays hidden
    m_bContextMenu = false;
    g_pFloatBarWin = nullptr;
    g_pAlertMessageWin = nullptr;
    g_pMessageWin = nullptr;
    g_pAlertExpiredWin = nullptr;
}

CMainFrame::~CMainFrame() {
    Unpublish(g_pTrayIcon, m_pTrayIcon);
    Unpublish(g_pAlertExpiredWin, m_pAlertExpiredWin);
    Unpublish(g_pMessageWin, m_pMessageWin);
    Unpublish(g_pAlertMessageWin, m_pAlertMessageWin);
    Unpublish(g_pFloatBarWin, m_pFloatBarWin);
}

// ---- post wrappers --------------------------------------------------------------------

BOOL CMainFrame::PostCommand(WORD id, LPARAM lParam) {
    const HWND hwnd = GetHwnd();
    // A null handle would post to the calling thread instead.
    if (hwnd == nullptr || !IsWindow(hwnd)) return FALSE;
    return PostMessageW(hwnd, WM_COMMAND, id, lParam);
}

template <class T>
int CMainFrame::PostOwned(WORD id, std::unique_ptr<T> record) {
    if (!record || !PostCommand(id, reinterpret_cast<LPARAM>(record.get()))) return -1;
    record.release();  // the command handler owns it now
    return 0;
}

void CMainFrame::PostHomePageLastAssess() { PostCommand(ID_CMD_HOMEPAGE_LASTASSESS); }
void CMainFrame::PostHomePageUserInfo() { PostCommand(ID_CMD_HOMEPAGE_USERINFO); }
void CMainFrame::PostHomePageRealWeather() { PostCommand(ID_CMD_HOMEPAGE_REALWEATHER); }
void CMainFrame::PostHomePageLifeIndex() { PostCommand(ID_CMD_HOMEPAGE_LIFEINDEX); }
void CMainFrame::PostHomePageUserEnv() { PostCommand(ID_CMD_HOMEPAGE_USERENV); }
void CMainFrame::PostHomePageAlertToday() { PostCommand(ID_CMD_HOMEPAGE_ALERTTODAY); }
void CMainFrame::PostHomePageArticleToday() { PostCommand(ID_CMD_HOMEPAGE_ARTICLETODAY); }
void CMainFrame::PostArticleNewArticleSummary() { PostCommand(ID_CMD_ARTICLE_NEWSUMMARY); }
void CMainFrame::PostAssessRecentAssess() { PostCommand(ID_CMD_ASSESS_RECENT); }
void CMainFrame::PostBottomUserInfo() { PostCommand(ID_CMD_BOTTOM_USERINFO); }
void CMainFrame::PostAssistantAlertToday() { PostCommand(ID_CMD_ASSISTANT_ALERTTODAY); }
void CMainFrame::PostAssistantAlertConfigList() { PostCommand(ID_CMD_ASSISTANT_ALERTCONFIGLIST); }
void CMainFrame::PostBandUserInfo() { PostCommand(ID_CMD_BAND_USERINFO); }
void CMainFrame::PostBandArticleFocus() { PostCommand(ID_CMD_BAND_ARTICLEFOCUS); }
void CMainFrame::PostBandArticle() { PostCommand(ID_CMD_BAND_ARTICLE); }
void CMainFrame::PostShowNavigationTip() { PostCommand(ID_CMD_NAVIGATION_TIP_FIRST); }
void CMainFrame::PostPageInit() { PostCommand(ID_CMD_PAGEINIT); }

void CMainFrame::PostHomePageUserOpData() {
    PostCommand(ID_CMD_HOMEPAGE_USEROPDATA);
    PostLoadApptypeFlash();
}

void CMainFrame::PostBottomNetState() {
    if (CTrayIcon* const tray = g_pTrayIcon) {
        const bool offline = g_pCommunication && !g_pCommunication->IsOnline();
        tray->SetIconIndex(offline ? CTrayIcon::kOfflineIcon : CTrayIcon::kNormalIcon);
        tray->Notify(CTrayIcon::kNotifyModify);
    }
    PostCommand(ID_CMD_BOTTOM_NETSTATE);
}

void CMainFrame::PostLoadFlashTrend() {
    if (IsFlashInstalled()) PostCommand(ID_CMD_LOAD_FLASHTREND);
}

void CMainFrame::PostLoadApptypeFlash() {
    if (IsFlashInstalled()) PostCommand(ID_CMD_LOAD_APPTYPEFLASH);
}

void CMainFrame::PostBandTips(int index) {
    if (index >= 0 && index < kFrameCount) PostCommand(static_cast<WORD>(ID_CMD_BANDTIPS_FIRST + index));
}

int CMainFrame::PostRefreshElementValue(const std::wstring& elementID, int valueNo, bool recordFlag,
                                        bool displayFlag) {
    std::unique_ptr<uie::value> map;
    try {
        map = std::make_unique<uie::value>(uie::value::make_map());
        map->set_item(uie::value(L"elementID"), uie::value(elementID));
        map->set_item(uie::value(L"valueNo"), uie::value(valueNo));
        map->set_item(uie::value(L"bRecordData"), uie::value(recordFlag));
        map->set_item(uie::value(L"bRefashDisp"), uie::value(displayFlag));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return PostOwned(ID_CMD_REFRESH_ELEMENT, std::move(map));
}

int CMainFrame::PostScriptCall(HELEMENT element, const char* name) {
    if (name == nullptr) return -1;
    std::unique_ptr<ScriptCallRecord> record;
    try {
        record = std::make_unique<ScriptCallRecord>(ScriptCallRecord{dom::element(element), name});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return PostOwned(ID_CMD_SCRIPT_CALL, std::move(record));
}

int CMainFrame::PostScriptCallW(HELEMENT element, const wchar_t* name) {
    if (name == nullptr) return -1;
    return PostScriptCall(element, text::ToAnsi(name).c_str());
}

// ---- timers -----------------------------------------------------------------------------

void CMainFrame::StartTimers() {
    const HWND hwnd = GetHwnd();
    SetTimer(hwnd, kPluseCheckTimer, kPluseCheckMs, nullptr);
    for (int i = 0; i < kFrameCount; ++i) ArmBandTipTimer(hwnd, i, g_Config.m_config.TipSeconds[i]);
}

void CMainFrame::SetBandTipTimer(int index, int seconds) {
    if (index < 0 || index >= kFrameCount) {
        LOGF(LOG_ERROR, L"CMainFrame::SetBandTipTimer", L"band-tip index[%d] out of range", index);
        return;
    }
    g_Config.m_config.TipSeconds[index] = seconds;
    ArmBandTipTimer(GetHwnd(), index, seconds);
}

void CMainFrame::SetUserOpTimer() {
    const int interval = g_pUserOperation != nullptr ? g_pUserOperation->GetTimerInterval()
                                                     : CUserOperation::kDefaultTimerMs;
    SetTimer(GetHwnd(), kUserOpTimer, static_cast<UINT>(std::max(interval, 0)), nullptr);
}

void CMainFrame::KillUserOpTimer() { KillTimer(GetHwnd(), kUserOpTimer); }

void CMainFrame::KillAllTimers() {
    const HWND hwnd = GetHwnd();
    for (int i = 0; i < kFrameCount; ++i) KillTimer(hwnd, kBandTipTimerFirst + static_cast<UINT_PTR>(i));
    KillTimer(hwnd, kPluseCheckTimer);
    KillTimer(hwnd, kUserOpTimer);
}

LRESULT CMainFrame::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL*) {
    if (g_nRunState == 4) return 0;
    const UINT_PTR id = wParam;
    if (id == kTrayTimer) {
        if (CTrayIcon* const tray = g_pTrayIcon) tray->OnTimer();
    } else if (id == kPluseCheckTimer) {
        if (g_pCommunication != nullptr) g_pCommunication->PluseCheck_asyn(g_pCommunication->m_nUserNo);
    } else if (id == kUserOpTimer) {
        if (g_pUserOperation != nullptr) g_pUserOperation->RecordUserOpertion();
    } else if (id >= kBandTipTimerFirst && id < kBandTipTimerFirst + kFrameCount) {
        PostBandTips(static_cast<int>(id - kBandTipTimerFirst));
    }
    return 0;
}

// ---- charts -------------------------------------------------------------------------------

CHomePageAssessGraph* CMainFrame::GetHomePageAssessGraph() const { return Locked(m_chartLock, m_pHomePageAssessGraph); }
CUserOpPopGraph* CMainFrame::GetUserOpPopGraph() const { return Locked(m_chartLock, m_pUserOpPopGraph); }
CHealthElementDataGraph* CMainFrame::GetHealthElementDataGraph() const {
    return Locked(m_chartLock, m_pHealthElementDataGraph);
}
CBmiTool* CMainFrame::GetBmiTool() const { return Locked(m_chartLock, m_pBmiTool); }

CHomePageAssessGraph* CMainFrame::CreateHomePageAssessGraph() {
    MakeChart(m_chartLock, m_pHomePageAssessGraph, "../graph/homePageAssess/homePageAssess.swf",
              "../graph/homePageAssess/data.xml");
    return GetHomePageAssessGraph();
}

void CMainFrame::CreateCharts() {
    if (CreateHomePageAssessGraph() != nullptr && g_pAssessInfo != nullptr) g_pAssessInfo->GenAssessGraphData();
    MakeChart(m_chartLock, m_pUserOpPopGraph, "../graph/userOpPop/userOpPop.swf", "../graph/userOpPop/data.xml");
    if (GetUserOpPopGraph() != nullptr && g_pUserOperation != nullptr) g_pUserOperation->RefreshUserOpGraph();
    MakeChart(m_chartLock, m_pHealthElementDataGraph, "../graph/healthElementData/healthElementData.swf",
              "../graph/healthElementData/healthElementData.xml");
    MakeChart(m_chartLock, m_pBmiTool, "../graph/bmi/bmi.swf", "../graph/bmi/bmiData.xml");
}

// ---- start-up -----------------------------------------------------------------------------

void CMainFrame::Init() {
    SetRoundRegion(kCornerDiameter);
    BindElements();
    SetTitle(L"Quorvix");
    if (!CreateChildWindows()) return;
    if (IsFlashInstalled()) CreateCharts();
    StartTimers();
    SetUserOpTimer();
    // The window is made hidden and shows itself below unless the program started
    // with the session, so "visible" here is what the run mode is about to make it.
    const bool visible = m_cs.showOnCreate;
    if (!CreateTrayIcon(visible)) return;
    if (visible) PostShowNavigationTip();
    CSciterWindow::Init();
    if (g_pCommunication != nullptr) g_pCommunication->PluseCheck_asyn(-1);
    EndLoginWindow();
    const HWND hwnd = GetHwnd();
    SetWindowLongPtrW(hwnd, GWL_STYLE, GetWindowLongPtrW(hwnd, GWL_STYLE) | WS_MINIMIZEBOX);
    FirstRefresh();
    ShowWindow(hwnd, visible ? SW_SHOW : SW_HIDE);
    OpenPresentDevices();
    ShowLoadingStep(L"加载完成");
}

void CMainFrame::BindElements() {
    std::array<dom::element, kElemCount> e;
    e[kRoot] = dom::element(GetRootElement());
    if (e[kRoot].is_valid()) {
        static constexpr std::pair<int, const char*> kIds[] = {
            {kCaption, "#caption"},
            {kChangeSkin, "#quorvix_div_changeskin"},
            {kBottom, "#bottom"},
            {kIcor1, "#quorvix_div_icor1"},
            {kMinSize, "#quorvix_div_minsize"},
            {kClose, "#quorvix_div_close"},
            {kUserDevice, "#quorvix_div_userdevice"},
            {kFrameFirst + kHome, "#quorvix_frame_homepage"},
            {kFrameFirst + kAssess, "#quorvix_frame_assess"},
            {kFrameFirst + kMonitor, "#quorvix_frame_monitor"},
            {kFrameFirst + kArchives, "#quorvix_frame_archives"},
            {kFrameFirst + kArticle, "#quorvix_frame_article"},
            {kFrameFirst + kAssistant, "#quorvix_frame_assistant"},
            {kShowFrameFirst + 0, "#quorvix_div_showframe0"},
            {kShowFrameFirst + 1, "#quorvix_div_showframe1"},
            {kShowFrameFirst + 2, "#quorvix_div_showframe2"},
            {kShowFrameFirst + 3, "#quorvix_div_showframe3"},
            {kShowFrameFirst + 4, "#quorvix_div_showframe4"},
            {kShowFrameFirst + 5, "#quorvix_div_showframe5"},
        };
        for (const auto& [which, selector] : kIds) e[which] = e[kRoot].find_first(selector);
        for (int f = 0; f < kFrameCount; ++f) e[kFrameFirst + f] = LoadedDocument(e[kFrameFirst + f]);
        e[kManager] = e[kFrameFirst + kMonitor];
        if (e[kManager].is_valid()) e[kElementTree] = e[kManager].find_first("#tsv_div_elementtree");
        const dom::element& home = e[kFrameFirst + kHome];
        if (home.is_valid()) {
            e[kFlashTrend] = home.find_first("#homepage_flash_trend");
            e[kUserOp] = home.find_first("#homepage_div_userop");
        }
        e[kCurrentShowFrame] = e[kShowFrameFirst];
    }
    std::lock_guard lock(m_elementLock);
    m_elements = std::move(e);
}

dom::element CMainFrame::Element(int which) const {
    std::lock_guard lock(m_elementLock);
    return m_elements[static_cast<std::size_t>(which)];
}

bool CMainFrame::IsVisible() const { return IsWindowVisible(GetHwnd()) != FALSE; }

bool CMainFrame::CreateChildWindows() {
    // None runs a thread of its own: this window's thread makes and serves them all.
    return MakeChild(g_pFloatBarWin, m_pFloatBarWin, L"g_pFloatBarWin == NULL!!!") &&
           MakeChild(g_pAlertMessageWin, m_pAlertMessageWin, L"g_pAlertMessageWin == NULL!!!") &&
           MakeChild(g_pMessageWin, m_pMessageWin, L"g_pMessageWin == NULL!!!",
                     g_Config.m_config.commonMessagePage) &&
           MakeChild(g_pAlertExpiredWin, m_pAlertExpiredWin, L"g_pAlertExpiredWin == NULL!!!");
}

bool CMainFrame::CreateTrayIcon(bool visible) {
    if (g_pTrayIcon != nullptr) return true;
    m_pTrayIcon.reset(new (std::nothrow) CTrayIcon());
    if (!m_pTrayIcon) {
        LOGF(LOG_ERROR, L"CMainFrame::Init", L"g_pTrayIcon == NULL!!!");
        return false;
    }
    CTrayIcon* const tray = m_pTrayIcon.get();
    tray->Create(GetModuleHandleW(nullptr), GetHwnd());
    tray->SetBlink(0);
    tray->Notify(CTrayIcon::kNotifyAdd);
    g_pTrayIcon.store(tray, std::memory_order_release);
    if (!visible) tray->ShowBalloon(L"欢迎使用Quorvix", L"  点击这里图标打开主界面。\r\n  鼠标右键打开功能菜单。");
    return true;
}

void CMainFrame::EndLoginWindow() {
    if (g_pLoginWin == nullptr) return;
    const HWND login = g_pLoginWin->GetHwnd();
    if (login != nullptr && IsWindow(login))
        UiThreadManager::SendEnd(login, WM_QUIT, 0, g_pLoginWin->m_cs.name, UiThreadManager::kEndBound);
}

void CMainFrame::FirstRefresh() {
    PostBottomUserInfo();
    PostHomePageLastAssess();
    PostHomePageUserInfo();
    PostHomePageRealWeather();
    PostHomePageLifeIndex();
    PostHomePageUserEnv();
    PostHomePageUserOpData();
    PostHomePageAlertToday();
    PostHomePageArticleToday();
}

void CMainFrame::OpenPresentDevices() {
    if (g_pHealthElementSourceType == nullptr) return;
    if (const auto* source = g_pHealthElementSourceType->FindPresentDevice(CPedometerWin::kFirstSource)) {
        CPedometerWin* window = OpenPedometerWin(1) ? g_pPedometer.load() : nullptr;
        if (window != nullptr) window->DevChangeProc(source, 1);
    }
    if (const auto* source = g_pHealthElementSourceType->FindPresentDevice(CBloodPressureWin::kFirstSource)) {
        CBloodPressureWin* window = OpenBloodPressureWin(1) ? g_pBloodPressure.load() : nullptr;
        if (window != nullptr) window->DevChangeProc(source, 1);
    }
}

// ---- commands -----------------------------------------------------------------------------

LRESULT CMainFrame::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_DEVICECHANGE) {
        OnDeviceBroadcast(wParam, lParam);
        return 0;
    }
    if (msg != WM_COMMAND) return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    const WORD id = LOWORD(wParam);
    if (RunPageCommand(id)) return 0;
    if (id >= ID_CMD_BANDTIPS_FIRST && id < ID_CMD_BANDTIPS_FIRST + kFrameCount) {
        RunBandTipsCommand(id - ID_CMD_BANDTIPS_FIRST);
        return 0;
    }
    if (id >= ID_CMD_NAVIGATION_TIP_FIRST && id < ID_CMD_NAVIGATION_TIP_FIRST + kFrameCount) {
        const dom::element frame = FrameDoc(id - ID_CMD_NAVIGATION_TIP_FIRST);
        if (frame.is_valid()) callScript(frame, "ShowNavigationTip");
        return 0;
    }
    switch (id) {
        case ID_CMD_EXIT:
            if (MessageBoxW(GetHwnd(), L"您要退出Quorvix程序吗?", L"请确认", kExitQuestionType) == IDOK) AppExit();
            return 0;
        case ID_CMD_SHOW_MAINWIN:
            ShowWindow(GetHwnd(), SW_RESTORE);
            SetForegroundWindow(GetHwnd());
            return 0;
        case ID_CMD_SHOW_FLOATBAR:
            RunFloatBarCommand();
            return 0;
        case ID_CMD_UNUSED_8018:
        case ID_CMD_UNUSED_801C:
            return 0;
        case ID_CMD_HELP_CENTER:
            OpenSitePage(L"/portal.php?mod=view&aid=1");
            return 0;
        case ID_CMD_ABOUT:
            OpenSitePage(L"/about.html");
            return 0;
        case ID_CMD_SCRIPT_CALL:
            RunScriptCallCommand(lParam);
            return 0;
        case ID_CMD_REFRESH_ELEMENT:
            RunRefreshElementCommand(lParam);
            return 0;
        case ID_CMD_REFRESH_ELEMENTLIST:
        case ID_MODULE_HISTLIST_DATA:
        case ID_CMD_MONITOR_FLASHTREND:
            RunQueuedValueCommand(id);
            return 0;
        case ID_CMD_ALERT_REFRESH:
            if (g_pAlert != nullptr) g_pAlert->ReadAlertFormDB();
            return 0;
        case ID_CMD_LOAD_FLASHTREND:
            RunChartCommand("LoadFlashTrend", kFlashTrend);
            return 0;
        case ID_CMD_LOAD_APPTYPEFLASH:
            RunChartCommand("LoadApptypeFlash", kUserOp);
            return 0;
        case ID_CMD_DESTROY_WINDOW:
            // Exit from another thread: the end of the window runs here, on its own thread.
            EndWindow();
            return 1;
        default:
            return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
    }
}

bool CMainFrame::RunPageCommand(WORD id) {
    const auto command = std::find_if(std::begin(kPageCommands), std::end(kPageCommands),
                                      [id](const PageCommand& c) { return c.id == id; });
    if (command == std::end(kPageCommands)) return false;
    const dom::element target = command->frame == kRootPage ? Element(kRoot) : FrameDoc(command->frame);
    if (target.is_valid()) callScript(target, command->function);
    return true;
}

void CMainFrame::RunFloatBarCommand() {
    CFloatBarWin* const bar = g_pFloatBarWin;
    if (bar == nullptr) return;
    if (!IsWindowVisible(bar->GetHwnd())) bar->ShowWin(true);
    if (g_Config.m_config.FloatBarInfo[0] == 0) CFloatBarWin::StoreShownFlag(true);
}

void CMainFrame::OpenSitePage(const wchar_t* path) {
    const std::wstring site = SiteOf(g_Config.m_config.HttpServiceAddr);
    if (site.empty()) {
        LOGF(LOG_WARNING, L"CMainFrame::OnCommand", L"no HttpServiceAddr, [%s] not opened", path);
        return;
    }
    const std::wstring url = site + path;
    ShellExecuteW(GetHwnd(), nullptr, url.c_str(), nullptr, nullptr, 0);
}

void CMainFrame::RunScriptCallCommand(LPARAM lParam) {
    const std::unique_ptr<ScriptCallRecord> record(reinterpret_cast<ScriptCallRecord*>(lParam));
    if (record && record->element.is_valid()) callScript(record->element, record->name.c_str());
}

void CMainFrame::RunRefreshElementCommand(LPARAM lParam) {
    std::unique_ptr<uie::value> map(reinterpret_cast<uie::value*>(lParam));
    std::wstring elementID;
    int valueNo = kNoValue;
    bool recordData = true;
    bool refreshDisplay = true;
    if (map) {
        elementID = map->get_item(uie::value(L"elementID")).get_string();
        const uie::value number = map->get_item(uie::value(L"valueNo"));
        if (number.is_int() || number.is_float()) valueNo = uie::as_int_or0(number);
        recordData = map->get_item(uie::value(L"bRecordData")).get_bool(true);
        refreshDisplay = map->get_item(uie::value(L"bRefashDisp")).get_bool(true);
    }
    map.reset();  // read first, then freed
    if (g_pHealthResources != nullptr)
        g_pHealthResources->SetElementValueNo(elementID, valueNo, recordData, refreshDisplay);
}

void CMainFrame::RunQueuedValueCommand(WORD id) {
    if (g_pHealthResources == nullptr) return;
    const uie::value v =
        id == ID_CMD_REFRESH_ELEMENTLIST ? g_pHealthResources->PopElementListMsg() : g_pHealthResources->PopPageMsg();
    if (IsEmptyValue(v)) return;
    if (id == ID_MODULE_HISTLIST_DATA)
        LOGF(LOG_MESSAGE, L"CMainFrame::OnCommand", L"ID_MODULE_HISTLIST_DATA:[%d]",
             static_cast<int>(v.to_string().size()));
    const dom::element monitor = FrameDoc(kMonitor);
    if (!monitor.is_valid()) return;
    const char* function = id == ID_CMD_REFRESH_ELEMENTLIST ? "RefashElementList"
                           : id == ID_MODULE_HISTLIST_DATA  ? "TsvOpenDeviceHistoricalData"
                                                            : "LoadFlashTrend";
    callElementFunction(monitor, function, v);
}

void CMainFrame::RunBandTipsCommand(int index) {
    const dom::element frame = FrameDoc(index);
    // The page answers the seconds until its next tip; no frame or no number stops them.
    const int seconds = frame.is_valid() ? uie::as_int_or0(callScript(frame, kBandTipFunctions[index])) : 0;
    SetBandTipTimer(index, seconds);
}

void CMainFrame::RunChartCommand(const char* function, int chartElem) {
    const dom::element home = FrameDoc(kHome);
    if (home.is_valid()) callScript(home, function);
    const dom::element chart = Element(chartElem);
    if (IsVisible() && chart.is_valid()) SciterUpdateElement(chart, TRUE);
}

// ---- page events and hit test ---------------------------------------------------------------

bool CMainFrame::on_event(HELEMENT, HELEMENT target, UINT type, UINT_PTR) {
    if (type != (BUTTON_CLICK | SINKING) || target == nullptr) return false;
    if (target == static_cast<HELEMENT>(Element(kMinSize))) {
        ShowWindow(GetHwnd(), SW_MINIMIZE);
        return true;
    }
    if (target == static_cast<HELEMENT>(Element(kClose))) {
        PostMessageW(GetHwnd(), WM_CLOSE, 0, 0);  // closing only hides the window
        return true;
    }
    return false;
}

LRESULT CMainFrame::OnHitTest(int x, int y) {
    const dom::element caption = Element(kCaption);
    const dom::element bottom = Element(kBottom);
    if (!caption.is_valid() || !bottom.is_valid()) return HTCLIENT;
    POINT pt{x, y};
    ScreenToClient(GetHwnd(), &pt);
    if (ElementContains(caption, pt)) {
        static constexpr int kButtons[] = {kShowFrameFirst,     kShowFrameFirst + 1, kShowFrameFirst + 2,
                                           kShowFrameFirst + 3, kShowFrameFirst + 4, kShowFrameFirst + 5,
                                           kChangeSkin,         kIcor1,              kMinSize,
                                           kClose};
        for (const int button : kButtons) {
            if (ElementContains(Element(button), pt)) return HTCLIENT;
        }
        return HTCAPTION;
    }
    if (ElementContains(bottom, pt)) return ElementContains(Element(kUserDevice), pt) ? HTCLIENT : HTCAPTION;
    return HTCLIENT;
}

// ---- cross-page calls and devices -------------------------------------------------------------

int CMainFrame::RemoteCall(const std::wstring& rootID, const std::wstring& funcName, int paraFlag,
                           const std::wstring& para) {
    static constexpr std::pair<std::wstring_view, int> kRoutes[] = {
        {L"quorvix", kRoot},
        {L"quorvix_frame_homepage", kFrameFirst + kHome},
        {L"quorvix_frame_assess", kFrameFirst + kAssess},
        {L"quorvix_frame_monitor", kFrameFirst + kMonitor},
        {L"quorvix_frame_archives", kFrameFirst + kArchives},
        {L"quorvix_frame_article", kFrameFirst + kArticle},
        {L"quorvix_frame_assistant", kFrameFirst + kAssistant},
        {L"quorvix_frame_manager", kManager},
    };
    const auto route = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [&rootID](const auto& r) { return r.first == rootID; });
    if (route == std::end(kRoutes)) {
        LOGF(LOG_MESSAGE, L"CMainFrame::RemoteCall", L"rootID=[%s]", rootID.c_str());
        return -1;
    }
    if (funcName == L"ShowNavigationTip" && !IsVisible()) return -1;
    return CallRoutedFunction(L"CMainFrame::RemoteCall", Element(route->second), rootID, funcName, paraFlag, para);
}

void CMainFrame::DeviceChange(const std::wstring& deviceName, int changeType) {
    if (g_pHealthResources == nullptr) return;
    int vendorId = 0;
    int productId = 0;
    try {
        if (!ParseVidPid(deviceName, vendorId, productId)) return;
    } catch (...) {
        LOGF(LOG_ERROR, L"CMainFrame::DeviceChange", L"devName[%s],changeType[%d]", deviceName.c_str(), changeType);
        return;
    }
    g_pHealthResources->DevChangeProc(vendorId, productId, changeType);
}

void CMainFrame::OnDeviceBroadcast(WPARAM event, LPARAM record) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    constexpr const wchar_t* kFn = L"CMainFrame::OnCommand";
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
    if (header == nullptr) {
        LOGF(LOG_ERROR, kFn, L"WM_DEVICECHANGE[%x] without a record", static_cast<unsigned>(event));
        return;
    }
    constexpr std::size_t kNameAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    const std::size_t size = header->dbch_size;
    if (size < sizeof(DEV_BROADCAST_HDR)) {
        LOGF(LOG_ERROR, kFn, L"WM_DEVICECHANGE record size[%u] too short", static_cast<unsigned>(size));
        return;
    }
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    if (size < kNameAt) {
        LOGF(LOG_ERROR, kFn, L"WM_DEVICECHANGE record size[%u] too short", static_cast<unsigned>(size));
        return;
    }
    // The name ends at its NUL or at the end of the record, whichever comes first.
    const wchar_t* name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(record)->dbcc_name;
    const wchar_t* end = std::find(name, name + (size - kNameAt) / sizeof(wchar_t), L'\0');
    DeviceChange(std::wstring(name, end), event == DBT_DEVICEARRIVAL ? 1 : 0);
}

// ---- the end --------------------------------------------------------------------------------

void CMainFrame::Exit() {
    if (m_bExited.exchange(true)) return;
    g_Config.SaveConfig();
    if (CAlertExpiredWin* const expired = g_pAlertExpiredWin) expired->Close();
    if (g_pCommunication != nullptr) g_pCommunication->UserLogoutAtExit(kLogoutAtExit);
    const HWND hwnd = GetHwnd();
    if (hwnd != nullptr && IsWindow(hwnd) && GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) {
        // Bounded by the exit's own bound: a main page that never ends holds the end until
        // the exit's watch ends the process.
        UiThreadManager::SendEnd(hwnd, WM_COMMAND, ID_CMD_DESTROY_WINDOW, m_cs.name, kExitEndBound);
    } else {
        EndWindow();
    }
}

void CMainFrame::EndWindow() {
    KillAllTimers();
    Sleep(500);
    if (CTrayIcon* const tray = g_pTrayIcon) tray->Notify(CTrayIcon::kNotifyDelete);
    const HWND hwnd = GetHwnd();
    if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
}
