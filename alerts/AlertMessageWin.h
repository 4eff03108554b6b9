// The alert pop-up window: today's alerts as they fall due, and the texts that replies
// add to them.
#pragma once

#include <string>
#include <vector>

#include "MessageWin.h"
#include "SciterWindow.h"

class CAlertMessageWin : public CSciterWindow {
public:
    // Runs in the thread that starts it (the main window's), hidden at start.
    CAlertMessageWin();

    // Holds the text a reply adds to the alert (alertNo, no); 1.
    int SetAdditionalMessage(int alertNo, int no, const std::wstring& text);
    std::vector<AdditionalText> GetAdditionalMessages() const { return m_additional.Get(); }

private:
    AdditionalTexts m_additional;
};

// Null until the alert pop-up exists.
extern CAlertMessageWin* g_pAlertMessageWin;
