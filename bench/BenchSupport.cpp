#include "BenchSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <thread>

namespace bench {

bool WaitFor(benchmark::State& state, const char* what, std::chrono::milliseconds limit,
             std::chrono::microseconds poll, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            const std::string line = std::string(what) + " did not happen within " + std::to_string(limit.count()) + " ms";
            state.SkipWithError(line.c_str());
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

bool Brief() {
    static const bool brief = std::getenv("QUORV_BENCH_BRIEF") != nullptr;
    return brief;
}

double Median(std::vector<double>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

namespace {

// Seconds of warm-up and of measuring (manual time where the benchmark times itself).
constexpr double kWarmUpSeconds = 0.5;
constexpr double kMeasureSeconds = 2;
constexpr double kLongMeasureSeconds = 5;

void SteadyFor(benchmark::internal::Benchmark* b, double seconds) {
    // A time set here would override the brief run's command line.
    if (Brief()) return;
    b->MinWarmUpTime(kWarmUpSeconds)->MinTime(seconds);
}

}  // namespace

void Steady(benchmark::internal::Benchmark* b) { SteadyFor(b, kMeasureSeconds); }

void SteadyLong(benchmark::internal::Benchmark* b) { SteadyFor(b, kLongMeasureSeconds); }

}  // namespace bench
