// The user's health assessment reports.
#pragma once

#include <array>
#include <mutex>
#include <string>

#include "ScriptVM.h"

// One tUserAssessReport row, in column order; integers are -1 while no report is held.
struct struAssessReportW {
    int userNo = -1;
    int assessDate = -1;
    int assessPoint_all = -1;
    int assessRank_all = -1;
    std::wstring assessNote_all;
    struct TypeScore {
        int point = -1;
        int rank = -1;
    };
    std::array<TypeScore, 10> types{};  // assessPoint_typeN, assessRank_typeN
    int syncNo = -1;
    std::wstring status;
    std::wstring note;
};

class CAssessInfo {
public:
    CAssessInfo();

    int LoadFromDB();
    int RegisterScriptObject(HVM vm);

    // The last report, copied whole (the upload reads it on another thread).
    struAssessReportW GetLastReport() const {
        std::lock_guard lock(m_lock);
        return m_lastReport;
    }
    void SetLastReport(const struAssessReportW& report) {
        std::lock_guard lock(m_lock);
        m_lastReport = report;
    }

private:
    mutable std::mutex m_lock;
    struAssessReportW m_lastReport;
};

extern CAssessInfo* g_pAssessInfo;
