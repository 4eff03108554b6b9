// The article synchronisation: articles reach the client over HTTP as an XML document
// whose rows are SQL statements; each kind is fetched on a short-lived thread of its
// own, applied to the user database and announced to the windows.
#include <tinyxml.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "Communication.h"

#include "ArticleMsgWin.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "FloatBarWin.h"
#include "Hooks.h"
#include "HttpClient.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"
#include "XmlGuard.h"
#include "article.h"
#include "focusArticle.h"

namespace {

constexpr int kFocus = 0;
constexpr int kSubscription = 1;
constexpr int kAttempts = 3;
constexpr std::chrono::milliseconds kLeastRetry{1000};
constexpr char kSyncPath[] = "DataSync/BussDataSync.aspx";
constexpr char kInsert[] = "insert into";  // case as it stands: "INSERT INTO" is not counted
// A root and its rows, refused unread past them: the parser recurses per level, checks
// each attribute of an element against all before it, and keeps some 230 bytes an element.
// A server's root carries eight attributes, more where a web service adds its namespaces,
// and a row one: a few dozen bound the check as well. A hundred thousand rows are fifty
// times the 2,000 articles of a large synchronisation, or a whole 16 MB reply of rows of
// about 170 bytes.
constexpr XmlBounds kReplyBounds{2, 32, 100000};
// A reply refused by a bound would be refused again: after each refusal in a row its kind
// waits twice as long before the keep-alive asks again, from two minutes up to four hours.
constexpr DWORD kFirstRetryMs = 2 * 60 * 1000;
constexpr DWORD kLastRetryMs = 4 * 60 * 60 * 1000;
// A failed reply's copy is for reading, and up to a hundred names per kind may stay.
constexpr std::size_t kCopyBytes = 256 * 1024;

struct ArticleKind {
    const char* bussID;
    const wchar_t* table;  // the one table its rows may write
    const wchar_t* starter;  // names the start in log lines
    CArticleStream* (*stream)();
    DWORD waitMs;  // after the object's check tick
    int syncType;  // as the article pop-up's page knows the kinds
    void (CMainFrame::*bandPost)();
};

const ArticleKind kKinds[] = {
    {"syndata_focusArticle", L"tFocusArticle", L"CCommunication::QuestFocusArticle_asyn",
     [] { return static_cast<CArticleStream*>(g_pFocusArticle); }, 20000, 1, &CMainFrame::PostBandArticleFocus},
    {"syndata_article", L"tArticle", L"CCommunication::QuestArticle_asyn",
     [] { return static_cast<CArticleStream*>(g_pArticle); }, 15000, 2, &CMainFrame::PostBandArticle},
};

const ArticleKind* KindOf(const std::string& bussID) {
    for (const ArticleKind& kind : kKinds)
        if (bussID == kind.bussID) return &kind;
    return nullptr;
}

DWORD RetryWaitMs(int refusals) {
    DWORD wait = kFirstRetryMs;
    for (int i = 1; i < refusals && wait < kLastRetryMs; ++i) wait *= 2;
    return std::min(wait, kLastRetryMs);
}

// The kind's name as log lines show it.
std::wstring KindName(const std::string& bussID) { return text::FromAnsi(bussID); }

// One copy per kind in flight, so the name cannot clash; failed copies stay, at most 100.
std::filesystem::path CopyFilePath(const std::string& bussID) {
    return std::filesystem::path(text::ToUtf8(g_Config.m_config.binDir)) / "Log" /
           ("ParseHttpSyncXmlData" + bussID + std::to_string(GetTickCount() % 100));
}

bool WriteCopy(const std::filesystem::path& path, const std::string& reply) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reply.data(), static_cast<std::streamsize>(std::min(reply.size(), kCopyBytes)));
    return static_cast<bool>(out.flush());
}

// The statements of the rows, in document order; rows without "sql" are skipped.
std::vector<std::wstring> RowStatements(const TiXmlElement& root, int& inserts) {
    std::vector<std::wstring> statements;
    for (const TiXmlElement* row = root.FirstChildElement(); row != nullptr; row = row->NextSiblingElement()) {
        const char* sql = row->Attribute("sql");
        if (sql == nullptr || *sql == '\0') continue;
        if (std::strncmp(sql, kInsert, sizeof kInsert - 1) == 0) ++inserts;
        // Straight to wide text: a round trip through GBK loses what GBK lacks.
        statements.push_back(text::FromUtf8(sql));
    }
    return statements;
}

