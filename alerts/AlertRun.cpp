// The alert thread, the reload, the notices to the pages and the two deliveries with
// the record each leaves in the database and on the server.
#include <algorithm>
#include <cstdint>
#include <system_error>

#include "Alert.h"
#include "AlertExpiredWin.h"
#include "AlertMessageWin.h"
#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "FloatBarWin.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MessageWin.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"

namespace {

using uie::value;

constexpr const wchar_t* kTitle = L"Quorv提醒";
constexpr DWORD kPollMs = 2000;
constexpr DWORD kRestStepMs = 100;
constexpr std::uint64_t kMaxPaceMs = 60'000;  // a minute: the next computation is due then anyway

// The delivery as a tAlertList row of today (what is written, listed and uploaded).
struAlertListW ListRecordOf(const struAlertConfigDetail& d) {
    struAlertListW a;
    a.alertDate = GetCurDate();
    a.alertNo = d.alertNo;
    a.no = d.no;
    a.alertType = d.alertType;
    a.message = d.message;
    a.summary = d.summary;
    a.duraMinute = d.duraMinute;
    a.alertMinute = d.alertMinute;
    a.lastAlertTime = d.lastAlertTime;
    a.actionNo = d.actionNo;
    a.actionRuleFlag = d.actionRuleFlag;
    a.status = L"1";
    a.note = d.note;
    a.stLastAlertTime = d.stLastAlertTime;
    return a;
}

}  // namespace

int CAlert::StartWork() {
    if (ReadAlertFormDB() == 0) {
        LOGF(LOG_ERROR, L"CAlert::StartWork", L"ReadAlertFormDB fail!!!");
        return 0;
    }
    if (m_thread.joinable()) return 1;
    return m_stop.Start(m_thread, [this] { RunAlert(); }, L"CAlert::StartWork") ? 1 : 0;
}

void CAlert::StopWork() {
    m_stop.Stop(m_thread);
    threadwait::Thread reload;
    {
        std::lock_guard lock(m_csReload);
        m_bReloadAgain = false;
        reload = std::move(m_reloadThread);
    }
    reload.Join();
}

void CAlert::StartReload() {
    // The last reload cleared m_bReloading as its last step: joined once the lock is given
    // back, as its wait serves what is sent to this thread's windows (a page calls here).
    threadwait::Thread finished;
    std::lock_guard lock(m_csReload);
    if (m_bReloading) {
        m_bReloadAgain = true;  // the running reload reads once more
        return;
    }
    finished = std::move(m_reloadThread);
    m_bReloading = true;
    try {
        m_reloadThread = threadwait::Thread([this] { RunReload(); });
    } catch (const std::system_error&) {
        m_bReloading = false;
        LOGF(LOG_ERROR, L"CAlert::StartReload", L"CreateThread fail!!!");
    }
}

void CAlert::RunReload() {
    for (;;) {
        ReadAlertFormDB();
        std::lock_guard lock(m_csReload);
        if (!m_bReloadAgain) {
            m_bReloading = false;
            return;
        }
        m_bReloadAgain = false;
    }
}

bool CAlert::Rest(DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += kRestStepMs) {
        if (g_nRunState == 4 || m_stop.Wait(std::min(kRestStepMs, ms - waited))) return false;
    }
    return true;
}

bool CAlert::WaitForWindows() {
    const auto until = [this](bool (*condition)()) {
        while (!condition())
            if (g_nRunState == 4 || m_stop.Wait(100)) return false;
        return true;
    };
    return until([] { return g_pMainFrame != nullptr; }) &&
           until([] { return g_pMainFrame != nullptr && g_pMainFrame->IsReady() != nullptr; }) &&
           until([] { return g_pAlertExpiredWin != nullptr; });
}

void CAlert::RunAlert() {
    if (!WaitForWindows()) return;
    LoadExpiredAlerts();
    m_bRunning = true;
    while (g_nRunState != 4 && !m_stop.Wait(0)) {
        PollOnce();
        Rest(kPollMs);
    }
    LOGF(LOG_WARNING, L"CAlert::RunAlert", L"CAlert::RunAlert exit...");
    // Every reader of the maps takes their locks, so they are emptied at once.
    if (g_nRunState == 4) ClearMaps();
    m_bRunning = false;
}

void CAlert::ClearMaps() {
    {
        std::lock_guard lock(m_csConfig);
        _mapAlertConfig.clear();
        _mapAlertConfigDetail.clear();
        _mapAlertConfigItem.clear();
        m_due.clear();
    }
    std::lock_guard lock(m_csAlertList);
    _mapAlertList.clear();
}

bool CAlert::PollOnce() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    // Stored before computing, so a recompute asked for meanwhile is not lost.
    if (m_wLastMinute.exchange(now.wMinute) == now.wMinute) return false;
    RecalcAndNotify();
    return true;
}

int CAlert::RecalcAndNotify() {
    if (g_pAlertMessageWin == nullptr) return 0;
    std::vector<AlertDelivery> due;
    std::size_t rules = 0;
    {
        std::lock_guard lock(m_csConfig);
        CalcToDayShowAlertInfo(1);
        due = TakeDue();
        rules = _mapAlertConfigDetail.size();
    }
    for (const AlertDelivery& d : due) {
        if (d.form == AlertDelivery::kPopup)
            DeliverPopup(&d.detail);
        else
            DeliverList(&d.detail);
    }
    ToDayArray();  // made here, so the pages the notice calls only copy it
    PostToDayNotice(false);
    const std::uint64_t pause = static_cast<std::uint64_t>(rules) * m_dwDetailPauseMs.load();
    Rest(static_cast<DWORD>(std::min<std::uint64_t>(pause, kMaxPaceMs)));
    return 1;
}

