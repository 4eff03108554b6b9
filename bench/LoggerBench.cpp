// The logger on every path of the program: a call must cost a queue append, never a disk write.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "CxLog.h"

namespace {

std::unique_ptr<CxLog> g_log;

void Setup(const benchmark::State&) {
    const auto folder = std::filesystem::temp_directory_path() / "quorv-logger-bench";
    std::filesystem::remove_all(folder);
    g_log = std::make_unique<CxLog>(folder);
}

void Teardown(const benchmark::State&) {
    g_log->Flush(std::chrono::seconds(60));
    const auto folder = g_log->FileName().parent_path();
    g_log.reset();
    std::filesystem::remove_all(folder);
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
BENCHMARK(BM_WriteFormatQueued)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime();

// Lines per second through to the file: each batch of 1000 is queued, then waited for.
void BM_WriteFormatWritten(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            g_log->WriteFormat(L"LoggerBench.cpp", L"Bench::Written", __LINE__, LOG_MESSAGE,
                               L"request [%s] seq %d sent to %s:%d", L"UserLogin", i, L"127.0.0.1", 9000);
        }
        if (state.thread_index() == 0) g_log->Flush(std::chrono::seconds(60));
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_WriteFormatWritten)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