void TellArticleWindows() {
    if (g_pMainFrame != nullptr) {
        g_pMainFrame->PostHomePageArticleToday();
        g_pMainFrame->PostArticleNewArticleSummary();
        g_pMainFrame->PostBandArticleFocus();
    }
    CFloatBarWin* bar = g_pFloatBarWin;
    CPopWin* navigation = bar != nullptr ? bar->GetPopup(CFloatBarWin::kNavigate) : nullptr;
    if (navigation != nullptr) navigation->PostFloatNavigationArticle();
}

// The value the article pop-up hands its page.
uie::value SyncNotice(const struHttpQuestThreadPara& para, int inserts) {
    uie::value notice = records::MakeObject({{L"funcName", uie::value(L"BandArticleSyncMessage")},
                                             // The program's one pop-up; it is made, when missing,
                                             // only as this value is delivered.
                                             {L"ID", uie::value(1)}});
    if (const ArticleKind* kind = KindOf(para.bussID))
        notice.set_item(uie::value(L"syncType"), uie::value(kind->syncType));
    notice.set_item(uie::value(L"minNo"), uie::value(para.minNo));
    notice.set_item(uie::value(L"maxNo"), uie::value(para.maxNo));
    notice.set_item(uie::value(L"insertRecCount"), uie::value(inserts));
    return notice;
}

}  // namespace

// ---- starting ------------------------------------------------------------------------

void CCommunication::ArticleSyncSlot::Join() {
    threadwait::Thread ending;
    {
        std::lock_guard lock(threadLock);
        ending = std::move(thread);
    }
    ending.Join();  // outside the lock: the wait serves what is sent to this thread's windows
}

bool CCommunication::IsArticleSyncRunning() const {
    for (const ArticleSyncSlot& slot : m_articleSyncs)
        if (slot.running) return true;
    return false;
}

int CCommunication::StartArticleSync(int kind, const struHttpQuestThreadPara& para) {
    ArticleSyncSlot& slot = m_articleSyncs[static_cast<std::size_t>(kind)];
    // One at a time per kind: a dead server would otherwise pile up a thread per keep-alive.
    bool idle = false;
    if (!slot.running.compare_exchange_strong(idle, true)) return -1;
    slot.Join();  // the last one has ended its work
    std::lock_guard lock(slot.threadLock);
    const wchar_t* const starter = kKinds[kind].starter;
    try {
        slot.thread = threadwait::Thread([this, para, &slot] {
            RunArticleSync(para);
            slot.running = false;
        });
        return 0;
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, starter, L"new struHttpQuestThreadPara!!!");
    } catch (const std::system_error&) {
        LOGF(LOG_ERROR, starter, L"CreateThread fail!!!");
    }
    slot.running = false;
    return -1;
}

void CCommunication::RunArticleSync(const struHttpQuestThreadPara& para) {
    // Nothing may leave the thread: an escaped exception ends the program, and the next
    // start would fetch the same reply again.
    try {
        HttpQuestThread_article(para);
    } catch (const std::exception& e) {
        LogSyncException(para, e.what());
    } catch (...) {
        LogSyncException(para, "unknown");
    }
}

void CCommunication::LogSyncException(const struHttpQuestThreadPara& para, const char* what) noexcept {
    try {
        LOGF(LOG_ERROR, L"CCommunication::HttpQuestThread_article", L"[%s] exception[%s]: the sync ends with -1",
             KindName(para.bussID).c_str(), text::FromUtf8(what).c_str());
    } catch (...) {
        // Out of memory even for the line: the sync has ended all the same.
    }
}

int CCommunication::QuestArticle_asyn(int maxNo, int minNo, int maxDeletedRecNo, int minDeletedRecNo) {
    return StartArticleSync(kSubscription,
                            {kKinds[kSubscription].bussID, minNo, maxNo, minDeletedRecNo, maxDeletedRecNo});
}

int CCommunication::QuestFocusArticle_asyn(int maxNo, int minNo, int maxDeletedRecNo, int minDeletedRecNo) {
    return StartArticleSync(kFocus, {kKinds[kFocus].bussID, minNo, maxNo, minDeletedRecNo, maxDeletedRecNo});
}

