// The user's extended profile: contact details and personal measures, the one row of
// tUserExp, shown to the pages as the script object "userExp".
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ScriptVM.h"

// One tUserExp row, in column order. Integers are -1 until a row is read, so the
// keep-alive never sends an unset user number (the extended-profile request refuses -1).
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
    std::wstring userSex;   // "0", "1" or "2"
    int userBirthday = -1;  // yyyymmdd
    int userHeight = -1;
    int userWeight = -1;
    int userBust = -1;
    int userWaistline = -1;
    int userHip = -1;
    std::wstring userDuties;
    std::wstring userIndustry;
    int userLaborIntensity = -1;
    int syncNo = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CUserExInfo {
public:
    CUserExInfo();

    // Load step 2: the first tUserExp row into memory; always 1 (no row: unchanged).
    int ReadUserExFromDB();
    // Defines "userExp" on one page's VM: 26 read-only properties, one per column.
    int RegisterScriptObject(HVM vm);
    // The definition every page's VM shares (built once for the process).
    static std::shared_ptr<const uie::NativeObjectDef> ScriptObjectDef();

    // The server's extended record (0x1080), on the socket thread: 1 when written,
    // 0 when the syncNo is the one held or the write failed.
    int BussDataProc(const std::wstring& reply);

    // After a profile upload was acknowledged (CUserInfo::UserInfoUp_BussDataProc):
    // takes the contact fields (userPhone ... userBirthday) and syncNo of `pending`.
    void SetContactFields(const struUserExpW& pending);

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
    mutable std::mutex m_lock;  // the record; never held across a call out
    struUserExpW m_userExp;
};

extern CUserExInfo* g_pUserExInfo;
