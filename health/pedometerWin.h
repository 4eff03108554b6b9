// The pedometer window: so far only what the server's replies reach.
#pragma once

#include <string>

#include "DeviceUploadState.h"

class CPedometerWin {
public:
    CPedometerWin();
    virtual ~CPedometerWin() = default;
    CPedometerWin(const CPedometerWin&) = delete;
    CPedometerWin& operator=(const CPedometerWin&) = delete;

    // The ranking reply (0x1180), on the socket thread.
    virtual int BussDataProc_PedoRank(const std::wstring& reply);

    // The last upload of the device's readings.
    CDeviceUploadState m_uploadState;
};

// Null until the window is first opened.
extern CPedometerWin* g_pPedometer;
