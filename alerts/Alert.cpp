#include "Alert.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "CxLog.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "Text.h"
#include "TrayIcon.h"
#include "UserOperation.h"
#include "pedometerWin.h"
#include "realWeather.h"

CAlert* g_pAlert = nullptr;

namespace {

using records::ColumnInt;
using records::ColumnText;
using uie::value;

constexpr int kNoTemperature = -29999;
constexpr int kNoComeDown = -999999;

int DateOf(const SYSTEMTIME& t) { return t.wYear * 10000 + t.wMonth * 100 + t.wDay; }
int HhmmOf(const SYSTEMTIME& t) { return t.wHour * 100 + t.wMinute; }
int MinutesToHhmm(int minutes) { return minutes / 60 * 100 + minutes % 60; }
bool IsDateBound(int date) { return date >= 19000101 && date <= 20991231; }

SYSTEMTIME ParseTime(const std::wstring& text) {
    SYSTEMTIME t{};
    if (text.empty() || StrToSystemTime(text::ToAnsi(text).c_str(), &t) != 1) t = SYSTEMTIME{};
    return t;
}

bool IsZeroTime(const SYSTEMTIME& t) { return t.wYear == 0 && t.wMonth == 0 && t.wDay == 0; }

// The columns shared by tAlertConfig and tAlertConfigDetail, from column `at` on.
void ReadConfigColumns(const std::vector<std::wstring>& row, std::size_t at, struAlertConfig& c) {
    c.alertType = ColumnText(row, at++);
    c.alertLevel = ColumnInt(row, at++);
    c.alertMode = ColumnInt(row, at++);
    c.procMode = ColumnInt(row, at++);
    c.execNo = ColumnInt(row, at++);
    c.message = ColumnText(row, at++);
    c.summary = ColumnText(row, at++);
    c.duraMinute = ColumnInt(row, at++);
    c.lastAlertTime = ColumnText(row, at++);
    c.lastResponseTime = ColumnText(row, at++);
    c.lastResponseType = ColumnText(row, at++);
    c.actionNo = ColumnInt(row, at++);
    c.actionRuleFlag = ColumnText(row, at++);
    c.startDate = ColumnInt(row, at++);
    c.endDate = ColumnInt(row, at++);
    c.cycleFlag = ColumnText(row, at++);
    c.cycleType = ColumnText(row, at++);
    c.cycleIntervalNum = ColumnInt(row, at++);
    c.repeatFlag = ColumnText(row, at++);
    c.repeatIntervalTime = ColumnInt(row, at++);
    c.repeatNumber = ColumnInt(row, at++);
    c.aheadTime = ColumnInt(row, at++);
    c.aheadTimeType = ColumnText(row, at++);
    c.alertMinute = ColumnInt(row, at++);
    c.status = ColumnText(row, at++);
    c.note = ColumnText(row, at);
    c.stLastAlertTime = ParseTime(c.lastAlertTime);
    c.stLastResponseTime = ParseTime(c.lastResponseTime);
}

// What a rule did today, which its freshly read row does not know; only while the rule
// keeps its time: a reminder moved to another time is due again at that time.
void KeepDayState(const struAlertConfigDetail& from, struAlertConfigDetail& to) {
    if (from.rowMinute != to.rowMinute) return;
    to.delayCount = from.delayCount;
    to.delayStartTick = from.delayStartTick;
    to.delayUntilTick = from.delayUntilTick;
    to.delayEndMinute = from.delayEndMinute;
    to.shownCount = from.shownCount;
}

bool Compare(int measured, const std::wstring& op, int operand) {
    if (op == L"<") return measured < operand;
    if (op == L"<=") return measured <= operand;
    if (op == L"=") return measured == operand;
    if (op == L">=") return measured >= operand;
    if (op == L">") return measured > operand;
    return false;
}

// "Month", "Day", "Week": one flag character per number, '1' holds.
bool FlagAt(const struAlertConfigItem& item, int number) {
    if (item.itemOperator != L"=" || number < 1) return false;
    const std::size_t at = static_cast<std::size_t>(number) - 1;
    return at < item.itemValue.size() && item.itemValue[at] == L'1';
}

// A measured figure, or nothing when it is not known.
struct Figure {
    bool known = false;
    int value = 0;
};

Figure Known(int v, bool known = true) { return {known, v}; }

Figure WeatherFigure(const std::wstring& name, const struRealWeatherW& w) {
    const auto temperature = [](int v) { return Known(v, v != kNoTemperature); };
    const auto level = [](int v) { return Known(v, v >= 0); };
    if (name == L"RealTemperature") return temperature(w.realTemperature);
    if (name == L"RealMinTemperature") return temperature(w.realMinTemperature);
    if (name == L"RealMaxTemperature") return temperature(w.realMaxTemperature);
    if (name == L"RealMaxMinDiffTemperature") {
        if (w.realMaxTemperature == kNoTemperature || w.realMinTemperature == kNoTemperature) return {};
        return level(w.realMaxTemperature - w.realMinTemperature);
    }
    if (name == L"RealHumidity") return level(w.realHumidity);
    if (name == L"RealMinHumidity") return level(w.realMinHumidity);
    if (name == L"RealMaxHumidity") return level(w.realMaxHumidity);
    if (name == L"RealMaxMinDiffHumidity") {
        if (w.realMaxHumidity < 0 || w.realMinHumidity < 0) return {};
        return level(w.realMaxHumidity - w.realMinHumidity);
    }
    if (name == L"RealWeatherNo") return level(w.realWeatherNo);
    if (name == L"RealWindLevel") return level(w.realWindLevel);
    return {};
}

bool IsWeatherName(const std::wstring& name) { return name.rfind(L"Real", 0) == 0; }

// The outside figures of one computation, each read once, when a condition first needs it.
class FigureSnapshot {
public:
    struct Pedometer {
        int datePercent = -1;
        int leadPercent = -1;
    };
    const struRealWeatherW* Weather() {
        if (!weatherRead_) {
            weatherRead_ = true;
            if (const CRealWeather* weather = g_pRealWeather) weather_ = weather->GetRecord();
            else weather_.reset();
        }
        return weather_ ? &*weather_ : nullptr;
    }
    const UserOpDayRecord* UserOp() {
        if (!userOpRead_) {
            userOpRead_ = true;
            if (CUserOperation* monitor = g_pUserOperation) userOp_ = monitor->GetDayRecord();
        }
        return userOp_ ? &*userOp_ : nullptr;
    }
    const Pedometer* Pedo() {
        if (!pedometerRead_) {
            pedometerRead_ = true;
            if (const CPedometerWin* window = g_pPedometer)
                pedometer_ = Pedometer{window->GetPeriodDatePercent(), window->GetPeriodLeadPercent()};
        }
        return pedometer_ ? &*pedometer_ : nullptr;
    }

private:
    bool weatherRead_ = false;
    bool userOpRead_ = false;
    bool pedometerRead_ = false;
    std::optional<struRealWeatherW> weather_;
    std::optional<UserOpDayRecord> userOp_;
    std::optional<Pedometer> pedometer_;
};

bool EvaluateWeather(const struAlertConfigItem& item, const struRealWeatherW* w) {
    if (w == nullptr) return false;
    const Figure f = WeatherFigure(item.itemName, *w);
    if (!f.known) return false;
    if (item.itemName == L"RealWeatherNo" && item.itemOperator == L"in")
        return item.itemValue.find(L"|" + std::to_wstring(f.value) + L"|") != std::wstring::npos;
    int operand = 0;
    return text::ParseWholeInt(item.itemValue, operand) && Compare(f.value, item.itemOperator, operand);
}

Figure UserOpFigure(const std::wstring& name, const UserOpDayRecord* day) {
    if (day == nullptr) return {};
    const UserOpDayRecord& r = *day;
    const auto figure = [](int v) { return Known(v, v >= 0); };
    if (name == L"UserOp_computerUseSecond") return figure(r.computerUseSecond);
    if (name == L"UserOp_mskbUseSecond") return figure(r.mskbUseSecond);
    if (name == L"UserOp_mskbOpRate") return figure(r.mskbOpRate);
    if (name == L"UserOp_browerUseSecond") return figure(r.browerUseSecond);
    if (name == L"UserOp_browerUseRate") return figure(r.browsingRate);
    return {};
}

// "Period-completion" is the lead percentage: the first positive period percentage.
Figure PedometerFigure(const std::wstring& name, const FigureSnapshot::Pedometer* pedometer) {
    if (pedometer == nullptr) return {};
    const int datePercent = pedometer->datePercent;
    const int leadPercent = pedometer->leadPercent;
    if (name == L"PedoPeriodDatePercent") return Known(datePercent, datePercent >= 0);
    if (name == L"PedoPeriodCompPercent") return Known(leadPercent, leadPercent >= 0);
    if (name == L"PedoCompDateDiffPercent") {
        if (datePercent < 0 || leadPercent < 0) return {};
        return Known(leadPercent - datePercent);
    }
    return {};
}

// The computer-use and pedometer conditions also keep what they saw.
bool EvaluateKeptFigure(struAlertConfigItem& item, const Figure& f) {
    int operand = 0;
    const bool parsed = text::ParseWholeInt(item.itemValue, operand);
    item.lastOperand = operand;
    item.lastMeasured = f.known ? f.value : 0;
    item.lastResult = f.known && parsed && Compare(f.value, item.itemOperator, operand) ? 1 : 0;
    return item.lastResult != 0;
}

// "Time" works on the rule's own alertMinute: it sets the minutes of day and the state
// (5/6 while a put-off runs; the deadline compared across the tick's wrap).
bool EvaluateTime(struAlertConfigDetail& detail, int nowMinutes, int& alertMinutes, int& state) {
    const int am = detail.alertMinute;
    if (am < 0 || am > 2359 || am % 100 > 59) return false;
    alertMinutes = am / 100 * 60 + am % 100;
    detail.showMinute = am;
    if (detail.delayUntilTick != 0) {
        const bool reached = static_cast<std::int32_t>(detail.delayUntilTick - GetTickCount()) <= 0;
        state = reached ? 6 : 5;
        if (reached) detail.delayUntilTick = 0;
    } else {
        state = nowMinutes < alertMinutes ? 0 : nowMinutes == alertMinutes ? 1 : 2;
    }
    return true;
}

}  // namespace

