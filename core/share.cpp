#include "share.h"

#include "CxLog.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

bool OpenPedometerWin(int) {
    if (g_pPedometer != nullptr) return true;
    LOGF(LOG_ERROR, L"OpenPedometerWin", L"g_pPedometer == NULL!!!");
    return false;
}

bool OpenBloodPressureWin(int) {
    if (g_pBloodPressure != nullptr) return true;
    LOGF(LOG_ERROR, L"OpenBloodPressureWin", L"g_pBloodPressure == NULL!!!");
    return false;
}
