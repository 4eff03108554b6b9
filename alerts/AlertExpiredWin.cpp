#include "AlertExpiredWin.h"

#include "Alert.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "MyDatabase.h"
#include "Text.h"

std::atomic<CAlertExpiredWin*> g_pAlertExpiredWin{nullptr};

namespace {

using sciter::value;

// '%Y%m%d' is SQLite's own format: this text never goes through a formatter.
const wchar_t* const kSelectSince =
    L"select alertDate,alertNo,no,alertType,actionNo,message,alertMinute,actionRuleFlag,status,note "
    L"from tAlertExpired where alertDate >= strftime('%Y%m%d',datetime('now','-1 day'),'localtime');";

value RowObject(const std::vector<std::wstring>& row) {
    using records::ColumnInt;
    using records::ColumnText;
    return records::MakeObject({{L"alertDate", value(ColumnInt(row, 0))},
                                {L"alertNo", value(ColumnInt(row, 1))},
                                {L"no", value(ColumnInt(row, 2))},
                                {L"alertType", value(ColumnText(row, 3))},
                                {L"actionNo", value(ColumnInt(row, 4))},
                                {L"message", value(ColumnText(row, 5))},
                                {L"alertMinute", value(ColumnInt(row, 6))},
                                {L"actionRuleFlag", value(ColumnText(row, 7))},
                                {L"status", value(ColumnText(row, 8))},
                                {L"note", value(ColumnText(row, 9))}});
}

bool IsEntry(const value& entry, int alertDate, int alertNo, int no) {
    return records::MemberInt(entry, L"alertDate", -1) == alertDate &&
           records::MemberInt(entry, L"alertNo", -1) == alertNo && records::MemberInt(entry, L"no", -1) == no;
}

std::wstring DeleteStatement(int alertDate, int alertNo, int no) {
    std::wstring sql;
    text::FormatW(sql, 160, L"delete from tAlertExpired where alertDate = %d and alertNo = %d and no = %d;", alertDate,
                  alertNo, no);
    return sql;
}

// Texts quoted and never cut: a long message is stored whole.
std::wstring InsertStatement(const value& entry) {
    const auto text = [&entry](const wchar_t* key) { return text::QuoteSql(records::MemberText(entry, key)); };
    const auto number = [&entry](const wchar_t* key) { return records::MemberInt(entry, key, -1); };
    const std::wstring alertType = text(L"alertType");
    const std::wstring message = text(L"message");
    const std::wstring actionRuleFlag = text(L"actionRuleFlag");
    const std::wstring status = text(L"status");
    const std::wstring note = text(L"note");
    // The format and five numbers need well under 512 characters.
    const std::size_t room =
        512 + alertType.size() + message.size() + actionRuleFlag.size() + status.size() + note.size();
    std::wstring sql;
    text::FormatW(sql, room,
                  L"insert into tAlertExpired (alertDate, alertNo, no, alertType, actionNo, message, alertMinute, "
                  L"actionRuleFlag,status, note) values (%d, %d, %d, '%s', %d, '%s', %d, '%s', '%s', '%s' )",
                  number(L"alertDate"), number(L"alertNo"), number(L"no"), alertType.c_str(), number(L"actionNo"),
                  message.c_str(), number(L"alertMinute"), actionRuleFlag.c_str(), status.c_str(), note.c_str());
    return sql;
}

value SqlItem(const std::wstring& sql) { return records::MakeObject({{L"sql", value(sql)}}); }

}  // namespace

CAlertExpiredWin::CAlertExpiredWin() : m_list(value::make_array()) {
    m_cs.name = L"AlertExpiredWin";
    m_cs.page = g_Config.m_config.expiredAlertPage;
    m_cs.style = kCornerStyle;
    m_cs.exStyle = kCornerExStyle;
}

int CAlertExpiredWin::ReadAlertExpiredFromDB() {
    value rows = value::make_array();
    const int read = records::SelectOwnConnection(L"CAlertExpiredWin::ReadAlertExpiredFromDB", L"ReadAlertExpiredFromDB",
                                                  kSelectSince, [&rows](const std::vector<std::wstring>& row) {
                                                      rows.append(RowObject(row));
                                                      return true;
                                                  });
    if (read == 0) return 0;
    std::lock_guard lock(m_lock);
    m_list = std::move(rows);
    return static_cast<int>(m_list.length());
}

