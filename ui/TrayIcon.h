// The program's icon in the notification area: which icon it shows, its balloon and
// whether it blinks. No desktop shell draws it here; the state is kept for whoever reads it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "Window.h"

class CTrayIcon {
public:
    static constexpr int kNormalIcon = 0;
    static constexpr int kOfflineIcon = 4;
    static constexpr int kNotifyAdd = 0;     // add the icon, normal
    static constexpr int kNotifyModify = 1;  // show the current icon
    static constexpr int kNotifyDelete = 2;  // remove the icon

    // The icon of the owner window (the main window) and the module.
    void Create(HINSTANCE instance, HWND owner);
    HWND GetOwner() const { return m_hOwner.load(); }

    void SetIconIndex(int index) { m_nIconIndex = index; }
    int GetIconIndex() const { return m_nIconIndex.load(); }
    void Notify(int mode);
    int GetShownIndex() const { return m_nShownIndex.load(); }
    bool IsAdded() const { return m_bAdded.load(); }

    void SetBlink(int on) { m_nBlink = on; }
    int GetBlink() const { return m_nBlink.load(); }
    void ShowBalloon(const std::wstring& title, const std::wstring& text);
    std::wstring GetBalloonTitle() const;
    std::wstring GetBalloonText() const;
    // The owner's blink timer.
    void OnTimer() { ++m_nTimerTicks; }
    int GetTimerTicks() const { return m_nTimerTicks.load(); }

    // The icon's callback message (mouse message in lParam), as a window receives it.
    void OnNotify(WPARAM id, LPARAM mouseMsg);
    LPARAM GetLastNotify() const { return m_lastNotify.load(); }

private:
    std::atomic<HINSTANCE> m_hInstance{nullptr};
    std::atomic<HWND> m_hOwner{nullptr};
    std::atomic<int> m_nIconIndex{kNormalIcon};
    std::atomic<int> m_nShownIndex{kNormalIcon};
    std::atomic<bool> m_bAdded{false};
    std::atomic<int> m_nBlink{0};
    std::atomic<int> m_nTimerTicks{0};
    std::atomic<LPARAM> m_lastNotify{0};
    mutable std::mutex m_balloonLock;
    std::wstring m_balloonTitle;
    std::wstring m_balloonText;
};

// Null until the main frame makes the icon.
extern CTrayIcon* g_pTrayIcon;
