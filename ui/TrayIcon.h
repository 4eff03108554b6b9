// The program's icon in the notification area: its tooltip and balloons, the blinking
// while alerts wait, the offline icon, and the mouse on it (the main window back, the
// tray menu). It belongs to the main window, whose thread makes every call except
// SetBlink (the alert thread) and the offline refresh (the socket thread).
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "Shell.h"
#include "Window.h"

class CTrayIcon {
public:
    static constexpr int kIconCount = 5;
    static constexpr int kNormalIcon = 0;
    static constexpr int kBlinkIcons = 4;  // 0 to 3 take turns while blinking
    static constexpr int kOfflineIcon = 4;
    static constexpr int kNotifyAdd = 0;     // add the icon, normal
    static constexpr int kNotifyModify = 1;  // show the current icon
    static constexpr int kNotifyDelete = 2;  // remove the icon
    static constexpr UINT kIconId = 1;       // the icon's id towards the shell
    static constexpr UINT_PTR kBlinkTimer = 1;
    static constexpr UINT kBlinkMs = 500;
    static constexpr WORD kMenuId = 109;

    // Loads the five icons, then as Attach.
    void Create(HINSTANCE instance, HWND owner);
    // Normal icon, not blinking; with an owner the icon is added and the owner's blink
    // timer armed.
    void Attach(HINSTANCE instance, HWND owner);
    HWND GetOwner() const { return m_hOwner.load(); }

    // An index outside 0-4 is ignored.
    void SetIconIndex(int index);
    int GetIconIndex() const { return m_nIconIndex.load(); }
    // Adds, changes or removes the icon (the modes above); the owner's small icon follows.
    void Notify(int mode);
    // The index last handed to the shell.
    int GetShownIndex() const { return m_nShownIndex.load(); }
    bool IsAdded() const;

    // Only while the setting ShowMessageBox is on; switched off, the icon is restored at once.
    void SetBlink(bool on);
    bool GetBlink() const { return m_bBlink.load(); }
    // The normal icon, or the offline one while the server cannot be reached.
    void RestoreIcon();
    // The balloon's title and text are cut to 63 and 255 characters.
    void ShowBalloon(const std::wstring& title, const std::wstring& text, const std::wstring& tip = L"");
    std::wstring GetBalloonTitle() const;
    std::wstring GetBalloonText() const;

    // The owner's blink timer: the next icon of the cycle while blinking.
    void OnTimer();
    int GetTimerTicks() const { return m_nTimerTicks.load(); }
    // The icon's callback message (mouse message in lParam), on the owner's thread; 0.
    LRESULT OnNotify(WPARAM id, LPARAM mouseMsg);

private:
    // Hands the icon of `index` to the shell; the icon handed, for the owner window.
    HICON UpdateShell(DWORD message, int index);
    void SetOwnerIcon(HICON icon);
    void ShowMenu();

    std::atomic<HINSTANCE> m_hInstance{nullptr};
    std::atomic<HWND> m_hOwner{nullptr};
    std::array<std::atomic<HICON>, kIconCount> m_hIcons{};
    std::atomic<int> m_nIconIndex{kNormalIcon};
    std::atomic<int> m_nShownIndex{kNormalIcon};
    std::atomic<bool> m_bBlink{false};
    std::atomic<int> m_nTimerTicks{0};
    // One shell change at a time, so a blink step never lands after a restore.
    std::mutex m_lock;
};

// Null until the main frame makes the icon.
// Published by the main frame once the icon is added; read by any thread.
extern std::atomic<CTrayIcon*> g_pTrayIcon;