// The one reading of the clock a computation works with.
struct CAlert::CalcClock {
    SYSTEMTIME now{};
    int today = 0;
    int nowMinutes = 0;
    mutable FigureSnapshot figures;
};

CAlert::CAlert() = default;

CAlert::~CAlert() { StopWork(); }

int CAlert::ReadAlertFormDB() {
    if (ReadAlertConfigFormDB() == 0 || ReadAlertConfigDetailFormDB() == 0 || ReadAlertConfigItemFormDB() == 0 ||
        ReadAlertListType1FormDB() == 0)
        return 0;
    RequestRecalc();
    return 1;
}

// Each reader reads into a map of its own outside the lock (the database is never
// called under it), then swaps it in.
int CAlert::ReadAlertConfigFormDB() {
    std::map<int, struAlertConfig> loaded;
    records::SelectOwnConnection(
        L"CAlert::ReadAlertConfigFormDB", L"ReadAlertConfigFormDB",
        L"select alertNo,alertType,alertLevel,alertMode,procMode,execNo,message,summary,duraMinute,lastAlertTime,"
        L"lastResponseTime,lastResponseType,actionNo,actionRuleFlag,startDate,endDate,cycleFlag,cycleType,"
        L"cycleIntervalNum,repeatFlag,repeatIntervalTime,repeatNumber,aheadTime,aheadTimeType,alertMinute,status,"
        L"note from tAlertConfig order by alertNo;",
        [&loaded](const std::vector<std::wstring>& row) {
            struAlertConfig c;
            c.alertNo = ColumnInt(row, 0);
            ReadConfigColumns(row, 1, c);
            const int key = c.alertNo;
            if (!loaded.emplace(key, std::move(c)).second)
                LOGF(LOG_WARNING, L"CAlert::ReadAlertConfigFormDB", L"_mapAlertConfig.insert[%d] fail!!!", key);
            return true;
        });
    std::lock_guard lock(m_csConfig);
    _mapAlertConfig.swap(loaded);
    return 1;
}

