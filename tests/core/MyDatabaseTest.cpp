#include "MyDatabase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "BusyRetriesScope.h"
#include "CSqliteDB.h"
#include "CxLog.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "IntDate.h"
#include "LogReader.h"
#include "TempDir.h"
#include "Text.h"
#include "WaitFor.h"

namespace {

// A user database made from the default one, with the lock waits shortened.
class MyDatabaseTest : public ::testing::Test {
protected:
    MyDatabaseTest() {
        MakeDefaultDatabase(dir_ / "user.db");
        g_Config.m_config.userDBName = text::FromUtf8((dir_ / "user.db").string());
        db_ = std::make_unique<CMyDatabase>();
        db_->SetLockTiming(150, 1);
        db_->Init();
        g_pMyDatabase = db_.get();
    }
    ~MyDatabaseTest() override {
        g_pMyDatabase = nullptr;
        db_.reset();
        g_Config.m_config.userDBName.clear();
    }

    std::wstring Read(const std::wstring& sql) {
        SqlRows rows;
        EXPECT_EQ(db_->SelectTableWithReturn(sql, rows), 0);
        return rows.empty() ? L"<none>" : rows.front().front();
    }

    TempDir dir_;
    std::unique_ptr<CMyDatabase> db_;
};

TEST_F(MyDatabaseTest, TableLockMakesASecondHolderWaitUntilRelease) {
    ASSERT_EQ(db_->LockSqliteTable(L"tUser", -1), 0);
    EXPECT_EQ(db_->LockSqliteTable(L"free", 0), -1);  // a zero time-out never waits
    std::atomic<int> got{99};
    std::thread waiter([&] { got = db_->LockSqliteTable(L"tAlert", 2000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(got, 99);
    db_->UnLockSqliteTable(L"tUser");
    waiter.join();
    EXPECT_EQ(got, 0);
    EXPECT_EQ(db_->LockTableName(), L"tAlert");
    db_->UnLockSqliteTable(L"");
    EXPECT_EQ(db_->LockTableName(), L"tAlert");  // the name stays for pages to see
}

TEST_F(MyDatabaseTest, WritersGiveUpAfterTheTimeOutWhileAHolderNeverReleases) {
    ASSERT_EQ(db_->LockSqliteTable(L"", -1), 0);
    const std::wstring marker = L"marker" + std::to_wstring(std::random_device{}());
    const std::wstring sql = L"update tUser set note='" + marker + L"'";
    EXPECT_EQ(db_->ExecSQLSet({sql}, true), -1);
    EXPECT_EQ(CountLogLines(L"SQL:[" + sql + L"] LockSqliteTable fail!"), 1);
    EXPECT_EQ(db_->ExecSQL(sql), -1);
    EXPECT_EQ(db_->InsertTableWithReturnRowID(L"insert into tAreaNo values (990001, 'x')"), -1);
    db_->UnLockSqliteTable(L"");
    EXPECT_EQ(db_->ExecSQL(sql), 1);
}

TEST_F(MyDatabaseTest, StatementListChangesEverythingOrNothing) {
    EXPECT_EQ(db_->ExecSQLSet({L"update tUser set note='one'", L"update tUser set nonsense=1",
                               L"update tUser set note='three'"},
                              true),
              -1);
    EXPECT_NE(Read(L"select note from tUser"), L"one");
    EXPECT_NE(Read(L"select note from tUser"), L"three");
    EXPECT_EQ(db_->ExecSQLSet({L"update tUser set note='one'", L"update tUser set userRegName='R'"}, true), 0);
    EXPECT_EQ(Read(L"select note || userRegName from tUser"), L"oneR");
    EXPECT_FALSE(db_->IsWriteLocked());

    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "missing.db").string());
    EXPECT_EQ(db_->ExecSQLSet({L"update tUser set note='x'"}, true), -2);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.db"));
}

TEST_F(MyDatabaseTest, SerialNumbersAreReservedInBlocksAndWrap) {
    ASSERT_EQ(db_->ExecSQL(L"delete from tSerialNo where serialCode=5010"), 1);
    EXPECT_EQ(db_->MakeSerialNo(5010, 3), 1);
    EXPECT_EQ(Read(L"select serialNo || serialName from tSerialNo where serialCode=5010"), L"4ElementDataRecNo");
    EXPECT_EQ(db_->MakeSerialNo(5010, 3), 4);
    EXPECT_EQ(Read(L"select serialNo from tSerialNo where serialCode=5010"), L"7");
    EXPECT_EQ(db_->MakeSerialNo(5010, 0), 7);
    EXPECT_EQ(db_->MakeSerialNo(5010, 1001), -2);
    EXPECT_EQ(db_->MakeSerialNo(5010, -5), -2);
    EXPECT_EQ(Read(L"select serialNo from tSerialNo where serialCode=5010"), L"7");
    EXPECT_EQ(db_->MakeSerialNo(5010, 1000), 7);

    db_->ExecSQL(L"update tSerialNo set serialNo=99999999 where serialCode=5000");
    EXPECT_EQ(db_->MakeSerialNo(5000, 1), 1);
    EXPECT_EQ(Read(L"select serialNo from tSerialNo where serialCode=5000"), L"2");
    EXPECT_EQ(db_->MakeSerialNo(4242, 2), 1);
    EXPECT_EQ(Read(L"select serialName from tSerialNo where serialCode=4242"), L"");
}

TEST_F(MyDatabaseTest, SerialNumbersHaveNoGapsAcrossThreadsAndSurviveAReopen) {
    std::vector<int> a;
    std::vector<int> b;
    std::thread ta([&] { for (int i = 0; i < 60; ++i) a.push_back(db_->MakeSerialNo(5020, 2)); });
    std::thread tb([&] { for (int i = 0; i < 60; ++i) b.push_back(db_->MakeSerialNo(5020, 2)); });
    ta.join();
    tb.join();
    std::set<int> firsts(a.begin(), a.end());
    firsts.insert(b.begin(), b.end());
    ASSERT_EQ(firsts.size(), 120u);
    int expected = *firsts.begin();
    for (int first : firsts) {
        EXPECT_EQ(first, expected);
        expected += 2;
    }
    CMyDatabase reopened;
    reopened.Init();
    EXPECT_EQ(reopened.MakeSerialNo(5020, 1), expected);
}

TEST_F(MyDatabaseTest, FailedWriteNeverHandsOutANumber) {
    db_->ExecSQL(L"create trigger refuse before update on tSerialNo begin select raise(abort, 'no'); end");
    EXPECT_EQ(db_->MakeSerialNo(5010, 1), -1);
    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "missing.db").string());
    EXPECT_EQ(db_->MakeSerialNo(5010, 1), -997);
}

