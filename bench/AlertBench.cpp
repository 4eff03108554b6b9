// A day of reminders: 1,000 rules (time, weekday and a weather condition; a tenth
// recurring every hour, a tenth put off) computed at each of the 1,440 minutes of one
// day on the hook clock, without the pause per rule, delivering into a temporary user
// database. The baseline runs the same 1,440 computations over an empty configuration,
// the fixed cost of one computation. Timed apart after each computation: the making of
// today's array, which the thread does after leaving the lock, and a page's fetch (copy)
// of it.
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

// The clock the engine reads: one day, minute by minute; the tick moves with it.
std::mutex g_clockLock;
SYSTEMTIME g_now{2026, 3, 3, 11, 0, 0, 0, 0};
std::atomic<DWORD> g_tick{1'000'000};

void SetMinute(int minute) {
    std::lock_guard lock(g_clockLock);
    g_now.wHour = static_cast<WORD>(minute / 60);
    g_now.wMinute = static_cast<WORD>(minute % 60);
    g_tick = 1'000'000 + static_cast<DWORD>(minute) * 60'000;
}

std::wstring N(int n) { return std::to_wstring(n); }

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double>& ms) {
    if (ms.empty()) return 0;
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void FillRules(CMyDatabase& db) {
    std::vector<std::wstring> sql;
    for (int i = 0; i < kRules; ++i) {
        const int alertNo = i / 10 + 1;
        const int no = i % 10 + 1;
        const bool recurring = i % 10 == 3;
        const int minute = (i * 37) % kMinutesPerDay;
        if (no == 1)
            sql.push_back(L"insert into tAlertConfig (alertNo,alertType,message,status) values (" + N(alertNo) +
                          L",'0','m','1')");
        sql.push_back(L"insert into tAlertConfigDetail (alertNo,no,alertType,alertLevel,alertMode,procMode,execNo,"
                      L"message,summary,duraMinute,lastAlertTime,actionNo,actionRuleFlag,startDate,endDate,repeatFlag,"
                      L"alertMinute,status,note) values (" +
                      N(alertNo) + L"," + N(no) + (recurring ? L",'1'" : L",'0'") + L",1,1,1,0,'提醒 " + N(i) +
                      L"','',60,'',-1,'0',0,0,'0'," + N(minute / 60 * 100 + minute % 60) + L",'1','')");
        const std::wstring item = L"insert into tAlertConfigItem values (" + N(alertNo) + L"," + N(no) + L",";
        if (!recurring) sql.push_back(item + L"'Time','=','',0,1,'1','',null)");
        sql.push_back(item + L"'Week','=','1111111',0,2,'1','',null)");
        sql.push_back(item + L"'RealTemperature','>','-10',0,3,'1','',null)");
    }
    db.ExecSQLSet(sql, true);
}

class Day {
public:
    explicit Day(bool withRules)
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
        db_.ExecSQL(L"update tRealWeather set areaCodeNo=101, solarCalendar=20260311, realTemperature=12");
        weather_.LoadFromDB(101);
        g_pRealWeather = &weather_;
        if (withRules) FillRules(db_);
    }
    ~Day() {
        g_pRealWeather = nullptr;
        g_pMainFrame = nullptr;
        g_pMyDatabase = nullptr;
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // One day; the times of each computation (under the lock), of the making of today's
    // array and of a page's fetch of it.
    void Run(CAlert& alert, std::vector<double>& computeMs, std::vector<double>& arrayMs,
             std::vector<double>& fetchMs) {
        alert.ReadAlertFormDB();
        alert.SetDetailPause(0);
        for (int i = 7; i < kRules; i += 10) alert.DelayAlert(i / 10 + 1, i % 10 + 1, 3600 + i);
        for (int minute = 0; minute < kMinutesPerDay; ++minute) {
            SetMinute(minute);
            std::vector<AlertDelivery> due;
            const auto start = std::chrono::steady_clock::now();
            {
                std::lock_guard lock(alert.ConfigLock());
                alert.CalcToDayShowAlertInfo(1);
                due = alert.TakeDue();
            }
            computeMs.push_back(MsSince(start));
            const auto made = std::chrono::steady_clock::now();
            alert.ToDayArray();
            arrayMs.push_back(MsSince(made));
            const auto fetched = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(alert.GetToDayShowAlertInfo());
            fetchMs.push_back(MsSince(fetched));
            for (const AlertDelivery& d : due)
                d.form == AlertDelivery::kPopup ? alert.DeliverPopup(&d.detail) : alert.DeliverList(&d.detail);
        }
    }

private:
    HookScope hooks_;
    std::filesystem::path folder_;
    CMyDatabase db_;
    CMainFrame frame_;
    CRealWeather weather_;
};

void RunDays(benchmark::State& state, bool withRules) {
    Day day(withRules);
    std::vector<double> computeMs;
    std::vector<double> arrayMs;
    std::vector<double> fetchMs;
    for (auto _ : state) {
        CAlert alert;
        day.Run(alert, computeMs, arrayMs, fetchMs);
    }
    double total = 0;
    for (double ms : computeMs) total += ms;
    const int rules = withRules ? kRules : 0;
    state.counters["median_ms_per_computation"] = Median(computeMs);
    state.counters["median_ms_per_array"] = Median(arrayMs);
    state.counters["median_ms_per_fetch"] = Median(fetchMs);
    state.counters["alerts_per_second"] = total > 0 ? rules * static_cast<double>(computeMs.size()) / (total / 1000) : 0;
    state.counters["pacing_s_per_computation"] = rules * CAlert::kDefaultDetailPauseMs / 1000.0;
    state.SetItemsProcessed(state.iterations() * kMinutesPerDay);
}

void BM_AlertDay(benchmark::State& state) { RunDays(state, true); }
BENCHMARK(BM_AlertDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_EmptyConfigurationDay(benchmark::State& state) { RunDays(state, false); }
BENCHMARK(BM_EmptyConfigurationDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
