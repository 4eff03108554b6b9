#include "parameter.h"

#include <cstdint>
#include <iterator>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "Text.h"
#include "assessInfo.h"

CParameter* g_pParameter = nullptr;

namespace {

constexpr int kNoData = -99999;
constexpr int kReplyFields = 6;

bool IsRankTable(const struParameterW& p) { return p.parameterID.starts_with(L"assessPoint_"); }

}  // namespace

CParameter::CParameter() = default;

int CParameter::ReadParameterFromDB() {
    int loaded = 0;
    return records::SelectOwnConnection(
        L"CParameter::ReadParameterFromDB", L"ReadParameterFromDB", L"select * from tParameter where status='1' ;",
        [&](const std::vector<std::wstring>& c) {
            struParameterW p;
            p.parameterNo = records::ColumnInt(c, 0);
            if (c.size() > 1) p.parameterID = c[1];
            if (c.size() > 2) p.value = c[2];
            p.syncNo = records::ColumnInt(c, 3);
            if (c.size() > 4) p.status = c[4];
            if (c.size() > 5) p.note = c[5];
            {
                std::lock_guard lock(m_lock);
                m_parameters.insert_or_assign(p.parameterNo, p);
            }
            if (IsRankTable(p) && g_pAssessInfo != nullptr) g_pAssessInfo->SetAssessPoint(p);
            return ++loaded < kMaxLoaded;
        });
}

int CParameter::BussDataProc(const std::wstring& reply) {
    if (records::ReplyInt(reply, 1) == kNoData) {
        LOGF(LOG_ERROR, L"CParameter::BussDataProc", L"BussDataProc_parameter err: NODATA_RETURN!\n");
        return 0;
    }
    if (!records::HasFields(L"CParameter::BussDataProc", COMMAND_PARAMETER_QUEST, reply, kReplyFields)) return 0;
    struParameterW p;
    p.parameterNo = records::ReplyInt(reply, 1);
    p.parameterID = records::ReplyField(reply, 2);
    // Read whole: a rank table of 101 two-digit ranks is longer than one 260 field.
    p.value = records::ReplyField(reply, 3, records::kReplyWholeMax);
    p.syncNo = records::ReplyInt(reply, 4);
    p.status = records::ReplyField(reply, 5);
    p.note = records::ReplyField(reply, 6);

    // Formatted whole: a cut value would stay in tParameter for good.
    std::wstring sql;
    text::FormatW(sql, SIZE_MAX,
                  L"update tParameter set parameterID='%s', value='%s', syncNo=%0d, status='%s', note='%s', "
                  L"modifyTime = datetime('now','localtime') where parameterNo=%0d ;",
                  text::QuoteSql(p.parameterID).c_str(), text::QuoteSql(p.value).c_str(), p.syncNo,
                  text::QuoteSql(p.status).c_str(), text::QuoteSql(p.note).c_str(), p.parameterNo);
    if (records::ExecOneRow(L"CParameter::BussDataProc", sql) != 1) return 0;

    if (IsRankTable(p) && g_pAssessInfo != nullptr) g_pAssessInfo->SetAssessPoint(p);
    UpdateParameter(p);
    return 1;
}

int CParameter::UpdateParameter(const struParameterW& record) {
    std::lock_guard lock(m_lock);
    const auto it = m_parameters.find(record.parameterNo);
    if (it != m_parameters.end()) it->second = record;
    return 0;
}

std::optional<struParameterW> CParameter::GetParameterByIndex(int n) const {
    std::lock_guard lock(m_lock);
    if (n < 0 || static_cast<std::size_t>(n) >= m_parameters.size()) return std::nullopt;
    return std::next(m_parameters.begin(), n)->second;
}

std::size_t CParameter::GetParameterCount() const {
    std::lock_guard lock(m_lock);
    return m_parameters.size();
}
