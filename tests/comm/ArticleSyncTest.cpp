// The article synchronisation against a loopback HTTP server, a real user database, a
// main frame on this thread and real article pop-ups: what is applied, posted and
// announced, what a bad reply leaves alone, and when the keep-alive starts a sync.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../records/RecordsFixture.h"
#include "ArticleMsgWin.h"
#include "CSqliteDB.h"
#include "CSqliteException.h"
#include "HttpClient.h"
#include "Config.h"
#include "EngineTest.h"
#include "LogReader.h"
#include "LoopbackHttpServer.h"
#include "SqliteHeapBudget.h"
#include "UiThreadManager.h"
#include "WaitFor.h"
#include "article.h"
#include "focusArticle.h"

namespace {

// A refused reply or row ends at once: that a check ended it, not the list's time nor the
// transfer's, shows in the cause its line names and in the memory it took, never in the time,
// which a loaded machine running the sanitizers stretches as it likes.

using uie::value;
using uie::test::PageHost;

constexpr char kSyncPage[] =
    "<html><head><script type=\"text/tiscript\">function BandArticleSyncMessage(article) {}</script></head>"
    "<body><div id=\"window-caption\">new</div><button id=\"window-close\">x</button></body></html>";

std::string XmlAttr(const std::string& s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// The process's peak resident memory so far.
long PeakMemoryKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    return 0;
}

constexpr char kRoot[] = "bussID=\"syndata_article\" retCode=\"0\" dataRowCount=\"0\"";

// A reply document: a root with these attributes, one row per statement, then more rows.
std::string Reply(const std::vector<std::string>& statements, const std::string& rootAttributes = kRoot,
                  const std::string& moreRows = "") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<DataSync " + rootAttributes + ">";
    for (const std::string& sql : statements) xml += "<row sql=\"" + XmlAttr(sql) + "\"/>";
    return xml + moreRows + "</DataSync>";
}

std::string Insert(int articleNo, const std::string& title = "t", const char* verb = "insert into") {
    return std::string(verb) + " tArticle (articleNo, title) values (" + std::to_string(articleNo) + ", '" + title +
           "')";
}

class ArticleSyncTest : public RecordsTest {
protected:
    ArticleSyncTest() : saved_(g_Config.m_config) {
        std::filesystem::create_directory(dir_ / "Log");
        std::ofstream(dir_ / "default.htm") << kSyncPage;
        std::ofstream(dir_ / "single-article.htm") << kSyncPage;
        g_Config.m_config.binDir = text::FromUtf8(dir_.Path().string());
        g_Config.m_config.articleSyncPage = text::FromUtf8((dir_ / "default.htm").string());
        g_Config.m_config.singleArticlePage = text::FromUtf8((dir_ / "single-article.htm").string());
        // A path of this test's own, so that its log lines are its own.
        g_Config.m_config.HttpServiceAddr = text::FromUtf8(http_.Url("/s" + std::to_string(tick_) + "/"));
        comm_->SetLoginAccount(L"demo");
        comm_->SetLoginPassword(L"pw");
        // The three attempts of a transfer share it: room for replies of megabytes on a
        // loaded machine, a tenth of the program's own.
        comm_->m_nHttpTimeout = 30;
        PageHost::Reset();
        article_.m_nMaxNo = 10;
        article_.m_nMaxDeletedRecNo = 0;
        focus_.m_nMaxNo = 0;
        focus_.m_nMaxDeletedRecNo = 0;
        g_pArticle = &article_;
        g_pFocusArticle = &focus_;
        Posted();  // the main frame's own start
    }
    ~ArticleSyncTest() override {
        EndWorkers();  // joins the synchronisation threads
        EndArticleWindows();
        g_pArticle = nullptr;
        g_pFocusArticle = nullptr;
        g_Config.m_config.binDir = saved_.binDir;
        g_Config.m_config.articleSyncPage = saved_.articleSyncPage;
        g_Config.m_config.singleArticlePage = saved_.singleArticlePage;
        g_Config.m_config.HttpServiceAddr = saved_.HttpServiceAddr;
    }

    // The pop-up ends itself once its last article is closed; then its thread's entry goes.
    static void EndArticleWindows() {
        if (const std::shared_ptr<CArticleMsgWin> window = g_pArticleMsgWin.load()) {
            while (g_pArticleMsgWin.load() == window) window->ShowNextArticle();
        }
        for (int i = g_UiThreads.GetCount() - 1; i >= 0; --i) {
            EXPECT_TRUE(g_UiThreads.WaitThread(g_UiThreads.GetThread(i), kGenerousWait.count()));
            g_UiThreads.RemoveThread(i);
        }
    }

    struHttpQuestThreadPara Para(int maxNo = 12, int maxDeleted = 0) const {
        return {"syndata_article", article_.m_nMaxNo, maxNo, article_.m_nMaxDeletedRecNo, maxDeleted};
    }
    // One synchronisation on this thread, the reply as given.
    void Sync(const std::string& reply, int maxNo = 12, int maxDeleted = 0) {
        http_.Enqueue(HttpReply::Xml(reply));
        comm_->HttpQuestThread_article(Para(maxNo, maxDeleted));
    }
    // Syncs the rows; how many more lines refuse `sql`, for the reason `why` when one is
    // given. A long statement is known by its start: the line ends within it.
    int RefusalsOf(const std::string& sql, const std::vector<std::string>& rows, const std::wstring& why = {}) {
        constexpr std::size_t kKnownBy = 200;
        const std::wstring statement = sql.size() <= kKnownBy ? text::FromUtf8(sql) + L"]"
                                                              : text::FromUtf8(sql.substr(0, kKnownBy));
        const std::wstring line = (why.empty() ? L"" : L"refused:[" + why) + L"] SQL:[" + statement;
        const int before = CountLogLines(line);
        Sync(Reply(rows));
        return CountLogLines(line) - before;
    }
    std::filesystem::path CopyFile() const {
        return dir_ / ("Log/ParseHttpSyncXmlDatasyndata_article" + std::to_string(tick_ % 100));
    }
    std::wstring Titles() { return FirstValue(L"select group_concat(articleNo || ':' || title, ',') from tArticle"); }
    std::wstring StoredDeleted() { return Column(L"tMaxDeletedRecNo", L"articleDeletedRecNo"); }

