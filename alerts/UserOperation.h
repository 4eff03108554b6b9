// The computer-use monitor.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "ScriptVM.h"

// The day's computer use: the in-memory image of one tUserOpData row, then the figures
// that are only kept in memory.
struct UserOpDayRecord {
    int userNo = -1;
    int recDate = 0;  // yyyymmdd
    int computerUseSecond = 0;
    int mskbUseSecond = 0;
    int browerUseSecond = 0;
    struct AppSlot {
        std::wstring appName;  // lower-cased full path
        int appUseSecond = 0;
        int appUsePercent = 0;
        int appType = 0;
    };
    std::array<AppSlot, 6> apps{};  // the six programs with the most active time
    int syncNo = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
    int baseSecond = 0;
    std::array<std::wstring, 6> appFileNames{};
    int mskbOpRate = 0;
    int browsingRate = 0;
};

class CUserOperation {
public:
    CUserOperation();
    virtual ~CUserOperation() = default;

    static constexpr int kDefaultTimerMs = 180000;

    int StartWork();
    int RegisterScriptObject(HVM vm);
    // Writes the day record (the main window's computer-use timer); 0.
    virtual int RecordUserOpertion();
    // Rebuilds the computer-use chart and tells the windows showing it; 0.
    virtual int RefreshUserOpGraph();
    // The period of the main window's computer-use timer; the server may change it.
    int GetTimerInterval() const { return m_nTimerInterval.load(); }
    // The reply to the computer-use upload (0x1091), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);

    // The day record, copied whole under the monitor's lock.
    UserOpDayRecord GetDayRecord() const {
        std::lock_guard lock(m_lock);
        return m_dayRecord;
    }
    void SetDayRecord(const UserOpDayRecord& record) {
        std::lock_guard lock(m_lock);
        m_dayRecord = record;
    }

private:
    std::atomic<int> m_nTimerInterval{kDefaultTimerMs};
    mutable std::recursive_mutex m_lock;
    UserOpDayRecord m_dayRecord;
};

extern CUserOperation* g_pUserOperation;
