// What the benchmark programs share besides their main: bounded waits, and the brief run
// that CI makes of every program.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace bench {

// True once done() holds, checked every `poll`; false after `limit`, with the benchmark
// failed: "<what> did not happen within <limit> ms". The wait sleeps between its checks,
// leaving the processor to what it times, and never waits on: every benchmark ends.
bool WaitFor(benchmark::State& state, const char* what, std::chrono::milliseconds limit,
             std::chrono::microseconds poll, const std::function<bool()>& done);

// CI runs each program once, briefly (QUORV_BENCH_BRIEF set), to see that every benchmark
// ends and passes its own checks; a benchmark whose one iteration takes long makes it
// smaller then, and says so in its comment.
bool Brief();

// Applied to every benchmark (`->Apply(bench::Steady)`): a warm-up before it measures (the
// first runs carry first uses: a library's set-up, a page met for the first time, a new
// thread's arena) and a measuring time long enough for a steady figure at the default
// settings. The brief run keeps the shortest time it asks for.
void Steady(benchmark::internal::Benchmark* b);
// The same for a benchmark whose iteration takes long, so that it still runs enough of them.
void SteadyLong(benchmark::internal::Benchmark* b);

// The measured work and its baseline, one after the other in each iteration, taking turns
// at going first, so that both meet the same load of this shared machine: the iteration's
// time is the measured work's (the benchmark uses manual time), and `ratio` the one total
// over the other, which holds where the times do not. Each callable gives its seconds, or a
// negative number when it failed. One turn of each, untimed, comes first (except in the brief
// run): what a benchmark sets up before its loop (a thread, a window, a server) is met for
// the first time there, not in a timed turn.
struct Turns {
    double measured = 0;  // seconds in all
    double baseline = 0;
};
// Each turn's ratio is kept as well, for the first this many turns: their median is the
// `median_ratio`, which a turn that the machine's other work cut into does not move.
constexpr std::size_t kKeptTurns = std::size_t{1} << 20;
double Median(std::vector<double>& values);
template <typename Measured, typename Baseline>
Turns InTurns(benchmark::State& state, Measured measured, Baseline baseline, const char* failure) {
    Turns turns;
    if (!Brief() && (measured() < 0 || baseline() < 0)) {
        state.SkipWithError(failure);
        return turns;
    }
    std::vector<double> ratios;
    ratios.reserve(static_cast<std::size_t>(std::min<benchmark::IterationCount>(state.max_iterations, kKeptTurns)));
    bool measuredFirst = true;
    for (auto _ : state) {
        double m = 0;
        double b = 0;
        if (measuredFirst) {
            m = measured();
            b = baseline();
        } else {
            b = baseline();
            m = measured();
        }
        measuredFirst = !measuredFirst;
        if (m < 0 || b < 0) {
            state.SkipWithError(failure);
            break;
        }
        state.SetIterationTime(m);
        turns.measured += m;
        turns.baseline += b;
        if (b > 0 && ratios.size() < kKeptTurns) ratios.push_back(m / b);
    }
    state.counters["ratio"] = turns.baseline > 0 ? turns.measured / turns.baseline : 0;
    state.counters["median_ratio"] = Median(ratios);
    return turns;
}

// The seconds `work` takes; a negative number when it returns false.
template <typename Work>
double Seconds(Work work) {
    const auto from = std::chrono::steady_clock::now();
    if (!work()) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace bench
