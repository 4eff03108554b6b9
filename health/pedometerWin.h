// The pedometer window: the pedometer page in a window of its own thread, made on first
// use by OpenPedometerWin, and the pedometer's data path: the device's raw text turned
// into day records, the user's step target, their statements, demo days and the
// server's reply to an upload (pedometerWinData.cpp).
//
// The read state, the day records, the decoded device values, the target and the rank
// are written by the device-read thread, the socket thread and the page thread: they are
// guarded by m_dataLock, which is never held across a module call, a post, a page call,
// a request or SQL.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DeviceUploadState.h"
#include "DeviceWindow.h"
#include "Value.h"
#include "deviceManager.h"

struct struHealthElementSourceTypeW;
struct struModuleInterface;
class CPedometerDataGraph;

// One day of the pedometer.
struct struDeviceDataList_122W {
    bool valid = false;  // holds data and is stored
    int recDate = 0;     // yyyymmdd
    int stepLen_cm = 0;
    int step = 0;
    int distance = 0;  // metres
    int energy = 0;    // in the unit of "pedoCalorieExpenditure"
    int duration = 0;  // seconds
    std::wstring generatedTime;  // demo days only
    std::wstring status;
    std::wstring note;
};

// The day records of the last conversion or demo run.
struct struDeviceBussData {
    static constexpr std::size_t kDeviceDays = 31;  // today and the 30 days before

    int userNo = 0;
    int sourceNo = 0;
    std::wstring deviceID;
    int recordCount = 0;  // valid records
    // Empty until the first conversion or demo run; a conversion leaves kDeviceDays.
    std::vector<struDeviceDataList_122W> pDeviceDataList;
};

// What the device's raw text says besides its days.
struct struPedoDeviceValues {
    int pedoUnitMode = 1;        // 1 metric, 0 imperial
    int pedoStepLong = -29999;   // cm
    int pedoWeight = -29999;     // tenths of a kilogram
    int refDuration = 0;         // the device's reference totals, which share out the active time
    int refStep = 0;
    int refEnergy = 0;
};

// The user's step target, the one tPedoTarget row.
struct struPedoTarget {
    int userNo = 0;
    int dateDuration = -1;
    int startDate = -1;
    int targetStep = -1;
    int targetDistance = -1;
    int targetEnergy = -1;
    int targetDuration = -1;
    int periodStartDate = -1;
    int periodEndDate = -1;
    int periodStep = -1;
    int periodDistance = -1;
    int periodEnergy = -1;
    int periodDuration = -1;
    int periodDateDuration = 0;
    int periodDatePercent = 0;
    int periodStepPercent = -1;
    int periodDistancePercent = -1;
    int periodEnergyPercent = -1;
    int periodDurationPercent = -1;
    std::wstring userID;
    std::wstring status;
    std::wstring note;
};

// The step ranking, as the server sends it.
struct struPedoRank {
    int all_rank = -1;
    int all_rankRate = -1;
    int last_all_rank = -1;
    int last_all_rankRate = -1;
    int diff_all_rank = -99999999;
    int diff_all_rankRate = -99999999;
    int avg_rank = -1;
    int avg_rankRate = -1;
    int last_avg_rank = -1;
    int last_avg_rankRate = -1;
    int diff_avg_rank = -99999999;
    int diff_avg_rankRate = -99999999;
};

// What a reply's user and target text carries, applied once its statements are stored.
struct struPedoInfoReply {
    int sex = 0;
    int birthday = 0;
    int height = 0;
    int weight = 0;
    int stepLength = 0;
    struPedoTarget target;
};

class CPedometerWin : public CDeviceWindow {
public:
    // A ranking younger than this is not asked for again.
    static constexpr DWORD kRankRefreshMs = 600001;
    // The pedometers' health sources, and the only one whose days are converted and stored.
    static constexpr int kFirstSource = 120;
    static constexpr int kLastSource = 129;
    static constexpr int kDaySource = 122;
    static bool IsPedometerSource(int sourceNo) { return sourceNo >= kFirstSource && sourceNo <= kLastSource; }

    CPedometerWin();

    // Asks the server for the step ranking, unless a ranking reply came less than
    // kRankRefreshMs ago (0, nothing sent); else the request's result (0 queued, -1 not).
    int QuestPedoRank();
    // The ranking reply (0x1180), on the socket thread: a negative result code is
    // returned as it is and changes nothing, as does a reply without a numeric code or
    // with fewer than the twelve figures (-1, logged); otherwise the twelve figures and
    // the reply's time are kept, the page is told and the result is 0.
    virtual int BussDataProc_PedoRank(const std::wstring& reply);

    // The last upload of the device's readings.
    CDeviceUploadState m_uploadState;

    // The target's period-date percentage and its first positive period percentage
    // (step, distance, energy, duration); -1 when there is none.
    int GetPeriodDatePercent() const;
    int GetPeriodLeadPercent() const;

    // A device of the source arrived or is present at start (start 1: one read on a
    // thread of its own, none while one runs), or went (start 0: waits for the read to
    // end, or for the program's end, then clears the read state); 0.
    virtual int DevChangeProc(const struHealthElementSourceTypeW* source, int start);

