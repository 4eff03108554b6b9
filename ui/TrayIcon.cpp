#include "TrayIcon.h"

CTrayIcon* g_pTrayIcon = nullptr;

void CTrayIcon::Notify(int mode) {
    if (mode == kNotifyModify) m_nShownIndex = m_nIconIndex.load();
}

void CTrayIcon::OnNotify(WPARAM, LPARAM mouseMsg) { m_lastNotify = mouseMsg; }
