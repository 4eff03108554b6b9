#include "ArticleMsgWin.h"

#include <new>
#include <optional>
#include <vector>

#include "CxLog.h"
#include "Hooks.h"
#include "Quorvix.h"
#include "UiThreadManager.h"

std::atomic<std::shared_ptr<CArticleMsgWin>> g_pArticleMsgWin;

namespace {

constexpr DWORD kReadyPollMs = 10;
// A page that has not loaded by then counts as failed, so a sync never waits for ever.
constexpr DWORD kReadyLimitMs = 30000;

// The window's own hold on itself, dropped when its thread ends: by then its loop has let
// go of the object, so the last holder may delete it wherever it is.
thread_local std::shared_ptr<CArticleMsgWin> t_window;

// Windows that did not become ready, kept until their thread ends: that thread may still
// use its object. Only Deliver's caller, one at a time, touches the list.
std::vector<std::shared_ptr<CArticleMsgWin>>& Unready() {
    static std::vector<std::shared_ptr<CArticleMsgWin>> windows;
    return windows;
}

}  // namespace

CArticleMsgWin::CArticleMsgWin(const std::wstring& page) : CNotificationWin(L"ArticleMsgWin", page) {
    m_cs.ownThread = true;
}

bool CArticleMsgWin::Deliver(const std::wstring& page, const sciter::value& article) {
    // One window made at a time; a second try covers a window that was just ending.
    static std::mutex opening;
    std::lock_guard lock(opening);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<CArticleMsgWin> window = g_pArticleMsgWin.load();
        if (!window) window = Open(page);
        if (!window) return false;
        if (window->AddArticle(article)) return true;
    }
    return false;
}

std::shared_ptr<CArticleMsgWin> CArticleMsgWin::Open(const std::wstring& page) {
    std::shared_ptr<CArticleMsgWin> window;
    try {
        window = std::make_shared<CArticleMsgWin>(page);
    } catch (const std::bad_alloc&) {
        LOGF(LOG_ERROR, L"CArticleMsgWin::Open", L"g_pArticleMsgWin == NULL!!!");
        return nullptr;
    }
    std::erase_if(Unready(), [](const auto& w) { return g_UiThreads.WaitThread(w->m_cs.hThread, 0); });
    if (window->Start() != 0) return nullptr;
    // A window whose page failed ends its thread instead of becoming ready.
    const DWORD start = GetTickCount();
    while (window->GetState() != kStateReady) {
        const bool ended = g_UiThreads.WaitThread(window->m_cs.hThread, kReadyPollMs);
        if (ended || g_nRunState == 4 || GetTickCount() - start >= kReadyLimitMs) {
            LOGF(LOG_ERROR, L"CArticleMsgWin::Open", L"ArticleMsgWin[%s] not ready", page.c_str());
            if (!ended) Unready().push_back(std::move(window));
            return nullptr;
        }
    }
    g_pArticleMsgWin.store(window);
    return window;
}

void CArticleMsgWin::Init() {
    if (m_cs.ownThread) t_window = weak_from_this().lock();
    CNotificationWin::Init();
}

bool CArticleMsgWin::AddArticle(const sciter::value& article, int) {
    bool first = false;
    {
        std::lock_guard lock(m_lock);
        if (m_bEnding) return false;
        m_articles.push_back(article);
        first = m_articles.size() == 1;
    }
    if (first) PostShowCommand(ID_CMD_MESSAGEWIN_SHOW);
    return true;
}

void CArticleMsgWin::ShowNextArticle() {
    bool ending = false;
    {
        std::lock_guard lock(m_lock);
        if (m_bEnding) return;
        if (!m_articles.empty()) m_articles.pop_front();
        if (m_articles.empty()) {
            // Leaves the global while no article can come in, so no deliverer finds it ending.
            m_bEnding = ending = true;
            std::shared_ptr<CArticleMsgWin> self = weak_from_this().lock();
            if (self) g_pArticleMsgWin.compare_exchange_strong(self, nullptr);
        }
    }
    // Posted, never done here: the engine's click or a page's close call is still running.
    if (!ending) {
        PostCommand(ID_CMD_MESSAGEWIN_SHOW);
        return;
    }
    ShowWindow(GetHwnd(), SW_HIDE);
    PostCommand(ID_CMD_DESTROY_WINDOW);
}

LRESULT CArticleMsgWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_MESSAGEWIN_SHOW) {
        ShowStep();
        return 0;
    }
    // Command 18 destroys the window, whose procedure then ends the thread's loop.
    return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
}

void CArticleMsgWin::ShowStep() {
    std::optional<sciter::value> front;
    {
        std::lock_guard lock(m_lock);
        if (!m_articles.empty()) front = m_articles.front();
    }
    if (!front) {
        ShowWindow(GetHwnd(), SW_HIDE);
        return;
    }
    CallItemFunction(*front, L"BandArticleSyncMessage");
    ShowUnlessFullScreen();
}
