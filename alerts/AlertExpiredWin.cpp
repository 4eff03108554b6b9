#include "AlertExpiredWin.h"

#include "Config.h"

CAlertExpiredWin* g_pAlertExpiredWin = nullptr;

CAlertExpiredWin::CAlertExpiredWin() {
    m_cs.name = L"AlertExpiredWin";
    m_cs.page = g_Config.m_config.expiredAlertPage;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
}

void CAlertExpiredWin::ShowAlertExpired(int, bool) {}

int CAlertExpiredWin::Close() { return 0; }
