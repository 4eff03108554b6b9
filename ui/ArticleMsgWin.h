// The article notification window: newly synchronised articles shown one after another,
// on a thread of its own. It is made when articles arrive and ends itself once the user
// has closed the last one; the next article makes a new window.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "NotificationWin.h"

class CArticleMsgWin : public CNotificationWin, public std::enable_shared_from_this<CArticleMsgWin> {
public:
    // Runs on a thread of its own, hidden until it shows an article.
    explicit CArticleMsgWin(const std::wstring& page);

    // From any thread: queues the article on the article window, first making the window
    // on the page given (and waiting until it is up) when there is none. False when no
    // window could be made.
    static bool Deliver(const std::wstring& page, const sciter::value& article);

    // From any thread: queues a copy; the first is shown at once, or once the window is
    // made. False when the window is ending and did not take it. The flag is not used.
    bool AddArticle(const sciter::value& article, int flag = 1);
    // The close step, from any thread: the shown article goes and the next is shown;
    // without one the window hides, leaves g_pArticleMsgWin and ends its thread.
    void ShowNextArticle();

protected:
    void Init() override;
    // 0x803D the show step; 18 ends the window and its thread.
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    void CloseStep() override { ShowNextArticle(); }

private:
    static std::shared_ptr<CArticleMsgWin> Open(const std::wstring& page);
    void ShowStep();

    std::mutex m_lock;  // the queue and the ending flag
    std::deque<sciter::value> m_articles;
    bool m_bEnding = false;
};

// The window while it takes articles; null when there is none. Whoever uses it holds the
// pointer it loaded, so the window is never deleted under a caller.
extern std::atomic<std::shared_ptr<CArticleMsgWin>> g_pArticleMsgWin;
