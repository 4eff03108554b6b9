// Writes through the program-wide table lock: direct statements from several threads,
// and statements queued on the SQL worker until the last one is in the table. Each
// statement is its own transaction there, on a connection opened for it; the baseline
// runs the same statements, each its own transaction too, through SQLite's own calls on
// one open connection.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Config.h"
#include "MyDatabase.h"
#include "RawSqlite.h"
#include "Text.h"

namespace {

// 1,000 and the last one; a brief run queues a fifth as many, each statement opening its
// own connection to the file.
int Queued() { return bench::Brief() ? 201 : 1001; }

// The user database: a file of its own, made afresh with the table and no rows, that
// the database object opens.
class UserDatabase {
public:
    UserDatabase() { g_Config.m_config.userDBName = text::FromUtf8(file_.Path().string()); }
    const std::filesystem::path& Fresh() { return file_.Fresh(); }
    const std::filesystem::path& Path() const { return file_.Path(); }

private:
    bench::FreshDatabase file_{"user.db", "create table tUserAction (n integer, note text)"};
};

std::string Insert(int n, const char* note) {
    return "insert into tUserAction values (" + std::to_string(n) + ", '" + note + "')";
}

std::vector<std::string> QueuedInserts() {
    std::vector<std::string> statements;
    for (int i = 0; i + 1 < Queued(); ++i) statements.push_back(Insert(i, "q"));
    statements.push_back(Insert(-1, "last"));
    return statements;
}

// The rows in the table. In WAL mode a reader never holds up the writer it waits for.
int Rows(const std::filesystem::path& file) {
    std::string count;
    return bench::RawSqlite(file).ReadFirst("select count(*) from tUserAction", count) ? std::stoi(count) : -1;
}

// False, with the benchmark failed, unless the table holds that many rows.
bool CheckRows(benchmark::State& state, const std::filesystem::path& file, int rows) {
    std::string count;
    if (bench::RawSqlite(file).ReadFirst("select count(*) from tUserAction", count) && count == std::to_string(rows))
        return true;
    state.SkipWithError(("expected " + std::to_string(rows) + " rows, found " + count).c_str());
    return false;
}

std::unique_ptr<UserDatabase> g_file;
std::unique_ptr<CMyDatabase> g_db;

void Setup(const benchmark::State&) {
    g_file = std::make_unique<UserDatabase>();
    g_file->Fresh();
    g_db = std::make_unique<CMyDatabase>();
    g_db->Init();
}

void Teardown(const benchmark::State&) {
    g_db.reset();
    g_file.reset();
}

void BM_ExecSQLThroughTheLock(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        if (g_db->ExecSQL(text::FromUtf8(Insert(++i, "x"))) != 1) {
            state.SkipWithError("ExecSQL failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExecSQLThroughTheLock)->Setup(Setup)->Teardown(Teardown)->Threads(1)->Threads(8)->UseRealTime()
    ->Apply(bench::Steady);

// Statements per second from queuing them until the last one is in the table.
void BM_QueuedInserts(benchmark::State& state) {
    UserDatabase file;
    std::vector<std::wstring> statements;
    for (const std::string& s : QueuedInserts()) statements.push_back(text::FromUtf8(s));
    for (auto _ : state) {
        state.PauseTiming();
        const std::filesystem::path& path = file.Fresh();
        auto db = std::make_unique<CMyDatabase>();
        db->Init();
        state.ResumeTiming();
        for (const std::wstring& sql : statements) db->ExecSQL_asyn(sql);
        if (!bench::WaitFor(state, "the last queued insert", std::chrono::seconds(30), std::chrono::milliseconds(2),
                            [&] { return Rows(path) >= Queued(); }))
            break;
        state.PauseTiming();
        db.reset();
        if (!CheckRows(state, path, Queued())) break;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * Queued());
}
BENCHMARK(BM_QueuedInserts)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

// The same statements, each its own transaction, through SQLite's own calls.
void BM_RawInsertsEachItsOwnTransaction(benchmark::State& state) {
    UserDatabase file;
    const std::vector<std::string> statements = QueuedInserts();
    for (auto _ : state) {
        state.PauseTiming();
        bench::RawSqlite db(file.Fresh());
        state.ResumeTiming();
        if (!db.Run(statements)) {
            state.SkipWithError("the raw inserts failed");
            break;
        }
    }
    CheckRows(state, file.Path(), Queued());
    state.SetItemsProcessed(state.iterations() * Queued());
}
BENCHMARK(BM_RawInsertsEachItsOwnTransaction)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

}  // namespace
