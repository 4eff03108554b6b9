#include "userExInfo.h"

#include "Communication.h"
#include "DataClassKit.h"
#include "MainFrame.h"
#include "MyDatabase.h"
#include "Text.h"
#include "global.h"

CUserExInfo* g_pUserExInfo = nullptr;

namespace {

using records::ReplyField;
using records::ReplyInt;

constexpr int kStatementMax = 1040;
constexpr int kReplyFields = 25;  // the record without modifyTime

std::wstring Q(const std::wstring& s) { return text::QuoteSql(s); }

template <class T>
uie::NativeProperty ExpField(const char* name, T struUserExpW::*field) {
    return records::FieldProperty(name, g_pUserExInfo, field);
}

// A birthday the "age" element can take: strictly between 1900 and 2100.
bool PlausibleBirthday(int birthday) { return birthday > 19000000 && birthday < 21000000; }

}  // namespace

CUserExInfo::CUserExInfo() = default;

int CUserExInfo::ReadUserExFromDB() {
    SqlRows rows;
    if (g_pMyDatabase == nullptr || g_pMyDatabase->SelectTableWithReturn(L"select * from tUserExp ;", rows) != 0 ||
        rows.empty() || rows.front().size() < 26)
        return 1;  // the record stays as it was; the loading goes on
    const auto& c = rows.front();
    const auto n = [&c](std::size_t i) { return records::ColumnInt(c, i); };
    struUserExpW e;
    e.userNo = n(0);
    e.userID = c[1];
    e.userRegIpAddr = c[2];
    e.userPhone = c[3];
    e.userMobile = c[4];
    e.userEmail = c[5];
    e.userQQ = c[6];
    e.userMSN = c[7];
    e.userLinkAddr = c[8];
    e.userBlog = c[9];
    e.userMicroBlog = c[10];
    e.userName = c[11];
    e.userSex = c[12];
    e.userBirthday = n(13);
    e.userHeight = n(14);
    e.userWeight = n(15);
    e.userBust = n(16);
    e.userWaistline = n(17);
    e.userHip = n(18);
    e.userDuties = c[19];
    e.userIndustry = c[20];
    e.userLaborIntensity = n(21);
    e.syncNo = n(22);
    e.status = c[23];
    e.note = c[24];
    e.modifyTime = c[25];
    std::lock_guard lock(m_lock);
    m_userExp = std::move(e);
    return 1;
}

std::shared_ptr<const uie::NativeObjectDef> CUserExInfo::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->properties = {
            ExpField("userNo", &struUserExpW::userNo),
            ExpField("userID", &struUserExpW::userID),
            ExpField("userRegIpAddr", &struUserExpW::userRegIpAddr),
            ExpField("userPhone", &struUserExpW::userPhone),
            ExpField("userMobile", &struUserExpW::userMobile),
            ExpField("userEmail", &struUserExpW::userEmail),
            ExpField("userQQ", &struUserExpW::userQQ),
            ExpField("userMSN", &struUserExpW::userMSN),
            ExpField("userLinkAddr", &struUserExpW::userLinkAddr),
            ExpField("userBlog", &struUserExpW::userBlog),
            ExpField("userMicroBlog", &struUserExpW::userMicroBlog),
            ExpField("userName", &struUserExpW::userName),
            ExpField("userSex", &struUserExpW::userSex),
            ExpField("userBirthday", &struUserExpW::userBirthday),
            ExpField("userHeight", &struUserExpW::userHeight),
            ExpField("userWeight", &struUserExpW::userWeight),
            ExpField("userBust", &struUserExpW::userBust),
            ExpField("userWaistline", &struUserExpW::userWaistline),
            ExpField("userHip", &struUserExpW::userHip),
            ExpField("userDuties", &struUserExpW::userDuties),
            ExpField("userIndustry", &struUserExpW::userIndustry),
            ExpField("userLaborIntensity", &struUserExpW::userLaborIntensity),
            ExpField("syncNo", &struUserExpW::syncNo),
            ExpField("status", &struUserExpW::status),
            ExpField("note", &struUserExpW::note),
            ExpField("modifyTime", &struUserExpW::modifyTime),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

int CUserExInfo::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "userExp", ScriptObjectDef()) ? 1 : 0;
}

