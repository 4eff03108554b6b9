// The computer-use monitor: how long the computer was in use today, how much of that
// with keyboard or mouse activity, how much of it in browsing programs, and the six
// programs with the most active time. Programs are classified by the application types
// the server sends in its reply to each upload.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScriptVM.h"
#include "StopSignal.h"
#include "WinTypes.h"

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

// One program seen today.
struct PROCESSINFO {
    std::wstring fullPath;  // lower-cased, the map key
    std::wstring fileName;  // lower-cased
    std::uint64_t activeMs = 0;
    int percent = 0;
    int flag = 1;
    int appType = 0;  // 0 not classified, 4 browsing
};

// The day's time of one application type.
struct AppTypeTotal {
    int appType = 0;
    std::wstring appTypeName;
    std::uint64_t ms = 0;
    int seconds = 0;
    int percent = 0;
};

// One loaded application type.
struct AppTypeInfo {
    int appType = 0;
    std::wstring appTypeName;
    int ratio = 0;
};

class CUserOperation {
public:
    static constexpr int kDefaultTimerMs = 180000;
    static constexpr int kBrowsingType = 4;
    static constexpr std::size_t kSlotCount = 6;
    static constexpr DWORD kMaxCreditedGapMs = 20000;
    static constexpr DWORD kMinSampleGapMs = 500;

    CUserOperation();
    virtual ~CUserOperation();
    CUserOperation(const CUserOperation&) = delete;
    CUserOperation& operator=(const CUserOperation&) = delete;

    // The loading step: types, today's row, then the worker. 0, or negative when the
    // worker could not be made.
    int StartWork();
    // Signals the worker and waits for it.
    void StopWork();
    // True from the worker's start until it ends.
    bool IsWorking() const { return m_bWorking.load(); }
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();

    // Writes the day row, feeds the health elements, the chart and the upload. 0; -1
    // without a user; the database's error when the row could not be read or written.
    virtual int RecordUserOpertion();
    // Rebuilds the computer-use chart and tells the windows showing it; 0.
    virtual int RefreshUserOpGraph();
    // The period of the main window's computer-use timer; the server may change it.
    int GetTimerInterval() const { return m_nTimerInterval.load(); }
    // The reply to the computer-use upload (0x1091), on the socket thread.
    virtual int BussDataProc(const std::wstring& reply);
    // Today's seconds of "computerUseSecond", "mskbUseSecond" or "surfingInternetSecond";
    // false for any other id.
    virtual bool GetUseSecondValue(const std::wstring& elementID, int* seconds);

    // The sampling steps of the worker, public so that tests drive them with the hooks.
    // One turn: the last input read and sampled when it moved; then the day check.
    void SampleStep();
    void PeriodicStep();
    void ProcData(DWORD inputTime);
    int ProcessUserTimeAdd(std::wstring path, DWORD ms);
    void ResetDayData();
    int ReadLastUserOperation();
    void SetCurrentDay(int day) { m_nCurDay = day; }

    // The application types.
    int ReadAppTypeFromDB();
    int GetAppTypeByAppFile(const std::wstring& appFile);
    std::wstring GetAppTypeName(int appType) const;
    // Splits at the last '\\' or '/': the folder keeps its separator. Both outputs are
    // cleared first, so an empty path gives two empty texts.
    static void SplitAppPath(const std::wstring& path, std::wstring& folder, std::wstring& fileName);
    // Lower-cases A-Z only, as program paths are keyed.
    static std::wstring LowerAscii(std::wstring s);
    int WriteAppTypeToDB(const std::wstring& opCode, int appType, const std::wstring& appTypeName, int ratio,
                         const std::wstring& note);
    int WriteApplicationToDB(const std::wstring& opCode, const std::wstring& appFile, const std::wstring& appPath,
                             const std::wstring& appName, int appType, const std::wstring& note);

    std::wstring GetLastUserOpGraphData() const;
    // The day record, copied whole under the monitor's lock.
    UserOpDayRecord GetDayRecord() const {
        std::lock_guard lock(m_lock);
        return m_dayRecord;
    }
    void SetDayRecord(const UserOpDayRecord& record) {
        std::lock_guard lock(m_lock);
        m_dayRecord = record;
    }
    // One field of the day record, for the script properties.
    template <class T>
    T GetField(T UserOpDayRecord::*field) const {
        std::lock_guard lock(m_lock);
        return m_dayRecord.*field;
    }
    // The program of a slot, for the script properties.
    UserOpDayRecord::AppSlot GetSlot(std::size_t slot) const;
    std::wstring GetSlotFileName(std::size_t slot) const;

private:
    void WorkThread();
    // Polls every 10 ms; false when the program ends or the worker is stopped meanwhile.
    bool WaitUntil(bool (*condition)());
    // Seconds, rates, type totals and slots from the millisecond figures; under m_lock.
    void RecomputeLocked();
    void RebuildTypeTotals();
    void FillSlotsLocked();
    std::wstring UserOpStatement(const UserOpDayRecord& r, bool update) const;
    void FeedHealthElements(const UserOpDayRecord& r);
    void PostUserOpInfoToPopup();
    void ApplyTimerInterval(const std::wstring& field);
    void ApplyReplyItem(const std::wstring& path, int appType, const std::wstring& name, int ratio);
    void ApplyTypeItem(int appType, const std::wstring& name, int ratio);
    void ApplyProgramItem(const std::wstring& path, int appType);

    std::thread m_thread;
    StopSignal m_stop;
    std::atomic<bool> m_bWorking{false};

    DWORD m_dwWaitMs = 1000;
    DWORD m_dwLastInputTime = 0;  // 0: none sampled yet
    std::wstring m_strCurProgram;
    DWORD m_dwStartTick = 0;
    std::uint64_t m_computerUseMs = 0;
    std::uint64_t m_activeMs = 0;
    std::atomic<int> m_nCurDay{0};
    std::uint64_t m_browsingMs = 0;
    bool m_bPeriodicDone = false;
    DWORD m_dwPeriodicTick = 0;

    // The program map, type totals, type map, day record and graph text. Recursive: a
    // locked step may call another. Never held over a database call, request or post.
    mutable std::recursive_mutex m_lock;
    std::map<std::wstring, std::unique_ptr<PROCESSINFO>> m_mapProcessInfo;
    std::map<int, std::unique_ptr<AppTypeTotal>> m_mapTypeTotals;
    std::map<int, std::unique_ptr<AppTypeInfo>> m_mapAppType;
    UserOpDayRecord m_dayRecord;
    std::wstring m_strLastGraphData;
    std::atomic<int> m_nTimerInterval{kDefaultTimerMs};
    // One record step at a time: the timer's and the worker's would both insert a row.
    std::mutex m_recordStep;
};

extern CUserOperation* g_pUserOperation;
