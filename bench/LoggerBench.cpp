// The logger on every path of the program: a call must cost a queue append, never a disk write.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "CxLog.h"
#include "TempDir.h"

namespace {

// A flush that takes longer fails the benchmark.
constexpr std::chrono::seconds kFlushLimit{20};

std::unique_ptr<TempDir> g_folder;
std::unique_ptr<CxLog> g_log;

void Setup(const benchmark::State&) {
    g_folder = std::make_unique<TempDir>();
    g_log = std::make_unique<CxLog>(g_folder->Path());
}

void Teardown(const benchmark::State&) {
    g_log->Flush(kFlushLimit);
    g_log.reset();
    g_folder.reset();
}

// Lines queued per second by the callers.
void BM_WriteFormatQueued(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        g_log->WriteFormat(L"LoggerBench.cpp", L"Bench::Queued", __LINE__, LOG_MESSAGE,
                           L"request [%s] seq %d sent to %s:%d", L"UserLogin", ++i, L"127.0.0.1", 9000);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteFormatQueued)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime()
    ->Apply(bench::Steady);

// Lines per second through to the file: each thread queues a batch of 1000, then waits
// until its batch is written, so that no thread's time stops before its lines are on disk.
void BM_WriteFormatWritten(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            g_log->WriteFormat(L"LoggerBench.cpp", L"Bench::Written", __LINE__, LOG_MESSAGE,
                               L"request [%s] seq %d sent to %s:%d", L"UserLogin", i, L"127.0.0.1", 9000);
        }
        if (!g_log->Flush(kFlushLimit)) {
            const std::string line = "a batch was not written within " + std::to_string(kFlushLimit.count()) + " s";
            state.SkipWithError(line.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_WriteFormatWritten)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime()
    ->Apply(bench::Steady);

}  // namespace
