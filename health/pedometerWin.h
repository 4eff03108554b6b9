// The pedometer window: so far only what the server's replies reach.
#pragma once

#include <string>

#include "DeviceUploadState.h"

struct struHealthElementSourceTypeW;

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

    // A device of the source arrived or is present at start (start 1: read it), or
    // went (start 0); 0.
    virtual int DevChangeProc(const struHealthElementSourceTypeW* source, int start);
};

// Null until the window is first opened.
extern CPedometerWin* g_pPedometer;
