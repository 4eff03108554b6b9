// The blood-pressure window: the blood-pressure page in a window of its own thread, made
// on first use by OpenBloodPressureWin. So far the window and what the server's replies
// reach.
#pragma once

#include <string>

#include "DeviceUploadState.h"
#include "SciterWindow.h"

struct struHealthElementSourceTypeW;

class CBloodPressureWin : public CSciterWindow {
public:
    CBloodPressureWin();

    // The reply to uploaded readings (0x1171), on the socket thread.
    virtual int BussDataProc_1002(const std::wstring& reply);

    // The last upload of the device's readings.
    CDeviceUploadState m_uploadState;

    // A device of the source arrived or is present at start (start 1: read it), or
    // went (start 0); 0.
    virtual int DevChangeProc(const struHealthElementSourceTypeW* source, int start);
};

// Null until the window is first opened.
extern CBloodPressureWin* g_pBloodPressure;
