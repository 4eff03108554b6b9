#include "userInfo.h"

#include <memory>

CUserInfo* g_pUserInfo = nullptr;

CUserInfo::CUserInfo() = default;

int CUserInfo::ReadUserFromDB() { return 1; }

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
