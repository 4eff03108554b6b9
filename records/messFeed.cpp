#include "messFeed.h"

#include "CxLog.h"
#include "MyDatabase.h"
#include "Text.h"

CMessFeed::CMessFeed(const wchar_t* readFunction, const wchar_t* maxSql, bool setsValidMark)
    : m_readFunction(readFunction), m_maxSql(maxSql), m_setsValidMark(setsValidMark) {}

int CMessFeed::ReadMaxMessNo() const {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(m_maxSql, rows) != 0 || rows.empty() ||
        rows.front().empty()) {
        LOGF(LOG_WARNING, m_readFunction, L"[%s] gave no number", m_maxSql);
        return -1;
    }
    // max() of an empty table is NULL, read as an empty text: 0.
    return text::WToI(rows.front().front().c_str());
}

void CMessFeed::LoadFromDB() {
    if (m_setsValidMark) m_nValid = 1;
    m_nMaxMessNo = ReadMaxMessNo();
}
