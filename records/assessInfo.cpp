#include "assessInfo.h"

#include <string>

#include "Communication.h"
#include "DataClassKit.h"
#include "Hooks.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"
#include "parameter.h"
#include "userInfo.h"

CAssessInfo* g_pAssessInfo = nullptr;

namespace {

constexpr wchar_t kNoAssessment[] = L"您还没有做过健康评估，建议您立即进行健康评估的体验。";
constexpr wchar_t kOneLow[] = L"您最近的健康评估得分不理想，希望您能积极改善哦。";
constexpr wchar_t kOneGood[] = L"您上次的健康评估得分良好，希望您继续保持。";
constexpr wchar_t kOneVeryGood[] = L"您上次的健康评估得分非常好，希望您继续保持。";
constexpr wchar_t kTwoDown[] = L"您最近的健康评估得分下降，希望您能积极改善。";
constexpr wchar_t kTwoUp[] = L"您最近的健康评估得分上升，希望您继续保持。";
constexpr wchar_t kSteadyLow[] = L"最近您的健康评估得分持续低分，希望您能积极改善。";
constexpr wchar_t kSteady[] = L"最近您的健康评估得分比较稳定，请继续保持。";
constexpr wchar_t kRisingSteadily[] = L"最近您的健康评估得分稳步提升，请继续保持。";
constexpr wchar_t kFallingSteadily[] = L"最近您的健康评估得分持续下降，希望您能积极改善。";
constexpr wchar_t kRising[] = L"最近您的健康评估得分正在提升，请继续保持。";
constexpr wchar_t kFalling[] = L"最近您的健康评估得分正在下降，希望您能积极改善。";

constexpr wchar_t kTypeWithoutJitter[] = L"assessPoint_type2";

// "assessPoint_all" is table 0, "assessPoint_typeN" table N + 1.
std::optional<std::size_t> TableIndex(std::wstring_view name) {
    if (name == L"assessPoint_all") return 0;
    constexpr std::wstring_view kType = L"assessPoint_type";
    if (name.size() == kType.size() + 1 && name.starts_with(kType) && name.back() >= L'0' && name.back() <= L'9')
        return static_cast<std::size_t>(name.back() - L'0') + 1;
    return std::nullopt;
}

// A page's property through its text and the decimal conversion; missing: 0.
int IntText(const uie::value& object, const wchar_t* key) {
    const uie::value v = object.get_item(uie::value(key));
    if (v.is_undefined()) return 0;
    return text::WToI(v.to_string().c_str());
}

std::wstring TypeKey(const wchar_t* prefix, std::size_t n) { return prefix + std::to_wstring(n); }

struAssessReportW ReportFromRow(const std::vector<std::wstring>& c) {
    const auto n = [&c](std::size_t i) { return records::ColumnInt(c, i); };
    const auto t = [&c](std::size_t i) { return records::ColumnText(c, i); };
    struAssessReportW r;
    r.userNo = n(0);
    r.assessDate = n(1);
    r.assessPoint_all = n(2);
    r.assessRank_all = n(3);
    r.assessNote_all = t(4);
    for (std::size_t i = 0; i < r.types.size(); ++i) {
        r.types[i].point = n(5 + 2 * i);
        r.types[i].rank = n(6 + 2 * i);
    }
    r.syncNo = n(25);
    r.status = t(26);
    r.note = t(27);
    return r;
}

uie::NativeProperty ReportProperty(const char* name, uie::value (*read)(const struAssessReportW&)) {
    return {name,
            [read](HVM, const uie::NativeArgs&) {
                const CAssessInfo* owner = g_pAssessInfo;
                return read(owner != nullptr ? owner->GetLastReport() : struAssessReportW{});
            },
            {}};
}

template <std::size_t N>
uie::NativeProperty TypePoint(const char* name) {
    return ReportProperty(name, [](const struAssessReportW& r) { return uie::value(r.types[N].point); });
}
template <std::size_t N>
uie::NativeProperty TypeRank(const char* name) {
    return ReportProperty(name, [](const struAssessReportW& r) { return uie::value(r.types[N].rank); });
}

uie::value AdviceValue() { return uie::value(g_pAssessInfo != nullptr ? g_pAssessInfo->GetAdvice() : std::wstring()); }

}  // namespace

CAssessInfo::CAssessInfo() : m_advice(kRisingSteadily) {}

