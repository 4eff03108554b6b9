// The user's alerts and the thread that delivers them: the alert configuration (rules,
// their conditions), today's occurrences computed once a minute, and the deliveries to
// the alert pop-up and the common message window.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "ScriptVM.h"
#include "StopSignal.h"
#include "ThreadWait.h"
#include "WinTypes.h"

// One tAlertList row, in column order, with the two times parsed when loaded.
struct struAlertListW {
    int alertDate = 0;  // yyyymmdd
    int alertNo = 0;
    int no = 0;
    std::wstring alertType;
    std::wstring message;
    std::wstring summary;
    int duraMinute = 0;
    int alertMinute = 0;  // hhmm
    std::wstring lastAlertTime;
    int actionNo = 0;
    std::wstring actionRuleFlag;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
    SYSTEMTIME stLastAlertTime{};
    SYSTEMTIME stModifyTime{};
};

// One tAlertConfig row, with its two times parsed when loaded.
struct struAlertConfig {
    int alertNo = 0;
    std::wstring alertType;
    int alertLevel = 0;
    int alertMode = 0;
    int procMode = 0;
    int execNo = 0;
    std::wstring message;
    std::wstring summary;
    int duraMinute = 0;
    std::wstring lastAlertTime;
    std::wstring lastResponseTime;
    std::wstring lastResponseType;
    int actionNo = 0;
    std::wstring actionRuleFlag;
    int startDate = 0;  // yyyymmdd
    int endDate = 0;
    std::wstring cycleFlag;
    std::wstring cycleType;
    int cycleIntervalNum = 0;
    std::wstring repeatFlag;
    int repeatIntervalTime = 0;
    int repeatNumber = 0;
    int aheadTime = 0;
    std::wstring aheadTimeType;
    int alertMinute = 0;  // hhmm
    std::wstring status;
    std::wstring note;
    SYSTEMTIME stLastAlertTime{};
    SYSTEMTIME stLastResponseTime{};
};

// One reminder rule (a tAlertConfigDetail row) and what the computation keeps about it.
// Guarded by the configuration lock, the put-off fields included.
struct struAlertConfigDetail : struAlertConfig {
    int no = 0;
    int delayCount = 0;          // how often it was put off
    DWORD delayStartTick = 0;    // tick of the last put-off
    DWORD delayUntilTick = 0;    // deadline of the running put-off; 0: none
    int delayEndMinute = 0;      // hhmm of the computation that ends the running put-off
    int showMinute = 0;          // hhmm shown today
    int alertState = -1;
    int alertComeDownMinute = 0;
    int shownCount = 0;          // deliveries since the last load
    int rowMinute = 0;           // alertMinute as its row has it: an interval rule's moves as it fires
};

// One condition of a rule (a tAlertConfigItem row, read by column position).
struct struAlertConfigItem {
    int alertNo = 0;
    int no = 0;
    std::wstring itemName;
    std::wstring itemOperator;
    std::wstring itemValue;
    int int6 = 0;
    int int7 = 0;
    std::wstring text8;
    std::wstring text9;
    // What the last evaluation saw (kept for the computer-use and pedometer conditions).
    int lastOperand = 0;
    int lastMeasured = 0;
    BYTE lastResult = 0;
};

// Composite keys: same order as alertNo*100+no and alertNo*10000+no*100+seq, without
// their collisions at no >= 100 or 100 conditions.
using AlertDetailKey = std::pair<int, int>;          // (alertNo, no)
using AlertItemKey = std::tuple<int, int, int>;      // (alertNo, no, sequence from 1)

// One entry of today's list: the fields of its object, in the object's order. The
// computation keeps these; the objects are made when a page asks for the list.
struct ToDayEntry {
    int alertNo = 0;
    int no = 0;
    std::wstring alertType;
    int alertLevel = 0;
    int alertMode = 0;
    int procMode = 0;
    int execNo = 0;
    int duraMinute = 0;
    int alertDate = 0;
    int alertMinute = 0;  // hhmm
    int alertComeDownMinute = 0;
    int alertFlag = 0;
    std::wstring message;
    int actionNo = 0;
    std::wstring actionRuleFlag;
};
using ToDayList = std::vector<ToDayEntry>;

