// Blood-pressure chart documents for the largest record lists the page hands over: 700
// results (one full download of the monitor) and a year of days with all three periods
// (1,095), in every form the page draws: daily boxes per period, the whole-day box, a box
// per result and the three lines. The baseline is the pedometer chart over the same
// number of records, in the same run.
#include <benchmark/benchmark.h>

#include <string>

#include "BloodPressureGraph.h"
#include "PedometerDataGraph.h"

namespace {

constexpr int kDownload = 700;
constexpr int kYearOfPeriods = 365 * 3;

uie::value Object(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    uie::value map = uie::value::make_map();
    for (const auto& [key, v] : members) map.set_item(uie::value(key), v);
    return map;
}

// Three results a day, one per period, from 2023-01-01 on (months of 28 days keep it simple).
uie::value BloodPressureRecords(int count) {
    uie::value records = uie::value::make_array();
    for (int i = 0; i < count; ++i) {
        const int day = i / 3;
        const int date = 20230000 + (day / 28 % 12 + 1) * 100 + day % 28 + 1 + day / 336 * 10000;
        records.append(Object({{L"dataDate", std::to_wstring(date)},
                               {L"bpKbn", i % 3 + 1},
                               {L"avgSystolic", 110 + i % 70},
                               {L"avgDiastolic", 70 + i % 40},
                               {L"avgPulse", 60 + i % 30},
                               {L"recNum", 1 + i % 4},
                               {L"bpLevel", std::to_wstring(i % 7)},
                               {L"bpAssessNote", L"血压偏高，注意休息"},
                               {L"summary", L"早饭后测量"}}));
    }
    return records;
}

uie::value Options(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    return uie::value::make_array({Object(members)});
}

void Report(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations());  // documents
    state.counters["bytes_per_doc"] = static_cast<double>(bytes);
}

void RunBloodPressure(benchmark::State& state, const uie::value& options) {
    const uie::value records = BloodPressureRecords(static_cast<int>(state.range(0)));
    CBloodPressureGraph chart("../graph/BloodPressure/bloodPressureData_Box.swf", "../graph/BloodPressure/data.xml");
    std::string xml;
    for (auto _ : state) {
        chart.GenGraphData(options, records, xml);
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, xml.size());
}

void BM_BloodPressureDailyBoxes(benchmark::State& state) {
    RunBloodPressure(state, Options({{L"graphType", L"1"}, {L"afterWakeUp", 1}, {L"normal", 1}, {L"beforeAsleep", 1}}));
}

void BM_BloodPressureWholeDayBox(benchmark::State& state) {
    RunBloodPressure(state, Options({{L"graphType", L"1"}, {L"all", 1}}));
}

void BM_BloodPressureBoxPerResult(benchmark::State& state) {
    RunBloodPressure(state, Options({{L"graphType", L"1"}, {L"sumMode", L"all"}}));
}

void BM_BloodPressureLines(benchmark::State& state) { RunBloodPressure(state, Options({{L"graphType", L"2"}})); }

// The pedometer chart with all four series and the target line over as many records.
void BM_BaselinePedometerChart(benchmark::State& state) {
    uie::value records = uie::value::make_array();
    for (int i = 0; i < state.range(0); ++i) {
        records.append(Object({{L"recName", L"2023-05-" + std::to_wstring(i % 28 + 1)},
                               {L"step", 6000 + i % 5000},
                               {L"distance", 4000 + i % 3000},
                               {L"energy", 150000 + i * 7 % 100000},
                               {L"duration", 1800 + i % 3600},
                               {L"avgTarget", 10000}}));
    }
    const uie::value options = Options({{L"seriesList", L"step,distance,energy,duration"}, {L"graphType", L"1"}});
    const struPedometerTargets targets = {.step = 10000, .distance = 8000, .energy = 300000, .duration = 3600};
    CPedometerDataGraph chart("../graph/pedometerData/pedometerData.swf", "../graph/pedometerData/data.xml");
    std::string xml;
    for (auto _ : state) {
        chart.GenGraphXml(options, records, targets, xml);
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, xml.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(kDownload)->Arg(kYearOfPeriods)->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_BloodPressureDailyBoxes)->Apply(Sizes);
BENCHMARK(BM_BloodPressureWholeDayBox)->Apply(Sizes);
BENCHMARK(BM_BloodPressureBoxPerResult)->Apply(Sizes);
BENCHMARK(BM_BloodPressureLines)->Apply(Sizes);
BENCHMARK(BM_BaselinePedometerChart)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
