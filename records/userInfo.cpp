#include "userInfo.h"

#include <cstdint>
#include <memory>

#include "Communication.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"

CUserInfo* g_pUserInfo = nullptr;

namespace {

using records::ReplyField;
using records::ReplyInt;

constexpr int kStatementMax = 1040;
// The user record reply: the record without modifyTime. The upload's reply: code,
// message and the two new syncNos. The login reply: its six own fields, then the record.
constexpr int kRecordFields = 26;
constexpr int kUploadReplyFields = 4;
constexpr int kLoginFields = 6 + kRecordFields;
constexpr int kLoginRecordFirst = 7;
constexpr wchar_t kUploadFailed[] = L"修改用户信息失败。(通信故障)";

// Every text goes into SQL through this: a quote from a page or the server stays text.
std::wstring Q(const std::wstring& s) { return text::QuoteSql(s); }

std::wstring TextOf(const uie::value& obj, const wchar_t* key) { return records::MemberText(obj, key); }
int IntOf(const uie::value& obj, const wchar_t* key) { return records::MemberInt(obj, key, -1); }

template <class T>
uie::NativeProperty UserField(const char* name, T struUserW::*field) {
    return records::FieldProperty(name, g_pUserInfo, field);
}

// Built once for the life of the process; every page's VM shares it.
std::shared_ptr<const uie::NativeObjectDef> UserObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"UpdateUserInfo", [](HVM, const uie::NativeArgs& args) {
                           if (g_pUserInfo == nullptr) return uie::value(-1);
                           try {
                               return uie::value(g_pUserInfo->UpdateUserInfo(uie::ArgMap(args, 0)));
                           } catch (const uie::ScriptError&) {
                               return uie::value();  // the engine's empty value
                           }
                       }}};
        d->properties = {
            {"updateUserInfo_State",
             [](HVM, const uie::NativeArgs&) {
                 return uie::value(g_pUserInfo != nullptr && g_pUserInfo->GetUpdateState() ? 1 : 0);
             },
             {}},
            {"updateUserInfo_RetCode",
             [](HVM, const uie::NativeArgs&) {
                 return uie::value(g_pUserInfo != nullptr ? g_pUserInfo->GetUpdateRetCode() : 0);
             },
             {}},
            {"updateUserInfo_RetMsg",
             [](HVM, const uie::NativeArgs&) {
                 return uie::value(g_pUserInfo != nullptr ? g_pUserInfo->GetUpdateRetMsg() : std::wstring());
             },
             {}},
            UserField("userNo", &struUserW::userNo),
            UserField("userID", &struUserW::userID),
            UserField("userRegName", &struUserW::userRegName),
            UserField("userPass", &struUserW::userPass),
            UserField("userRegDate", &struUserW::userRegDate),
            UserField("deviceID", &struUserW::deviceID),
            UserField("loginStatus", &struUserW::loginStatus),
            UserField("lastLoginTime", &struUserW::lastLoginTime),
            UserField("lastOpTime", &struUserW::lastOpTime),
            UserField("ipAddr", &struUserW::ipAddr),
            UserField("areaNo", &struUserW::areaNo),
            UserField("areaCodeNo", &struUserW::areaCodeNo),
            UserField("userType", &struUserW::userType),
            UserField("userGroupNo", &struUserW::userGroupNo),
            UserField("userArticleGroupNo", &struUserW::userArticleGroupNo),
            UserField("userMessNo", &struUserW::userMessNo),
            UserField("experienceNo", &struUserW::experienceNo),
            UserField("experienceRank", &struUserW::experienceRank),
            UserField("pointNo", &struUserW::pointNo),
            UserField("pointRank", &struUserW::pointRank),
            UserField("assessPoint", &struUserW::assessPoint),
            UserField("assessRank", &struUserW::assessRank),
            UserField("syncNo", &struUserW::syncNo),
            UserField("status", &struUserW::status),
            UserField("note", &struUserW::note),
            UserField("modifyTime", &struUserW::modifyTime),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

CUserInfo::CUserInfo() = default;

int CUserInfo::ReadUserFromDB() {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(L"select * from tUser ;", rows) != 0 ||
        rows.empty() || rows.front().size() < 27)
        return 0;
    const auto& c = rows.front();
    const auto n = [&c](int i) { return text::WToI(c[i].c_str()); };
    struUserW u;
    u.userNo = n(0);
    u.userID = c[1];
    u.userRegName = c[2];
    u.userPass = c[3];
    u.userRegDate = n(4);
    u.deviceID = c[5];
    u.loginStatus = c[6];
    u.lastLoginTime = c[7];
    u.lastPluseTime = c[8];
    u.lastOpTime = c[9];
    u.ipAddr = c[10];
    u.areaNo = n(11);
    u.areaCodeNo = n(12);
    u.userType = c[13];
    u.userGroupNo = n(14);
    u.userArticleGroupNo = n(15);
    u.userMessNo = n(16);
    u.experienceNo = n(17);
    u.experienceRank = n(18);
    u.pointNo = n(19);
    u.pointRank = n(20);
    u.assessPoint = n(21);
    u.assessRank = n(22);
    u.syncNo = n(23);
    u.status = c[24];
    u.note = c[25];
    u.modifyTime = c[26];
    SetUser(u);
    return 1;
}

