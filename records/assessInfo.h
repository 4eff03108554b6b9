// The user's health assessment: the last report of tUserAssessReport, the script object
// "assess", the rank tables the server sends as "assessPoint_" parameters, the advice
// sentence from the trend of the recent scores and the home page's chart data.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ScriptVM.h"

struct struParameterW;

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
    int syncNo = -1;                    // the further integer, uploaded with the report
    std::wstring status;
    std::wstring note;
};

class CAssessInfo {
public:
    static constexpr int kScores = 101;     // a rank for each score 0 to 100
    static constexpr int kRankTables = 11;  // "assessPoint_all", "assessPoint_type0" to 9
    using RankTable = std::array<int, kScores>;

    CAssessInfo();

    // The load step: 1 when the last report was read, else 0.
    int LoadFromDB();
    // The newest tUserAssessReport row into the last report; 1, or 0 after a database
    // exception. Without a row (or on the exception) userNo, assessDate and syncNo
    // become -1 and the rest stays.
    int ReadLastAssessReportFromDB();
    // Chooses the advice from the last ten overall scores and, when the main frame has
    // its chart and two or more reports exist, renews the chart data; then has the
    // page reload the trend chart. Always 1.
    int GenAssessGraphData();
    // After the page stored a new assessment: the user's score and rank in memory, the
    // report re-read, advice and chart renewed, the report uploaded (only when one is
    // stored), the pages told. Always 0.
    int AssessAfterProc(const uie::value& report);

    // Fills one rank table from an "assessPoint_" parameter (101 ranks separated by
    // commas; missing ones 0). Other names change nothing.
    void SetAssessPoint(const struParameterW& parameter);
    // The rank of a score: -1 for a score outside 0 to 100 or an unknown type name.
    // "assessPoint_type2" gives the table's entry, the other names the entry with a
    // jitter of -4 to 4 (two draws of Hooks().random), modulo 100.
    int GetAssessRank(std::wstring_view typeName, int score) const;
    // A copy of one rank table; none for an unknown name.
    std::optional<RankTable> GetRankTable(std::wstring_view typeName) const;

    // The advice for overall scores given newest first (at most ten are read).
    static std::wstring ChooseAdvice(const std::vector<int>& scoresNewestFirst);

    int RegisterScriptObject(HVM vm);
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();

    std::wstring GetAdvice() const;
    std::wstring GetGraphData() const;

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
    mutable std::mutex m_lock;  // everything below; never held across a call out
    struAssessReportW m_lastReport;
    std::wstring m_advice;
    std::wstring m_graphData;
    std::array<RankTable, kRankTables> m_rankTables{};  // all ranks 0 until a parameter arrives
};

extern CAssessInfo* g_pAssessInfo;
