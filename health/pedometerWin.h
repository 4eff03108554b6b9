// The pedometer window: so far only what the server's replies reach.
#pragma once

#include <string>

class CPedometerWin {
public:
    CPedometerWin();
    virtual ~CPedometerWin() = default;
    CPedometerWin(const CPedometerWin&) = delete;
    CPedometerWin& operator=(const CPedometerWin&) = delete;

    // The ranking reply (0x1180), on the socket thread.
    virtual int BussDataProc_PedoRank(const std::wstring& reply);
};

// Null until the window is first opened.
extern CPedometerWin* g_pPedometer;
