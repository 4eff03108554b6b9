// The blood-pressure window: the blood-pressure page in a window of its own thread, made
// on first use by OpenBloodPressureWin, and the blood-pressure data path: the monitor's
// readings, manual and demo readings, their levels, statements, upload packets and the
// server's replies (bloodPressureWinData.cpp).
//
// The batch, the device read state and the load status are each written by one thread
// and read by others (page thread, device-read thread, socket thread), so each has a
// lock of its own. None of them is held across a module call, a post, a page call, a
// request or SQL, and no two are held at once.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceUploadState.h"
#include "DeviceWindow.h"
#include "Value.h"

struct struHealthElementSourceTypeW;

// One blood-pressure reading.
struct struDeviceDataList_1002W {
    bool valid = false;  // complete
    int packet = -1;     // the upload packet that carries it; -1 until packed
    int recDate = 0;     // yyyymmdd; 0 when unknown
    std::wstring recTime;  // "2012-03-05 08:05:00"
    int systolic = -1;
    int diastolic = -1;
    int pulse = -1;
    // The monitor's attributes as it gives them; -1 for manual and demo readings.
    int msNumber = -1;
    int msCount = -1;
    int msSetCount = -1;
    int memoFlag = -1;
    int moveFlag = -1;
    int fPulseFlag = -1;
    int bpKbn = -1;  // time-of-day band 1..3
    int serial = -1;
    int userKbn = -1;
    int outFlag = -1;
    int save = 0;  // 1 keep, 0 discard (and delete its stored row), else ignored
    std::wstring summary;
    int bpLevel = 0;  // 0..6
    std::wstring bpAssessNote;
    std::wstring status;
    std::wstring note;
    // Where a reading the monitor left undated sits in its memory, from 1 (kept in the
    // row's secondPassed); 0 for a dated reading.
    int memoryPlace = 0;
};

// Where a packet of the upload stands.
enum class BpPacketState { Unsent, Waiting, Stored, Lost };

// The window's current batch of readings.
struct struBpDeviceBussData {
    int userNo = -1;
    int sourceNo = 0;
    std::wstring regDeviceID;
    std::wstring deviceID;
    int recordCount = 0;  // the device's record count (manual and demo: the page's count)
    std::wstring readTime;  // "%d-%02d-%02d %02d:%02d:%02d" when the batch was made
    int count = 0;     // readings in pDeviceDataList
    int packets = 0;   // upload packets sent for the batch
    int replies = 0;   // packet replies stored
    std::vector<BpPacketState> packetStates;  // packet n at n - 1
    int awaitedReplies = 0;                   // packets sent whose reply (of any packet) is to come
    bool uploadOver = false;                  // the page was told how the upload ended
    struUploadState failure;                  // the first failure of the upload, if any
    std::vector<struDeviceDataList_1002W> pDeviceDataList;
};

// What a device read took from the module: its 72-byte records, copied.
struct struBpDeviceReadState {
    int userNo = -1;
    int sourceNo = 0;
    std::wstring regDeviceID;
    std::wstring deviceID;
    std::vector<unsigned char> origData;  // the module's bytes; whole records only are read
    int recordCount = 0;                  // bytes / 72
    std::wstring beginTime;  // as readTime, before the module read
    std::wstring readTime;
};

// A device download's progress as the page polls it.
struct struBpLoadStatus {
    int state = 0;  // 1 running, 2 failed, 3 finished
    std::wstring msg;
    int total = 0;
    int processed = 0;
    int precent = 0;  // 0..100
};

class CBloodPressureWin : public CDeviceWindow {
public:
    // The blood-pressure monitors' health sources, and the one whose records are converted.
    static constexpr int kFirstSource = 1000;
    static constexpr int kLastSource = 1099;
    static constexpr int kMonitorSource = 1002;
    static bool IsBloodPressureSource(int sourceNo) { return sourceNo >= kFirstSource && sourceNo <= kLastSource; }
    // Readings' texts per upload packet, at most.
    static constexpr std::size_t kPacketChars = 1500;
    // The time an upload may wait for each packet's reply: the socket's 30 s on the main
    // and on the backup server, and room.
    static constexpr DWORD kReplyAllowanceMs = 70000;

    CBloodPressureWin();

    // The last upload of the device's readings.
    CDeviceUploadState m_uploadState;

    // A device of the source arrived or is present at start (start 1: read it), or
    // went (start 0); 0.
    virtual int DevChangeProc(const struHealthElementSourceTypeW* source, int start);

    // ---- the data path (bloodPressureWinData.cpp) ----
    // The read state's records into a new batch when its source is kMonitorSource: the
    // number of readings; -1 when they cannot be allocated (the batch is then empty).
    // Another source empties the batch and gives 0.
    int OrigDataToBussData_1002();
    // Appends the statements that store the batch's readings of one packet (-1: all) to
    // `statements`: the deletes of the rows that are the same readings (time, values and
    // device) and of the demo rows, then an insert per kept reading. A reading that a
    // packet of this upload stored already is not deleted again. Nothing without a list
    // or readings. 0.
    int BpDataListSave_1002(std::vector<std::wstring>* statements, int packet) const;
    // Sends the batch in packets of at most kPacketChars (0x1171): 0 once sent, with State
    // true until the last reply; 0 with nothing to send; a send's failure otherwise.
    int BpDataUpload();
    // The reply to one packet (0x1171), on the socket thread: stores that packet's
    // readings and registers the device; after the last reply, the elements and the page.
    virtual int BussDataProc_1002(const std::wstring& reply);
    // The page's readings (array of objects) as the batch: manual entry uploads them, demo
    // data stores them at once. -1 for an argument that is not an array.
    int UserInputData(int sourceNo, const std::wstring& deviceID, const uie::value& readings);
    int GenVirtualData(int sourceNo, const std::wstring& deviceID, const uie::value& readings);
    // Stores the whole batch without upload or registration: 0 or the database's error.
    int VirtualBPBussDataProc();
    // The page's choice per device reading (array of {"save", "summary", "bpLevel",
    // "bpAssessNote"}), then the upload; -1 for an argument that is not an array.
    int ChooseDevDataProc(const uie::value& choices);
    // A monitor's raw-data reply routed by the device manager: nothing to do; 0.
    virtual int BussDataProc_OrigData(const std::wstring& message);