// A due reminder the computation found; delivered after the configuration lock is left.
struct AlertDelivery {
    enum Form { kPopup, kList };
    Form form = kPopup;
    struAlertConfigDetail detail;
};

class CAlert {
public:
    static constexpr std::uint16_t kRecalcMinute = 65535;
    static constexpr DWORD kDefaultDetailPauseMs = 3;

    CAlert();
    virtual ~CAlert();
    CAlert(const CAlert&) = delete;
    CAlert& operator=(const CAlert&) = delete;

    // --- Configuration and today's occurrences (Alert.cpp) ---

    // Reads the alert configuration and today's alerts again; 1, or 0 on failure.
    virtual int ReadAlertFormDB();
    int ReadAlertConfigFormDB();
    int ReadAlertConfigDetailFormDB();
    int ReadAlertConfigItemFormDB();
    int ReadAlertListType1FormDB();
    // One computation at the local time; the caller holds the configuration lock. The
    // expired count, or 0 before the main frame exists. Due reminders are left in
    // TakeDue() for the caller to deliver once it has left the lock. No pause: the thread
    // paces itself after leaving the lock (RecalcAndNotify).
    int CalcToDayShowAlertInfo(int flag);
    std::vector<AlertDelivery> TakeDue();
    // A copy of today's array, made from the last computation's list: never half-replaced.
    uie::value GetToDayShowAlertInfo() const;
    // Today's array, made once per computation, when it is first asked for.
    std::shared_ptr<const uie::value> ToDayArray() const;
    // How a reminder shows in today's list (listed): a recurring one as 2, a put-off one
    // with its count and its end as a time of day; else as it shows in the expired list.
    static ToDayEntry MakeToDayEntry(const struAlertConfigDetail& detail, int alertDate, bool listed = false);
    // The minute (hhmm) whose computation finds a put-off of delaySecond made at `at` over.
    static int PutOffEndMinute(const SYSTEMTIME& at, int delaySecond);
    static uie::value MakeToDayObject(const ToDayEntry& entry);
    static uie::value MakeToDayObject(const struAlertConfigDetail& detail, int alertDate) {
        return MakeToDayObject(MakeToDayEntry(detail, alertDate));
    }
    // The pause per rule of a computation (spreads large rule sets over the minute), which
    // the thread takes after the computation, outside the configuration lock.
    void SetDetailPause(DWORD ms) { m_dwDetailPauseMs = ms; }
    // The next poll computes again (after a reload, a put-off, an answer).
    void RequestRecalc() { m_wLastMinute = kRecalcMinute; }
    std::uint16_t GetLastMinute() const { return m_wLastMinute.load(); }

    // Copies for readers outside the engine (tests, the script object).
    bool GetDetail(int alertNo, int no, struAlertConfigDetail& out) const;
    bool GetItem(int alertNo, int no, int seq, struAlertConfigItem& out) const;
    std::size_t ConfigCount() const;
    std::size_t DetailCount() const;
    std::size_t ItemCount() const;
    std::vector<struAlertListW> GetAlertList() const;

    std::mutex& ConfigLock() { return m_csConfig; }

    // --- The thread, reload and deliveries (AlertRun.cpp) ---

    // The start-up load step: the configuration, then the thread. 1, or 0 on failure.
    int StartWork();
    // Ends the thread and any reload and waits for them.
    void StopWork();
    // A reload on a short thread of its own (a page asked for it); never waits.
    void StartReload();
    bool IsRunning() const { return m_bRunning.load(); }
    // One turn of the thread: computes when the minute changed (or a recompute was asked
    // for). true when it computed.
    bool PollOnce();
    // Under the configuration lock: 0 without the alert pop-up; else computes, notices
    // the pages and returns 1. The due reminders are delivered after the lock, and the
    // pause per rule is taken then too, so a page's answer never waits for it.
    int RecalcAndNotify();
    void PostToDayNotice(bool refreshConfigList);
    int DeliverPopup(const struAlertConfigDetail* detail);
    int DeliverList(const struAlertConfigDetail* detail);
    int RecordDelivery(struAlertConfigDetail& detail);
    int WriteAlertList(const struAlertConfigDetail* detail);
    int WriteLastAlertTime(int alertNo, int no);
    // The two delivery messages.
    static uie::value MakePopupMessage(const struAlertConfigDetail& detail);
    static uie::value MakeListMessage(const struAlertConfigDetail& detail);

