#include "TrayIcon.h"

CTrayIcon* g_pTrayIcon = nullptr;

void CTrayIcon::Create(HINSTANCE instance, HWND owner) {
    m_hInstance = instance;
    m_hOwner = owner;
}

void CTrayIcon::Notify(int mode) {
    switch (mode) {
        case kNotifyAdd:
            m_bAdded = true;
            m_nShownIndex = kNormalIcon;
            break;
        case kNotifyModify:
            m_nShownIndex = m_nIconIndex.load();
            break;
        case kNotifyDelete:
            m_bAdded = false;
            break;
        default:
            break;
    }
}

void CTrayIcon::ShowBalloon(const std::wstring& title, const std::wstring& text) {
    std::lock_guard lock(m_balloonLock);
    m_balloonTitle = title;
    m_balloonText = text;
}

std::wstring CTrayIcon::GetBalloonTitle() const {
    std::lock_guard lock(m_balloonLock);
    return m_balloonTitle;
}

std::wstring CTrayIcon::GetBalloonText() const {
    std::lock_guard lock(m_balloonLock);
    return m_balloonText;
}

void CTrayIcon::OnNotify(WPARAM, LPARAM mouseMsg) { m_lastNotify = mouseMsg; }