    // Posts the page refresh (0x8090); false when the window does not exist (yet).
    bool PostRefreshBpData(LPARAM lParam) const;

    // Copies and updates under the respective lock.
    struBpDeviceBussData GetDeviceBussData() const;
    struBpDeviceReadState GetReadState() const;
    void SetReadState(struBpDeviceReadState state);
    struBpLoadStatus GetLoadStatus() const;
    void SetLoadStatus(const struBpLoadStatus& status);
    // Runs f on the batch (or the read state) under its lock; f must not call out.
    template <class F>
    void WithBussData(F&& f) {
        std::lock_guard lock(m_bussLock);
        f(m_deviceBussData);
    }
    template <class F>
    void WithReadState(F&& f) {
        std::lock_guard lock(m_readLock);
        f(m_readState);
    }

private:
    // Replaces the batch with the page's readings; false for an argument that is not an array.
    bool TakePageReadings(int sourceNo, const std::wstring& deviceID, const uie::value& readings, bool demo);
    // Marks a packet stored; once no packet waits the upload ends (elements and page
    // refresh only when all are stored). 0.
    int PacketStored(int packet);
    // The packets still to be sent (and waitingToo: those waiting for a reply) are lost,
    // each logged with why; the page hears `told` at once unless the upload ended already.
    void LosePackets(const struUploadState& told, const wchar_t* why, bool waitingToo);
    // A reply that stores nothing: the page hears it at once, and the packet it names
    // (when it waits) is lost. result.
    int Refused(int result, int retCode, const std::wstring& message, int packet = -1);
    // Failures reported by the socket side and the upload's time go to LosePackets.
    void WatchUploadReplies();
    // Once no packet waits, the upload's end, told to the page once. 0.
    int FinishIfDone();
    // The systolic, diastolic and pulse elements from one reading.
    void SetBpElementValues(const struDeviceDataList_1002W& reading);

    mutable std::mutex m_bussLock;
    struBpDeviceBussData m_deviceBussData;
    mutable std::mutex m_readLock;
    struBpDeviceReadState m_readState;
    mutable std::mutex m_loadLock;
    struBpLoadStatus m_loadStatus;

    // ---- the window, its device read and its script object (bloodPressureWin.cpp,
    // bloodPressureWinScript.cpp) ----
public:
    static constexpr int kRoundDiameter = 6;
    static constexpr const wchar_t* kTitle = L"血压管理";

    // Joins a device read still running before the window goes.
    ~CBloodPressureWin() override;

    // One device download, on the read thread: the page is told a download began, then
    // ReadModuleOrigData; a negative result ends with "设备数据处理失败。".
    int DevDataLoadProc(struHealthElementSourceTypeW* source);
    // Binds the source's module when it has none, hands it the status callback, reads its
    // records into the read state and converts them: the byte count, or a negative result
    // with the load status, code and text set.
    int ReadModuleOrigData(struHealthElementSourceTypeW* source);
    // The module's progress reports (five narrow texts in the system code page) into the
    // load status of g_pBloodPressure; nothing is posted, the page polls.
    static void BpDataProcStatusCallBack(const char* state, const char* message, const char* total,
                                         const char* processed, const char* precent);
    // The same report for this window.
    void TakeLoadStatus(const char* state, const char* message, const char* total, const char* processed,
                        const char* precent);
    // The load status as the page reads it: {"state", "msg", "total", "processed", "precent"}.
    uie::value GetLoadStatusObject() const;
    // The source whose download was announced last; -1 before any.
    int GetPendingSourceNo() const { return m_nPendingSourceNo.load(); }
    // The chart's document (GBK) for the page's options and records; "" without a chart.
    std::string GenBloodPressureGraphData(const uie::value& options, const uie::value& records) const;

    // From any thread; false when the window does not exist (yet).
    bool PostDevDataLoad(int sourceNo) const;

    // Defines "bloodPressure" on a page's VM; its members read g_pBloodPressure at each call. 1.
    static int RegisterScriptObject(HVM vm);

protected:
    void Init() override;
    // The window's commands call their page functions; others go to the base.
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

private:
    // A status report of the window's own: the texts in the system code page, as the module sends them.
    void Report(const wchar_t* state, const wchar_t* message, const wchar_t* total, const wchar_t* processed,
                const wchar_t* precent);
    // The module's records into the read state: their byte count, or the module's negative result.
    int TakeModuleRecords(struct struModuleInterface* module, int sourceNo);
    // Calls a page function on the root element; logged and dropped without one.
    void CallPage(const char* name, const sciter::value& arg);

    std::unique_ptr<class CBloodPressureGraph> m_graph;  // null when it could not be made
    std::atomic<int> m_nPendingSourceNo{-1};
    // Set once the page was told of the pending download: Init and the download's begin
    // may both announce it, and the page hears it once.
    std::atomic<bool> m_bDevDataLoadShown{false};
};

// Null until the window is first opened.
// Published once made and read by the socket, alert and other windows' threads.
extern std::atomic<CBloodPressureWin*> g_pBloodPressure;