int CUserInfo::RegisterScriptObject(HVM vm) { return uie::DefineNativeObject(vm, "user", UserObjectDef()) ? 1 : 0; }

struUserW CUserInfo::ParseServerUser(const std::wstring& reply, int first, bool withPluseTime) {
    struUserW u;
    int i = first;
    u.userNo = ReplyInt(reply, i++);
    u.userID = ReplyField(reply, i++);
    u.userRegName = ReplyField(reply, i++);
    u.userPass = ReplyField(reply, i++);
    u.userRegDate = ReplyInt(reply, i++);
    u.deviceID = ReplyField(reply, i++);
    u.loginStatus = ReplyField(reply, i++);
    u.lastLoginTime = ReplyField(reply, i++);
    if (withPluseTime) u.lastPluseTime = ReplyField(reply, i++);
    u.lastOpTime = ReplyField(reply, i++);
    u.ipAddr = ReplyField(reply, i++);
    u.areaNo = ReplyInt(reply, i++);
    u.areaCodeNo = ReplyInt(reply, i++);
    u.userType = ReplyField(reply, i++);
    u.userGroupNo = ReplyInt(reply, i++);
    u.userArticleGroupNo = ReplyInt(reply, i++);
    u.userMessNo = ReplyInt(reply, i++);
    u.experienceNo = ReplyInt(reply, i++);
    u.experienceRank = ReplyInt(reply, i++);
    u.pointNo = ReplyInt(reply, i++);
    u.pointRank = ReplyInt(reply, i++);
    u.assessPoint = ReplyInt(reply, i++);
    u.assessRank = ReplyInt(reply, i++);
    u.syncNo = ReplyInt(reply, i++);
    u.status = ReplyField(reply, i++);
    u.note = ReplyField(reply, i++);
    return u;
}

