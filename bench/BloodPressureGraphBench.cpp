// Blood-pressure chart documents for the largest record lists the page hands over: 700
// results (one full download of the monitor) and a year of days with all three periods
// (1,095), in every form the page draws: daily boxes per period, the whole-day box, a box
// per result and the three lines. Each form takes turns with its floor, the XML library's
// printer alone printing the same document (ChartBenchSupport.h), and reports their `ratio`.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchSupport.h"
#include "BloodPressureGraph.h"
#include "ChartBenchSupport.h"

namespace {

using bench::Object;

constexpr int kDownload = 700;
constexpr int kYearOfPeriods = 365 * 3;

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

uie::value DailyBoxes() {
    return Options({{L"graphType", L"1"}, {L"afterWakeUp", 1}, {L"normal", 1}, {L"beforeAsleep", 1}});
}
uie::value WholeDayBox() { return Options({{L"graphType", L"1"}, {L"all", 1}}); }
uie::value BoxPerResult() { return Options({{L"graphType", L"1"}, {L"sumMode", L"all"}}); }
uie::value Lines() { return Options({{L"graphType", L"2"}}); }

void BloodPressureChart(benchmark::State& state, uie::value (*form)()) {
    const uie::value options = form();
    const uie::value records = BloodPressureRecords(static_cast<int>(state.range(0)));
    CBloodPressureGraph chart("../graph/BloodPressure/bloodPressureData_Box.swf", "../graph/BloodPressure/data.xml");
    bench::TimeChart(state, [&](std::string& xml) { chart.GenGraphData(options, records, xml); });
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(kDownload)->Arg(kYearOfPeriods)->UseManualTime()->Unit(benchmark::kMillisecond)->Apply(bench::Steady);
}

}  // namespace

BENCHMARK_CAPTURE(BloodPressureChart, daily_boxes, DailyBoxes)->Apply(Sizes);
BENCHMARK_CAPTURE(BloodPressureChart, whole_day_box, WholeDayBox)->Apply(Sizes);
BENCHMARK_CAPTURE(BloodPressureChart, box_per_result, BoxPerResult)->Apply(Sizes);
BENCHMARK_CAPTURE(BloodPressureChart, lines, Lines)->Apply(Sizes);
