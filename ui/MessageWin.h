// The message pop-up window: queued messages shown one after another, and the texts
// that replies add to alert messages.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "SciterWindow.h"

struct AdditionalText {
    int alertNo;
    int no;
    std::wstring text;
};

// The texts replies add to alerts, kept by the window that shows those alerts; any thread.
class AdditionalTexts {
public:
    void Add(int alertNo, int no, const std::wstring& text);
    std::vector<AdditionalText> Get() const;

private:
    mutable std::mutex m_lock;
    std::vector<AdditionalText> m_texts;
};

class CMessageWin : public CSciterWindow {
public:
    // Runs in the thread that starts it (the main window's), hidden at start.
    explicit CMessageWin(const std::wstring& page);

    // Keeps the text a reply adds to the alert message (alertNo, no).
    int SetAdditionalMessage(int alertNo, int no, const std::wstring& text);
    std::vector<AdditionalText> GetAdditionalMessages() const { return m_additional.Get(); }

private:
    AdditionalTexts m_additional;
};

// Null until the main frame makes the message window.
extern CMessageWin* g_pMessageWin;