void CCommunication::QuestNewArticles(int focusMaxNo, int articleMaxNo, int focusMaxDeletedRecNo,
                                      int articleMaxDeletedRecNo) {
    const int serverMax[] = {focusMaxNo, articleMaxNo};
    const int serverDeleted[] = {focusMaxDeletedRecNo, articleMaxDeletedRecNo};
    for (int kind : {kFocus, kSubscription}) {
        const CArticleStream* stream = kKinds[kind].stream();
        if (stream == nullptr) continue;
        const int maxNo = serverMax[kind];
        const int deleted = serverDeleted[kind];
        const int heldNo = stream->m_nMaxNo;
        const int heldDeleted = stream->m_nMaxDeletedRecNo;
        const bool behind = (maxNo > 0 && maxNo > heldNo) || (deleted > 0 && deleted > heldDeleted);
        const ArticleSyncSlot& slot = m_articleSyncs[static_cast<std::size_t>(kind)];
        const int refusals = slot.refusals;
        const bool waiting = refusals > 0 && GetTickCount() - slot.refusedTick < RetryWaitMs(refusals);
        if (behind && !waiting && GetTickCount() - stream->GetCheckTick() > kKinds[kind].waitMs)
            StartArticleSync(kind, {kKinds[kind].bussID, heldNo, maxNo, heldDeleted, deleted});
    }
}

// ---- one synchronisation -------------------------------------------------------------

std::string CCommunication::HttpSyncUrl(const std::wstring& serviceAddr) {
    if (serviceAddr.empty()) return {};
    std::string url = text::ToAnsi(serviceAddr);
    if (serviceAddr.back() == L'/') url += kSyncPath;
    return url;
}

std::string CCommunication::HttpSyncBody(const struHttpQuestThreadPara& para) const {
    const auto value = [](std::string_view v) { return CHttpClient::EscapeFormValue(v); };
    return "bussID=" + value(para.bussID) + "&loginAccount=" + value(text::ToAnsi(GetLoginAccount())) +
           "&loginPassword=" + value(text::ToAnsi(GetLoginPassword())) + "&minNo=" + std::to_string(para.minNo) +
           "&maxNo=" + std::to_string(para.maxNo) + "&minDeletedRecNo=" + std::to_string(para.minDeletedRecNo) +
           "&maxDeletedRecNo=" + std::to_string(para.maxDeletedRecNo);
}

int CCommunication::HttpQuestThread_article(const struHttpQuestThreadPara& para) {
    constexpr const wchar_t* kFn = L"CCommunication::HttpQuestThread_article";
    const std::string url = HttpSyncUrl(g_Config.m_config.HttpServiceAddr);
    if (url.empty()) {
        LOGF(LOG_WARNING, kFn, L"[%s] not synchronised: HttpServiceAddr is empty", KindName(para.bussID).c_str());
        return 0;
    }
    CHttpClient client;
    if (client.Init() != 0) {
        LOGF(LOG_ERROR, kFn, L"[%s] no HTTP handle", KindName(para.bussID).c_str());
        return 0;
    }
    client.m_nConnectTimeout = m_nHttpConnectTimeout;
    client.m_nStallTime = m_nHttpStallTime;
    client.m_nMinRate = m_nHttpMinRate;
    const std::string body = HttpSyncBody(para);
    std::string reply;
    int result = -1;
    // The attempts share the transfer's bound: a server that answers each one slowly holds
    // the sync no longer than one slow reply would.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_nHttpTimeout.load());
    int attempts = 0;
    while (attempts < kAttempts && result != 0 && g_nRunState != 4) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // What is left of a spent bound could not fetch a reply: no attempt on it.
        if (left.count() <= 0 || (attempts > 0 && left < kLeastRetry)) break;
        client.m_nTimeoutMs = static_cast<int>(left.count());
        reply.clear();  // a failed attempt's part must not stand in front of the next reply
        result = client.Request(url, body, &reply);
        ++attempts;
    }
    if (result != 0) {
        // Which limit ended the transfer: the cap, or libcurl's time-outs in its own words.
        const std::wstring why = result == CURLE_FILESIZE_EXCEEDED
                                     ? L"the reply passed its cap of " + std::to_wstring(client.m_nMaxReplyBytes) +
                                           L" bytes"
                                     : text::FromUtf8(client.LastError());
        LOGF(LOG_WARNING, kFn, L"[%s] %s failed %d times, last result %d%s%s", KindName(para.bussID).c_str(),
             text::FromAnsi(url).c_str(), attempts, result, why.empty() ? L"" : L": ", why.c_str());
        // A reply past a bound, not a server out of reach: the cap, or the time for one
        // that came too slowly.
        const bool bounded = result == CURLE_FILESIZE_EXCEEDED ||
                             (result == CURLE_OPERATION_TIMEDOUT && client.ReceivedBytes() > 0);
        if (bounded) NoteSyncOutcome(para, false);
        return 0;
    }
    bool applied = false;
    const int parsed = ParseHttpSyncXmlData(para, reply, &applied);
    LOGF(LOG_MESSAGE, kFn, L"ParseHttpSyncXmlData[%s]=%d", KindName(para.bussID).c_str(), parsed);
    // Applied rows move the marks on even when the pop-up failed, or the next
    // synchronisation would fail on their keys.
    if (parsed == 0 || applied) AdvanceArticleMarks(para);
    NoteSyncOutcome(para, parsed == 0 || applied);
    return 0;
}

