#include "pedometerWin.h"

CPedometerWin* g_pPedometer = nullptr;

CPedometerWin::CPedometerWin() = default;

int CPedometerWin::BussDataProc_PedoRank(const std::wstring&) { return 0; }

int CPedometerWin::DevChangeProc(const struHealthElementSourceTypeW*, int) { return 0; }
