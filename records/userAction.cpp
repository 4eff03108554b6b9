#include "userAction.h"

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "global.h"

CUserAction* g_pUserAction = nullptr;

namespace {

constexpr int kSelectMax = 260;     // MAX_PATH
constexpr int kStatementMax = 1040;  // 4 x MAX_PATH

int Send(const struUserActionW& action) {
    return g_pCommunication != nullptr ? g_pCommunication->UserActionOpUpLoad_asyn(action) : -1;
}

// Status "0": the server took the action; any other status changes no row.
std::optional<std::wstring> StatementFor(const records::UploadAck& ack) {
    if (ack.op != L"0") return std::wstring();
    std::wstring sql;
    if (!FormatCut(sql, kStatementMax,
                   L"update tUserActionDataList set syncNo = %0d, syncFlag = '1', modifyTime = "
                   L"datetime('now','localtime'), modifyTime = datetime('now','localtime') where userNo = %0d and "
                   L"recNo = %0d ;",
                   ack.syncNo, ack.userNo, ack.no))
        return std::nullopt;
    return sql;
}

}  // namespace

CUserAction::CUserAction() : m_pending(&Send) {}

int CUserAction::LoadFromDB() { return ReadNeedProcActionFromDB(); }

int CUserAction::ReadNeedProcActionFromDB() {
    const int userNo = LoggedInUserNo();
    std::wstring sql;
    if (!FormatCut(sql, kSelectMax,
                   L"select userNo, recNo, recDate, actionNo, responseType, sourceType, lastOpCode, syncFlag, "
                   L"syncNo, status, note, modifyTime from tUserActionDataList where userNo=%d and syncFlag='0';",
                   userNo))
        return 0;
    const auto row = [this](const std::vector<std::wstring>& c) {
        using records::ColumnInt;
        const auto text = [&c](std::size_t i) { return records::ColumnText(c, i); };
        struUserActionW a;
        a.userNo = ColumnInt(c, 0);
        a.recNo = ColumnInt(c, 1);
        a.recDate = ColumnInt(c, 2);
        a.actionNo = ColumnInt(c, 3);
        a.responseType = text(4);
        a.sourceType = text(5);
        a.lastOpCode = text(6);
        a.syncFlag = text(7);
        a.syncNo = ColumnInt(c, 8);
        a.status = text(9);
        a.note = text(10);
        m_pending.Put(a.recNo, std::move(a));  // modifyTime (column 11) is not kept
        return true;
    };
    const auto failed = [](int code, const wchar_t* message) {
        LOGF(LOG_ERROR, L"CUserAction::ReadNeedProcActionFromDB", L"CSqliteException[%s]:[%d][%s]",
             L"ReadNeedProcActionFromDB", code, message);
    };
    return records::SelectEachRow(sql, row, failed) ? 1 : 0;
}

bool CUserAction::Remove(int recNo) { return m_pending.Remove(recNo); }

bool CUserAction::UploadFirst() { return m_pending.UploadFirst(); }

int CUserAction::BussDataProc(const std::wstring& reply) {
    return m_pending.Acknowledge(reply, L"CUserAction::BussDataProc", COMMAND_USERACTION_UPLOAD,
                                 L"CCommunication::UserAction_BussDataProc: ExecuteSQLCommandWithReturn:[%d]",
                                 &StatementFor);
}
