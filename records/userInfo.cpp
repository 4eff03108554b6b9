#include "userInfo.h"

#include <memory>

#include "MyDatabase.h"

CUserInfo* g_pUserInfo = nullptr;

CUserInfo::CUserInfo() = default;

// 1 when the user's profile row could be read, else 0 (the loading sequence stops).
int CUserInfo::ReadUserFromDB() {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(L"select * from tUser ;", rows) != 0) return 0;
    return rows.empty() ? 0 : 1;
}

int CUserInfo::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "user", def);
    return 1;
}

void CUserInfo::SetUpdateResult(bool busy, int retCode, const std::wstring& retMsg) {
    std::lock_guard lock(m_lock);
    m_bUpdateState = busy;
    m_nUpdateRetCode = retCode;
    m_strUpdateRetMsg = retMsg;
}

void CUserInfo::SetUpdateState(bool busy) {
    std::lock_guard lock(m_lock);
    m_bUpdateState = busy;
}

bool CUserInfo::GetUpdateState() const {
    std::lock_guard lock(m_lock);
    return m_bUpdateState;
}

int CUserInfo::GetUpdateRetCode() const {
    std::lock_guard lock(m_lock);
    return m_nUpdateRetCode;
}

std::wstring CUserInfo::GetUpdateRetMsg() const {
    std::lock_guard lock(m_lock);
    return m_strUpdateRetMsg;
}
