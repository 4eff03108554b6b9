#include "funcOp.h"

#include <vector>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"
#include "userInfo.h"

CFuncOp* g_pFuncOp = nullptr;

namespace {

constexpr int kStatementMax = 1040;
// Result, message, funcID, two fields not used, then the 25 profile fields.
constexpr int kReplyFields = 30;
constexpr int kProfileFirstField = 6;

struFuncOpW FuncOpFromRow(const std::vector<std::wstring>& c) {
    const auto n = [&c](std::size_t i) { return records::ColumnInt(c, i); };
    const auto t = [&c](std::size_t i) { return records::ColumnText(c, i); };
    struFuncOpW r;
    r.funcID = t(0);
    r.funcName = t(1);
    r.totalCount = n(2);
    r.lastOpTime = t(3);
    r.lowerSecond = n(4);
    r.opValueA1 = n(5);
    r.opValueB1 = n(6);
    r.middleSecond = n(7);
    r.opValueA2 = n(8);
    r.opValueB2 = n(9);
    r.upperSecond = n(10);
    r.opValueA3 = n(11);
    r.opValueB3 = n(12);
    r.status = t(13);
    r.note = t(14);
    r.modifyTime = t(15);
    return r;
}

// The profile the reply carries; the bottom panel shows it.
int RefreshUser(const struUserW& received) {
    CUserInfo* const users = g_pUserInfo;
    if (users == nullptr) return 0;
    const int applied = users->ApplyServerUser(received, [](int result, const std::wstring& sql) {
        LOGF(LOG_WARNING, L"CFuncOp::BussDataProc", L"ExecSQLSet:[%d][%s]", result, sql.c_str());
    });
    if (applied != 1) return applied;
    if (CMainFrame* const frame = g_pMainFrame) frame->PostBottomUserInfo();
    return 1;
}

}  // namespace

CFuncOp::CFuncOp() = default;

bool CFuncOp::ReadFuncOpFromDB() {
    return records::SelectOwnConnection(L"CFuncOp::ReadFuncOpFromDB", L"ReadFuncOpFromDB",
                                        L"select * from tFuncOp where status='1' ;",
                                        [this](const std::vector<std::wstring>& row) {
                                            SetFuncOp(FuncOpFromRow(row));
                                            return true;
                                        }) == 1;
}

int CFuncOp::BussDataProc(const std::wstring& reply) {
    if (records::ReplyResult(L"CFuncOp::BussDataProc", COMMAND_FUNCOP_UPLOAD, reply) != 0) return 0;
    if (!records::HasFields(L"CFuncOp::BussDataProc", COMMAND_FUNCOP_UPLOAD, reply, kReplyFields)) return 0;
    const int counted = CountUse(records::ReplyField(reply, 3));
    if (counted < 0) return -1;
    const int refreshed = RefreshUser(CUserInfo::ParseServerUser(reply, kProfileFirstField, false));
    return counted == 1 || refreshed == 1 ? 1 : 0;
}

int CFuncOp::CountUse(const std::wstring& funcID) {
    std::wstring sql;
    if (!FormatCut(sql, kStatementMax,
                   L"update tFuncOp set totalCount = totalCount +1, lastOpTime = datetime('now','localtime'), "
                   L"modifyTime = datetime('now','localtime') where funcID = '%s';",
                   text::QuoteSql(funcID).c_str()))
        return 0;  // a cut statement could count another function: not run
    if (g_pMyDatabase == nullptr || g_pMyDatabase->ExecSQL(sql) != 1) return 0;

    // The count in memory stays as loaded; only the time of the last use moves on.
    const std::wstring now = GetCurTimeStrSeconds();
    std::lock_guard lock(m_lock);
    const auto it = m_funcOps.find(funcID);
    if (it == m_funcOps.end()) return -1;
    it->second.lastOpTime = now;
    return 1;
}