int CAlert::ReadAlertConfigDetailFormDB() {
    std::map<AlertDetailKey, struAlertConfigDetail> loaded;
    records::SelectOwnConnection(
        L"CAlert::ReadAlertConfigDetailFormDB", L"ReadAlertConfigDetailFormDB",
        L"select alertNo,no,alertType,alertLevel,alertMode,procMode,execNo,message,summary,duraMinute,lastAlertTime,"
        L"lastResponseTime,lastResponseType,actionNo,actionRuleFlag,startDate,endDate,cycleFlag, cycleType, "
        L"cycleIntervalNum, repeatFlag, repeatIntervalTime, repeatNumber, aheadTime, aheadTimeType, alertMinute, "
        L"status,note from tAlertConfigDetail order by alertNo,no;",
        [&loaded](const std::vector<std::wstring>& row) {
            struAlertConfigDetail d;
            d.alertNo = ColumnInt(row, 0);
            d.no = ColumnInt(row, 1);
            ReadConfigColumns(row, 2, d);
            d.rowMinute = d.alertMinute;
            const AlertDetailKey key{d.alertNo, d.no};
            if (!loaded.emplace(key, std::move(d)).second)
                LOGF(LOG_WARNING, L"CAlert::ReadAlertConfigDetailFormDB", L"_mapAlertConfigDetail.insert[%d,%d] fail!!!",
                     key.first, key.second);
            return true;
        });
    std::lock_guard lock(m_csConfig);
    // A reload (an edited rule) neither forgets a put-off nor shows a delivered reminder again.
    for (auto& [key, fresh] : loaded) {
        const auto old = _mapAlertConfigDetail.find(key);
        if (old != _mapAlertConfigDetail.end()) KeepDayState(old->second, fresh);
    }
    _mapAlertConfigDetail.swap(loaded);
    return 1;
}