    // The value the pop-up's page was handed.
    static value Notice() {
        const auto call = PageHost::WaitForCall("BandArticleSyncMessage", std::chrono::seconds(3));
        return call && !call->args.empty() ? call->args.front() : value();
    }

    const struConfig saved_;
    uie::test::Recording recording_;
    LoopbackHttpServer http_;
    CArticle article_;
    CFocusArticle focus_;
};

TEST_F(ArticleSyncTest, UrlRuleAndAFormBodyThatDecodesToWhatWasStored) {
    EXPECT_EQ(CCommunication::HttpSyncUrl(L"http://h/x/"), "http://h/x/DataSync/BussDataSync.aspx");
    EXPECT_EQ(CCommunication::HttpSyncUrl(L"http://h/x.aspx"), "http://h/x.aspx");
    EXPECT_EQ(CCommunication::HttpSyncUrl(L""), "");

    Sync(Reply({}), 12, 3);
    comm_->SetLoginPassword(L"a&b=c+d%e 密");
    Sync(Reply({}), 12, 3);
    const std::vector<HttpRequest> requests = http_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/s" + std::to_string(tick_) + "/DataSync/BussDataSync.aspx");
    // An ordinary account gives the bytes of the plain format.
    EXPECT_EQ(requests[0].body,
              "bussID=syndata_article&loginAccount=demo&loginPassword=pw&minNo=10&maxNo=12&minDeletedRecNo=0"
              "&maxDeletedRecNo=3");
    const auto form = DecodeForm(requests[1].body);
    EXPECT_EQ(form.at("loginPassword"), text::ToAnsi(L"a&b=c+d%e 密"));
    EXPECT_EQ(form.at("minNo"), "12");  // the first sync moved the mark on
    EXPECT_EQ(form.size(), 7u);
}

TEST_F(ArticleSyncTest, TwoInsertsAndAnUpdateAreAppliedPostedAnnouncedAndMoveTheMarksOn) {
    Exec(L"insert into tArticle (articleNo, title) values (10, 'old')");
    Sync(Reply({Insert(11, "健康早知道 😀"), Insert(12, "b"), "update tArticle set title='new' where articleNo=10"}), 12, 4);
    EXPECT_EQ(Titles(), L"10:new,11:健康早知道 😀,12:b");
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8028", L"8029", L"8098", L"8099"}));
    EXPECT_EQ(article_.m_nMaxNo, 12);
    EXPECT_EQ(article_.m_nMaxDeletedRecNo, 4);
    EXPECT_EQ(StoredDeleted(), L"4");
    EXPECT_FALSE(std::filesystem::exists(CopyFile()));

    const std::shared_ptr<CArticleMsgWin> window = g_pArticleMsgWin.load();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->m_cs.page, g_Config.m_config.articleSyncPage);
    const value notice = Notice();
    EXPECT_EQ(notice.get_item(value(L"funcName")), value(L"BandArticleSyncMessage"));
    EXPECT_EQ(notice.get_item(value(L"syncType")), value(2));
    EXPECT_EQ(notice.get_item(value(L"minNo")), value(10));
    EXPECT_EQ(notice.get_item(value(L"maxNo")), value(12));
    EXPECT_EQ(notice.get_item(value(L"insertRecCount")), value(2));
}

TEST_F(ArticleSyncTest, OneCountedInsertPicksTheSingleArticlePageAndUpperCaseRunsUncounted) {
    // Rows with an empty "sql" or none at all are skipped.
    Sync(Reply({Insert(11), Insert(12, "u", "INSERT INTO"), ""}, kRoot, "<row note=\"no statement\"/>"));
    EXPECT_EQ(Titles(), L"11:t,12:u");
    const std::shared_ptr<CArticleMsgWin> window = g_pArticleMsgWin.load();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->m_cs.page, g_Config.m_config.singleArticlePage);
    EXPECT_EQ(Notice().get_item(value(L"insertRecCount")), value(1));
}