int CAlertExpiredWin::GetCount() const {
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_list.length());
}

value CAlertExpiredWin::GetList() const {
    std::lock_guard lock(m_lock);
    return m_list;
}

int CAlertExpiredWin::AddAlertExpired(const value& alerts) {
    std::lock_guard lock(m_lock);
    if (!alerts.is_array() || alerts.length() != 1 || !alerts.nth(0).is_map()) {
        return static_cast<int>(m_list.length());
    }
    const value entry = alerts.nth(0);
    const int alertDate = records::MemberInt(entry, L"alertDate", -1);
    const int alertNo = records::MemberInt(entry, L"alertNo", -1);
    const int no = records::MemberInt(entry, L"no", -1);
    for (std::size_t i = 0; i < m_list.length(); ++i) {
        if (IsEntry(m_list.nth(i), alertDate, alertNo, no)) return static_cast<int>(m_list.length());
    }
    m_list.append(entry);
    return static_cast<int>(m_list.length());
}

void CAlertExpiredWin::RemoveAlertExpired(int alertDate, int alertNo, int no) {
    std::lock_guard lock(m_lock);
    value kept = value::make_array();
    for (std::size_t i = 0; i < m_list.length(); ++i) {
        if (!IsEntry(m_list.nth(i), alertDate, alertNo, no)) kept.append(m_list.nth(i));
    }
    m_list = std::move(kept);
}

int CAlertExpiredWin::InsertAlertExpiredToDB(int alertDate, int alertNo, int no) {
    value entry;
    {
        std::lock_guard lock(m_lock);
        for (std::size_t i = 0; i < m_list.length() && entry.is_undefined(); ++i) {
            if (IsEntry(m_list.nth(i), alertDate, alertNo, no)) entry = m_list.nth(i);
        }
    }
    CMyDatabase* db = g_pMyDatabase;
    if (entry.is_undefined() || db == nullptr) return -1;
    value statements = value::make_array();
    statements.append(SqlItem(DeleteStatement(alertDate, alertNo, no)));
    statements.append(SqlItem(InsertStatement(entry)));
    const int result = db->ExecSQLSetFromArray(statements);
    if (result != 0) {
        LOGF(LOG_WARNING, L"CAlertExpiredWin::InsertAlertExpiredToDB", L"[%d,%d,%d] not stored:[%d]", alertDate,
             alertNo, no, result);
    }
    return result;
}

int CAlertExpiredWin::DeleteAlertExpiredFromDB(int alertDate, int alertNo, int no) {
    CMyDatabase* db = g_pMyDatabase;
    return db != nullptr ? db->ExecSQL(DeleteStatement(alertDate, alertNo, no)) : -1;
}

void CAlertExpiredWin::ShowAlertExpired(int, bool show) {
    const int count = GetCount();
    const CAlert* alert = g_pAlert;
    const int acknowledged = alert != nullptr ? alert->m_nAckExpiredCount.load() : 0;
    if (count <= 0 || count == acknowledged || !g_Config.m_config.ShowMessageBox) return;
    const HWND hwnd = GetHwnd();
    if (hwnd == nullptr || !IsWindow(hwnd)) return;
    PlaceWindow();
    PostMessageW(hwnd, WM_COMMAND, ID_CMD_ALERTEXPIRED_SHOW, 0);
    if (show && !IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOW);
}

int CAlertExpiredWin::Close() { return 0; }

void CAlertExpiredWin::Init() {
    PlaceWindow();
    m_root = dom::element(GetRootElement());
    // Last: whoever waits for the window to be ready may use it at once.
    CSciterWindow::Init();
}

LRESULT CAlertExpiredWin::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (msg == WM_COMMAND && LOWORD(wParam) == ID_CMD_ALERTEXPIRED_SHOW) {
        if (m_root.is_valid()) callElementFunction(m_root, "EABandAlertExpiredInfo", value(GetCount()));
        return 0;
    }
    return CSciterWindow::OnCommand(msg, wParam, lParam, handled);
}

bool CAlertExpiredWin::on_event(HELEMENT, HELEMENT, UINT, UINT_PTR) { return true; }
