#include "bloodPressureWin.h"

CBloodPressureWin* g_pBloodPressure = nullptr;

CBloodPressureWin::CBloodPressureWin() = default;

int CBloodPressureWin::BussDataProc_1002(const std::wstring&) { return 0; }

int CBloodPressureWin::DevChangeProc(const struHealthElementSourceTypeW*, int) { return 0; }