TEST_F(ArticleSyncTest, RefusedRepliesApplyNothingKeepTheMarksAndKeepTheirCopy) {
    const std::string failing = Insert(static_cast<int>(tick_));  // its own number: the log line is this test's
    const struct {
        std::string reply;
        int result;
    } cases[] = {
        {Reply({Insert(11)}, "bussID=\"syndata_article\" retCode=\"-3\""), -2},
        {"<DataSync bussID=\"syndata_article\"><row sql=\"insert\"></DataSync>", -2},
        {Reply({Insert(11)}, "retCode=\"0\""), -1},
        {Reply({failing, "insert into tNoSuchTable values (1)", Insert(13)}), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        Sync(c.reply);
        EXPECT_EQ(Titles(), L"");
        EXPECT_EQ(article_.m_nMaxNo, 10);
        EXPECT_EQ(ReadFileBytes(CopyFile()), c.reply);
        EXPECT_EQ(comm_->ParseHttpSyncXmlData(Para(), c.reply), c.result);
    }
    EXPECT_EQ(Posted(), std::vector<std::wstring>{});
    EXPECT_EQ(g_pArticleMsgWin.load(), nullptr);
    EXPECT_EQ(CountLogLines(L"ExecSQLSet:[-1][" + text::FromUtf8(failing) + L"]"), 2);  // the sync, then the parse again
}

TEST_F(ArticleSyncTest, WithoutRetCodeTheRowsApplyAndWithoutRowsOnlyTheMarksMove) {
    Sync(Reply({Insert(11)}, "bussID=\"syndata_article\""), 11);
    EXPECT_EQ(Titles(), L"11:t");
    EXPECT_EQ(article_.m_nMaxNo, 11);
    Posted();

    Sync(Reply({}), 15, 2);
    EXPECT_EQ(Posted(), std::vector<std::wstring>{L"8099"});
    EXPECT_EQ(article_.m_nMaxNo, 15);
    EXPECT_EQ(StoredDeleted(), L"2");
    EXPECT_FALSE(std::filesystem::exists(CopyFile()));
}

TEST_F(ArticleSyncTest, FailedAttemptsAreRetriedOnAClearedReplyAndThreeFailuresOnlyWarn) {
    HttpReply cut = HttpReply::Xml(Reply({Insert(11)}));
    cut.bodyBytes = 60;
    http_.Enqueue(HttpReply::Status(500));
    http_.Enqueue(cut);
    Sync(Reply({Insert(12)}));
    EXPECT_EQ(http_.RequestCount(), 3u);
    EXPECT_EQ(Titles(), L"12:t");
    EXPECT_EQ(article_.m_nMaxNo, 12);
    Posted();

    for (int i = 0; i < 3; ++i) http_.Enqueue(HttpReply::Status(404));
    comm_->HttpQuestThread_article(Para(20));
    EXPECT_EQ(http_.RequestCount(), 6u);
    EXPECT_EQ(article_.m_nMaxNo, 12);
    EXPECT_EQ(Posted(), std::vector<std::wstring>{});
    EXPECT_EQ(CountLogLines(L"[syndata_article] " + text::FromUtf8(CCommunication::HttpSyncUrl(
                                                        g_Config.m_config.HttpServiceAddr)) +
                            L" failed 3 times, last result 22"),
              1);
}

TEST_F(ArticleSyncTest, AppliedRowsMoveTheMarksOnEvenWhenThePopUpCannotBeMade) {
    g_Config.m_config.articleSyncPage = text::FromUtf8((dir_ / "no-such-page.htm").string());
    const std::string reply = Reply({Insert(11), Insert(12)});
    EXPECT_EQ(comm_->ParseHttpSyncXmlData(Para(), Reply({Insert(21), Insert(22)})), -1);
    Sync(reply);
    EXPECT_EQ(Titles(), L"11:t,12:t,21:t,22:t");
    EXPECT_EQ(article_.m_nMaxNo, 12);
    EXPECT_EQ(g_pArticleMsgWin.load(), nullptr);
    EXPECT_EQ(ReadFileBytes(CopyFile()), reply);

    g_Config.m_config.HttpServiceAddr.clear();  // nothing is sent, the marks stay
    comm_->HttpQuestThread_article(Para(30));
    EXPECT_EQ(http_.RequestCount(), 1u);
    EXPECT_EQ(article_.m_nMaxNo, 12);
}

// What a hostile server can send: each sync on its own thread ends, changes nothing and
// leaves the next sync working.
TEST_F(ArticleSyncTest, HostileRepliesEndTheirSyncThreadAndTheNextSyncWorks) {
    const auto syncOnItsThread = [&] {
        EXPECT_EQ(comm_->QuestArticle_asyn(12, 10, 0, 0), 0);
        EXPECT_TRUE(WaitFor([&] { return !comm_->IsArticleSyncRunning(); }, std::chrono::seconds(60)));
        EXPECT_EQ(Titles(), L"");
        EXPECT_EQ(article_.m_nMaxNo, 10);
    };
    // Nested 60,000 deep, plainly and behind markup that a careless count reads otherwise:
    // a name starting with byte 0x7F, and a lead byte that swallows its value's closing quote.
    const auto nested = [](const std::string& name) {
        std::string opens, closes;
        for (int i = 0; i < 60000; ++i) opens += "<" + name + ">", closes += "</" + name + ">";
        return opens + closes;
    };
    const std::string root = "<SyncData bussID=\"syndata_article\" retCode=\"0\"";
    for (const std::string& deep : {root + ">" + nested("a") + "</SyncData>", root + ">" + nested("\x7F") + "</SyncData>",
                                    root + " x=\"\xF0\" y><q z=\">" + nested("a") + "</SyncData>"}) {
        const std::wstring refusal = L"reply of " + std::to_wstring(deep.size()) + L" bytes refused: ";
        const int refusals = CountLogLines(refusal);
        http_.Enqueue(HttpReply::Xml(deep));
        syncOnItsThread();
        EXPECT_EQ(CountLogLines(refusal), refusals + 1);
        EXPECT_EQ(std::filesystem::file_size(CopyFile()), 256u * 1024);  // the copy is bounded
    }

    // Past the cap, and without its length announced: the line says which limit it met.
    HttpReply huge = HttpReply::Xml(Reply({Insert(11, std::string((16 << 20) + 1, 'x'))}));
    huge.withLength = false;
    const std::wstring capLine = L"failed 3 times, last result 63: the reply passed its cap of 16777216 bytes";
    const int capLines = CountLogLines(capLine);
    http_.OnRequest([&](const HttpRequest&) { return huge; });
    syncOnItsThread();
    EXPECT_EQ(http_.RequestCount(), 6u);
    EXPECT_EQ(CountLogLines(capLine), capLines + 1);
    http_.OnRequest(nullptr);

    CHttpClient::OptionRecorder() = [](CURLoption, const HttpOptionValue&) { throw std::bad_alloc(); };
    syncOnItsThread();
    CHttpClient::OptionRecorder() = nullptr;

    http_.Enqueue(HttpReply::Xml(Reply({Insert(11), Insert(12)})));
    EXPECT_EQ(comm_->QuestArticle_asyn(12, 10, 0, 0), 0);
    EXPECT_TRUE(WaitFor([&] { return !comm_->IsArticleSyncRunning(); }));
    EXPECT_EQ(Titles(), L"11:t,12:t");
    EXPECT_EQ(article_.m_nMaxNo, 12);
}

// The rows may change their kind's articles, nothing else: other tables, another
// database, the schema, the settings, or the disk beyond the reply's share.
TEST_F(ArticleSyncTest, RowsThatReachBeyondTheUserDatabasesRowsAreRefusedWithTheirText) {
    const std::filesystem::path other = dir_ / "other.db";
    {
        CSqliteDB db;
        db.open(text::FromUtf8(other.string()), true);
        db.execDML(L"create table settings (k, v)");
        db.execDML(L"insert into settings values ('theme', 'dark')");
    }
    const std::string otherBytes = ReadFileBytes(other);
    const std::wstring user = FirstValue(L"select count(*) || ':' || userNo from tUser");
    const std::string refused[] = {
        "delete from tUser",
        "update tUser set userNo = userNo + 1",
        "insert into tFocusArticle (focusArticleNo) values (1)",
        "attach '" + other.string() + "' as x",
        "drop table tUser",
        "create table tNew (x)",
        "pragma writable_schema=1",
        "vacuum",
        "commit",
        "insert into tArticle (articleNo, title) select 1, sql from sqlite_master",
        "with recursive r(n) as (select 1 union all select n + 1 from r) insert into tArticle (articleNo) select n "
        "from r",
        "insert into tArticle (articleNo, title) values (" + std::to_string(tick_) + ", zeroblob(100000000))",
    };
    for (const std::string& sql : refused) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(RefusalsOf(sql, {Insert(11), sql}), 1);
        EXPECT_EQ(Titles(), L"");
        EXPECT_EQ(article_.m_nMaxNo, 10);
    }
    EXPECT_EQ(ReadFileBytes(other), otherBytes);
    EXPECT_EQ(FirstValue(L"select count(*) from sqlite_master where name in ('tUser', 'tNew')"), L"1");
    EXPECT_EQ(FirstValue(L"select count(*) || ':' || userNo from tUser"), user);
    EXPECT_EQ(FirstValue(L"select count(*) from tFocusArticle"), L"0");

    // A statement that would run for hours is no row of values: it never runs.
    for (int i = 0; i < 60; ++i)
        Exec(L"insert into tFocusArticle (focusArticleNo) values (" + std::to_wstring(i) + L")");
    const std::string slow = "delete from tArticle where articleNo in (select 1 from tFocusArticle a, tFocusArticle b, "
                             "tFocusArticle c, tFocusArticle d, tFocusArticle e where a.title is b.title)";
    EXPECT_EQ(RefusalsOf(slow, {Insert(11), slow}, L"SQLITE_AUTH[23]: access to tFocusArticle.title is prohibited"), 1);
    EXPECT_EQ(Titles(), L"");
    // Rows that only change articles still pass.
    Sync(Reply({Insert(11), Insert(12), "update tArticle set title = 'X', pubTime = datetime('now') where articleNo = 11",
                "delete from tArticle where articleNo in (12, 13)"}));
    EXPECT_EQ(Titles(), L"11:X");
}