void CCommunication::NoteSyncOutcome(const struHttpQuestThreadPara& para, bool applied) {
    const ArticleKind* kind = KindOf(para.bussID);
    if (kind == nullptr) return;
    ArticleSyncSlot& slot = m_articleSyncs[static_cast<std::size_t>(kind - kKinds)];
    if (applied) {
        slot.refusals = 0;
        return;
    }
    slot.refusedTick = GetTickCount();
    const int refusals = ++slot.refusals;
    const DWORD waitSeconds = RetryWaitMs(refusals) / 1000;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const DWORD at = (now.wHour * 3600u + now.wMinute * 60u + now.wSecond + waitSeconds) % (24 * 3600);
    LOGF(LOG_WARNING, L"CCommunication::HttpQuestThread_article",
         L"[%s] reply refused %d times in a row: asked for again in %u s, at %02u:%02u:%02u",
         KindName(para.bussID).c_str(), refusals, waitSeconds, at / 3600, at / 60 % 60, at % 60);
}

void CCommunication::AdvanceArticleMarks(const struHttpQuestThreadPara& para) {
    const ArticleKind* kind = KindOf(para.bussID);
    CArticleStream* stream = kind != nullptr ? kind->stream() : nullptr;
    if (stream == nullptr) return;
    stream->m_nMaxNo = para.maxNo;
    if (stream->m_nMaxDeletedRecNo != para.maxDeletedRecNo) {
        stream->m_nMaxDeletedRecNo = para.maxDeletedRecNo;
        stream->SaveDeletedRecNo();
    }
    if (g_pMainFrame != nullptr) (g_pMainFrame->*kind->bandPost)();
}

int CCommunication::ReadHttpSyncXmlData(const std::string& reply, std::vector<std::wstring>& statements,
                                        int& inserts) {
    statements.clear();
    inserts = 0;
    if (const std::string refusal = XmlRefusal(reply, kReplyBounds); !refusal.empty()) {
        LOGF(LOG_WARNING, L"CCommunication::ParseHttpSyncXmlData", L"reply of %u bytes refused: %s",
             static_cast<unsigned>(reply.size()), text::FromUtf8(refusal).c_str());
        return -2;
    }
    TiXmlDocument document;
    // The rows' statements are UTF-8 whatever the document declares.
    document.Parse(XmlParserText(reply).c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = document.RootElement();
    if (document.Error() || root == nullptr) return -2;
    if (root->Attribute("bussID") == nullptr) return -1;
    int retCode = 0;
    root->QueryIntAttribute("retCode", &retCode);
    if (retCode < 0) return -2;
    statements = RowStatements(*root, inserts);
    return 0;
}

int CCommunication::ParseHttpSyncXmlData(const struHttpQuestThreadPara& para, const std::string& reply,
                                         bool* applied) {
    constexpr const wchar_t* kFn = L"CCommunication::ParseHttpSyncXmlData";
    if (applied != nullptr) *applied = false;
    try {
        const std::filesystem::path copy = CopyFilePath(para.bussID);
        if (!WriteCopy(copy, reply)) return -1;
        std::vector<std::wstring> statements;
        int inserts = 0;
        if (const int read = ReadHttpSyncXmlData(reply, statements, inserts); read != 0) return read;
        if (!statements.empty()) {
            // One transaction: a failing row leaves none of the others applied.
            // Rows from the wire may only change the rows of their kind's articles.
            const ArticleKind* kind = KindOf(para.bussID);
            const int result = g_pMyDatabase != nullptr && kind != nullptr
                                   ? g_pMyDatabase->ExecSQLSet(statements, true, SqlScope::RowsOf(kind->table))
                                   : -1;
            if (result < 0) {
                LOGF(LOG_WARNING, kFn, L"ExecSQLSet:[%d][%s]", result, statements.front().c_str());
                return result;
            }
            if (applied != nullptr) *applied = true;
            TellArticleWindows();
            const std::wstring& page =
                inserts == 1 ? g_Config.m_config.singleArticlePage : g_Config.m_config.articleSyncPage;
            if (inserts > 0 && !CArticleMsgWin::Deliver(page, SyncNotice(para, inserts))) {
                LOGF(LOG_ERROR, kFn, L"g_pMessageWin == NULL!!!");
                return -1;
            }
        }
        std::error_code ignored;
        std::filesystem::remove(copy, ignored);
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}
