#include "TrayIcon.h"

#include <iterator>

#include "AlertExpiredWin.h"
#include "CommandIds.h"
#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "Text.h"

std::atomic<CTrayIcon*> g_pTrayIcon{nullptr};

namespace {

// Index 0 the normal icon, 0 to 3 the blink cycle, 4 offline.
constexpr WORD kIconResources[CTrayIcon::kIconCount] = {143, 130, 131, 132, 135};
constexpr UINT kBalloonMs = 10000;

}  // namespace

void CTrayIcon::Create(HINSTANCE instance, HWND owner) {
    for (std::size_t i = 0; i < m_hIcons.size(); ++i) {
        m_hIcons[i] = LoadIconW(instance, MAKEINTRESOURCEW(kIconResources[i]));
    }
    Attach(instance, owner);
}

void CTrayIcon::Attach(HINSTANCE instance, HWND owner) {
    m_hInstance = instance;
    m_hOwner = owner;
    m_nIconIndex = kNormalIcon;
    m_bBlink = false;
    if (owner == nullptr) return;
    Notify(kNotifyAdd);
    SetTimer(owner, kBlinkTimer, kBlinkMs, nullptr);
}

void CTrayIcon::SetIconIndex(int index) {
    if (index >= 0 && index < kIconCount) m_nIconIndex = index;
}

HICON CTrayIcon::UpdateShell(DWORD message, int index) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hOwner;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON_NOTIFY;
    data.hIcon = m_hIcons[static_cast<std::size_t>(index)];
    text::CopyW(data.szTip, std::size(data.szTip), g_Config.m_config.trayIconHint);
    Shell_NotifyIconW(message, &data);
    if (message != NIM_DELETE) m_nShownIndex = index;
    return data.hIcon;
}

void CTrayIcon::SetOwnerIcon(HICON icon) {
    const HWND owner = m_hOwner;
    if (owner == nullptr) return;
    const auto lParam = reinterpret_cast<LPARAM>(icon);
    // The alert and socket threads post: they never wait for the main window's thread.
    if (GetWindowThreadProcessId(owner, nullptr) == GetCurrentThreadId()) {
        SendMessageW(owner, WM_SETICON, ICON_SMALL, lParam);
    } else {
        PostMessageW(owner, WM_SETICON, ICON_SMALL, lParam);
    }
}

void CTrayIcon::Notify(int mode) {
    HICON icon = nullptr;
    {
        std::lock_guard lock(m_lock);
        switch (mode) {
        case kNotifyAdd:
            icon = UpdateShell(NIM_ADD, kNormalIcon);
            break;
        case kNotifyModify:
            icon = UpdateShell(NIM_MODIFY, m_nIconIndex);
            break;
        case kNotifyDelete:
            icon = UpdateShell(NIM_DELETE, m_nShownIndex);
            break;
        default:
            return;
        }
    }
    SetOwnerIcon(icon);
}

bool CTrayIcon::IsAdded() const { return GetNotifyIconState(m_hOwner, kIconId, nullptr); }

void CTrayIcon::SetBlink(bool on) {
    if (!g_Config.m_config.ShowMessageBox) return;
    m_bBlink = on;
    if (!on) RestoreIcon();
}

void CTrayIcon::RestoreIcon() {
    const bool offline = g_pCommunication != nullptr && !g_pCommunication->IsOnline();
    HICON icon = nullptr;
    {
        // One section with the shell's update: a blink step cannot move the index between.
        std::lock_guard lock(m_lock);
        m_nIconIndex = offline ? kOfflineIcon : kNormalIcon;
        icon = UpdateShell(NIM_MODIFY, m_nIconIndex);
    }
    SetOwnerIcon(icon);
}

void CTrayIcon::ShowBalloon(const std::wstring& title, const std::wstring& text, const std::wstring& tip) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hOwner;
    data.uID = kIconId;
    data.uFlags = NIF_INFO;
    data.hIcon = m_hIcons[kNormalIcon];
    text::CopyW(data.szTip, std::size(data.szTip), tip);
    text::CopyW(data.szInfoTitle, std::size(data.szInfoTitle), title);
    text::CopyW(data.szInfo, std::size(data.szInfo), text);
    data.uTimeout = kBalloonMs;
    data.dwInfoFlags = NIIF_INFO;
    std::lock_guard lock(m_lock);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

std::wstring CTrayIcon::GetBalloonTitle() const {
    NotifyIconState state;
    return GetNotifyIconState(m_hOwner, kIconId, &state) ? state.infoTitle : L"";
}

std::wstring CTrayIcon::GetBalloonText() const {
    NotifyIconState state;
    return GetNotifyIconState(m_hOwner, kIconId, &state) ? state.info : L"";
}

void CTrayIcon::OnTimer() {
    ++m_nTimerTicks;
    HICON icon = nullptr;
    {
        std::lock_guard lock(m_lock);
        if (!m_bBlink) return;
        const int index = m_nIconIndex;
        icon = UpdateShell(NIM_MODIFY, index);
        m_nIconIndex = (index + 1) % kBlinkIcons;
    }
    SetOwnerIcon(icon);
}

LRESULT CTrayIcon::OnNotify(WPARAM, LPARAM mouseMsg) {
    const HWND owner = m_hOwner;
    switch (static_cast<UINT>(mouseMsg)) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        // Nothing is drawn, so no repaint is asked for.
        ShowWindow(owner, SW_RESTORE);
        SetForegroundWindow(owner);
        break;
    case WM_RBUTTONDOWN:
        ShowMenu();
        break;
    case WM_MOUSEHOVER:
    case WM_MOUSELEAVE:
        break;
    default:
        if (CAlertExpiredWin* const expired = g_pAlertExpiredWin) expired->ShowAlertExpired(-1, true);
        break;
    }
    return 0;
}

void CTrayIcon::ShowMenu() {
    const HWND owner = m_hOwner;
    const HMENU menu = LoadMenuW(m_hInstance, MAKEINTRESOURCEW(kMenuId));
    const HMENU popup = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
    if (popup == nullptr) {
        LOGF(LOG_ERROR, L"CTrayIcon::OnNotify", L"LoadMenu[%d] fail!", static_cast<int>(kMenuId));
        if (menu != nullptr) DestroyMenu(menu);
        return;
    }
    SetMenuDefaultItem(popup, ID_CMD_SHOW_MAINWIN, FALSE);
    SetForegroundWindow(owner);
    POINT at{};
    GetCursorPos(&at);
    // Its commands reach the owner's (the main window's) command handler.
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    DestroyMenu(menu);
}