// A row of a hundred bytes may ask a function for gigabytes: the functions that build big
// values (printf, which past the cap spends seconds making a null, among them) are no row's,
// and what the rows' own expressions build grows no text past a few megabytes, so such a
// row fails and stores nothing instead of taking the memory.
TEST_F(ArticleSyncTest, RowsThatAskForHugeTextsTakeNoMoreMemoryThanAFewArticles) {
    const long peakKb = PeakMemoryKb();
    const std::wstring before = Titles();
    for (const char* function : {"printf", "PRINTF", "format"}) {
        const std::string sql = std::string("insert into tArticle (articleNo) values (length(replace(") + function +
                                "('%.*c', 400000000, 'x'), 'x', 'yy')))";
        SCOPED_TRACE(sql);
        EXPECT_EQ(RefusalsOf(sql, {sql}, L"SQLITE_ERROR[1]: not authorized to use function: length"), 1);  // unrun
    }
    EXPECT_EQ(Titles(), before);
    const std::string tooBig[] = {
        "insert into tArticle (articleNo, title) values (1, zeroblob(100000000))",
        "insert into tArticle (articleNo, title) values (1, randomblob(100000000))",
        "insert into tArticle (articleNo, title) select 1, group_concat(hex(zeroblob(1000000))) from (select 1 "
        "union all select 2 union all select 3 union all select 4 union all select 5)",
    };
    for (const std::string& sql : tooBig) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(RefusalsOf(sql, {sql}), 1);
    }
    const std::string longer = "update tArticle set title = title || title || title || title || title";
    EXPECT_EQ(RefusalsOf(longer, {Insert(7, std::string(1 << 20, 'x')), longer},
                         L"SQLITE_ERROR[1]: string or blob too big: the length limit of 4 MiB"),
              1);
    EXPECT_LT(PeakMemoryKb() - peakKb, 200 * 1024);
    Sync(Reply({Insert(7, std::string(1 << 20, 'x'))}));  // an article of a megabyte passes
    EXPECT_EQ(FirstValue(L"select length(title) from tArticle where articleNo = 7"), L"1048576");
}

