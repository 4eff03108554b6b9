#include "SQLThread.h"

#include <gtest/gtest.h>

#include <random>

#include "Config.h"
#include "DefaultDatabase.h"
#include "LogReader.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

class SQLThreadTest : public ::testing::Test {
protected:
    SQLThreadTest() : file_(text::FromUtf8((dir_ / "user.db").string())) {
        MakeDefaultDatabase(dir_ / "user.db");
        // The owner's worker gets its path here and never reads the setting again, so a
        // test may change the setting while that worker runs.
        g_Config.m_config.userDBName = file_;
        owner_.SetLockTiming(2000, 1);
        owner_.Init();  // only to make the lock usable; the tests drive their own worker
        Exec(L"create table tQueue (n integer)");
    }
    ~SQLThreadTest() override { g_Config.m_config.userDBName.clear(); }

    int Exec(const std::wstring& sql) {
        CSqliteDB db;
        db.open(file_);
        return db.execDML(sql);
    }
    std::vector<std::wstring> Queued() {
        SqlRows rows;
        CSqliteDB db;
        db.open(file_);
        std::vector<std::wstring> values;
        for (CSqliteQuery q = db.execQuery(L"select n from tQueue order by rowid"); !q.eof(); q.nextRow()) {
            values.push_back(q.getStringField(0));
        }
        return values;
    }

    TempDir dir_;
    std::wstring file_;
    CMyDatabase owner_;
};

TEST_F(SQLThreadTest, QueuedStatementsRunInOrder) {
    CSQLThread worker(owner_);
    ASSERT_EQ(worker.Start(file_), 0);
    std::vector<std::wstring> expected;
    // Each statement is a transaction of its own, synced to disk: enough to show the order
    // while staying quick on a loaded machine.
    constexpr int kStatements = 200;
    for (int i = 0; i < kStatements; ++i) {
        worker.PostSQL(L"insert into tQueue values (" + std::to_wstring(i) + L")");
        expected.push_back(std::to_wstring(i));
    }
    EXPECT_TRUE(WaitFor([&] { return Queued().size() == kStatements; }, std::chrono::seconds(30)));
    EXPECT_EQ(Queued(), expected);
    EXPECT_EQ(worker.Start(L"/elsewhere.db"), 0);  // already running: the path stays
    worker.PostSQL(L"insert into tQueue values (" + std::to_wstring(kStatements) + L")");
    EXPECT_TRUE(WaitFor([&] { return Queued().size() == kStatements + 1; }));
}

TEST_F(SQLThreadTest, WorkerEndsWhenTheRunStateTurnsToFour) {
    const std::wstring marker = L"insert into tQueue values (" + std::to_wstring(std::random_device{}() % 100000) + L")";
    const std::wstring exit = L"CSQLThread::Run exit...";
    const int exits = CountLogLines(exit);
    auto worker = std::make_unique<CSQLThread>(owner_);
    worker->Start(file_);
    g_nRunState = 4;
    // Ended by the run state alone: nothing else tells it to stop until it is gone.
    EXPECT_TRUE(WaitFor([&] { return CountLogLines(exit) > exits; }, std::chrono::seconds(30)));
    worker->PostSQL(marker);
    worker.reset();
    g_nRunState = 1;
    EXPECT_EQ(CountLogLines(L"SQL not run at exit:[" + marker + L"]"), 1);
    EXPECT_TRUE(Queued().empty());
}

TEST_F(SQLThreadTest, StatementQueuedUnderTheLockRunsAfterRelease) {
    CSQLThread worker(owner_);
    ASSERT_EQ(owner_.LockSqliteTable(L"page", -1), 0);
    worker.Start(file_);
    worker.PostSQL(L"insert into tQueue values (1)");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(Queued().empty());
    owner_.UnLockSqliteTable(L"page");
    EXPECT_TRUE(WaitFor([&] { return Queued().size() == 1; }));
}

TEST_F(SQLThreadTest, DirectStatementsReportTheirOutcome) {
    CSQLThread worker(owner_);
    worker.SetDBPath(file_);
    EXPECT_EQ(worker.ExecSQL(L"insert into tQueue values (1), (2)"), 2);
    EXPECT_EQ(worker.InsertTableWithReturnRowID(L"insert into tQueue values (3)"), 3);
    EXPECT_EQ(worker.InsertTableWithReturnRowID(L"insert into nowhere values (3)"), 0);
    EXPECT_EQ(worker.ExecSQL(L"insert into nowhere values (3)"), -1);
    EXPECT_FALSE(owner_.IsWriteLocked());
}

TEST_F(SQLThreadTest, EmptyPathFailsWithDatabaseNotOpen) {
    g_Config.m_config.userDBName.clear();
    CSQLThread worker(owner_);
    const std::wstring marker = L"insert into tQueue values (" + std::to_wstring(std::random_device{}() % 100000) + L")";
    EXPECT_EQ(worker.ExecSQL(marker), -1);
    EXPECT_EQ(CountLogLines(L"CSqliteException[" + marker + L"]:[1000][CSQLITE_ERROR[1000]: Database not open]"), 1);
}

TEST_F(SQLThreadTest, StatementsLeftAtTheEndAreLogged) {
    const std::wstring marker = L"insert into tQueue values (" + std::to_wstring(std::random_device{}() % 100000) + L")";
    {
        CSQLThread worker(owner_);  // never started: nothing runs the queue
        worker.PostSQL(marker);
    }
    EXPECT_EQ(CountLogLines(L"SQL not run at exit:[" + marker + L"]"), 1);
    EXPECT_TRUE(Queued().empty());
}

}  // namespace
