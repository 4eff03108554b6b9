// Today's living indices of the user's area: up to 6 records of tLiveIndex, handed to
// pages by "getLifeIndex"; a server reply is written as one transaction.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ScriptVM.h"

// One index, laid out as the tLiveIndex row; the reply's fields come in the same order,
// without modifyTime.
struct struLiveIndexW {
    int areaCodeNo = -1;
    int solarCalendar = 0;  // yyyymmdd
    std::wstring pubTime;
    int liveIndexMessNo = -1;
    std::wstring gatherTime;
    std::wstring indexID;
    std::wstring indexLevel;
    std::wstring indexNote;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CLifeIndex {
public:
    static constexpr int kMaxRecords = 6;
    static constexpr int kRowFields = 10;

    CLifeIndex();
    virtual ~CLifeIndex() = default;

    // Clear, then the area's records of today; 0.
    int LoadFromDB(int areaCodeNo);
    // 1 after a read without exception, else 0 (the rows read before stay counted).
    int ReadLifeIndexFromDB(int areaCodeNo);
    // Every slot back to "no value"; the count stays.
    void Clear();
    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();
    // The reply to a life-index query (0x1102), on the socket thread: the rows the reply
    // held, also when its transaction failed (nothing reads the result).
    virtual int BussDataProc(const std::wstring& reply);

    // One map per held record, 11 keys each (with "modifyTime").
    uie::value GetLifeIndexValue() const;
    int GetCount() const;

    // The server's message number of the first held record; -1 when none is held.
    std::atomic<int> m_nLiveIndexMessNo{-1};

private:
    // The row's update (when stored) or insert; false when it does not fit.
    static bool RowStatement(const struLiveIndexW& r, std::wstring& sql);
    int HeldMessNo(int slot) const;
    // Replaces the first rows.size() slots (but their modifyTime) and the count.
    void TakeRows(const std::vector<struLiveIndexW>& rows);

    std::atomic<int> m_nValid{1};
    mutable std::mutex m_lock;  // the slots and the count; never held across a call out
    std::array<struLiveIndexW, kMaxRecords> m_records{};
    int m_nCount = 0;
};

extern CLifeIndex* g_pLifeIndex;