TEST_F(MyDatabaseTest, ReadersAndHighWaterMarks) {
    EXPECT_EQ(db_->ReadFieldValueField(L"", L"1+2", L"", -1), 3);
    EXPECT_EQ(db_->ReadFieldValueField(L"tUser", L"count(*)", L"where 1=1", -1), 1);
    EXPECT_EQ(db_->ReadFieldValueField(L"tUser", L"nonsense", L"", -7), -7);
    std::wstring value = L"kept";
    EXPECT_EQ(db_->ReadFieldValueField(L"tSerialNo", L"serialName", L"where serialCode=5000", value), 1);
    EXPECT_EQ(value, L"AlertNo");
    EXPECT_EQ(db_->ReadFieldValueField(L"tSerialNo", L"serialName", L"where serialCode=1", value), 0);
    EXPECT_EQ(db_->ReadFieldValueField(L"", L"1", L"", value), -1);  // the text form always writes "from"
    EXPECT_EQ(db_->ReadRecordCount(L"tSerialNo", L"where serialCode>=5000"), 3);
    EXPECT_EQ(db_->ReadRecordCount(L"nope", L""), -1);

    EXPECT_EQ(db_->SetMaxDeletedRecNo(L"articleDeletedRecNo", -1), -2);
    EXPECT_EQ(db_->SetMaxDeletedRecNo(L"articleDeletedRecNo=0, focusArticleDeletedRecNo", 5), -2);
    EXPECT_EQ(db_->SetMaxDeletedRecNo(L"articleDeletedRecNo", 42), 1);
    EXPECT_EQ(Read(L"select articleDeletedRecNo from tMaxDeletedRecNo"), L"42");
}

TEST_F(MyDatabaseTest, DictionaryLookups) {
    db_->ExecSQL(L"insert into tDictWeather (weatherNo, weatherName) values (990, '晴转多云')");
    db_->ExecSQL(L"insert into tDictIndexID (indexID, indexName) values ('it''s', '穿衣')");
    EXPECT_EQ(db_->GetDictWeatherName(990), L"晴转多云");
    EXPECT_EQ(db_->GetDictWeatherName(-12345), L"");
    EXPECT_EQ(db_->GetDictLiveIndexIDName(L"it's"), L"穿衣");
    EXPECT_EQ(db_->GetDictLiveIndexIDName(L"' or 1=1 --"), L"");
}

TEST_F(MyDatabaseTest, LocalDatePlusDays) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int today = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
    EXPECT_EQ(GetDateAddDays(0), today);
    EXPECT_EQ(DayDiffIntDate(GetDateAddDays(-7), today), 7);
    g_pMyDatabase = nullptr;
    EXPECT_EQ(GetDateAddDays(0), -1);
}

