// The pedometer window: the pedometer page in a window of its own thread, made on first
// use by OpenPedometerWin. So far the window, its ranking request and what the server's
// replies reach.
#pragma once

#include <atomic>
#include <string>

#include "DeviceUploadState.h"
#include "SciterWindow.h"

struct struHealthElementSourceTypeW;

class CPedometerWin : public CSciterWindow {
public:
    // A ranking younger than this is not asked for again.
    static constexpr DWORD kRankRefreshMs = 600001;

    CPedometerWin();

    // Asks the server for the step ranking, unless a ranking reply came less than
    // kRankRefreshMs ago (0, nothing sent); else the request's result (0 queued, -1 not).
    int QuestPedoRank();
    // The ranking reply (0x1180), on the socket thread: a negative result code is
    // returned as it is; otherwise the reply's time is noted and the result is 0.
    virtual int BussDataProc_PedoRank(const std::wstring& reply);
    // The reply to the upload of the device's raw data (0x1170), on the socket thread; 0.
    virtual int BussDataProc_OrigData(const std::wstring& reply);

    // The last upload of the device's readings.
    CDeviceUploadState m_uploadState;

    // The target's period-date percentage and its first positive period percentage
    // (step, distance, energy, duration); negative when there is none.
    int GetPeriodDatePercent() const;
    int GetPeriodLeadPercent() const;

    // A device of the source arrived or is present at start (start 1: read it), or
    // went (start 0); 0.
    virtual int DevChangeProc(const struHealthElementSourceTypeW* source, int start);

private:
    std::atomic<bool> m_bRankReceived{false};
    std::atomic<DWORD> m_rankTick{0};
};

// Null until the window is first opened.
extern CPedometerWin* g_pPedometer;
