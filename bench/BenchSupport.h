// What the benchmark programs share besides their main: bounded waits, and the brief run
// that CI makes of every program.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>

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

}  // namespace bench
