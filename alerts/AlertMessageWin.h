// The alert pop-up window: the alerts that fall due, shown one at a time at the
// bottom-right corner; the shown one stays queued until it is closed or answered. The
// text a server reply adds to an alert goes to that alert, queued or shown.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AdditionalText.h"
#include "NotificationWin.h"

class CAlertMessageWin : public CNotificationWin {
public:
    static constexpr UINT_PTR kFadeTimer = 70;
    static constexpr int kFadeStep = 25;

    // Runs in the thread that starts it (the main window's), hidden at start.
    CAlertMessageWin();

    // From any thread: queues a copy of the alert (a map) and has the window show the
    // front of the queue. The flag is not used.
    void AddAlert(const sciter::value& alert, int flag = 1);
    // From any thread: the shown alert leaves the queue; the next is shown, or the
    // window hides when none is left.
    void ShowNext();
    // From any thread: the shown alert to the page again; the queue is unchanged.
    void ShowAgain() { PostCommand(ID_CMD_ALERTMSGWIN_SHOW); }
    // From any thread. 1 when a queued alert with these "alertNo" and "no" takes the text
    // (as "additionalMessage"; the alert on show is drawn again with it); else 0, and the
    // text goes to the page as it stands (page function "UpdateAlertMessage").
    int SetAdditionalMessage(int alertNo, int no, const std::wstring& text);
    // The text last meant for the alert shown, if any.
    std::vector<AdditionalText> GetAdditionalMessages() const;
    // Copies, front (shown) first.
    std::vector<sciter::value> GetQueue() const;

protected:
    // 2 (drag) over the element "caption", else 1.
    LRESULT OnHitTest(int x, int y) override;
    void Init() override;
    // A click on the close element shows the next alert; every event counts as handled.
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;
    // 0x803B the front to the page, 0x809D the added text; result 0 (1 for 18).
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // Timer 70 only: a fade that nothing arms; it stops unless its total is a positive
    // multiple of the step, so the step always meets it.
    LRESULT OnTimer(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    void CloseStep() override { ShowNext(); }

private:
    void ShowFront();
    void UpdateAlertMessage();

    // The queue and the added text. Never held while a page function runs: a page that
    // answers an alert from inside its call must not wait for itself.
    mutable std::mutex m_lock;
    std::deque<sciter::value> m_alerts;
    std::optional<AdditionalText> m_additional;
    // Bound by Init on the window's thread, read only there.
    dom::element m_caption;
    dom::element m_close;
    // The window's thread only.
    int m_fadeStep = 0;
    int m_fadeTotal = 0;
};

// Null until the alert pop-up exists.
// Published by the main frame once the window is made; read by any thread.
extern std::atomic<CAlertMessageWin*> g_pAlertMessageWin;