    // --- alerts/AlertScript.cpp: the "alert" object, answers, put-off and expiry ---
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();
    // Puts the reminder off for delaySecond (1..86400); 0, or -1 when it is unknown.
    int DelayAlert(int alertNo, int no, int delaySecond);
    // An answer to a reminder (memory only); false when it is unknown.
    bool RespondAlert(int alertNo, int no, const std::wstring& responseType);
    // The reminder to the expired-alert window and its table; 0.
    int ExpireAlert(int alertNo, int no);
    // The count of expired reminders the expired-alert window holds; 0 without it.
    int GetExpiredCount() const;
    // Has the expired-alert window read the expired reminders since yesterday.
    void LoadExpiredAlerts();
    // The expired count last acknowledged (CanceleFlicker).
    std::atomic<int> m_nAckExpiredCount{0};
    // --- end of the alerts/AlertScript.cpp block ---

protected:
    // Hand a message to the alert pop-up's / the common message window's queue.
    virtual void QueuePopupMessage(const uie::value& message);
    virtual void QueueListMessage(const uie::value& message);

private:
    // Alert.cpp
    struct CalcClock;
    // A listed reminder and its count-down: a rule, or one delivered earlier today.
    struct ComeDown {
        int minute;
        struAlertConfigDetail* detail;  // null for a delivered one
        ToDayEntry* delivered;
    };
    bool CalcDetail(struAlertConfigDetail& detail, const CalcClock& clock);
    bool EvaluateConditions(struAlertConfigDetail& detail, const CalcClock& clock, int& alertMinutes, int& state);
    void CopyDeliveredAlerts(ToDayList& delivered, const CalcClock& clock) const;
    void PassComeDown(const std::vector<ComeDown>& comeDown, const CalcClock& clock, ToDayList& list);
    int UpdateExpiredBlink();

    // AlertRun.cpp
    void RunAlert();
    bool WaitForWindows();
    // Waits ms in steps of 100 ms; false as soon as the program or the thread is ending.
    bool Rest(DWORD ms);
    void RunReload();
    void ClearMaps();

    // The configuration maps and the whole computation; taken before m_csAlertList.
    mutable std::mutex m_csConfig;
    std::map<int, struAlertConfig> _mapAlertConfig;
    std::map<AlertDetailKey, struAlertConfigDetail> _mapAlertConfigDetail;
    std::map<AlertItemKey, struAlertConfigItem> _mapAlertConfigItem;
    std::vector<AlertDelivery> m_due;
    int m_nLastCalcDate = 0;  // yyyymmdd of the last computation

    // Today's deliveries of recurring reminders.
    mutable std::mutex m_csAlertList;
    std::multimap<int, struAlertListW> _mapAlertList;

    // Today's list: replaced by the thread, read by pages; and the array made of it.
    mutable std::mutex m_csToDay;
    std::shared_ptr<const ToDayList> m_toDay = std::make_shared<const ToDayList>();
    mutable std::shared_ptr<const uie::value> m_toDayArray;
    mutable std::shared_ptr<const ToDayList> m_toDayArrayOf;  // the list it was made of

    std::atomic<std::uint16_t> m_wLastMinute{kRecalcMinute};
    std::atomic<DWORD> m_dwDetailPauseMs{kDefaultDetailPauseMs};

    std::thread m_thread;
    StopSignal m_stop;
    std::atomic<bool> m_bRunning{false};

    // The reload thread: one at a time; a request while it runs makes it read again.
    std::mutex m_csReload;
    threadwait::Thread m_reloadThread;
    bool m_bReloading = false;
    bool m_bReloadAgain = false;
};

extern CAlert* g_pAlert;