void CAlert::PostToDayNotice(bool refreshConfigList) {
    CMainFrame* frame = g_pMainFrame;
    if (frame == nullptr) return;
    if (CFloatBarWin* bar = g_pFloatBarWin)
        if (CPopWin* popup = bar->GetPopup(CFloatBarWin::kNotify)) popup->PostFloatAlertTodayAlertInfo();
    frame->PostHomePageAlertToday();
    frame->PostAssistantAlertToday();
    if (refreshConfigList) frame->PostAssistantAlertConfigList();
}

value CAlert::MakePopupMessage(const struAlertConfigDetail& d) {
    return records::MakeObject({{L"title", value(kTitle)},
                                {L"alertNo", value(d.alertNo)},
                                {L"no", value(d.no)},
                                {L"alertType", value(L"0")},
                                {L"additionalMessage", value(L"")},
                                {L"message", value(d.message)},
                                {L"actionNo", value(d.actionNo)},
                                {L"sourceType", value(d.actionRuleFlag == L"1" ? L"2" : L"1")},
                                {L"alertLevel", value(d.alertLevel)},
                                {L"alertMode", value(d.alertMode)},
                                {L"procMode", value(d.procMode)}});
}

value CAlert::MakeListMessage(const struAlertConfigDetail& d) {
    return records::MakeObject({{L"funcName", value(L"BandCommonMessage")},
                                {L"title", value(kTitle)},
                                {L"alertNo", value(d.alertNo)},
                                {L"no", value(d.no)},
                                {L"alertType", value(L"1")},
                                {L"additionalMessage", value(L"")},
                                {L"message", value(d.message)},
                                {L"actionNo", value(d.actionNo)},
                                {L"alertLevel", value(d.alertLevel)},
                                {L"alertMode", value(d.alertMode)},
                                {L"procMode", value(d.procMode)}});
}

void CAlert::QueuePopupMessage(const value& message) {
    if (CAlertMessageWin* window = g_pAlertMessageWin) window->AddAlert(message, 1);
}

void CAlert::QueueListMessage(const value& message) {
    if (CMessageWin* window = g_pMessageWin) window->AddMessage(message, 1);
}

int CAlert::DeliverPopup(const struAlertConfigDetail* detail) {
    if (detail == nullptr) return 0;
    QueuePopupMessage(MakePopupMessage(*detail));
    struAlertConfigDetail delivered = *detail;
    return RecordDelivery(delivered);
}

int CAlert::DeliverList(const struAlertConfigDetail* detail) {
    if (detail == nullptr) return 0;
    QueueListMessage(MakeListMessage(*detail));
    struAlertConfigDetail delivered = *detail;
    return RecordDelivery(delivered);
}

int CAlert::RecordDelivery(struAlertConfigDetail& detail) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    detail.stLastAlertTime = now;
    detail.lastAlertTime = SystemTimeToStr(now);
    int result = WriteAlertList(&detail);
    if (result == 0) return 0;
    // A failed stamp (-1) is no reason to tell the server.
    result = WriteLastAlertTime(detail.alertNo, detail.no);
    if (result <= 0) return result;
    CCommunication* comm = g_pCommunication;
    return comm != nullptr ? comm->AlertListUpLoad_asyn(ListRecordOf(detail)) : -1;
}

int CAlert::WriteAlertList(const struAlertConfigDetail* detail) {
    if (detail == nullptr) return 0;
    const struAlertListW a = ListRecordOf(*detail);
    using text::QuoteSql;
    const std::wstring sql = L"insert into tAlertList values (" + std::to_wstring(a.alertDate) + L"," +
                             std::to_wstring(a.alertNo) + L"," + std::to_wstring(a.no) + L",'" +
                             QuoteSql(a.alertType) + L"','" + QuoteSql(a.message) + L"','" + QuoteSql(a.summary) +
                             L"'," + std::to_wstring(a.duraMinute) + L"," + std::to_wstring(a.alertMinute) + L",'" +
                             QuoteSql(a.lastAlertTime) + L"'," + std::to_wstring(a.actionNo) + L",'" +
                             QuoteSql(a.actionRuleFlag) + L"','1','" + QuoteSql(a.note) +
                             L"',datetime('now','localtime'));";
    // The loader keeps only recurring deliveries; others would be listed twice.
    if (a.alertType == L"1") {
        std::lock_guard lock(m_csAlertList);
        _mapAlertList.emplace(a.alertDate, a);
    }
    CMyDatabase* db = g_pMyDatabase;
    if (db == nullptr || db->ExecSQL(sql) < 0)
        LOGF(LOG_ERROR, L"CAlert::WriteAlertList", L"insert into tAlertList fail:[%s]", sql.c_str());
    return 1;
}

int CAlert::WriteLastAlertTime(int alertNo, int no) {
    CMyDatabase* db = g_pMyDatabase;
    if (db == nullptr) return -1;
    const std::wstring stamp =
        L" set lastAlertTime = datetime('now','localtime'), modifyTime = datetime('now','localtime') where alertNo = " +
        std::to_wstring(alertNo);
    db->ExecSQL(L"update tAlertConfigDetail" + stamp + L" and no = " + std::to_wstring(no) + L";");
    return db->ExecSQL(L"update tAlertConfig" + stamp + L";");
}
