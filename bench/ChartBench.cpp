// Chart documents of 10,000 records, the largest the pages ask for: the pedometer chart
// with all four series and the target line, and the health-element chart. Each writer
// takes turns with its floor, the XML library's printer alone printing the same document
// (ChartBenchSupport.h), and reports their `ratio`.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchSupport.h"
#include "ChartBenchSupport.h"
#include "HealthElementDataGraph.h"
#include "PedometerDataGraph.h"

namespace {

using bench::Object;

constexpr int kRecords = 10000;

uie::value PedometerOptions() {
    return uie::value::make_array(
        {Object({{L"seriesList", L"step,distance,energy,duration"}, {L"graphType", L"1"}, {L"caption", L"运动统计"}})});
}

uie::value PedometerRecords() {
    uie::value records = uie::value::make_array();
    for (int i = 0; i < kRecords; ++i) {
        records.append(Object({{L"recName", L"2024-05-" + std::to_wstring(i % 28 + 1)},
                               {L"step", 6000 + i % 5000},
                               {L"distance", 4000 + i % 3000},
                               {L"energy", 150000 + i * 7 % 100000},
                               {L"duration", 1800 + i % 3600},
                               {L"avgTarget", 10000}}));
    }
    return records;
}

constexpr struPedometerTargets kTargets = {.step = 10000, .distance = 8000, .energy = 300000, .duration = 3600};

uie::value HealthRecords() {
    uie::value records = uie::value::make_array();
    for (int i = 0; i < kRecords; ++i) {
        records.append(Object({{L"recDate", L"2024-05-01"},
                               {L"valueGeneratedTime", L"2024-05-01 10:20:05.678"},
                               {L"valueNo", 600 + i % 200},
                               {L"decLen", 1},
                               {L"value", L"65.3"},
                               {L"unitName", L"kg"}}));
    }
    return records;
}

void PedometerChart(benchmark::State& state) {
    const uie::value options = PedometerOptions();
    const uie::value records = PedometerRecords();
    CPedometerDataGraph chart("../graph/pedometerData/pedometerData.swf", "../graph/pedometerData/data.xml");
    bench::TimeChart(state, [&](std::string& xml) { chart.GenGraphXml(options, records, kTargets, xml); });
}

void HealthElementChart(benchmark::State& state) {
    const uie::value options = uie::value::make_array({Object({{L"caption", L"体重"}})});
    const uie::value records = HealthRecords();
    CHealthElementDataGraph chart("../graph/healthElementData/healthElementData.swf",
                                  "../graph/healthElementData/healthElementData.xml");
    bench::TimeChart(state, [&](std::string& xml) { chart.GenGraphXml(options, records, xml); });
}

}  // namespace

BENCHMARK(PedometerChart)->UseManualTime()->Unit(benchmark::kMillisecond)->Apply(bench::Steady);
BENCHMARK(HealthElementChart)->UseManualTime()->Unit(benchmark::kMillisecond)->Apply(bench::Steady);
