// A day of reminders: 1,000 rules (time, weekday and a weather condition; a tenth
// recurring every hour, a tenth put off) computed at each of the 1,440 minutes of one
// day on the hook clock, without the pause per rule, delivering into a temporary user
// database. The benchmark's time is the computations' (under the lock) alone; each
// series reports its median and its slowest minutes (90th percentile and maximum), as a
// few slow minutes hide behind the median. Timed apart after each computation: the
// making of today's array, which the thread does after leaving the lock, and a page's
// fetch (copy) of it. The baseline makes the same decisions over the same rules in plain
// code: each condition compared with the minute, the rules that hold listed by
// count-down. CI's brief run computes the first hour only.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "Alert.h"
#include "BenchSupport.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "Hooks.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "realWeather.h"

namespace {

constexpr int kRules = 1000;
constexpr int kMinutesPerDay = 1440;
constexpr int kBriefMinutes = 60;
constexpr WORD kWeekday = 3;          // 2026-03-11, the day the clock shows
constexpr int kTemperature = 12;      // the weather the rules read
constexpr int kColdestAllowed = -10;  // every rule: the temperature above this
constexpr int kRepeatMinutes = 60;    // a recurring rule's interval

// The clock the engine reads: one day, minute by minute; the tick moves with it.
std::mutex g_clockLock;
SYSTEMTIME g_now{2026, 3, kWeekday, 11, 0, 0, 0, 0};
std::atomic<DWORD> g_tick{1'000'000};

void SetMinute(int minute) {
    std::lock_guard lock(g_clockLock);
    g_now.wHour = static_cast<WORD>(minute / 60);
    g_now.wMinute = static_cast<WORD>(minute % 60);
    g_tick = 1'000'000 + static_cast<DWORD>(minute) * 60'000;
}

int MinutesOfTheRun() { return bench::Brief() ? kBriefMinutes : kMinutesPerDay; }

std::wstring N(int n) { return std::to_wstring(n); }

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The median, the 90th percentile and the maximum of a series, as counters.
void ReportSpread(benchmark::State& state, const std::string& name, std::vector<double> ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    const auto rank = [&ms](double p) { return ms[static_cast<std::size_t>(p * static_cast<double>(ms.size() - 1))]; };
    state.counters[name + "_p50_ms"] = rank(0.5);
    state.counters[name + "_p90_ms"] = rank(0.9);
    state.counters[name + "_max_ms"] = ms.back();
}

// One rule of the day: what the configuration stores and what the baseline holds.
struct Rule {
    int alertNo = 0;
    int no = 0;
    bool recurring = false;  // every hour, without a time condition
    bool putOff = false;
    int minute = 0;  // of the day
    std::wstring message;
};

Rule MakeRule(int i) {
    return {i / 10 + 1, i % 10 + 1, i % 10 == 3, i % 10 == 7, (i * 37) % kMinutesPerDay, L"提醒 " + N(i)};
}

int PutOffSeconds(int i) { return 3600 + i; }

void FillRules(CMyDatabase& db) {
    std::vector<std::wstring> sql;
    for (int i = 0; i < kRules; ++i) {
        const Rule r = MakeRule(i);
        if (r.no == 1)
            sql.push_back(L"insert into tAlertConfig (alertNo,alertType,message,status) values (" + N(r.alertNo) +
                          L",'0','m','1')");
        sql.push_back(L"insert into tAlertConfigDetail (alertNo,no,alertType,alertLevel,alertMode,procMode,execNo,"
                      L"message,summary,duraMinute,lastAlertTime,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,"
                      L"alertMinute,status,note) values (" +
                      N(r.alertNo) + L"," + N(r.no) + (r.recurring ? L",'1'" : L",'0'") + L",1,1,1,0,'" + r.message +
                      L"',''," + N(kRepeatMinutes) + L",'',-1,'0',0,0,'0'," + N(r.minute / 60 * 100 + r.minute % 60) +
                      L",'1','')");
        const std::wstring item = L"insert into tAlertConfigItem values (" + N(r.alertNo) + L"," + N(r.no) + L",";
        if (!r.recurring) sql.push_back(item + L"'Time','=','',0,1,'1','',null)");
        sql.push_back(item + L"'Week','=','1111111',0,2,'1','',null)");
        sql.push_back(item + L"'RealTemperature','>','" + N(kColdestAllowed) + L"',0,3,'1','',null)");
    }
    db.ExecSQLSet(sql, true);
}

// The computation's time of each minute, the array's and the fetch's.
struct DayTimes {
    std::vector<double> computeMs;
    std::vector<double> arrayMs;
    std::vector<double> fetchMs;
};

class Day {
public:
    Day()
        : folder_(std::filesystem::temp_directory_path() / ("quorv-alert-bench-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(folder_);
        MakeDefaultDatabase(folder_ / "user.db");
        g_Config.m_config.userDBName = text::FromUtf8((folder_ / "user.db").string());
        db_.Init();
        g_pMyDatabase = &db_;
        g_pMainFrame = &frame_;  // made, not started: the computation only asks that it exists
        Hooks().localTime = [](SYSTEMTIME& st) {
            std::lock_guard lock(g_clockLock);
            st = g_now;
        };
        Hooks().tickCount = [] { return g_tick.load(); };
        SetMinute(0);
        for (const wchar_t* table : {L"tAlertConfig", L"tAlertConfigDetail", L"tAlertConfigItem", L"tAlertList"})
            db_.ExecSQL(std::wstring(L"delete from ") + table);
        db_.ExecSQL(L"update tRealWeather set areaCodeNo=101, solarCalendar=20260311, realTemperature=" +
                    N(kTemperature));
        weather_.LoadFromDB(101);
        g_pRealWeather = &weather_;
        FillRules(db_);
    }
    ~Day() {
        g_pRealWeather = nullptr;
        g_pMainFrame = nullptr;
        g_pMyDatabase = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // One day, or the minutes of a brief run; the computations' time in all.
    double Run(CAlert& alert, DayTimes& times) {
        alert.ReadAlertFormDB();
        alert.SetDetailPause(0);
        for (int i = 0; i < kRules; ++i) {
            const Rule r = MakeRule(i);
            if (r.putOff) alert.DelayAlert(r.alertNo, r.no, PutOffSeconds(i));
        }
        double total = 0;
        for (int minute = 0; minute < MinutesOfTheRun(); ++minute) {
            SetMinute(minute);
            std::vector<AlertDelivery> due;
            const auto start = std::chrono::steady_clock::now();
            {
                std::lock_guard lock(alert.ConfigLock());
                alert.CalcToDayShowAlertInfo(1);
                due = alert.TakeDue();
            }
            times.computeMs.push_back(MsSince(start));
            total += times.computeMs.back();
            const auto made = std::chrono::steady_clock::now();
            alert.ToDayArray();
            times.arrayMs.push_back(MsSince(made));
            const auto fetched = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(alert.GetToDayShowAlertInfo());
            times.fetchMs.push_back(MsSince(fetched));
            for (const AlertDelivery& d : due)
                d.form == AlertDelivery::kPopup ? alert.DeliverPopup(&d.detail) : alert.DeliverList(&d.detail);
        }
        return total;
    }

private:
    HookScope hooks_;
    std::filesystem::path folder_;
    CMyDatabase db_;
    CMainFrame frame_;
    CRealWeather weather_;
};

void BM_AlertDay(benchmark::State& state) {
    Day day;
    DayTimes times;
    for (auto _ : state) {
        CAlert alert;
        state.SetIterationTime(day.Run(alert, times) / 1000);
    }
    ReportSpread(state, "computation", times.computeMs);
    ReportSpread(state, "array", times.arrayMs);
    ReportSpread(state, "fetch", times.fetchMs);
    state.counters["pacing_s_per_computation"] = kRules * CAlert::kDefaultDetailPauseMs / 1000.0;
    state.SetItemsProcessed(state.iterations() * MinutesOfTheRun());
}
BENCHMARK(BM_AlertDay)->Unit(benchmark::kMillisecond)->UseManualTime()->Apply(bench::Steady);

// The baseline: the same rules as plain figures, and each minute the same decisions: the
// rules whose conditions hold with their count-down, today's deliveries of the recurring
// ones, all sorted by count-down into the minute's entries.
class PlainDay {
public:
    PlainDay() {
        for (int i = 0; i < kRules; ++i) {
            Held r{MakeRule(i), {}, -1, -1};
            if (!r.rule.recurring) r.conditions.push_back({Condition::kTime, 0});
            r.conditions.push_back({Condition::kWeekday, 0b1111111});
            r.conditions.push_back({Condition::kWarmerThan, kColdestAllowed});
            if (r.rule.putOff) r.putOffUntil = PutOffSeconds(i) / 60;
            rules_.push_back(std::move(r));
        }
    }

    void Compute(int minute) {
        candidates_.clear();
        for (const Delivery& d : delivered_) candidates_.push_back({d.minute - minute, d.rule});
        for (Held& r : rules_) {
            int comeDown = 0;
            if (Holds(r) && ComeDown(r, minute, comeDown)) candidates_.push_back({comeDown, &r.rule});
        }
        std::stable_sort(candidates_.begin(), candidates_.end(),
                         [](const Candidate& a, const Candidate& b) { return a.comeDown < b.comeDown; });
        list_.clear();
        for (const Candidate& c : candidates_) list_.push_back({*c.rule, c.rule->minute, c.comeDown});
    }
    std::size_t Listed() const { return list_.size(); }

private:
    struct Condition {
        enum Kind { kTime, kWeekday, kWarmerThan } kind;
        int operand;
    };
    struct Held {
        Rule rule;
        std::vector<Condition> conditions;
        int putOffUntil;  // minute of the day; -1: none
        int lastFired;    // minute of the day; -1: not yet
    };
    struct Candidate {
        int comeDown;
        const Rule* rule;  // in rules_, which never moves
    };
    struct Delivery {
        const Rule* rule;
        int minute;
    };
    struct Entry {
        Rule rule;
        int minute;
        int comeDown;
    };

    static bool Holds(const Held& r) {
        for (const Condition& c : r.conditions) {
            if (c.kind == Condition::kWeekday && (c.operand >> (kWeekday - 1) & 1) == 0) return false;
            if (c.kind == Condition::kWarmerThan && !(kTemperature > c.operand)) return false;
        }
        return true;
    }
    // Whether the rule takes part this minute, and its count-down; a recurring one that
    // fires is kept among today's deliveries.
    bool ComeDown(Held& r, int minute, int& comeDown) {
        if (r.rule.recurring) {
            if (r.lastFired >= 0 && minute - r.lastFired < kRepeatMinutes) return false;
            r.lastFired = minute;
            delivered_.push_back({&r.rule, minute});
            comeDown = 0;
            return true;
        }
        comeDown = r.putOffUntil > minute ? r.putOffUntil - minute : r.rule.minute - minute;
        return true;
    }

    std::vector<Held> rules_;
    std::vector<Delivery> delivered_;
    std::vector<Candidate> candidates_;
    std::vector<Entry> list_;
};

void BM_PlainDecisionsDay(benchmark::State& state) {
    std::vector<double> computeMs;
    for (auto _ : state) {
        PlainDay day;
        double total = 0;
        for (int minute = 0; minute < MinutesOfTheRun(); ++minute) {
            const auto start = std::chrono::steady_clock::now();
            day.Compute(minute);
            computeMs.push_back(MsSince(start));
            total += computeMs.back();
            benchmark::DoNotOptimize(day.Listed());
        }
        state.SetIterationTime(total / 1000);
    }
    ReportSpread(state, "computation", computeMs);
    state.SetItemsProcessed(state.iterations() * MinutesOfTheRun());
}
BENCHMARK(BM_PlainDecisionsDay)->Unit(benchmark::kMillisecond)->UseManualTime()->Apply(bench::Steady);

}  // namespace
