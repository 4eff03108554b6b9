// The user's basic profile, the script object "user" that shows it to the pages, and
// the state of its upload to the server. Later data classes follow the same shape:
// one singleton, one record lock, getters that read through the global at read time,
// handlers that write the table first and the memory after.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "ScriptVM.h"
#include "userExInfo.h"

// One tUser row, in column order.
struct struUserW {
    int userNo = -1;
    std::wstring userID;
    std::wstring userRegName;
    std::wstring userPass;
    int userRegDate = -1;
    std::wstring deviceID;
    std::wstring loginStatus;
    std::wstring lastLoginTime;
    std::wstring lastPluseTime;
    std::wstring lastOpTime;
    std::wstring ipAddr;
    int areaNo = -1;
    int areaCodeNo = -1;
    std::wstring userType;
    int userGroupNo = -1;
    int userArticleGroupNo = -1;
    int userMessNo = -1;
    int experienceNo = -1;
    int experienceRank = -1;
    int pointNo = -1;
    int pointRank = -1;
    int assessPoint = -1;
    int assessRank = -1;
    int syncNo = -1;
    std::wstring status;
    std::wstring note;
    std::wstring modifyTime;
};

class CUserInfo {
public:
    CUserInfo();

    // Load step 1: the first tUser row into memory. 1 when a row was read, else 0
    // (the loading sequence stops: nothing works without the user's row).
    int ReadUserFromDB();
    // Defines "user" on one page's VM.
    int RegisterScriptObject(HVM vm);

    // Replies, on the socket thread; one cut short changes nothing. BussDataProc takes
    // the user record (0x1070): 1 when written, 0 when unchanged or not written.
    // UserInfoUp_BussDataProc takes the upload's reply (0x1065): 0 when written, the
    // server's code when negative, -1 when cut short (the update then ends as failed),
    // else the write's failure (negative).
    int BussDataProc(const std::wstring& reply);
    int UserInfoUp_BussDataProc(const std::wstring& reply);
    // The user part of a successful login reply; always 0.
    int UserLoginDataProc(const std::wstring& reply);
    // A successful login's reply, whose record UserLoginDataProc takes only once the data
    // is loaded: until then the sync number it brings is the one known.
    void ExpectLoginRecord(const std::wstring& reply);
    // The record's sync number, or that of a login whose record is still to be taken: what
    // the keep-alive compares the server's with.
    int KnownSyncNo() const;

    // A user record as the server sends it, from field `first` on, in column order
    // without modifyTime. Replies that leave lastPluseTime out say so (withPluseTime).
    static struUserW ParseServerUser(const std::wstring& reply, int first, bool withPluseTime);
    // Called with the write's result and statement when the row was not written.
    using WriteFailed = std::function<void(int result, const std::wstring& sql)>;
    // Applies a user record the server sent (the record reply, or the profile that comes
    // with other replies), on the socket thread. 0 when its syncNo is the one held.
    // Else writes tUser (the password column empty, lastPluseTime untouched) and takes
    // the record into memory: 1. A write that changes no row goes to onWriteFailed, so
    // each reply logs its own line, and leaves the memory as it was: -1 (also for a
    // statement that would be cut). Telling the pages is the caller's.
    int ApplyServerUser(const struUserW& received, const WriteFailed& onWriteFailed);

    // The page's change of the profile: 0 when started, -2 while one is in flight.
    int UpdateUserInfo(const uie::value& profile);

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
    // The last assessment's score and rank, in memory only (tUser is not written).
    void SetAssessResult(int assessPoint, int assessRank) {
        std::lock_guard lock(m_lock);
        m_user.assessPoint = assessPoint;
        m_user.assessRank = assessRank;
    }
    // One field of the current record, for the getters.
    template <class T>
    T GetField(T struUserW::*field) const {
        std::lock_guard lock(m_lock);
        return m_user.*field;
    }

private:
    void PostUserInfoChanged() const;
    void TakeLoginRecord(const std::wstring& reply);

    mutable std::mutex m_lock;  // the records and the update texts; never held across a call out
    struUserW m_user;
    std::optional<int> m_loginSyncNo;  // of a login whose record is not taken yet
    // The values of the update being uploaded, read back by its reply.
    struUserW m_pendingUser;
    struUserExpW m_pendingUserExp;
    std::atomic<bool> m_bUpdateState{false};
    int m_nUpdateRetCode = 0;
    std::wstring m_strUpdateRetMsg;
};

extern CUserInfo* g_pUserInfo;