int CAlert::ReadAlertConfigItemFormDB() {
    std::map<AlertItemKey, struAlertConfigItem> loaded;
    AlertDetailKey run{INT_MIN, INT_MIN};
    int seq = 0;
    records::SelectOwnConnection(
        L"CAlert::ReadAlertConfigItemFormDB", L"ReadAlertConfigItemFormDB",
        L"select * from tAlertConfigItem order by alertNo,no,duraMinute desc;",
        [&](const std::vector<std::wstring>& row) {
            struAlertConfigItem item;
            item.alertNo = ColumnInt(row, 0);
            item.no = ColumnInt(row, 1);
            item.itemName = ColumnText(row, 2);
            item.itemOperator = ColumnText(row, 3);
            item.itemValue = ColumnText(row, 4);
            item.int6 = ColumnInt(row, 5);
            item.int7 = ColumnInt(row, 6);
            item.text8 = ColumnText(row, 7);
            item.text9 = ColumnText(row, 8);
            const AlertDetailKey owner{item.alertNo, item.no};
            seq = owner == run ? seq + 1 : 1;
            run = owner;
            const std::wstring name = item.itemName;
            if (!loaded.emplace(AlertItemKey{owner.first, owner.second, seq}, std::move(item)).second)
                LOGF(LOG_WARNING, L"CAlert::ReadAlertConfigItemFormDB", L"_mapAlertConfigItem.insert[%d][%s] fail!!!",
                     owner.first * 10000 + owner.second * 100 + seq, name.c_str());
            return true;
        });
    std::lock_guard lock(m_csConfig);
    _mapAlertConfigItem.swap(loaded);
    return 1;
}