int CUserInfo::ApplyServerUser(const struUserW& r, const WriteFailed& onWriteFailed) {
    if (r.syncNo == GetField(&struUserW::syncNo)) return 0;

    // The password column is always written empty: it never stays on the disk.
    std::wstring sql;
    if (!FormatCut(sql, kStatementMax,
                   L"update tUser set userID='%s', userRegName='%s', userPass='%s', userRegDate=%0d, deviceID='%s', "
                   L"\t\t\tloginStatus='%s', lastLoginTime='%s', lastOpTime='%s', ipAddr='%s', areaNo=%0d, "
                   L"areaCodeNo=%0d, userType='%s', \t\t\tuserGroupNo=%0d, userArticleGroupNo=%0d, userMessNo=%0d,"
                   L"\t\t\texperienceNo=%0d,experienceRank=%0d,pointNo=%0d, pointRank=%0d, assessPoint=%0d, "
                   L"assessRank=%0d,\t\t\tsyncNo=%0d, status='%s',note='%s' ,modifyTime = "
                   L"datetime('now','localtime') where userNo=%0d",
                   Q(r.userID).c_str(), Q(r.userRegName).c_str(), L"", r.userRegDate, Q(r.deviceID).c_str(),
                   Q(r.loginStatus).c_str(), Q(r.lastLoginTime).c_str(), Q(r.lastOpTime).c_str(),
                   Q(r.ipAddr).c_str(), r.areaNo, r.areaCodeNo, Q(r.userType).c_str(), r.userGroupNo,
                   r.userArticleGroupNo, r.userMessNo, r.experienceNo, r.experienceRank, r.pointNo, r.pointRank,
                   r.assessPoint, r.assessRank, r.syncNo, Q(r.status).c_str(), Q(r.note).c_str(), r.userNo))
        return -1;  // a cut statement could write a wrong row: not run
    const int changed = g_pMyDatabase != nullptr ? g_pMyDatabase->ExecSQL(sql) : -1;
    if (changed != 1) {
        if (onWriteFailed) onWriteFailed(changed, sql);
        return -1;
    }
    std::lock_guard lock(m_lock);
    struUserW u = r;
    u.lastPluseTime = m_user.lastPluseTime;  // not part of this record's write
    u.modifyTime = m_user.modifyTime;
    m_user = std::move(u);
    return 1;
}

int CUserInfo::BussDataProc(const std::wstring& reply) {
    if (!records::HasFields(L"CUserInfo::BussDataProc", COMMAND_USERINFO_QUEST, reply, kRecordFields)) return 0;
    const int applied =
        ApplyServerUser(ParseServerUser(reply, 1, true), [](int result, const std::wstring& sql) {
            LOGF(LOG_WARNING, L"CUserInfo::BussDataProc", L"ExecuteSQLCommandWithReturn:[%d][%s]", result,
                 sql.c_str());
        });
    if (applied != 1) return 0;
    PostUserInfoChanged();
    return 1;
}

int CUserInfo::UpdateUserInfo(const uie::value& profile) {
    if (m_bUpdateState.exchange(true)) return -2;

    struUserW user;
    struUserExpW exp;
    user.userNo = GetField(&struUserW::userNo);
    user.userRegName = TextOf(profile, L"userRegName");
    user.userArticleGroupNo = IntOf(profile, L"userArticleGroupNo");
    user.note = TextOf(profile, L"note");
    exp.userPhone = TextOf(profile, L"userPhone");
    exp.userMobile = TextOf(profile, L"userMobile");
    exp.userEmail = TextOf(profile, L"userEmail");
    exp.userQQ = TextOf(profile, L"userQQ");
    exp.userMSN = TextOf(profile, L"userMSN");
    exp.userLinkAddr = TextOf(profile, L"userLinkAddr");
    exp.userBlog = TextOf(profile, L"userBlog");
    exp.userMicroBlog = TextOf(profile, L"userMicroBlog");
    exp.userName = TextOf(profile, L"userName");
    exp.userSex = TextOf(profile, L"userSex");
    exp.userBirthday = IntOf(profile, L"userBirthday");
    {
        std::lock_guard lock(m_lock);
        m_pendingUser = user;
        m_pendingUserExp = exp;
    }
    // A request that was never queued gets no failure callback: clear the state here,
    // or every later update would be refused for the rest of the run.
    if (g_pCommunication == nullptr || g_pCommunication->UserInfoUpLoad_asyn(user, exp) != 0)
        SetUpdateResult(false, -1, kUploadFailed);
    return 0;
}

