// How often the user has opened each function.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

// One tFuncOp row: how recent uses of a function are counted. Elapsed seconds since
// lastOpTime choose one of three (a, b) pairs, split at the three bounds.
struct struFuncOpW {
    std::wstring funcID;
    std::wstring funcName;
    int totalCount = 0;
    std::wstring lastOpTime;  // "yyyy-mm-dd hh:mm:ss"
    int lowerSecond = 0;
    int opValueA1 = 0;
    int opValueB1 = 0;
    int middleSecond = 0;
    int opValueA2 = 0;
    int opValueB2 = 0;
    int upperSecond = 0;
    int opValueA3 = 0;
    int opValueB3 = 0;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CFuncOp {
public:
    CFuncOp();
    virtual ~CFuncOp() = default;

    // Start-up step: the status-'1' rows of tFuncOp, updating a held funcID in place.
    // False after a database exception (the rows read before it stay).
    bool ReadFuncOpFromDB();
    // The reply to a function-use upload (0x1140), on the socket thread: counts the use
    // in tFuncOp and brings the user's profile up to date from the record it carries.
    // -1 when the function was counted in the table but is not held here (the profile
    // is then left alone); 1 when the count or the profile was written; else 0.
    virtual int BussDataProc(const std::wstring& reply);

    // A copy of the function's record: the reply handler changes records on the socket
    // thread while pages report uses.
    std::optional<struFuncOpW> GetFuncOp(const std::wstring& funcID) const {
        std::lock_guard lock(m_lock);
        const auto it = m_funcOps.find(funcID);
        if (it == m_funcOps.end()) return std::nullopt;
        return it->second;
    }
    void SetFuncOp(const struFuncOpW& record) {
        std::lock_guard lock(m_lock);
        m_funcOps[record.funcID] = record;
    }

private:
    // 1 when the table counted the use, -1 when it did but the map does not hold the
    // function, 0 when nothing was counted (no such row, or the write failed).
    int CountUse(const std::wstring& funcID);

    mutable std::mutex m_lock;
    std::map<std::wstring, struFuncOpW> m_funcOps;
};

extern CFuncOp* g_pFuncOp;