int CAlert::ReadAlertListType1FormDB() {
    std::multimap<int, struAlertListW> loaded;
    records::SelectOwnConnection(
        L"CAlert::ReadAlertListType1FormDB", L"ReadAlertListFormDB",
        L"select * from tAlertList where alertDate=" + std::to_wstring(GetCurDate()) +
            L" and alertType = '1' order by alertMinute desc;",
        [&loaded](const std::vector<std::wstring>& row) {
            struAlertListW a;
            a.alertDate = ColumnInt(row, 0);
            a.alertNo = ColumnInt(row, 1);
            a.no = ColumnInt(row, 2);
            a.alertType = ColumnText(row, 3);
            a.message = ColumnText(row, 4);
            a.summary = ColumnText(row, 5);
            a.duraMinute = ColumnInt(row, 6);
            a.alertMinute = ColumnInt(row, 7);
            a.lastAlertTime = ColumnText(row, 8);
            a.actionNo = ColumnInt(row, 9);
            a.actionRuleFlag = ColumnText(row, 10);
            a.status = ColumnText(row, 11);
            a.note = ColumnText(row, 12);
            a.modifyTime = ColumnText(row, 13);
            a.stLastAlertTime = ParseTime(a.lastAlertTime);
            a.stModifyTime = ParseTime(a.modifyTime);
            const int key = a.alertDate;
            loaded.emplace(key, std::move(a));
            return true;
        });
    std::lock_guard lock(m_csAlertList);
    _mapAlertList.swap(loaded);
    return 1;
}

int CAlert::CalcToDayShowAlertInfo(int) {
    if (g_pMainFrame == nullptr) return 0;
    CalcClock clock;
    GetLocalTime(&clock.now);
    clock.today = DateOf(clock.now);
    clock.nowMinutes = clock.now.wHour * 60 + clock.now.wMinute;

    if (clock.today != m_nLastCalcDate) {
        // A new day: every reminder may reach the pop-up again.
        for (auto& [key, detail] : _mapAlertConfigDetail) detail.shownCount = 0;
        m_nLastCalcDate = clock.today;
    }
    ToDayList delivered;
    CopyDeliveredAlerts(delivered, clock);
    std::vector<ComeDown> comeDown;
    comeDown.reserve(delivered.size() + _mapAlertConfigDetail.size());
    for (ToDayEntry& entry : delivered) comeDown.push_back({entry.alertComeDownMinute, nullptr, &entry});
    for (auto& [key, detail] : _mapAlertConfigDetail) {
        if (CalcDetail(detail, clock)) comeDown.push_back({detail.alertComeDownMinute, &detail, nullptr});
    }
    // By count-down; equal ones stay in the order they came.
    std::stable_sort(comeDown.begin(), comeDown.end(),
                     [](const ComeDown& a, const ComeDown& b) { return a.minute < b.minute; });

    auto list = std::make_shared<ToDayList>();
    list->reserve(comeDown.size());
    PassComeDown(comeDown, clock, *list);
    std::shared_ptr<const ToDayList> previous;  // freed after the lock
    {
        std::lock_guard lock(m_csToDay);
        previous = std::exchange(m_toDay, std::move(list));
    }
    return UpdateExpiredBlink();
}

