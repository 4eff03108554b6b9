// The user's extended profile: contact details and personal measures.
#pragma once

#include <mutex>
#include <string>

#include "ScriptVM.h"

// One tUserExp row, in column order.
struct struUserExpW {
    int userNo = -1;
    std::wstring userID;
    std::wstring userRegIpAddr;
    std::wstring userPhone;
    std::wstring userMobile;
    std::wstring userEmail;
    std::wstring userQQ;
    std::wstring userMSN;
    std::wstring userLinkAddr;
    std::wstring userBlog;
    std::wstring userMicroBlog;
    std::wstring userName;
    std::wstring userSex;  // "0", "1" or "2"
    int userBirthday = 0;  // yyyymmdd
    int userHeight = 0;
    int userWeight = 0;
    int userBust = 0;
    int userWaistline = 0;
    int userHip = 0;
    std::wstring userDuties;
    std::wstring userIndustry;
    int userLaborIntensity = 0;
    int syncNo = 0;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CUserExInfo {
public:
    CUserExInfo();

    int ReadUserExFromDB();
    int RegisterScriptObject(HVM vm);
    // The server's extended record (0x1080), on the socket thread: 1 when written.
    int BussDataProc(const std::wstring& reply);

    // The current record, copied whole under the record lock.
    struUserExpW GetUserExp() const {
        std::lock_guard lock(m_lock);
        return m_userExp;
    }
    template <class T>
    T GetField(T struUserExpW::*field) const {
        std::lock_guard lock(m_lock);
        return m_userExp.*field;
    }

private:
    mutable std::mutex m_lock;
    struUserExpW m_userExp;
};

extern CUserExInfo* g_pUserExInfo;
