#include "bloodPressureWin.h"

#include "Config.h"

CBloodPressureWin* g_pBloodPressure = nullptr;

CBloodPressureWin::CBloodPressureWin() {
    m_cs.ownThread = true;
    m_cs.name = L"BloodPressureWin";
    m_cs.page = g_Config.m_config.bloodPressurePage;
    m_cs.style = WS_POPUP | WS_VISIBLE | WS_SYSMENU;
    m_cs.showOnCreate = true;
}

int CBloodPressureWin::BussDataProc_1002(const std::wstring&) { return 0; }

int CBloodPressureWin::DevChangeProc(const struHealthElementSourceTypeW*, int) { return 0; }
