// The script object "alert": today's reminders and the expired ones as the pages read
// them, the answers to a reminder (answered, put off, let pass), the answers to expired
// ones, and the alert windows shown or hidden. Its methods run on the calling page's
// thread; they change details under the configuration lock and reach the windows and
// the database after leaving it.
#include <algorithm>
#include <memory>
#include <mutex>

#include "Alert.h"
#include "AlertExpiredWin.h"
#include "AlertMessageWin.h"
#include "CheckedNative.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MessageWin.h"
#include "ResPlayer.h"
#include "TrayIcon.h"

namespace {

using uie::NativeArgs;
using uie::value;

constexpr int kError = -1;
constexpr int kDefaultDelaySecond = 180;
constexpr int kMaxDelaySecond = 86400;  // a day: ticks then stay far from their wrap

// The method's argument error is logged under its name as well as raised on the page.
uie::NativeFn Logged(const wchar_t* name, value fallback, uie::NativeFn body) {
    return Checked(std::move(fallback), [name, body](HVM vm, const NativeArgs& args) {
        try {
            return body(vm, args);
        } catch (const uie::ScriptError& e) {
            LOGF(LOG_WARNING, name, L"%s", e.text().c_str());
            throw;
        }
    });
}

// The alert object, or null with the method's log line.
CAlert* AlertOrLog(const wchar_t* name) {
    CAlert* alert = g_pAlert;
    if (alert == nullptr) LOGF(LOG_WARNING, name, L"g_pAlert == NULL");
    return alert;
}

// The pop-up's shown alert was dealt with: the next one, or the window hides.
void AdvancePopup() {
    if (CAlertMessageWin* popup = g_pAlertMessageWin) popup->ShowNext();
}

// A show flag as pages pass it: true/false or a number.
bool ArgFlag(const NativeArgs& args, std::size_t i) {
    if (i < args.size() && args[i].is_bool()) return args[i].get_bool();
    return uie::ArgInt(args, i) != 0;
}

// The methods, named apart from CAlert's own members.
namespace method {

value SendReLoadAlertMessage(HVM, const NativeArgs&) {
    if (CAlert* alert = g_pAlert) alert->StartReload();
    return value();
}

value GetToDayShowAlertInfo(HVM, const NativeArgs&) {
    const CAlert* alert = g_pAlert;
    return alert != nullptr ? alert->GetToDayShowAlertInfo() : value();
}

value GetAlertExpired(HVM, const NativeArgs&) {
    const CAlertExpiredWin* expired = g_pAlertExpiredWin;
    return expired != nullptr ? expired->GetList() : value();
}

value AlertIgnore(HVM, const NativeArgs& args) {
    const value& request = uie::ArgMap(args, 0);
    CAlert* alert = AlertOrLog(L"IgnoreAlert");
    if (alert == nullptr) return value(kError);
    if (request.length() == 0) {
        LOGF(LOG_WARNING, L"IgnoreAlert", L"jVal.length()<=0");
        return value(0);
    }
    const int alertNo = records::MemberInt(request, L"alertNo", kError);
    const int no = records::MemberInt(request, L"no", kError);
    const int delaySecond = records::MemberInt(request, L"delaySecond", kDefaultDelaySecond);
    AdvancePopup();
    return value(alert->DelayAlert(alertNo, no, delaySecond));
}

value AlertResponse(HVM, const NativeArgs& args) {
    const value& answers = uie::ArgArray(args, 0);
    CAlert* alert = AlertOrLog(L"AlertResponse");
    if (alert == nullptr) return value(kError);
    AdvancePopup();
    for (std::size_t i = 0; i < answers.length(); ++i) {
        const value answer = answers.nth(i);
        alert->RespondAlert(records::MemberInt(answer, L"alertNo", kError), records::MemberInt(answer, L"no", kError),
                            records::MemberText(answer, L"responseType"));
    }
    return value(0);
}

value AlertNoResponse(HVM, const NativeArgs& args) {
    const int alertNo = uie::ArgInt(args, 0);
    const int no = uie::ArgInt(args, 1);
    CAlert* alert = AlertOrLog(L"AlertNoResponse");
    if (alert == nullptr) return value(kError);
    AdvancePopup();
    return value(alert->ExpireAlert(alertNo, no));
}

value AlertExpiredResponse(HVM, const NativeArgs& args) {
    const value& answers = uie::ArgArray(args, 0);
    CAlert* alert = AlertOrLog(L"AlertExpiredResponse");
    if (alert == nullptr) return value(kError);
    if (CAlertMessageWin* popup = g_pAlertMessageWin) popup->ShowAgain();
    for (std::size_t i = 0; i < answers.length(); ++i) {
        const value answer = answers.nth(i);
        const int alertDate = records::MemberInt(answer, L"alertDate", kError);
        const int alertNo = records::MemberInt(answer, L"alertNo", kError);
        const int no = records::MemberInt(answer, L"no", kError);
        if (CAlertExpiredWin* expired = g_pAlertExpiredWin) {
            expired->DeleteAlertExpiredFromDB(alertDate, alertNo, no);
            expired->RemoveAlertExpired(alertDate, alertNo, no);
        }
        alert->RequestRecalc();
    }
    return value(0);
}

// The named window shown or hidden; false for a name this object does not know.
bool ShowNamedWindow(const std::wstring& name, bool show) {
    const auto showWin = [show](CSciterWindow* window) {
        if (window != nullptr && g_pMainFrame != nullptr) window->ShowWin(show);
    };
    if (name == L"AlertExpiredWin") {
        showWin(g_pAlertExpiredWin);
    } else if (name == L"AlertMessageWin") {
        showWin(g_pAlertMessageWin);
    } else if (name == L"MessageWin") {
        showWin(g_pMessageWin);
    } else if (name == L"ResPlayerWin") {
        std::lock_guard lock(ResPlayerLock());  // the player is deleted under it
        showWin(g_pResPlayer);
    } else {
        return false;
    }
    return true;
}

value ShowWindowMethod(HVM, const NativeArgs& args) {
    const std::wstring name = uie::ArgString(args, 0);
    const bool show = ArgFlag(args, 1);
    return value(ShowNamedWindow(name, show) ? 0 : kError);
}

value CanceleFlicker(HVM, const NativeArgs&) {
    CAlertExpiredWin* expired = g_pAlertExpiredWin;
    if (expired == nullptr) return value(0);
    if (CAlert* alert = g_pAlert) alert->m_nAckExpiredCount = expired->GetCount();
    if (CTrayIcon* tray = g_pTrayIcon) tray->SetBlink(false);
    expired->ShowWin(false);
    return value(0);
}

}  // namespace method
}  // namespace

