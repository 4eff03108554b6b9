// One article synchronisation of 2,000 new articles from a loopback HTTP server into a
// fresh user database, with the article pop-up already open: from the start of the
// synchronisation's thread until the article mark has moved on. The baseline applies
// the same statements straight through the database object, into a fresh database too;
// the two take turns in every iteration, and their `ratio` is reported.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ArticleMsgWin.h"
#include "BenchSupport.h"
#include "Communication.h"
#include "CSqliteDB.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "LoopbackHttpServer.h"
#include "MyDatabase.h"
#include "Text.h"
#include "UiThreadManager.h"
#include "article.h"

namespace {

constexpr int kArticles = 2000;

std::string Statement(int n) {
    return "insert into tArticle (articleNo, articleType, title, simpleTitle, sourceNote, pubTime, status) values (" +
           std::to_string(n) + ", 1, '健康资讯 " + std::to_string(n) + "', '健康资讯', 'bench', '2026-01-01 08:00:00', '1')";
}

std::string SyncReply() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<DataSync bussID=\"syndata_article\" retCode=\"0\">";
    for (int n = 1; n <= kArticles; ++n) xml += "<row sql=\"" + Statement(n) + "\"/>";
    return xml + "</DataSync>";
}

// A program folder with its Log/ and the pop-up's page, and a fresh user database per call.
class Folder {
public:
    Folder()
        : path_(std::filesystem::temp_directory_path() /
                ("quorv-article-bench-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(path_ / "Log");
        std::ofstream(path_ / "default.htm") << "<html><head><script type=\"text/tiscript\">"
                                                "function BandArticleSyncMessage(sync) {}</script></head>"
                                                "<body></body></html>";
        g_Config.m_config.binDir = text::FromUtf8(path_.string());
        g_Config.m_config.articleSyncPage = text::FromUtf8((path_ / "default.htm").string());
        g_Config.m_config.singleArticlePage = g_Config.m_config.articleSyncPage;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    void FreshDatabase() {
        const auto file = path_ / ("user" + std::to_string(++count_) + ".db");
        MakeDefaultDatabase(file);
        g_Config.m_config.userDBName = text::FromUtf8(file.string());
        // In WAL mode, as the login leaves a user database.
        CSqliteDB db;
        db.open(g_Config.m_config.userDBName);
        db.useWriteAheadLog();
    }

private:
    std::filesystem::path path_;
    int count_ = 0;
};

// Pages through the pop-up's articles until it closes, then ends the window threads.
void EndArticleWindow(benchmark::State& state) {
    if (const std::shared_ptr<CArticleMsgWin> window = g_pArticleMsgWin.load()) {
        bench::WaitFor(state, "the article pop-up's close", std::chrono::seconds(10), std::chrono::microseconds(0),
                       [&window] {
                           if (g_pArticleMsgWin.load() != window) return true;
                           window->ShowNextArticle();
                           return false;
                       });
    }
    for (int i = g_UiThreads.GetCount() - 1; i >= 0; --i) {
        g_UiThreads.WaitThread(g_UiThreads.GetThread(i), 3000);
        g_UiThreads.RemoveThread(i);
    }
}

void BM_ArticleSync(benchmark::State& state) {
    Folder folder;
    folder.FreshDatabase();
    CMyDatabase db;
    db.Init();
    g_pMyDatabase = &db;
    LoopbackHttpServer server;
    const std::string reply = SyncReply();
    server.OnRequest([&reply](const HttpRequest&) { return HttpReply::Xml(reply); });
    g_Config.m_config.HttpServiceAddr = text::FromUtf8(server.Url("/"));
    CArticle article;
    g_pArticle = &article;
    uie::value opening = uie::value::make_map();
    opening.set_item(uie::value(L"funcName"), uie::value(L"BandArticleSyncMessage"));
    if (!CArticleMsgWin::Deliver(g_Config.m_config.articleSyncPage, opening)) state.SkipWithError("no pop-up");
    std::vector<std::wstring> statements;
    for (int n = 1; n <= kArticles; ++n) statements.push_back(text::FromUtf8(Statement(n)));
    {
        CCommunication comm;  // its synchronisation threads end before what they use goes
        comm.SetLoginAccount(L"demo");
        bench::InTurns(
            state,
            [&] {
                folder.FreshDatabase();
                article.m_nMaxNo = 0;
                return bench::Seconds([&] {
                    return comm.QuestArticle_asyn(kArticles, 0, 0, 0) == 0 &&
                           bench::WaitFor(state, "the synchronisation's end", std::chrono::seconds(60),
                                          std::chrono::microseconds(200),
                                          [&comm] { return !comm.IsArticleSyncRunning(); }) &&
                           article.m_nMaxNo == kArticles;
                });
            },
            [&] {
                folder.FreshDatabase();
                return bench::Seconds([&] { return db.ExecSQLSet(statements, true) == 0; });
            },
            "the synchronisation or the same statements failed");
    }
    EndArticleWindow(state);
    g_pArticle = nullptr;
    g_pMyDatabase = nullptr;
    state.SetItemsProcessed(state.iterations() * kArticles);
}
BENCHMARK(BM_ArticleSync)->Unit(benchmark::kMillisecond)->UseManualTime()->Apply(bench::SteadyLong);

}  // namespace