int CUserExInfo::BussDataProc(const std::wstring& reply) {
    if (!records::HasFields(L"CUserExInfo::BussDataProc", COMMAND_USEREXINFO_QUEST, reply, kReplyFields)) return 0;
    struUserExpW r;
    int i = 1;
    r.userNo = ReplyInt(reply, i++);
    r.userID = ReplyField(reply, i++);
    r.userRegIpAddr = ReplyField(reply, i++);
    r.userPhone = ReplyField(reply, i++);
    r.userMobile = ReplyField(reply, i++);
    r.userEmail = ReplyField(reply, i++);
    r.userQQ = ReplyField(reply, i++);
    r.userMSN = ReplyField(reply, i++);
    r.userLinkAddr = ReplyField(reply, i++);
    r.userBlog = ReplyField(reply, i++);
    r.userMicroBlog = ReplyField(reply, i++);
    r.userName = ReplyField(reply, i++);
    r.userSex = ReplyField(reply, i++);
    r.userBirthday = ReplyInt(reply, i++);
    r.userHeight = ReplyInt(reply, i++);
    r.userWeight = ReplyInt(reply, i++);
    r.userBust = ReplyInt(reply, i++);
    r.userWaistline = ReplyInt(reply, i++);
    r.userHip = ReplyInt(reply, i++);
    r.userDuties = ReplyField(reply, i++);
    r.userIndustry = ReplyField(reply, i++);
    r.userLaborIntensity = ReplyInt(reply, i++);
    r.syncNo = ReplyInt(reply, i++);
    r.status = ReplyField(reply, i++);
    r.note = ReplyField(reply, i++);
    if (r.syncNo == GetField(&struUserExpW::syncNo)) return 0;

    // No where clause: the table's one row.
    std::wstring sql;
    if (!FormatCut(sql, kStatementMax,
                   L"update tUserExp set userNo = %d, userID='%s', userRegIpAddr='%s', userPhone='%s', "
                   L"userMobile='%s', \t\t\tuserEmail='%s', userQQ='%s', userMSN='%s', userLinkAddr='%s', "
                   L"userBlog='%s', userMicroBlog='%s', userName='%s', \t\t\tuserSex='%s', userBirthday=%0d, "
                   L"userHeight=%0d, userWeight=%0d, userBust=%0d, userWaistline=%0d, userHip=%0d, "
                   L"\t\t\tuserDuties='%s', userIndustry='%s', userLaborIntensity=%0d,             syncNo=%0d, "
                   L"status='%s', note='%s',modifyTime = datetime('now','localtime') ",
                   r.userNo, Q(r.userID).c_str(), Q(r.userRegIpAddr).c_str(), Q(r.userPhone).c_str(),
                   Q(r.userMobile).c_str(), Q(r.userEmail).c_str(), Q(r.userQQ).c_str(), Q(r.userMSN).c_str(),
                   Q(r.userLinkAddr).c_str(), Q(r.userBlog).c_str(), Q(r.userMicroBlog).c_str(),
                   Q(r.userName).c_str(), Q(r.userSex).c_str(), r.userBirthday, r.userHeight, r.userWeight,
                   r.userBust, r.userWaistline, r.userHip, Q(r.userDuties).c_str(), Q(r.userIndustry).c_str(),
                   r.userLaborIntensity, r.syncNo, Q(r.status).c_str(), Q(r.note).c_str()))
        return 0;  // a cut statement is not run
    if (records::ExecOneRow(L"CUserExInfo::BussDataProc", sql) != 1) return 0;

    {
        // The measures (height to labour intensity) reach the pages at the next load.
        std::lock_guard lock(m_lock);
        m_userExp.userNo = r.userNo;
        m_userExp.userID = r.userID;
        m_userExp.userRegIpAddr = r.userRegIpAddr;
        m_userExp.userPhone = r.userPhone;
        m_userExp.userMobile = r.userMobile;
        m_userExp.userEmail = r.userEmail;
        m_userExp.userQQ = r.userQQ;
        m_userExp.userMSN = r.userMSN;
        m_userExp.userLinkAddr = r.userLinkAddr;
        m_userExp.userBlog = r.userBlog;
        m_userExp.userMicroBlog = r.userMicroBlog;
        m_userExp.userName = r.userName;
        m_userExp.userSex = r.userSex;
        m_userExp.userBirthday = r.userBirthday;
        m_userExp.syncNo = r.syncNo;
        m_userExp.status = r.status;
        m_userExp.note = r.note;
    }

    CMainFrame* const frame = g_pMainFrame;
    if (frame == nullptr) return 1;
    const int sex = text::WToI(r.userSex.c_str());  // not a number: 0
    if (sex >= 0 && sex <= 2) frame->PostRefreshElementValue(L"sex", sex, true, true);
    if (PlausibleBirthday(r.userBirthday)) frame->PostRefreshElementValue(L"age", r.userBirthday, true, true);
    frame->PostBandUserInfo();
    frame->PostBottomUserInfo();
    return 1;
}

void CUserExInfo::SetContactFields(const struUserExpW& pending) {
    std::lock_guard lock(m_lock);
    m_userExp.userPhone = pending.userPhone;
    m_userExp.userMobile = pending.userMobile;
    m_userExp.userEmail = pending.userEmail;
    m_userExp.userQQ = pending.userQQ;
    m_userExp.userMSN = pending.userMSN;
    m_userExp.userLinkAddr = pending.userLinkAddr;
    m_userExp.userBlog = pending.userBlog;
    m_userExp.userMicroBlog = pending.userMicroBlog;
    m_userExp.userName = pending.userName;
    m_userExp.userSex = pending.userSex;
    m_userExp.userBirthday = pending.userBirthday;
    m_userExp.syncNo = pending.syncNo;
}