// One step of a row may run for minutes (like on 400 KB against an 8 KB pattern takes
// seconds), and rows too short for the clock's looks may run on past the list's time: the
// list ends at once, so that the table lock's other waiters, a device's reading among
// them, never give up for it.
TEST_F(ArticleSyncTest, ARowThatWouldRunForMinutesEndsAtOnceAndADeviceReadingMeanwhileIsStored) {
    const std::string slow = "insert into tArticle (articleNo, title) values (905, hex(zeroblob(200000)) like '%' || "
                             "hex(zeroblob(4000)) || '1')";
    http_.Enqueue(HttpReply::Xml(Reply({Insert(11), slow})));
    const std::wstring refused = L"refused:[SQLITE_ERROR[1]: not authorized to use function: ";
    const int before = CountLogLines(refused);
    ASSERT_EQ(comm_->QuestArticle_asyn(12, 10, 0, 0), 0);
    WaitFor([&] { return db_.IsWriteLocked() || !comm_->IsArticleSyncRunning(); });
    EXPECT_EQ(db_.ExecSQLSet({L"insert into tDeviceDataList_122 (userNo, recDate, step) values (77, 20260101, 5000)"},
                             true),
              0);
    EXPECT_TRUE(WaitFor([&] { return !comm_->IsArticleSyncRunning(); }, std::chrono::seconds(30)));
    EXPECT_EQ(FirstValue(L"select count(*) from tDeviceDataList_122 where recDate = 20260101"), L"1");
    EXPECT_EQ(CountLogLines(refused), before + 1);
    EXPECT_EQ(Titles(), L"");

    db_.SetOutsideBudget(0);
    EXPECT_EQ(RefusalsOf(Insert(11), {Insert(11), Insert(12)},
                         L"SQLITE_INTERRUPT[9]: interrupted before it ran: the list's 0 ms are spent"),
              1);
    EXPECT_EQ(Titles(), L"");
}

// A whole-table delete freed every page in one step, past the list's clock (10^6 rows took
// 6.4 s), and a reader behind a list that had written past the page cache waited for its end:
// the delete goes row by row, where the clock ends it, and a reader reads the state before
// the list, whatever the list has written.
TEST_F(ArticleSyncTest, AWholeTableDeleteEndsOnTheListsClockAndAReaderMeanwhileNeverWaits) {
    CSqliteDB db;
    db.open(g_Config.m_config.userDBName);
    db.execDML(L"with recursive r(n) as (select 1 union all select n + 1 from r where n < 300000) "
               L"insert into tArticle (articleNo, title) select n, printf('%0100d', n) from r");
    db_.SetOutsideBudget(1);
    const std::string deleteAll = "delete from tArticle";
    EXPECT_EQ(RefusalsOf(deleteAll, {deleteAll}), 1);
    EXPECT_EQ(FirstValue(L"select count(*) from tArticle"), L"300000");

    // This connection reads all along and never waits for a lock.
    sqlite3_busy_timeout(db.handle(), 0);
    std::atomic<bool> listEnded{false};
    int reads = 0;
    int failures = 0;
    std::thread reader([&] {
        while (!listEnded) {
            try {
                db.execQuery(L"select title from tArticle where articleNo = 7").finalize();
                ++reads;
            } catch (const CSqliteException&) {
                ++failures;
            }
        }
    });
    db_.SetOutsideBudget(60000);
    Sync(Reply({"update tArticle set title = title || 'x'"}));
    listEnded = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(FirstValue(L"select substr(title, 101) from tArticle where articleNo = 7"), L"x");
}

// SQLite grows a row's program by doubling, so its limit of 1,000 instructions refused past
// 672, and chains of 16 terms were past the depth: a server's delete of its removed articles
// by one IN list of a few hundred numbers, and every list with it, was refused at every
// sync, as "out of memory". With ten times the room they pass; past it the refusal names
// the limit.
TEST_F(ArticleSyncTest, AnInListOfAThousandNumbersAndChainsOfAHundredTermsAreApplied) {
    const auto chain = [](int terms, const std::function<std::string(int)>& term, const std::string& by) {
        std::string text = term(1);
        for (int i = 2; i <= terms; ++i) text += by + term(i);
        return text;
    };
    std::vector<std::string> rows = {Insert(11), Insert(12), Insert(13)};
    rows.push_back("delete from tArticle where articleNo in (" +
                   chain(1000, [](int i) { return std::to_string(i + 12); }, ", ") + ")");
    rows.push_back("update tArticle set title = 'or' where " +
                   chain(100, [](int i) { return "articleNo = " + std::to_string(i + 10); }, " or "));
    rows.push_back("update tArticle set viewTimes = " + chain(100, [](int) { return "1"; }, " + ") + ", keyWords = " +
                   chain(100, [](int) { return "'k'"; }, " || ") + " where articleNo = 12");
    Sync(Reply(rows));
    EXPECT_EQ(Titles(), L"11:or,12:or");
    EXPECT_EQ(FirstValue(L"select viewTimes || ':' || length(keyWords) from tArticle where articleNo = 12"),
              L"100:100");

    const std::string past = "delete from tArticle where articleNo in (" +
                             chain(20000, [](int i) { return std::to_string(i); }, ",") + ")";
    EXPECT_EQ(RefusalsOf(past, {past},
                         L"SQLITE_ERROR[1]: too many instructions: a row compiles to at most 43008 "
                         L"virtual-machine instructions"),
              1);
    const std::string nested = std::string(100, '(') + "1" + std::string(100, ')');
    const std::string parsed = "update tArticle set viewTimes = " + nested;
    EXPECT_EQ(RefusalsOf(parsed, {parsed},
                         L"SQLITE_ERROR[1]: parser stack overflow: SQLite parses some 90 nested parentheses at most"),
              1);
    EXPECT_EQ(Titles(), L"11:or,12:or");
}

