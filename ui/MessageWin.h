// The message pop-up window: messages that the alerts, the self-tests and the public
// messages queue on it are handed to its page one after another; the text a server reply
// adds to an alert goes to that alert's message, queued or shown.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AdditionalText.h"
#include "NotificationWin.h"

class CMessageWin : public CNotificationWin {
public:
    // Runs in the thread that starts it (the main window's), hidden at start.
    explicit CMessageWin(const std::wstring& page);

    // From any thread: queues a copy of the message (a map, or an array holding one) and
    // has the window show it. The flag is not used.
    void AddMessage(const sciter::value& message, int flag = 1);
    // From any thread. 1 when a queued message with these "alertNo" and "no" takes the
    // text (as "additionalMessage"); else 0, and the text goes to the message shown
    // (page function "UpdateAlertMessage").
    int SetAdditionalMessage(int alertNo, int no, const std::wstring& text);
    // The text last meant for the message shown, if any.
    std::vector<AdditionalText> GetAdditionalMessages() const;

protected:
    // 0x803D the show step, 0x809D the added text to the page; result 0 (1 for 18).
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
    // The next message, or hidden when none is left.
    void CloseStep() override;

private:
    void ShowStep();
    void UpdateAlertMessage();

    // The queue and the added text. Never held while a page function runs: a page that
    // queues a message from inside its call must not wait for itself.
    mutable std::mutex m_lock;
    std::deque<sciter::value> m_messages;
    std::optional<AdditionalText> m_additional;
};

// Null until the main frame makes the message window.
// Published by the main frame once the window is made; read by any thread.
extern std::atomic<CMessageWin*> g_pMessageWin;