int CAlert::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "alert", ScriptObjectDef()) ? 1 : 0; }

std::shared_ptr<const uie::NativeObjectDef> CAlert::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        const value error(kError);
        const value empty;
        d->methods = {
            {"SendReLoadAlertMessage", Logged(L"SendReLoadAlertMessage", empty, method::SendReLoadAlertMessage)},
            {"GetToDayShowAlertInfo", Logged(L"GetToDayShowAlertInfo", empty, method::GetToDayShowAlertInfo)},
            {"GetAlertExpired", Logged(L"GetAlertExpired", empty, method::GetAlertExpired)},
            {"AlertIgnore", Logged(L"IgnoreAlert", error, method::AlertIgnore)},
            {"AlertResponse", Logged(L"AlertResponse", error, method::AlertResponse)},
            {"AlertNoResponse", Logged(L"AlertNoResponse", error, method::AlertNoResponse)},
            {"AlertExpiredResponse", Logged(L"AlertExpiredResponse", error, method::AlertExpiredResponse)},
            {"ShowWindow", Logged(L"ShowWindow", error, method::ShowWindowMethod)},
            {"CanceleFlicker", Logged(L"CanceleFlicker", value(0), method::CanceleFlicker)},
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

int CAlert::DelayAlert(int alertNo, int no, int delaySecond) {
    const int seconds = std::clamp(delaySecond, 1, kMaxDelaySecond);
    const DWORD delayMs = static_cast<DWORD>(seconds) * 1000u;
    {
        std::lock_guard lock(m_csConfig);
        const auto it = _mapAlertConfigDetail.find({alertNo, no});
        if (it == _mapAlertConfigDetail.end()) return kError;
        struAlertConfigDetail& detail = it->second;
        ++detail.delayCount;
        SYSTEMTIME now{};
        GetLocalTime(&now);
        detail.delayStartTick = GetTickCount();
        detail.delayUntilTick = detail.delayStartTick + delayMs;  // wraps as the tick does
        if (detail.delayUntilTick == 0) detail.delayUntilTick = 1;  // 0 means no put-off
        detail.delayEndMinute = PutOffEndMinute(now, seconds);
    }
    RequestRecalc();
    return 0;
}

bool CAlert::RespondAlert(int alertNo, int no, const std::wstring& responseType) {
    {
        std::lock_guard lock(m_csConfig);
        const auto it = _mapAlertConfigDetail.find({alertNo, no});
        if (it == _mapAlertConfigDetail.end()) return false;
        struAlertConfigDetail& detail = it->second;
        GetLocalTime(&detail.stLastResponseTime);
        detail.lastResponseTime = SystemTimeToStr(detail.stLastResponseTime);
        detail.lastResponseType = responseType;
        detail.delayUntilTick = 0;
    }
    // An ended put-off leaves today's list.
    RequestRecalc();
    return true;
}

int CAlert::ExpireAlert(int alertNo, int no) {
    const int today = GetCurDate();
    value expiredAlert;
    {
        std::lock_guard lock(m_csConfig);
        const auto it = _mapAlertConfigDetail.find({alertNo, no});
        if (it != _mapAlertConfigDetail.end()) expiredAlert = MakeToDayObject(it->second, today);
    }
    CAlertExpiredWin* expired = g_pAlertExpiredWin;
    if (!expiredAlert.is_undefined() && expired != nullptr) {
        value one = value::make_array();
        one.append(expiredAlert);
        expired->AddAlertExpired(one);
        expired->InsertAlertExpiredToDB(today, alertNo, no);
    }
    RequestRecalc();
    return 0;
}

int CAlert::GetExpiredCount() const {
    const CAlertExpiredWin* expired = g_pAlertExpiredWin;
    return expired != nullptr ? expired->GetCount() : 0;
}

void CAlert::LoadExpiredAlerts() {
    if (CAlertExpiredWin* expired = g_pAlertExpiredWin) expired->ReadAlertExpiredFromDB();
}