// A row of 70 bytes may double the articles at every sync, each time within a list's growth
// bound: the lists of each day since the login have a bound of their own, and a refusal says
// which bound it met, where it said "database or disk is full" with room on the disk.
TEST_F(ArticleSyncTest, ListsGrowTheFileByADaysBoundAtMostAndARefusalSaysWhichBound) {
    db_.SetOutsideGrowth(2 << 20, 3 << 20);
    const auto article = [](int articleNo, int bytes) { return Insert(articleNo, std::string(bytes, 'x')); };
    const std::wstring full = L"SQLITE_ERROR[1]: database or disk is full: ";
    const int perList = CountLogLines(full + L"the list's growth bound of 2 MiB]");
    const int perDay = CountLogLines(full + L"the file's size bound of ");
    Sync(Reply({article(11, 1300000), article(12, 1300000)}));
    EXPECT_EQ(CountLogLines(full + L"the list's growth bound of 2 MiB]"), perList + 1);
    Sync(Reply({article(11, 1800000)}));
    EXPECT_EQ(Titles().substr(0, 3), L"11:");
    Sync(Reply({article(12, 1800000)}), 13);
    EXPECT_EQ(CountLogLines(full + L"the file's size bound of "), perDay + 1);
    EXPECT_EQ(FirstValue(L"select count(*) from tArticle"), L"1");
}

// A row of a kilobyte may hold values of megabytes all at once, and one of numbers only may
// compile to fifty times its length: it ends at once within the list's memory bound. That
// bound counts only the sync's own thread, and the longest article the length limit takes
// is stored; a longer one is refused, not passed over as if it had run.
TEST_F(ArticleSyncTest, ARowThatWouldBuildGigabytesEndsAtOnceWithinItsOwnThreadsMemory) {
    const long peakKb = PeakMemoryKb();
    std::string values = "insert into tArticle (articleNo, title) values (906, 906 in (hex(zeroblob(2000000))";
    for (int i = 1; i < 40; ++i) values += ", hex(zeroblob(2000000))";
    values += "))";
    std::string numbers = "insert into tArticle (articleNo, title) values (907, 907 in (1";
    while (numbers.size() < 1500000) numbers += ",1";
    numbers += "))";
    // Twenty values of 4 MB at once, a few instructions each, from one stored megabyte: only
    // the memory bound stands in its way.
    std::string wide = "update tArticle set title = datetime(title || title || title || title";
    for (int i = 1; i < 20; ++i) wide += ", title || title || title || title";
    wide += ") is null where articleNo = 908";
    const std::wstring memoryBound = L"out of memory: the list's memory bound of 32 MiB";
    const struct {
        std::vector<std::string> rows;
        std::wstring why;
    } cases[] = {
        {{values}, L"SQLITE_ERROR[1]: not authorized to use function: hex"},
        {{numbers}, L"SQLITE_NOMEM[7]: " + memoryBound},  // in the compile
        {{Insert(908, std::string(1000000, 'x')), wide}, L"SQLITE_ERROR[1]: " + memoryBound},  // in the step
    };
    for (const auto& c : cases) EXPECT_EQ(RefusalsOf(c.rows.back(), c.rows, c.why), 1);
    EXPECT_LT(PeakMemoryKb() - peakKb, 250 * 1024);
    EXPECT_EQ(Titles(), L"");

    std::string longest;
    for (int i = 0; i < 1300000; ++i) longest += "健";  // 3.9 MB as UTF-8, as stored
    Sync(Reply({Insert(7, longest)}));
    EXPECT_EQ(FirstValue(L"select length(title) from tArticle where articleNo = 7"), L"1300000");
    const std::string tooLong = Insert(8, std::string(2100000, 'x'));  // 4.2 MB as UTF-16, as handed over
    EXPECT_EQ(RefusalsOf(tooLong, {tooLong}, L"SQLITE_TOOBIG[18]: statement too long: the length limit of 4 MiB"), 1);

    SqliteHeapBudget tight(1 << 20);
    const auto hexOfMegabytes = [&] {
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        return db.execQuery(L"select length(hex(zeroblob(4000000)))").getStringField(0);
    };
    const SqliteHeapBudget::Scope scope(tight);
    std::wstring beside;
    std::thread([&] { beside = hexOfMegabytes(); }).join();
    EXPECT_EQ(beside, L"8000000");
    EXPECT_THROW(hexOfMegabytes(), CSqliteException);
}

// What a row's RETURNING gives back for each row it changes is gathered in a temporary
// file, which the database's growth bound does not reach: four kilobytes of reply wrote
// gigabytes there. A row of values returns nothing, so such a row is refused.
TEST_F(ArticleSyncTest, ARowThatReturnsValuesIsRefusedAndChangesNothing) {
    Sync(Reply({Insert(11)}));
    for (const std::string& sql : {std::string("update tArticle set title = title || title returning title"),
                                   std::string("delete from tArticle returning articleNo"),
                                   Insert(12) + " returning articleNo"}) {
        SCOPED_TRACE(sql);
        EXPECT_EQ(RefusalsOf(sql, {sql}, L"SQLITE_AUTH[23]: not authorized to return values"), 1);
        EXPECT_EQ(Titles(), L"11:t");
    }
}

// Compiling is bounded too: in a row of a kilobyte whose CTEs each join the one before with
// itself, every CTE more doubles what SQLite compiles (at 20 it took minutes and gigabytes).
TEST_F(ArticleSyncTest, ARowOfSelfJoinedCtesEndsAtOnceInsteadOfCompilingForMinutes) {
    const long peakKb = PeakMemoryKb();
    std::string with = "with a0(x) as (select 1)";
    for (int i = 1; i <= 16; ++i)
        with += ", a" + std::to_string(i) + "(x) as (select p.x from a" + std::to_string(i - 1) + " p, a" +
                std::to_string(i - 1) + " q)";
    // The insert meets its select's refusal first, the delete the memory bound while it compiles.
    for (const auto& [sql, why] :
         {std::pair{with + " insert into tArticle (articleNo) select x from a16", L"SQLITE_AUTH[23]: not authorized"},
          std::pair{with + " delete from tArticle where articleNo in (select x from a16)",
                    L"SQLITE_NOMEM[7]: out of memory: the list's memory bound of 32 MiB"}}) {
        SCOPED_TRACE(sql.substr(sql.size() - 60));
        EXPECT_EQ(RefusalsOf(sql, {Insert(11), sql}, why), 1);
    }
    EXPECT_LT(PeakMemoryKb() - peakKb, 150 * 1024);
    EXPECT_EQ(Titles(), L"");
}