int CUserInfo::UserInfoUp_BussDataProc(const std::wstring& reply) {
    constexpr const wchar_t* kFn = L"CUserInfo::UserInfoUp_BussDataProc";
    const int retCode = records::ReplyResult(kFn, COMMAND_USERINFO_UPLOAD, reply);
    if (retCode >= 0 && !records::HasFields(kFn, COMMAND_USERINFO_UPLOAD, reply, kUploadReplyFields)) {
        // Nothing is written: the page learns that the update failed and may try again.
        SetUpdateResult(false, -1, kUploadFailed);
        return -1;
    }
    SetUpdateResult(false, retCode, ReplyField(reply, 2));
    if (retCode < 0) return retCode;

    struUserW user;
    struUserExpW exp;
    int userNo = -1;
    {
        std::lock_guard lock(m_lock);
        m_pendingUser.syncNo = ReplyInt(reply, 3);
        m_pendingUserExp.syncNo = ReplyInt(reply, 4);
        user = m_pendingUser;
        exp = m_pendingUserExp;
        userNo = m_user.userNo;
    }
    std::wstring userSql;
    std::wstring expSql;
    const bool whole =
        FormatCut(userSql, kStatementMax,
                  L"update tUser set userRegName='%s',userArticleGroupNo=%0d, syncNo=%0d, note='%s' where userNo=%0d",
                  Q(user.userRegName).c_str(), user.userArticleGroupNo, user.syncNo, Q(user.note).c_str(), userNo) &&
        FormatCut(expSql, kStatementMax,
                  L"update tUserExp set userPhone='%s', userMobile='%s', \tuserEmail='%s', userQQ='%s', "
                  L"userMSN='%s', userLinkAddr='%s', userBlog='%s', userMicroBlog='%s', userName='%s', "
                  L"\tuserSex='%s', userBirthday=%0d, syncNo=%0d where userNo=%0d",
                  Q(exp.userPhone).c_str(), Q(exp.userMobile).c_str(), Q(exp.userEmail).c_str(),
                  Q(exp.userQQ).c_str(), Q(exp.userMSN).c_str(), Q(exp.userLinkAddr).c_str(),
                  Q(exp.userBlog).c_str(), Q(exp.userMicroBlog).c_str(), Q(exp.userName).c_str(),
                  Q(exp.userSex).c_str(), exp.userBirthday, exp.syncNo, userNo);
    if (!whole || g_pMyDatabase == nullptr) return -1;
    if (const int result = g_pMyDatabase->ExecSQLSet({userSql, expSql}, true); result != 0) return result;
    {
        std::lock_guard lock(m_lock);
        m_user.userRegName = user.userRegName;
        m_user.userArticleGroupNo = user.userArticleGroupNo;
        m_user.syncNo = user.syncNo;
        m_user.note = user.note;
    }
    if (g_pUserExInfo != nullptr) g_pUserExInfo->SetContactFields(exp);
    PostUserInfoChanged();
    return 0;
}

void CUserInfo::ExpectLoginRecord(const std::wstring& reply) {
    if (records::ReplyFieldCount(reply) < kLoginFields) return;  // no record to take
    const int syncNo = ParseServerUser(reply, kLoginRecordFirst, true).syncNo;
    std::lock_guard lock(m_lock);
    m_loginSyncNo = syncNo;
}

int CUserInfo::KnownSyncNo() const {
    std::lock_guard lock(m_lock);
    return m_loginSyncNo.value_or(m_user.syncNo);
}

int CUserInfo::UserLoginDataProc(const std::wstring& reply) {
    TakeLoginRecord(reply);
    // From here on the record's own sync number is the one known.
    std::lock_guard lock(m_lock);
    m_loginSyncNo.reset();
    return 0;
}