// Today's deliveries of recurring reminders as state-7 entries; under the list lock, so
// a reload of the list never frees what is being copied.
void CAlert::CopyDeliveredAlerts(ToDayList& delivered, const CalcClock& clock) const {
    std::lock_guard lock(m_csAlertList);
    const auto [first, last] = _mapAlertList.equal_range(clock.today);  // a list read yesterday is not today's
    delivered.reserve(static_cast<std::size_t>(std::distance(first, last)));
    struAlertConfigDetail d;  // one record for all: only their entries are kept
    d.alertState = 7;
    for (auto it = first; it != last; ++it) {
        const struAlertListW& a = it->second;
        d.alertNo = a.alertNo;
        d.no = a.no;
        d.alertType = a.alertType;
        d.message = a.message;
        d.duraMinute = a.duraMinute;
        d.actionNo = a.actionNo;
        d.actionRuleFlag = a.actionRuleFlag;
        d.showMinute = d.alertMinute = a.alertMinute;
        d.alertComeDownMinute = a.alertMinute / 100 * 60 + a.alertMinute % 100 - clock.nowMinutes;
        delivered.push_back(MakeToDayEntry(d, clock.today, true));
    }
}

// Decides the detail's state and count-down; true when it takes part in today's list.
bool CAlert::CalcDetail(struAlertConfigDetail& detail, const CalcClock& clock) {
    detail.alertState = -1;
    if (detail.status != L"1") return false;
    if (IsDateBound(detail.startDate) && detail.startDate > clock.today) return false;
    if (IsDateBound(detail.endDate) && detail.endDate < clock.today) return false;
    int alertMinutes = 0;
    int state = -1;
    if (!EvaluateConditions(detail, clock, alertMinutes, state)) return false;

    if (detail.alertType == L"1") {
        int minutes = 0;
        // A reminder that never fired (no last time) is due.
        if (!IsZeroTime(detail.stLastAlertTime) &&
            (DateDiffBySystemTime("minute", detail.stLastAlertTime, clock.now, &minutes) != 1 ||
             minutes < detail.duraMinute))
            return false;
        state = 4;
        SYSTEMTIME fired{};
        GetLocalTime(&fired);
        detail.showMinute = detail.alertMinute = HhmmOf(fired);
        detail.stLastAlertTime = fired;
        detail.lastAlertTime = SystemTimeToStr(fired);
    }

    int comeDown = kNoComeDown;
    const int d = alertMinutes - clock.nowMinutes;
    switch (state) {
        case 0: comeDown = d > 0 ? MinutesToHhmm(d) : -1; break;
        case 1:
        case 4:
        case 6: comeDown = 0; break;
        case 2: comeDown = d; break;
        case 5: {
            const auto leftMs = static_cast<std::int32_t>(detail.delayUntilTick - GetTickCount());
            comeDown = leftMs > 0 ? (leftMs / 1000 + 59) / 60 : 0;
            break;
        }
        default: break;
    }
    detail.alertState = state;
    detail.alertComeDownMinute = comeDown;
    return true;
}

// Every condition of the detail must hold; a detail without one never does.
bool CAlert::EvaluateConditions(struAlertConfigDetail& detail, const CalcClock& clock, int& alertMinutes,
                                int& state) {
    bool any = false;
    for (auto it = _mapAlertConfigItem.lower_bound(AlertItemKey{detail.alertNo, detail.no, INT_MIN});
         it != _mapAlertConfigItem.end() && std::get<0>(it->first) == detail.alertNo &&
         std::get<1>(it->first) == detail.no;
         ++it) {
        any = true;
        struAlertConfigItem& item = it->second;
        item.lastResult = 0;
        const std::wstring& name = item.itemName;
        bool holds = false;
        int operand = 0;
        if (name == L"Time") {
            holds = EvaluateTime(detail, clock.nowMinutes, alertMinutes, state);
        } else if (name == L"Date") {
            holds = text::ParseWholeInt(item.itemValue, operand) && Compare(clock.today, item.itemOperator, operand);
        } else if (name == L"Month") {
            holds = FlagAt(item, clock.now.wMonth);
        } else if (name == L"Day") {
            holds = FlagAt(item, clock.now.wDay);
        } else if (name == L"Week") {
            holds = FlagAt(item, clock.now.wDayOfWeek == 0 ? 7 : clock.now.wDayOfWeek);
        } else if (IsWeatherName(name)) {
            holds = EvaluateWeather(item, clock.figures.Weather());
        } else if (name.rfind(L"UserOp_", 0) == 0) {
            holds = EvaluateKeptFigure(item, UserOpFigure(name, clock.figures.UserOp()));
        } else if (name.rfind(L"Pedo", 0) == 0) {
            holds = EvaluateKeptFigure(item, PedometerFigure(name, clock.figures.Pedo()));
        }
        item.lastResult = holds ? 1 : 0;
        if (!holds) return false;
    }
    return any;
}