// TinyXML checks each attribute of an element against all before it, and keeps some 230
// bytes an element: such replies are refused unread, at once, and the next sync works, with
// a root of nine attributes (the format's eight had been the bound, and web services add a
// namespace).
TEST_F(ArticleSyncTest, RepliesOfManyAttributesOrElementsAreRefusedUnreadAndTheNextSyncWorks) {
    std::string attributes = "<DataSync bussID=\"syndata_article\"><row";
    for (int i = 0; i < 10000; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
    attributes += "/></DataSync>";
    std::string elements = "<DataSync bussID=\"syndata_article\">";
    for (int i = 0; i < 200000; ++i) elements += "<a/>";
    elements += "</DataSync>";
    for (const auto& [reply, why] : {std::pair{attributes, L"an element with 10000 attributes, more than 32"},
                                     std::pair{elements, L"more than 100000 elements, comments and CDATA sections"}}) {
        const std::wstring line = L"reply of " + std::to_wstring(reply.size()) + L" bytes refused: " + why;
        const int before = CountLogLines(line);
        Sync(reply);
        EXPECT_EQ(CountLogLines(line), before + 1);
    }
    Sync(Reply({Insert(11)}, std::string(kRoot) +
                                 " DB=\"Quorv10\" minNo=\"10\" maxNo=\"12\" rows=\"1\" syncTime=\"2026-01-01 08:00:00\" "
                                 "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""));
    EXPECT_EQ(Titles(), L"11:t");
}

// A server that sends a byte now and then stays above any stall rate it likes: the whole
// transfer's own bound ends it, once for the three attempts (each had it whole), and the line
// says which bound that was.
TEST_F(ArticleSyncTest, ATrickleAboveTheStallRateIsEndedByTheWholeTransfersBound) {
    comm_->m_nHttpTimeout = 1;
    comm_->m_nHttpMinRate = 1;
    HttpReply trickle = HttpReply::Xml(Reply({Insert(11)}));
    trickle.byteGap = std::chrono::milliseconds(300);
    http_.OnRequest([&](const HttpRequest&) { return trickle; });
    comm_->HttpQuestThread_article(Para());
    EXPECT_EQ(http_.RequestCount(), 1u);
    const std::wstring url = text::FromUtf8(CCommunication::HttpSyncUrl(g_Config.m_config.HttpServiceAddr));
    EXPECT_EQ(CountLogLines(L"[syndata_article] " + url + L" failed 1 times, last result 28: Operation timed out after"),
              1);
    EXPECT_EQ(Titles(), L"");
}

// The bounds a sync's transfer has unless a test shortens them: five minutes for all its
// attempts, and at least 2 KB a second over each minute.
TEST_F(ArticleSyncTest, ATransferHasFiveMinutesInAllAndEndsBelowTwoKilobytesASecondForAMinute) {
    comm_->m_nHttpTimeout = CCommunication().m_nHttpTimeout.load();  // the fixture's is shorter
    std::map<CURLoption, long long> set;
    CHttpClient::OptionRecorder() = [&](CURLoption option, const HttpOptionValue& value) { set[option] = value.number; };
    Sync(Reply({Insert(11)}));
    CHttpClient::OptionRecorder() = nullptr;
    EXPECT_EQ(Titles(), L"11:t");
    EXPECT_EQ(set[CURLOPT_LOW_SPEED_LIMIT], 2048);
    EXPECT_EQ(set[CURLOPT_LOW_SPEED_TIME], 60);
    // What is left of the five minutes as the first attempt starts.
    EXPECT_GT(set[CURLOPT_TIMEOUT_MS], 240000);
    EXPECT_LE(set[CURLOPT_TIMEOUT_MS], 300000);
}

// A refusal says why: before a statement longer than the log line, and for a reply in UTF-16,
// which the parser would read only up to its first NUL.
TEST_F(ArticleSyncTest, ARefusalSaysWhyForAStatementLongerThanItsLineAndForAUtf16Reply) {
    const std::string longRow = "insert into tNoSuchArticles (title) values ('" + std::string(2000, 'x') + "')";
    EXPECT_EQ(RefusalsOf(longRow, {longRow}, L"SQLITE_ERROR[1]: no such table: tNoSuchArticles"), 1);

    std::string utf16 = "\xFF\xFE";
    for (const char c : Reply({Insert(11)})) utf16 += std::string{c, '\0'};
    const std::wstring line = L"reply of " + std::to_wstring(utf16.size()) +
                              L" bytes refused: a NUL byte at offset 3, where the text would end (UTF-16?)";
    const int before = CountLogLines(line);
    Sync(utf16);
    EXPECT_EQ(CountLogLines(line), before + 1);
    EXPECT_EQ(Titles(), L"");
}

// The parser takes a UTF-8 lead byte's whole sequence in one step: a reply that ends
// inside one must not be read past its end (here a NUL stands for the end).
TEST(ArticleSyncReplyTest, AReplyEndingInsideACharacterIsNotReadPastItsEnd) {
    constexpr char kReply[] = "<DataSync bussID=\"x\"><row sql=\"\xE4\0abc\"/></DataSync>";
    const std::string reply(kReply, sizeof kReply - 1);
    std::vector<std::wstring> statements;
    int inserts = 0;
    EXPECT_EQ(CCommunication::ReadHttpSyncXmlData(reply, statements, inserts), -2);
    EXPECT_TRUE(statements.empty());
}

class ArticleSyncGatingTest : public ArticleSyncTest {
protected:
    // A keep-alive reply announcing the server's article figures (no parameters).
    static std::wstring KeepAlive(int focusMax, int articleMax, int focusDeleted = 0, int articleDeleted = 0) {
        std::vector<std::wstring> fields(21, L"0");
        fields[11] = std::to_wstring(focusMax);
        fields[12] = std::to_wstring(articleMax);
        fields.push_back(std::to_wstring(focusDeleted));
        fields.push_back(std::to_wstring(articleDeleted));
        return JoinFields(fields);
    }
    // Runs the keep-alive at `at` ms after the objects were made; the bussID of each
    // synchronisation it started, once they have ended.
    std::vector<std::string> SyncsAt(DWORD at, const std::wstring& reply) {
        const std::size_t before = http_.RequestCount();
        tick_ = start_ + at;
        comm_->PluseCheckBussProc(reply);
        EXPECT_TRUE(WaitFor([&] { return !comm_->IsArticleSyncRunning(); }));
        std::vector<std::string> started;
        const std::vector<HttpRequest> requests = http_.Requests();
        for (std::size_t i = before; i < requests.size(); ++i)
            started.push_back(DecodeForm(requests[i].body)["bussID"]);
        return started;
    }

    ArticleSyncGatingTest() {
        http_.OnRequest([](const HttpRequest&) { return HttpReply::Xml(Reply({})); });
    }

    const DWORD start_ = tick_;
};

TEST_F(ArticleSyncGatingTest, EachKindWaitsForItsTimeAfterTheCheckTickAndForTheMainFrame) {
    using Started = std::vector<std::string>;
    EXPECT_EQ(article_.GetCheckTick(), start_);
    EXPECT_EQ(SyncsAt(15000, KeepAlive(5, 11)), Started{});
    EXPECT_EQ(SyncsAt(15001, KeepAlive(5, 11)), Started{"syndata_article"});
    EXPECT_EQ(SyncsAt(20000, KeepAlive(5, 10)), Started{});
    EXPECT_EQ(SyncsAt(20001, KeepAlive(5, 10)), Started{"syndata_focusArticle"});
    // Nothing newer, then only a newer deleted-record number.
    EXPECT_EQ(SyncsAt(30000, KeepAlive(0, 10)), Started{});
    EXPECT_EQ(SyncsAt(30000, KeepAlive(0, 10, 0, 1)), Started{"syndata_article"});

    CMainFrame unstarted;
    g_pMainFrame = &unstarted;
    EXPECT_EQ(SyncsAt(30000, KeepAlive(5, 11)), Started{});
    g_pMainFrame = &frame_;
}

// A reply refused by a bound is refused again, and was fetched again at every keep-alive
// (16 MB each time): the keep-alive asks for it again only after a wait that doubles with
// each refusal in a row, and an applied reply ends the waits.
TEST_F(ArticleSyncGatingTest, ARefusedReplyIsAskedForAgainOnlyAfterAWaitThatGrows) {
    using Started = std::vector<std::string>;
    const Started article{"syndata_article"};
    http_.OnRequest([](const HttpRequest&) { return HttpReply::Xml(Reply({"delete from tUser"})); });
    const std::wstring third = L"[syndata_article] reply refused 3 times in a row: asked for again in 480 s, at ";
    const int thirds = CountLogLines(third);
    DWORD at = 20000;
    EXPECT_EQ(SyncsAt(at, KeepAlive(0, 11)), article);
    EXPECT_EQ(SyncsAt(at + 119999, KeepAlive(0, 11)), Started{});
    EXPECT_EQ(SyncsAt(at += 120000, KeepAlive(0, 11)), article);
    EXPECT_EQ(SyncsAt(at + 239999, KeepAlive(0, 11)), Started{});
    EXPECT_EQ(SyncsAt(at += 240000, KeepAlive(0, 11)), article);
    EXPECT_EQ(CountLogLines(third), thirds + 1);

    http_.OnRequest([](const HttpRequest&) { return HttpReply::Xml(Reply({Insert(11)})); });
    EXPECT_EQ(SyncsAt(at += 480000, KeepAlive(0, 11)), article);
    EXPECT_EQ(SyncsAt(at, KeepAlive(0, 12)), article);
    EXPECT_EQ(Titles(), L"11:t");
}

TEST_F(ArticleSyncGatingTest, ASyncOfOneKindStillRunningStartsNoSecond) {
    HttpReply slow = HttpReply::Xml(Reply({}));
    slow.delay = std::chrono::milliseconds(600);
    http_.Enqueue(slow);
    tick_ = start_ + 40000;
    EXPECT_EQ(comm_->QuestArticle_asyn(11, 10, 0, 0), 0);
    ASSERT_TRUE(http_.WaitForRequests(1));
    EXPECT_EQ(comm_->QuestArticle_asyn(11, 10, 0, 0), -1);
    comm_->PluseCheckBussProc(KeepAlive(0, 11));
    EXPECT_TRUE(comm_->IsArticleSyncRunning());
    ASSERT_TRUE(WaitFor([&] { return !comm_->IsArticleSyncRunning(); }));
    EXPECT_EQ(http_.RequestCount(), 1u);
    EXPECT_EQ(article_.m_nMaxNo, 11);
    EXPECT_EQ(SyncsAt(40000, KeepAlive(0, 12)), std::vector<std::string>{"syndata_article"});
}

}  // namespace