void CUserInfo::TakeLoginRecord(const std::wstring& reply) {
    if (g_pCommunication == nullptr || g_pCommunication->m_nRetCode.load() != 0) return;
    if (!records::HasFields(L"CUserInfo::UserLoginDataProc", COMMAND_USER_LOGIN, reply, kLoginFields)) return;
    const struUserW r = ParseServerUser(reply, kLoginRecordFirst, true);

    struUserW u;
    bool changed = false;
    {
        std::lock_guard lock(m_lock);
        if (r.userNo != m_user.userNo) {
            // A user new to this database (a fresh one holds the template's blank row):
            // nothing of the record held is theirs, and the keep-alive asks for the profile
            // only once the server's sync number moves past the one the login brings.
            const std::wstring pass = m_user.userPass;
            m_user = r;
            m_user.userPass = pass;
            changed = true;
        } else if (r.userID != m_user.userID) {
            m_user.userID = r.userID;
            changed = true;
        }
        if (r.syncNo != m_user.syncNo) {
            m_user.syncNo = r.syncNo;
            changed = true;
        }
        u = m_user;
    }
    if (!changed || g_pMyDatabase == nullptr) return;

    // Formatted whole: a real profile is longer than any fixed buffer would allow.
    std::wstring sql;
    text::FormatW(sql, SIZE_MAX,
                  L"update tUser set userNo=%d, userID='%s', userRegName='%s', userPass='%s', userRegDate=%0d,"
                  L"\t\t\tdeviceID='%s', loginStatus='%s', lastLoginTime='%s', lastPluseTime='%s', lastOpTime='%s', "
                  L"ipAddr='%s',\t\t\tareaNo=%0d, areaCodeNo=%0d,userType='%s', userGroupNo=%0d, "
                  L"userArticleGroupNo=%0d, userMessNo=%0d, experienceNo=%0d, pointNo=%0d,\t\t\tsyncNo=%0d, "
                  L"status='%s', note='%s', modifyTime = datetime('now','localtime');",
                  u.userNo, Q(u.userID).c_str(), Q(u.userRegName).c_str(), L"", u.userRegDate,
                  Q(u.deviceID).c_str(), Q(u.loginStatus).c_str(), Q(u.lastLoginTime).c_str(),
                  Q(u.lastPluseTime).c_str(), Q(u.lastOpTime).c_str(), Q(u.ipAddr).c_str(), u.areaNo, u.areaCodeNo,
                  Q(u.userType).c_str(), u.userGroupNo, u.userArticleGroupNo, u.userMessNo, u.experienceNo,
                  u.pointNo, u.syncNo, Q(u.status).c_str(), Q(u.note).c_str());
    // The memory already holds the new values; a failed write is only logged.
    const int result = g_pMyDatabase->ExecSQL(sql);
    if (result < 0)
        LOGF(LOG_WARNING, L"CUserInfo::UserLoginDataProc", L"ExecuteSQLCommandWithReturn:[%d][%s]", result,
             sql.c_str());
}

void CUserInfo::PostUserInfoChanged() const {
    if (g_pMainFrame == nullptr) return;
    g_pMainFrame->PostBottomUserInfo();
    g_pMainFrame->PostHomePageUserInfo();
}

void CUserInfo::SetUpdateResult(bool busy, int retCode, const std::wstring& retMsg) {
    std::lock_guard lock(m_lock);
    m_bUpdateState = busy;
    m_nUpdateRetCode = retCode;
    m_strUpdateRetMsg = retMsg;
}

void CUserInfo::SetUpdateState(bool busy) { m_bUpdateState = busy; }

bool CUserInfo::GetUpdateState() const { return m_bUpdateState.load(); }

int CUserInfo::GetUpdateRetCode() const {
    std::lock_guard lock(m_lock);
    return m_nUpdateRetCode;
}

std::wstring CUserInfo::GetUpdateRetMsg() const {
    std::lock_guard lock(m_lock);
    return m_strUpdateRetMsg;
}
