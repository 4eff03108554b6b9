// Chart documents of 10,000 records, the largest the pages ask for: the pedometer chart
// with all four series and the target line, and the health-element chart. The baseline
// prints the same pedometer document with the XML library alone, the floor under any
// writer that uses its printer.
#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <string>

#include "HealthElementDataGraph.h"
#include "PedometerDataGraph.h"

namespace {

constexpr int kRecords = 10000;

uie::value Object(std::initializer_list<std::pair<const wchar_t*, uie::value>> members) {
    uie::value map = uie::value::make_map();
    for (const auto& [key, v] : members) map.set_item(uie::value(key), v);
    return map;
}

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

void Report(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(state.iterations());  // documents
    state.counters["bytes_per_doc"] = static_cast<double>(bytes);
}

void BM_PedometerChart(benchmark::State& state) {
    const uie::value options = PedometerOptions();
    const uie::value records = PedometerRecords();
    CPedometerDataGraph chart("../graph/pedometerData/pedometerData.swf", "../graph/pedometerData/data.xml");
    std::string xml;
    for (auto _ : state) {
        chart.GenGraphXml(options, records, kTargets, xml);
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, xml.size());
}
BENCHMARK(BM_PedometerChart)->Unit(benchmark::kMillisecond);

void BM_HealthElementChart(benchmark::State& state) {
    const uie::value options = uie::value::make_array({Object({{L"caption", L"体重"}})});
    const uie::value records = HealthRecords();
    CHealthElementDataGraph chart("../graph/healthElementData/healthElementData.swf",
                                  "../graph/healthElementData/healthElementData.xml");
    std::string xml;
    for (auto _ : state) {
        chart.GenGraphXml(options, records, xml);
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, xml.size());
}
BENCHMARK(BM_HealthElementChart)->Unit(benchmark::kMillisecond);

void BM_BaselinePrintOnly(benchmark::State& state) {
    CPedometerDataGraph chart("../graph/pedometerData/pedometerData.swf", "../graph/pedometerData/data.xml");
    std::string written;
    chart.GenGraphXml(PedometerOptions(), PedometerRecords(), kTargets, written);
    TiXmlDocument document;
    document.Parse(written.c_str());
    std::string xml;
    for (auto _ : state) {
        TiXmlPrinter printer;
        printer.SetIndent("    ");
        printer.SetLineBreak("\n");
        document.Accept(&printer);
        xml = printer.CStr();
        benchmark::DoNotOptimize(xml.data());
    }
    Report(state, xml.size());
}
BENCHMARK(BM_BaselinePrintOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