// Forward pass (ascending count-down): upcoming and put-off entries are listed and the
// due ones kept for delivery; reverse pass: passed and delivered entries, newest first.
void CAlert::PassComeDown(const std::vector<ComeDown>& comeDown, const CalcClock& clock, ToDayList& list) {
    const int today = clock.today;
    for (const ComeDown& entry : comeDown) {
        struAlertConfigDetail* const detail = entry.detail;
        if (detail == nullptr) continue;  // delivered ones are listed in the reverse pass
        switch (detail->alertState) {
            case 0:
            case 5: list.push_back(MakeToDayEntry(*detail, today, true)); break;
            case 1:
                if (detail->shownCount == 0) {
                    ++detail->shownCount;
                    m_due.push_back({AlertDelivery::kPopup, *detail});
                }
                break;
            case 4:
                m_due.push_back({AlertDelivery::kList, *detail});
                ++detail->shownCount;
                list.push_back(MakeToDayEntry(*detail, today, true));
                break;
            case 6:
                detail->delayUntilTick = 0;
                ++detail->shownCount;
                m_due.push_back({AlertDelivery::kPopup, *detail});
                break;
            default: break;
        }
    }
    for (auto it = comeDown.rbegin(); it != comeDown.rend(); ++it) {
        if (it->delivered != nullptr) {
            list.push_back(std::move(*it->delivered));
        } else if (it->detail->alertState == 2) {
            list.push_back(MakeToDayEntry(*it->detail, today, true));
        }
    }
}

int CAlert::UpdateExpiredBlink() {
    const int count = GetExpiredCount();
    CTrayIcon* tray = g_pTrayIcon;
    if (count <= 0) {
        m_nAckExpiredCount = count;
        if (tray != nullptr) tray->SetBlink(false);
    } else if (count != m_nAckExpiredCount.load()) {
        if (tray != nullptr) tray->SetBlink(true);
    }
    return count;
}

std::vector<AlertDelivery> CAlert::TakeDue() {
    std::vector<AlertDelivery> due;
    due.swap(m_due);
    return due;
}

value CAlert::GetToDayShowAlertInfo() const { return *ToDayArray(); }

std::shared_ptr<const value> CAlert::ToDayArray() const {
    std::shared_ptr<const ToDayList> list;
    {
        std::lock_guard lock(m_csToDay);
        if (m_toDayArray != nullptr && m_toDayArrayOf == m_toDay) return m_toDayArray;
        list = m_toDay;
    }
    // Made outside the lock: a computation never waits for it.
    value::array_t objects;
    objects.reserve(list->size());
    for (const ToDayEntry& entry : *list) objects.push_back(MakeToDayObject(entry));
    auto array = std::make_shared<const value>(value::make_array(std::move(objects)));
    std::lock_guard lock(m_csToDay);
    if (m_toDay == list) {
        m_toDayArray = array;
        m_toDayArrayOf = std::move(list);
    }
    return array;
}