TEST_F(MyDatabaseTest, ScriptFacingReadsAndWrites) {
    const uie::value rows = db_->SelectSQL(L"select serialCode, serialName from tSerialNo where serialCode=5000");
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.length(), 1u);
    EXPECT_EQ(rows.nth(0).to_json(), L"{\"serialCode\":\"5000\",\"serialName\":\"AlertNo\"}");
    EXPECT_EQ(db_->SelectSQL(L"select nope from tSerialNo").get_int(), -1);

    EXPECT_EQ(db_->ExecSQLSetFromArray(uie::value::make_array()), 0);
    auto list = uie::value::from_json(
        L"[{\"sql\":\"update tUser set note='a'\"},{\"sql\":\"update tUser set nonsense=1\"}]");
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(db_->ExecSQLSetFromArray(*list), -1);
    EXPECT_NE(Read(L"select note from tUser"), L"a");
    list = uie::value::from_json(L"[{\"sql\":\"update tUser set note='b'\"},{\"other\":1}]");
    EXPECT_EQ(db_->ExecSQLSetFromArray(*list), 0);  // an element without "sql" runs an empty text
    EXPECT_EQ(Read(L"select note from tUser"), L"b");
}

// /dev/full opens as an empty database and refuses every page, as a full disk does.
TEST_F(MyDatabaseTest, AWriteTheFileSystemRefusesIsAnErrorOncePerCause) {
    std::filesystem::create_symlink("/dev/full", dir_ / "full.db");
    g_Config.m_config.userDBName = text::FromUtf8((dir_ / "full.db").string());
    CMyDatabase full;
    full.SetLockTiming(150, 1);
    full.Init();
    const std::wstring sql = L"create table tFull" + std::to_wstring(std::random_device{}() % 100000) + L" (n integer)";
    EXPECT_EQ(full.ExecSQL(sql), -1);
    EXPECT_EQ(full.ExecSQL(sql), -1);
    EXPECT_EQ(full.ExecSQLSet({sql}, true), -1);
    CxLog::GetInstance()->Flush(std::chrono::seconds(2));
    std::wistringstream log(text::FromUtf16LeBytes(ReadFileBytes(CxLog::GetInstance()->FileName())));
    std::vector<std::wstring> levels;
    for (std::wstring line; std::getline(log, line);) {
        if (line.find(L"CSqliteException[" + sql + L"]") != std::wstring::npos)
            levels.push_back(line.substr(24, line.find(L' ', 24) - 24));
    }
    EXPECT_EQ(levels, (std::vector<std::wstring>{L"Error", L"Message"}));
}

// A list from outside that has written past the page cache holds SQLite's file lock until
// it has ended and rolled back, and the two kinds' lists come one after the other; readers
// wait for that lock only as long as the busy handler lets them, so they must get their
// rows behind two lists that run until their time is spent.
TEST_F(MyDatabaseTest, ReadsBehindTwoOutsideListsThatHoldTheFileLockUntilTheirTimeStillSucceed) {
    const BusyRetriesScope<CSqliteDB> readersWait(1500, 1);
    std::vector<std::wstring> articles;
    for (int i = 1; i <= 300; ++i)
        articles.push_back(L"insert into tArticle (articleNo, articleBody) values (" + std::to_wstring(i) + L", '" +
                           std::wstring(16000, L'x') + L"')");
    ASSERT_EQ(db_->ExecSQLSet(articles, true), 0);
    std::vector<std::wstring> rows{L"update tArticle set note = articleBody"};
    rows.insert(rows.end(), 100000, L"update tArticle set viewTimes = viewTimes + (articleBody = note)");
    std::atomic<bool> listsDone{false};
    std::thread lists([&] {
        EXPECT_EQ(db_->ExecSQLSet(rows, true, SqlScope::RowsOf(L"tArticle")), -1);
        EXPECT_EQ(db_->ExecSQLSet(rows, true, SqlScope::RowsOf(L"tArticle")), -1);
        listsDone = true;
    });
    EXPECT_TRUE(WaitFor([&] { return db_->IsWriteLocked(); }));
    int reads = 0, failed = 0;
    for (; !listsDone; ++reads) failed += Read(L"select count(*) from tArticle") == L"300" ? 0 : 1;
    lists.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(Read(L"select count(*) from tArticle where viewTimes <> 0 or note is not null"), L"0");
}

TEST(MyDatabaseBeforeInitTest, WritesAndTheTableLockAreRefused) {
    CMyDatabase db;
    EXPECT_EQ(db.ExecSQL(L"select 1"), -1);
    EXPECT_EQ(db.ExecSQL_asyn(L"select 1"), -1);
    EXPECT_EQ(db.ExecSQLSet({L"select 1"}, true), -1);
    EXPECT_EQ(db.InsertTableWithReturnRowID(L"select 1"), -1);
    EXPECT_EQ(db.LockSqliteTable(L"tUser", 100), -1);
    EXPECT_FALSE(db.IsWriteLocked());
}

}  // namespace
