// The program's icon in the notification area, as far as the connection state goes:
// which of its icons it shows. No desktop shell draws it here.
#pragma once

#include <atomic>

#include "WinTypes.h"

class CTrayIcon {
public:
    static constexpr int kNormalIcon = 0;
    static constexpr int kOfflineIcon = 4;
    static constexpr int kNotifyModify = 1;  // show the current icon

    void SetIconIndex(int index) { m_nIconIndex = index; }
    int GetIconIndex() const { return m_nIconIndex.load(); }
    // Mode kNotifyModify shows the current icon; the icon shown is kept.
    void Notify(int mode);
    int GetShownIndex() const { return m_nShownIndex.load(); }

    // The icon's callback message (mouse message in lParam), as a window receives it.
    void OnNotify(WPARAM id, LPARAM mouseMsg);
    LPARAM GetLastNotify() const { return m_lastNotify.load(); }

private:
    std::atomic<int> m_nIconIndex{kNormalIcon};
    std::atomic<int> m_nShownIndex{kNormalIcon};
    std::atomic<LPARAM> m_lastNotify{0};
};

// Null until the main frame makes the icon.
extern CTrayIcon* g_pTrayIcon;
