// The user's basic profile and the state of its upload to the server.
#pragma once

#include <mutex>
#include <string>

#include "ScriptVM.h"

// One tUser row, in column order.
struct struUserW {
    int userNo = -1;
    std::wstring userID;
    std::wstring userRegName;
    std::wstring userPass;
    int userRegDate = 0;
    std::wstring deviceID;
    std::wstring loginStatus;
    std::wstring lastLoginTime;
    std::wstring lastPluseTime;
    std::wstring lastOpTime;
    std::wstring ipAddr;
    int areaNo = -1;
    int areaCodeNo = -1;
    std::wstring userType;
    int userGroupNo = 0;
    int userArticleGroupNo = 0;
    int userMessNo = 0;
    int experienceNo = 0;
    int experienceRank = 0;
    int pointNo = 0;
    int pointRank = 0;
    int assessPoint = 0;
    int assessRank = 0;
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

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

    // The current record, copied whole: the keep-alive and the message queries read it
    // on other threads while replies replace it.
    struUserW GetUser() const {
        std::lock_guard lock(m_lock);
        return m_user;
    }
    void SetUser(const struUserW& user) {
        std::lock_guard lock(m_lock);
        m_user = user;
    }

private:
    struUserW m_user;
    mutable std::mutex m_lock;
    bool m_bUpdateState = false;
    int m_nUpdateRetCode = 0;
    std::wstring m_strUpdateRetMsg;
};

extern CUserInfo* g_pUserInfo;
