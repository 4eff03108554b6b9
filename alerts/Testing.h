// The user's test reminders and the thread that raises them: each test item has a
// cycle in minutes; when its last test is older than that and its last reminder older
// than its pause, a reminder goes to the common message window and to the server.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScriptVM.h"
#include "StopSignal.h"
#include "WinTypes.h"

// The result of a finished test, as a page reports it.
struct struTestingResultW {
    std::wstring testingItemID;
    std::wstring lastTestingTime;
    std::wstring lastTestingNote;
    int lastTestingPoint = -1;
};

// One tTesting row with its two times parsed.
struct struTesting {
    std::wstring testingItemID;
    std::wstring testingItemName;
    std::wstring lastTestingTime;
    int testingCycle = 0;  // minutes
    std::wstring alertFlag;  // "1": reminders on
    int duraMinute = 0;  // minutes between reminders
    std::wstring lastAlertTime;
    std::wstring alertResponseFunc;
    int alertNo = -1;  // nothing assigns the items an alert number
    SYSTEMTIME stLastTestingTime{};
    SYSTEMTIME stLastAlertTime{};
    bool lastTestingTimeOk = false;  // false: the text did not parse, the item is skipped
    bool lastAlertTimeOk = false;
    int testingMinutes = 0;
    int alertMinutes = 0;
};

class CTesting {
public:
    static constexpr DWORD kStartDelayMs = 50000;
    static constexpr DWORD kReminderGapMs = 3600 * 1000;

    CTesting();
    virtual ~CTesting();
    CTesting(const CTesting&) = delete;
    CTesting& operator=(const CTesting&) = delete;

    // The loading step: the items, then the worker. 1, or 0 when either failed.
    int StartWork();
    // Stops the worker and waits for it.
    void StopWork();
    int ReadTestingFormDB();
    void ClearTesting();
    int WriteLastAlertTime(const std::wstring& testingItemID);
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();

    // One pass of the worker at this local time and tick count: the items due are
    // decided under the lock, then queued, written and uploaded. The count queued.
    int RunPass(const SYSTEMTIME& now, DWORD tick);
    // A page's finished test: [ {testingItemID, lastTestingTime, lastTestingNote,
    // lastTestingPoint} ]. 0, or -1 for anything else.
    int TestingAfterUpdateVar(const uie::value& arg);
    bool IsRunning() const { return m_bRunning.load(); }
    // A copy of one item; false when it is not loaded.
    bool GetItem(const std::wstring& testingItemID, struTesting& out) const;

protected:
    // Hands the reminder to the common message window.
    virtual void QueueMessage(const uie::value& message);

private:
    struct Reminder {
        std::wstring testingItemID;
        std::wstring testingItemName;
        std::wstring alertResponseFunc;
        int alertNo = -1;
    };

    void RunTesting();
    bool WaitForMainFrame();
    bool Due(struTesting& item, const SYSTEMTIME& now, DWORD tick);
    void Remind(const Reminder& reminder, const SYSTEMTIME& now);

    std::thread m_thread;
    StopSignal m_stop;
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nLastMinute{65535};

    // The items and the reminder gate. Recursive: the loader clears while holding it.
    mutable std::recursive_mutex m_lock;
    DWORD m_dwLastAlertTick = 0;
    bool m_bReminded = false;  // the hour gate holds only after a first reminder
    std::map<std::wstring, std::unique_ptr<struTesting>> m_mapTesting;
};

extern CTesting* g_pTesting;
