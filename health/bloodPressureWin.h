// The blood-pressure window: so far only what the server's replies reach.
#pragma once

#include <string>

class CBloodPressureWin {
public:
    CBloodPressureWin();
    virtual ~CBloodPressureWin() = default;
    CBloodPressureWin(const CBloodPressureWin&) = delete;
    CBloodPressureWin& operator=(const CBloodPressureWin&) = delete;

    // The reply to uploaded readings (0x1171), on the socket thread.
    virtual int BussDataProc_1002(const std::wstring& reply);
};

// Null until the window is first opened.
extern CBloodPressureWin* g_pBloodPressure;