    // ---- the data path (pedometerWinData.cpp) ----
    // Converts origData of the read state when its source is kDaySource; else 0.
    int OrigDataToBussData();
    // The read state's raw text into the day records and device values: the number of
    // valid records, -1 when the records cannot be allocated (nothing changed).
    int OrigDataToBussData_122();
    // Appends the statements that store the valid day records: 0; -1 when one did not fit
    // (nothing appended).
    int PedoDataListSave_122(std::vector<std::wstring>& statements) const;
    // Loads the target from tPedoTarget (its userNo stays); false on a query failure.
    bool ReadPedoTargetFromDB();
    // Appends the target's update: 0; -1 when it did not fit (nothing appended).
    int PedoTargetSave(std::vector<std::wstring>& statements, const struPedoTarget& target) const;
    // Demo days from the page's rows (maps), stored at once; 0, -1 when they cannot be
    // allocated, or the database's error.
    int GenVirtualData(int sourceNo, const uie::value& rows, const std::wstring& deviceID);
    // Queues the read state as an upload (0x1170); the request's result, -1 without a
    // communication object.
    int UploadOrigData(int sourceNo);
    // The reply to the upload (0x1170), on the socket thread.
    virtual int BussDataProc_OrigData(const std::wstring& reply);
    // The reply's user and target text: appends the tUserExp update and fills `out`; -1
    // for a text of fewer than 23 fields or a statement that did not fit.
    int BussDataProc_OrigData_Info_122(std::vector<std::wstring>& statements, const std::wstring& info,
                                       struPedoInfoReply& out) const;
    // Writes step length, weight, active time and daily steps to the device of kDaySource;
    // the module's result, -1 without the source or its module.
    int SetDevOption_122();

    // Copies under the window's lock.
    struDeviceOrigData GetDeviceOrigData() const;
    struDeviceBussData GetDeviceBussData() const;
    struPedoDeviceValues GetDeviceValues() const;
    struPedoTarget GetPedoTarget() const;
    struPedoRank GetPedoRank() const;
    int GetResponseType() const;
    void SetResponseType(int type);
    // Runs f on the data-path members under the window's lock; f must not call out.
    template <class F>
    void WithData(F&& f) {
        std::lock_guard lock(m_dataLock);
        f(m_deviceOrigData, m_deviceBussData, m_devValues, m_pedoTarget);
    }

    // The first of the step, distance, energy and duration percentages above 0; -1.
    static int LeadPercentOf(const struPedoTarget& target);
    // Twelve rank figures from the reply's fields first..first + 11, in the server's order.
    static struPedoRank ReadRankFields(const std::wstring& reply, int first);
    // Whether the reply holds all twelve of them.
    static bool HasRankFields(const std::wstring& reply, int first);

protected:
    mutable std::mutex m_dataLock;
    struDeviceOrigData m_deviceOrigData;  // the read state
    struDeviceBussData m_deviceBussData;
    struPedoDeviceValues m_devValues;
    struPedoTarget m_pedoTarget;
    int periodLeadPercent = -1;
    // 1: the device settings are written after the next successful reply.
    int responseType = 0;
    struPedoRank m_pedoRank;

private:
    // The info step's values in memory and the health elements, once stored.
    void ApplyInfo_122(const struPedoInfoReply& info);

    std::atomic<bool> m_bRankReceived{false};
    std::atomic<DWORD> m_rankTick{0};

    // ---- the window, its device read and its script object (pedometerWin.cpp,
    // pedometerWinScript.cpp) ----
public:
    static constexpr int kRoundDiameter = 6;
    static constexpr const wchar_t* kTitle = L"运动跟踪---计步器";

    // Joins a device read still running before the window goes.
    ~CPedometerWin() override;

    // Binds the source's module when it has none, then reads the raw text and the device
    // ID into the read state and converts them: the raw text's length; a negative result
    // with the page's code and text set; 0 for a source with neither module nor module file.
    int ReadModuleOrigData(struHealthElementSourceTypeW* source);
    // One device read, on the read thread: the read, then the settings panel or the upload.
    int PedoDataProc(struHealthElementSourceTypeW* source);
    // The settings panel's request, on the page's thread: -3 no pedometer element source
    // or a read busy, -2 no source record, -4 no device or its read failed; else the
    // upload's result.
    int PedoSettingsProc(const uie::value& settings);
    int GetSettingWinState() const { return m_nSettingWinState.load(); }
    // 0 or 1; other values are ignored.
    void SetSettingWinState(int state);
    // The chart's document (GBK) for the page's options and records; "" without a chart.
    std::string GenPedometerGraphData(const uie::value& options, const uie::value& records) const;

    // From any thread; false when the window does not exist (yet).
    bool PostPageInit() const;
    bool PostDeviceData() const;
    bool PostOpenSettingsWin() const;
    bool PostRefreshPedoData(LPARAM lParam) const;
    bool PostBandPedoRankInfo() const;

    // Defines "pedometer" on a page's VM; its members read g_pPedometer at each call. 1.
    static int RegisterScriptObject(HVM vm);

protected:
    void Init() override;
    // The window's commands call their page functions; others go to the base.
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    // Whether the device's ID, weight and step length agree with the user's.
    bool DeviceMatchesUser() const;
    // Takes the module's ID and raw text into the read state; the raw text's result.
    int TakeModuleData(struModuleInterface* module, int sourceNo);

    std::unique_ptr<CPedometerDataGraph> m_graph;  // null when it could not be made
    std::atomic<int> m_nSettingWinState{0};
};

// Null until the window is first opened.
// Published once made and read by the socket, alert and other windows' threads.
extern std::atomic<CPedometerWin*> g_pPedometer;
