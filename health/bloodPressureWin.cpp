#include "bloodPressureWin.h"

CBloodPressureWin* g_pBloodPressure = nullptr;

CBloodPressureWin::CBloodPressureWin() = default;

int CBloodPressureWin::BussDataProc_1002(const std::wstring&) { return 0; }
