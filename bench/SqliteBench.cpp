// Database throughput the data classes rely on: a batch of inserts in one transaction,
// and single-row reads by key, each on its own compiled statement as the program runs them.
// Each is timed in turns with its baseline, the same statements in the same transactions
// through SQLite's own UTF-16 calls (RawSqlite.h), as the wrapper makes them, and reports
// their `ratio`.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CSqliteDB.h"
#include "RawSqlite.h"
#include "Text.h"

namespace {

constexpr int kRows = 10000;

// A database file of its own, made afresh with the table and no rows.
bench::FreshDatabase BenchFile(const std::string& name) {
    return {name, "create table tHealthElementValue (valueNo integer primary key, healthElementID text, value text)"};
}

std::vector<std::wstring> Inserts() {
    std::vector<std::wstring> statements;
    for (int i = 0; i < kRows; ++i) {
        statements.push_back(L"insert into tHealthElementValue values (" + std::to_wstring(i) + L", 'E" +
                             std::to_wstring(i % 50) + L"', '" + std::to_wstring(i * 7) + L"')");
    }
    return statements;
}

std::vector<std::wstring> SelectsByKey() {
    std::vector<std::wstring> statements;
    for (int i = 0; i < kRows; ++i)
        statements.push_back(L"select value from tHealthElementValue where valueNo = " + std::to_wstring(i));
    return statements;
}

std::vector<std::u16string> Utf16(const std::vector<std::wstring>& statements) {
    std::vector<std::u16string> units;
    for (const std::wstring& s : statements) units.push_back(text::ToUtf16(s));
    return units;
}

// The last batch left every row in place: counted through SQLite's own calls.
void CheckAllRowsIn(benchmark::State& state, const std::filesystem::path& file) {
    std::string count;
    if (!bench::RawSqlite(file).ReadFirst("select count(*) from tHealthElementValue", count) ||
        count != std::to_string(kRows))
        state.SkipWithError("not every row stored");
}

// Each side on a fresh file of its own; opening it is not timed.
void BM_ExecDMLSetInserts(benchmark::State& state) {
    bench::FreshDatabase wrapped = BenchFile("wrapper.db");
    bench::FreshDatabase raw = BenchFile("raw.db");
    const std::vector<std::wstring> statements = Inserts();
    const std::vector<std::u16string> units = Utf16(statements);
    bench::InTurns(
        state,
        [&] {
            CSqliteDB db;
            db.open(text::FromUtf8(wrapped.Fresh().string()));
            return bench::Seconds([&] { return db.execDMLSet(statements, true) == 0; });
        },
        [&] {
            bench::RawSqlite db(raw.Fresh());
            return bench::Seconds([&] { return db.RunInTransaction(units); });
        },
        "the inserts failed");
    CheckAllRowsIn(state, wrapped.Path());
    CheckAllRowsIn(state, raw.Path());
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ExecDMLSetInserts)->UseManualTime()->Unit(benchmark::kMillisecond)->Apply(bench::Steady);

void BM_SelectByKey(benchmark::State& state) {
    bench::FreshDatabase file = BenchFile("select.db");
    bench::RawSqlite raw(file.Fresh());
    raw.RunInTransaction(Utf16(Inserts()));
    CSqliteDB db;
    db.open(text::FromUtf8(file.Path().string()));
    const std::vector<std::wstring> selects = SelectsByKey();
    const std::vector<std::u16string> units = Utf16(selects);
    bench::InTurns(
        state,
        [&] {
            return bench::Seconds([&] {
                for (const std::wstring& select : selects) {
                    CSqliteQuery q = db.execQuery(select);
                    benchmark::DoNotOptimize(q.getStringField(0));
                }
                return true;
            });
        },
        [&] {
            std::u16string value;
            return bench::Seconds([&] {
                for (const std::u16string& select : units) {
                    value.clear();
                    if (!raw.ReadFirst(select, value)) return false;
                    benchmark::DoNotOptimize(value.data());
                }
                return true;
            });
        },
        "a select failed");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SelectByKey)->UseManualTime()->Unit(benchmark::kMillisecond)->Apply(bench::Steady);

}  // namespace