std::wstring CAssessInfo::ChooseAdvice(const std::vector<int>& s) {
    switch (s.size()) {
        case 0: return kNoAssessment;
        case 1: return s[0] < 60 ? kOneLow : s[0] <= 80 ? kOneGood : kOneVeryGood;
        case 2: return s[1] >= s[0] ? kTwoDown : kTwoUp;
        default: break;
    }
    const int s0 = s[0];
    const int s1 = s[1];
    const int s2 = s[2];
    if (s2 == s1 && s1 == s0 && s2 < 60) return kSteadyLow;
    if (s2 == s1 && s1 == s0 && s2 >= 61) return kSteady;
    if (s2 < s1 && s1 < s0) return kRisingSteadily;
    if (s2 > s1 && s1 > s0) return kFallingSteadily;
    return s1 < s0 ? kRising : kFalling;
}

int CAssessInfo::LoadFromDB() { return ReadLastAssessReportFromDB() == 1 ? 1 : 0; }

int CAssessInfo::ReadLastAssessReportFromDB() {
    std::optional<struAssessReportW> newest;
    const int ok = records::SelectOwnConnection(L"CAssessInfo::ReadLastAssessReportFromDB",
                                                L"ReadLastAssessReportFromDB",
                                                L"select * from tUserAssessReport order by assessDate desc limit 1 ;",
                                                [&newest](const std::vector<std::wstring>& row) {
                                                    newest = ReportFromRow(row);
                                                    return false;
                                                });
    std::lock_guard lock(m_lock);
    if (ok == 1 && newest) {
        m_lastReport = *newest;
    } else {
        m_lastReport.userNo = -1;
        m_lastReport.assessDate = -1;
        m_lastReport.syncNo = -1;
    }
    return ok;
}

int CAssessInfo::GenAssessGraphData() {
    SqlRows rows;
    if (g_pMyDatabase == nullptr ||
        g_pMyDatabase->SelectTableWithReturn(L"select * from tUserAssessReport order by assessDate desc limit 10 ;",
                                             rows) != 0)
        return 1;
    std::vector<int> scores;
    for (const auto& row : rows) scores.push_back(records::ColumnInt(row, 2));
    const std::wstring advice = ChooseAdvice(scores);

    CMainFrame* const frame = g_pMainFrame;
    CHomePageAssessGraph* const graph = frame != nullptr ? frame->GetHomePageAssessGraph() : nullptr;
    std::optional<std::wstring> chart;
    if (graph != nullptr && rows.size() >= 2) {
        std::string xml;
        graph->GenGraphXml(rows, xml);
        chart = text::FromAnsi(xml);  // the chart's text is GBK
    }
    {
        std::lock_guard lock(m_lock);
        m_advice = advice;
        if (chart) m_graphData = std::move(*chart);
    }
    if (graph != nullptr) frame->PostLoadFlashTrend();
    return 1;
}

int CAssessInfo::AssessAfterProc(const uie::value& object) {
    if (g_pUserInfo != nullptr)
        g_pUserInfo->SetAssessResult(IntText(object, L"assessPoint_all"), IntText(object, L"assessRank_all"));

    struAssessReportW r = GetLastReport();
    r.assessDate = IntText(object, L"assessDate");
    r.assessPoint_all = IntText(object, L"assessPoint_all");
    r.assessRank_all = IntText(object, L"assessRank_all");
    r.assessNote_all = records::MemberText(object, L"assessNote_all");
    for (std::size_t i = 0; i < r.types.size(); ++i) {
        r.types[i].point = IntText(object, TypeKey(L"assessPoint_type", i).c_str());
        r.types[i].rank = IntText(object, TypeKey(L"assessRank_type", i).c_str());
    }
    r.status = records::MemberText(object, L"status");
    r.note = records::MemberText(object, L"note");
    SetLastReport(r);

    // The stored row is what counts: it replaces what the page passed.
    ReadLastAssessReportFromDB();
    GenAssessGraphData();
    // Without a stored report there is nothing true to send (userNo and date -1).
    if (GetLastReport().userNo >= 0 && g_pCommunication != nullptr) g_pCommunication->UserAssessReportUpLoad_asyn(-1);

    if (CMainFrame* const frame = g_pMainFrame) {
        frame->PostAssessRecentAssess();
        frame->PostBottomUserInfo();
        frame->PostHomePageLastAssess();
    }
    return 0;
}

void CAssessInfo::SetAssessPoint(const struParameterW& parameter) {
    const auto index = TableIndex(parameter.parameterID);
    if (!index) return;
    RankTable table{};
    for (int i = 0; i < kScores; ++i)
        table[static_cast<std::size_t>(i)] =
            text::WToI(GetValue(parameter.value, i + 1, L',', records::kReplyFieldMax).c_str());
    std::lock_guard lock(m_lock);
    m_rankTables[*index] = table;
}

