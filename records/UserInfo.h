// The user profile as the communication layer sees it: the state of the profile upload.
// The data class grows around this (record, loader, reply handlers, script object).
#pragma once

#include <mutex>
#include <string>

class CUserInfo {
public:
    // Busy from UpdateUserInfo until the upload's reply arrives or it cannot be sent.
    void SetUpdateResult(bool busy, int retCode, const std::wstring& retMsg) {
        std::lock_guard lock(m_lock);
        m_bUpdateState = busy;
        m_nUpdateRetCode = retCode;
        m_strUpdateRetMsg = retMsg;
    }
    void SetUpdateState(bool busy) {
        std::lock_guard lock(m_lock);
        m_bUpdateState = busy;
    }
    bool GetUpdateState() const {
        std::lock_guard lock(m_lock);
        return m_bUpdateState;
    }
    int GetUpdateRetCode() const {
        std::lock_guard lock(m_lock);
        return m_nUpdateRetCode;
    }
    std::wstring GetUpdateRetMsg() const {
        std::lock_guard lock(m_lock);
        return m_strUpdateRetMsg;
    }

private:
    mutable std::mutex m_lock;
    bool m_bUpdateState = false;
    int m_nUpdateRetCode = 0;
    std::wstring m_strUpdateRetMsg;
};

// The one profile object; null until start-up makes it.
inline CUserInfo* g_pUserInfo = nullptr;
