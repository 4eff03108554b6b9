// Writes through the program-wide table lock: direct statements from several threads,
// and statements queued on the SQL worker.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "CSqliteDB.h"
#include "Config.h"
#include "MyDatabase.h"
#include "SQLThread.h"
#include "Text.h"
#include "WinTypes.h"

namespace {

std::unique_ptr<CMyDatabase> g_db;

std::wstring FreshDatabase() {
    const auto file = std::filesystem::temp_directory_path() / "quorv-mydatabase-bench.db";
    std::filesystem::remove(file);
    CSqliteDB db;
    db.open(text::FromUtf8(file.string()), true);
    db.execDML(L"create table tUserAction (n integer, note text)");
    return text::FromUtf8(file.string());
}

void Setup(const benchmark::State&) {
    g_Config.m_config.userDBName = FreshDatabase();
    g_db = std::make_unique<CMyDatabase>();
    g_db->Init();
}

void Teardown(const benchmark::State&) { g_db.reset(); }

void BM_ExecSQLThroughTheLock(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        if (g_db->ExecSQL(L"insert into tUserAction values (" + std::to_wstring(++i) + L", 'x')") != 1) {
            state.SkipWithError("ExecSQL failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecSQLThroughTheLock)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime();

// Statements per second from queuing 1000 until the last one is in the table.
void BM_QueuedInserts(benchmark::State& state) {
    CMyDatabase owner;
    for (auto _ : state) {
        state.PauseTiming();
        const std::wstring file = FreshDatabase();
        g_Config.m_config.userDBName = file;
        state.ResumeTiming();
        {
            CSQLThread worker(owner);
            worker.Start(file);
            for (int i = 0; i < 1000; ++i) worker.PostSQL(L"insert into tUserAction values (" + std::to_wstring(i) + L", 'q')");
            worker.PostSQL(L"insert into tUserAction values (-1, 'last')");
            while (owner.ReadFieldValueField(L"tUserAction", L"count(*)", L"where n=-1", 0) == 0) {
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * 1001);
}
BENCHMARK(BM_QueuedInserts)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
