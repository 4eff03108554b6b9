#include "AlertMessageWin.h"

#include "Config.h"

CAlertMessageWin* g_pAlertMessageWin = nullptr;

CAlertMessageWin::CAlertMessageWin() {
    m_cs.name = L"AlertMessageWin";
    m_cs.page = g_Config.m_config.alertPopPage;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
}

int CAlertMessageWin::SetAdditionalMessage(int alertNo, int no, const std::wstring& text) {
    m_additional.Add(alertNo, no, text);
    return 1;
}