int CAssessInfo::GetAssessRank(std::wstring_view typeName, int score) const {
    if (score < 0 || score > 100) return -1;
    const int sign = Hooks().random() % 2 == 0 ? -1 : 1;
    const int jitter = sign * (Hooks().random() % 5);
    const auto index = TableIndex(typeName);
    if (!index) return -1;  // no table of that name
    int entry = 0;
    {
        std::lock_guard lock(m_lock);
        entry = m_rankTables[*index][static_cast<std::size_t>(score)];
    }
    if (typeName == kTypeWithoutJitter) return entry;
    return (entry + jitter) % 100;  // a signed remainder, as C's
}

std::optional<CAssessInfo::RankTable> CAssessInfo::GetRankTable(std::wstring_view typeName) const {
    const auto index = TableIndex(typeName);
    if (!index) return std::nullopt;
    std::lock_guard lock(m_lock);
    return m_rankTables[*index];
}

std::wstring CAssessInfo::GetAdvice() const {
    std::lock_guard lock(m_lock);
    return m_advice;
}

std::wstring CAssessInfo::GetGraphData() const {
    std::lock_guard lock(m_lock);
    return m_graphData;
}

std::shared_ptr<const uie::NativeObjectDef> CAssessInfo::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {
            {"GetAssessOrder",
             [](HVM, const uie::NativeArgs& args) {
                 try {
                     const std::wstring type = uie::ArgString(args, 0);
                     const int score = uie::ArgInt(args, 1);
                     return uie::value(g_pAssessInfo != nullptr ? g_pAssessInfo->GetAssessRank(type, score) : -1);
                 } catch (const uie::ScriptError&) {
                     return uie::value();  // the engine's empty value
                 }
             }},
            {"AssessAfterProc",
             [](HVM, const uie::NativeArgs& args) {
                 try {
                     const uie::value& report = uie::ArgMap(args, 0);
                     return uie::value(g_pAssessInfo != nullptr ? g_pAssessInfo->AssessAfterProc(report) : -1);
                 } catch (const uie::ScriptError&) {
                     return uie::value();
                 }
             }},
            {"GetLastAssessNote", [](HVM, const uie::NativeArgs&) { return AdviceValue(); }},
            {"GetLastAssessGraphData",
             [](HVM, const uie::NativeArgs&) {
                 return uie::value(g_pAssessInfo != nullptr ? g_pAssessInfo->GetGraphData() : std::wstring());
             }},
        };
        using R = const struAssessReportW&;
        d->properties = {
            {"lastAssessNote", [](HVM, const uie::NativeArgs&) { return AdviceValue(); }, {}},
            ReportProperty("userNo", [](R r) { return uie::value(r.userNo); }),
            ReportProperty("assessDate", [](R r) { return uie::value(r.assessDate); }),
            ReportProperty("assessPoint_all", [](R r) { return uie::value(r.assessPoint_all); }),
            ReportProperty("assessRank_all", [](R r) { return uie::value(r.assessRank_all); }),
            ReportProperty("assessNote_all", [](R r) { return uie::value(r.assessNote_all); }),
            TypePoint<0>("assessPoint_type0"), TypeRank<0>("assessRank_type0"),
            TypePoint<1>("assessPoint_type1"), TypeRank<1>("assessRank_type1"),
            TypePoint<2>("assessPoint_type2"), TypeRank<2>("assessRank_type2"),
            TypePoint<3>("assessPoint_type3"), TypeRank<3>("assessRank_type3"),
            TypePoint<4>("assessPoint_type4"), TypeRank<4>("assessRank_type4"),
            TypePoint<5>("assessPoint_type5"), TypeRank<5>("assessRank_type5"),
            TypePoint<6>("assessPoint_type6"), TypeRank<6>("assessRank_type6"),
            TypePoint<7>("assessPoint_type7"), TypeRank<7>("assessRank_type7"),
            TypePoint<8>("assessPoint_type8"), TypeRank<8>("assessRank_type8"),
            TypePoint<9>("assessPoint_type9"), TypeRank<9>("assessRank_type9"),
            ReportProperty("status", [](R r) { return uie::value(r.status); }),
            ReportProperty("note", [](R r) { return uie::value(r.note); }),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

int CAssessInfo::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "assess", ScriptObjectDef()) ? 1 : 0;
}
