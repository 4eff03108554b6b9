// The user's basic profile and the state of its upload to the server.
#pragma once

#include <mutex>
#include <string>

#include "ScriptVM.h"

class CUserInfo {
public:
    CUserInfo();

    int ReadUserFromDB();
    int RegisterScriptObject(HVM vm);

    // Busy from UpdateUserInfo until the upload's reply arrives or it cannot be sent.
    void SetUpdateResult(bool busy, int retCode, const std::wstring& retMsg);
    void SetUpdateState(bool busy);
    bool GetUpdateState() const;
    int GetUpdateRetCode() const;
    std::wstring GetUpdateRetMsg() const;

private:
    mutable std::mutex m_lock;
    bool m_bUpdateState = false;
    int m_nUpdateRetCode = 0;
    std::wstring m_strUpdateRetMsg;
};

extern CUserInfo* g_pUserInfo;
