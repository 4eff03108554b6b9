// Database throughput the data classes rely on: a batch of inserts in one transaction,
// and single-row reads by key, each on its own compiled statement as the program runs them.
// The baselines run the same statements, in the same transactions, through SQLite's own
// calls (RawSqlite.h).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CSqliteDB.h"
#include "RawSqlite.h"
#include "Text.h"

namespace {

constexpr int kRows = 10000;

// A database file of its own, made afresh with the table and no rows.
bench::FreshDatabase BenchFile() {
    return {"sqlite-bench.db",
            "create table tHealthElementValue (valueNo integer primary key, healthElementID text, value text)"};
}

std::vector<std::string> Inserts() {
    std::vector<std::string> statements;
    for (int i = 0; i < kRows; ++i) {
        statements.push_back("insert into tHealthElementValue values (" + std::to_string(i) + ", 'E" +
                             std::to_string(i % 50) + "', '" + std::to_string(i * 7) + "')");
    }
    return statements;
}

std::vector<std::string> SelectsByKey() {
    std::vector<std::string> statements;
    for (int i = 0; i < kRows; ++i)
        statements.push_back("select value from tHealthElementValue where valueNo = " + std::to_string(i));
    return statements;
}

std::vector<std::wstring> Wide(const std::vector<std::string>& statements) {
    std::vector<std::wstring> wide;
    for (const std::string& s : statements) wide.push_back(text::FromUtf8(s));
    return wide;
}

// The last batch left every row in place: counted through SQLite's own calls.
void CheckAllRowsIn(benchmark::State& state, const std::filesystem::path& file) {
    std::string count;
    if (!bench::RawSqlite(file).ReadFirst("select count(*) from tHealthElementValue", count) ||
        count != std::to_string(kRows))
        state.SkipWithError("not every row stored");
}

void BM_ExecDMLSetInserts(benchmark::State& state) {
    bench::FreshDatabase file = BenchFile();
    const auto statements = Wide(Inserts());
    for (auto _ : state) {
        state.PauseTiming();
        CSqliteDB db;
        db.open(text::FromUtf8(file.Fresh().string()), true);
        state.ResumeTiming();
        if (db.execDMLSet(statements, true) != 0) {
            state.SkipWithError("execDMLSet failed");
            break;
        }
    }
    CheckAllRowsIn(state, file.Path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ExecDMLSetInserts)->Unit(benchmark::kMillisecond);

void BM_RawInsertsInOneTransaction(benchmark::State& state) {
    bench::FreshDatabase file = BenchFile();
    const auto statements = Inserts();
    for (auto _ : state) {
        state.PauseTiming();
        bench::RawSqlite db(file.Fresh());
        state.ResumeTiming();
        if (!db.RunInTransaction(statements)) {
            state.SkipWithError("the raw inserts failed");
            break;
        }
    }
    CheckAllRowsIn(state, file.Path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawInsertsInOneTransaction)->Unit(benchmark::kMillisecond);

void BM_SelectByKey(benchmark::State& state) {
    bench::FreshDatabase file = BenchFile();
    CSqliteDB db;
    db.open(text::FromUtf8(file.Fresh().string()), true);
    db.execDMLSet(Wide(Inserts()), true);
    const auto selects = Wide(SelectsByKey());
    for (auto _ : state) {
        for (const std::wstring& select : selects) {
            CSqliteQuery q = db.execQuery(select);
            benchmark::DoNotOptimize(q.getStringField(0));
        }
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SelectByKey)->Unit(benchmark::kMillisecond);

void BM_RawSelectByKey(benchmark::State& state) {
    bench::FreshDatabase file = BenchFile();
    bench::RawSqlite db(file.Fresh());
    db.RunInTransaction(Inserts());
    const auto selects = SelectsByKey();
    std::string value;
    for (auto _ : state) {
        for (const std::string& select : selects) {
            value.clear();
            if (!db.ReadFirst(select, value)) {
                state.SkipWithError("the raw select failed");
                break;
            }
            benchmark::DoNotOptimize(value.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawSelectByKey)->Unit(benchmark::kMillisecond);

}  // namespace
