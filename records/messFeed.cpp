#include "messFeed.h"

#include <algorithm>
#include <cstdarg>
#include <optional>

#include "CxLog.h"
#include "DataClassKit.h"
#include "FeedKit.h"
#include "MyDatabase.h"
#include "Text.h"

namespace {

constexpr int kNoData = -99999;
constexpr int kOwnerReplyFields = 9;
// A server sends a feed's messages in order, each once: a thousand numbers are far more
// than are ever sent again.
constexpr std::size_t kRememberedNos = 1000;

// Field n as a number, only when it ends with its separator: a text cut short may end
// inside any field, and a number cut in the middle is another number.
std::optional<int> ClosedNumber(const std::wstring& reply, int n) {
    if (std::count(reply.begin(), reply.end(), L'\x02') < n) return std::nullopt;
    int value = 0;
    if (!text::ParseWholeInt(records::ReplyField(reply, n), value)) return std::nullopt;
    return value;
}

}  // namespace

CMessFeed::CMessFeed(const wchar_t* feedName, int command, const wchar_t* table, const wchar_t* ownerColumn,
                     const wchar_t* numberColumn, bool setsValidMark)
    : m_readFunction(std::wstring(feedName) + L"::ReadMaxMessNo"),
      m_procFunction(std::wstring(feedName) + L"::BussDataProc"),
      m_command(command),
      m_table(table),
      m_ownerColumn(ownerColumn),
      m_numberColumn(numberColumn),
      m_maxSql(L"select max(" + m_numberColumn + L") from " + m_table + L";"),
      m_setsValidMark(setsValidMark) {}

int CMessFeed::ReadMaxMessNo() const {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(m_maxSql, rows) != 0 || rows.empty() ||
        rows.front().empty()) {
        LOGF(LOG_WARNING, m_readFunction.c_str(), L"[%s] gave no number", m_maxSql.c_str());
        return -1;
    }
    // max() of an empty table is NULL, read as an empty text: 0.
    return text::WToI(rows.front().front().c_str());
}

void CMessFeed::LoadFromDB() {
    if (m_setsValidMark) m_nValid = 1;
    m_nMaxMessNo = ReadMaxMessNo();
}

std::size_t CMessFeed::GetStoredCount() const {
    std::lock_guard lock(m_lock);
    return m_storedCount;
}

bool CMessFeed::IsWhole(const std::wstring& reply, int fields) {
    if (records::HasFields(m_procFunction.c_str(), m_command, reply, fields)) return true;
    const int numberField = m_ownerColumn.empty() ? 1 : 2;  // an owner comes before the number
    if (const std::optional<int> messNo = ClosedNumber(reply, numberField); messNo && *messNo > m_nMaxMessNo.load())
        SkipMessage(*messNo, L"cut short");
    return false;
}

bool CMessFeed::TakeMarker(const std::wstring& reply) {
    if (records::ReplyInt(reply, 1) != kNoData) return false;
    m_nMaxMessNo = records::ReplyInt(reply, 3);
    return true;
}

bool CMessFeed::ReadMessNo(const std::wstring& reply, int n, int& messNo) const {
    if (text::ParseWholeInt(records::ReplyField(reply, n), messNo)) return true;
    LOGF(LOG_WARNING, m_procFunction.c_str(), L"reply 0x%04X: field[%d] is no message number:[%s]", m_command, n,
         reply.c_str());
    return false;
}

bool CMessFeed::IsNew(int messNo) const {
    if (messNo < 0) return false;
    std::lock_guard lock(m_lock);
    return m_storedNos.count(messNo) == 0;
}

void CMessFeed::ReadTail(const std::wstring& reply, int first, struMessW& record) {
    record.pubTime = records::ReplyField(reply, first);
    record.validTime = records::ReplyField(reply, first + 1);
    record.operatorNo = records::ReplyInt(reply, first + 2);
    record.status = records::ReplyField(reply, first + 3);
    record.note = records::ReplyField(reply, first + 4);
    record.modifyTime = records::ReplyField(reply, first + 5);
}

CMessFeed::QuotedTail::QuotedTail(const struMessW& m)
    : pubTime(text::QuoteSql(m.pubTime)),
      validTime(text::QuoteSql(m.validTime)),
      status(text::QuoteSql(m.status)),
      note(text::QuoteSql(m.note)) {}

void CMessFeed::RaiseMaxMessNo(int messNo) {
    std::lock_guard lock(m_lock);
    if (messNo > m_nMaxMessNo.load()) m_nMaxMessNo = messNo;
}

bool CMessFeed::KeyStored(int messNo, const std::wstring& owner) const {
    std::wstring where = m_numberColumn + L"=" + std::to_wstring(messNo);
    if (!m_ownerColumn.empty()) where += L" and " + m_ownerColumn + L"=" + owner;
    return records::RowStored(L"select count(*) from " + m_table + L" where " + where + L";");
}

void CMessFeed::SkipMessage(int messNo, const wchar_t* why) {
    LOGF(LOG_WARNING, m_procFunction.c_str(), L"message %d not stored (%s): the feed moves past it", messNo, why);
    RaiseMaxMessNo(messNo);
}

int CMessFeed::Store(int messNo, const std::wstring& owner, const wchar_t* format, ...) {
    std::wstring sql;
    va_list args;
    va_start(args, format);
    text::VFormatW(sql, records::kWholeStatement, format, args);
    va_end(args);
    if (records::ExecOneRow(m_procFunction.c_str(), sql) != 1) {
        if (KeyStored(messNo, owner)) SkipMessage(messNo, L"its key is taken");
        return 0;
    }
    {
        std::lock_guard lock(m_lock);
        m_storedNos.insert(messNo);
        if (m_storedNos.size() > kRememberedNos) m_storedNos.erase(m_storedNos.begin());
        ++m_storedCount;
    }
    RaiseMaxMessNo(messNo);
    return 1;
}

int CMessFeed::StoreOwnerMessage(const std::wstring& reply, const wchar_t* insertFormat, const int* ownerMustBe) {
    if (!IsWhole(reply, kOwnerReplyFields)) return 0;
    struUserMessW m;
    m.ownerNo = records::ReplyInt(reply, 1);
    if (!ReadMessNo(reply, 2, m.messNo)) return 0;
    m.mess = records::ReplyField(reply, 3);
    ReadTail(reply, 4, m);
    if (!IsNew(m.messNo)) return 0;
    if (ownerMustBe != nullptr && m.ownerNo != *ownerMustBe) {
        SkipMessage(m.messNo, L"another owner's");
        return 0;
    }

    const std::wstring mess = text::QuoteSql(m.mess);
    const QuotedTail t(m);
    return Store(m.messNo, std::to_wstring(m.ownerNo), insertFormat, m.ownerNo, m.messNo, mess.c_str(),
                 t.pubTime.c_str(), t.validTime.c_str(), m.operatorNo, t.status.c_str(), t.note.c_str());
}
