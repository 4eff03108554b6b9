// Database throughput the data classes rely on: a batch of inserts in one transaction,
// and single-row reads by key, each on its own compiled statement as the program runs them.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CSqliteDB.h"
#include "Text.h"

namespace {

std::filesystem::path BenchFile() { return std::filesystem::temp_directory_path() / "quorv-sqlite-bench.db"; }

void OpenFresh(CSqliteDB& db) {
    std::filesystem::remove(BenchFile());
    db.open(text::FromUtf8(BenchFile().string()), true);
    db.execDML(L"create table tHealthElementValue (valueNo integer primary key, healthElementID text, value text)");
}

std::vector<std::wstring> Inserts(int count) {
    std::vector<std::wstring> statements;
    for (int i = 0; i < count; ++i) {
        statements.push_back(L"insert into tHealthElementValue values (" + std::to_wstring(i) + L", 'E" +
                             std::to_wstring(i % 50) + L"', '" + std::to_wstring(i * 7) + L"')");
    }
    return statements;
}

void BM_ExecDMLSetInserts(benchmark::State& state) {
    const auto statements = Inserts(10000);
    for (auto _ : state) {
        state.PauseTiming();
        CSqliteDB db;
        OpenFresh(db);
        state.ResumeTiming();
        if (db.execDMLSet(statements, true) != 0) state.SkipWithError("execDMLSet failed");
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ExecDMLSetInserts)->Unit(benchmark::kMillisecond);

void BM_SelectByKey(benchmark::State& state) {
    CSqliteDB db;
    OpenFresh(db);
    db.execDMLSet(Inserts(10000), true);
    for (auto _ : state) {
        for (int i = 0; i < 10000; ++i) {
            CSqliteQuery q = db.execQuery(L"select value from tHealthElementValue where valueNo = " + std::to_wstring(i));
            benchmark::DoNotOptimize(q.getStringField(0));
        }
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_SelectByKey)->Unit(benchmark::kMillisecond);

}  // namespace
