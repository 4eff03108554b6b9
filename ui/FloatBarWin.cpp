#include "FloatBarWin.h"

#include "Config.h"

CFloatBarWin* g_pFloatBarWin = nullptr;

CFloatBarWin::CFloatBarWin() {
    m_cs.name = L"FloatBar";
    m_cs.page = g_Config.m_config.popPage;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
    m_cs.showOnCreate = g_Config.m_config.FloatBarInfo[0] == 1;
}