ToDayEntry CAlert::MakeToDayEntry(const struAlertConfigDetail& d, int alertDate, bool listed) {
    const bool putOff = listed && d.alertState == 5;
    ToDayEntry e;
    e.alertNo = d.alertNo;
    e.no = d.no;
    e.alertType = d.alertType;
    e.alertLevel = d.alertLevel;
    e.alertMode = d.alertMode;
    e.procMode = d.procMode;
    e.execNo = d.execNo;
    e.duraMinute = d.duraMinute;
    e.alertDate = alertDate;
    // The put-off's end, fixed when it was made, whatever the rule's own time.
    e.alertMinute = putOff ? d.delayEndMinute : d.showMinute;
    e.alertComeDownMinute = d.alertComeDownMinute;
    e.alertFlag = listed && d.alertState == 4 ? 2 : d.alertState;
    if (putOff) text::FormatW(e.message, 64, L"延%d - ", d.delayCount);
    e.message += d.message;
    if (d.repeatFlag == L"1") e.message += L"(" + std::to_wstring(d.no) + L")";
    e.actionNo = d.actionNo;
    e.actionRuleFlag = d.actionRuleFlag;
    return e;
}

int CAlert::PutOffEndMinute(const SYSTEMTIME& at, int delaySecond) {
    constexpr int kMinutesPerDay = 24 * 60;
    const int endSecond = (at.wHour * 60 + at.wMinute) * 60 + at.wSecond + delaySecond;
    // Rounded up: the deadline is past at the first computation from that minute on.
    return MinutesToHhmm((endSecond + 59) / 60 % kMinutesPerDay);
}

value CAlert::MakeToDayObject(const ToDayEntry& e) {
    // Made once and shared by every object: a page's copy of today's array copies no key.
    static const value kKeys[] = {
        value::interned(L"alertNo"),     value::interned(L"no"),          value::interned(L"alertType"),
        value::interned(L"alertLevel"),  value::interned(L"alertMode"),   value::interned(L"procMode"),
        value::interned(L"execNo"),      value::interned(L"duraMinute"),  value::interned(L"alertDate"),
        value::interned(L"alertMinute"), value::interned(L"alertComeDownMinute"),
        value::interned(L"alertFlag"),   value::interned(L"message"),     value::interned(L"actionNo"),
        value::interned(L"actionRuleFlag")};
    value fields[] = {value(e.alertNo),     value(e.no),          value(e.alertType),
                      value(e.alertLevel),  value(e.alertMode),   value(e.procMode),
                      value(e.execNo),      value(e.duraMinute),  value(e.alertDate),
                      value(e.alertMinute), value(e.alertComeDownMinute),
                      value(e.alertFlag),   value(e.message),     value(e.actionNo),
                      value(e.actionRuleFlag)};
    static_assert(sizeof fields / sizeof fields[0] == sizeof kKeys / sizeof kKeys[0]);
    value object = value::make_map();
    object.reserve(std::size(kKeys));
    for (std::size_t i = 0; i < std::size(kKeys); ++i) object.append_item(kKeys[i], std::move(fields[i]));
    return object;
}

bool CAlert::GetDetail(int alertNo, int no, struAlertConfigDetail& out) const {
    std::lock_guard lock(m_csConfig);
    const auto it = _mapAlertConfigDetail.find({alertNo, no});
    if (it == _mapAlertConfigDetail.end()) return false;
    out = it->second;
    return true;
}

bool CAlert::GetItem(int alertNo, int no, int seq, struAlertConfigItem& out) const {
    std::lock_guard lock(m_csConfig);
    const auto it = _mapAlertConfigItem.find({alertNo, no, seq});
    if (it == _mapAlertConfigItem.end()) return false;
    out = it->second;
    return true;
}

std::size_t CAlert::ConfigCount() const {
    std::lock_guard lock(m_csConfig);
    return _mapAlertConfig.size();
}

std::size_t CAlert::DetailCount() const {
    std::lock_guard lock(m_csConfig);
    return _mapAlertConfigDetail.size();
}

std::size_t CAlert::ItemCount() const {
    std::lock_guard lock(m_csConfig);
    return _mapAlertConfigItem.size();
}

std::vector<struAlertListW> CAlert::GetAlertList() const {
    std::lock_guard lock(m_csAlertList);
    std::vector<struAlertListW> out;
    for (const auto& [date, a] : _mapAlertList) out.push_back(a);
    return out;
}
