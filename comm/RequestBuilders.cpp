// The asynchronous requests: each builder writes its payload text and queues it on a
// socket worker; the reply reaches BussProc on that worker's thread.
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "Communication.h"

#include "Alert.h"
#include "AlertMessageWin.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "IntDate.h"
#include "MainFrame.h"
#include "MessageWin.h"
#include "Testing.h"
#include "Text.h"
#include "UserOperation.h"
#include "article.h"
#include "assessInfo.h"
#include "deviceManager.h"
#include "funcOp.h"
#include "global.h"
#include "healthNote.h"
#include "lifeIndex.h"
#include "realWeather.h"
#include "userAction.h"
#include "userExInfo.h"
#include "userInfo.h"
#include "weatherForecast.h"

namespace {

constexpr wchar_t kSep = L'\x02';

// The payload text: every field followed by the separator, the last one too. Texts
// lose the separators and NULs they hold, so no text can move the fields after it.
class FieldText {
public:
    FieldText& Int(int n) {
        text_ += std::to_wstring(n);
        text_ += kSep;
        return *this;
    }
    FieldText& Text(std::wstring_view s) {
        for (const wchar_t c : s)
            if (c != L'\0' && c != L'\x02' && c != L'\x03') text_ += c;
        text_ += kSep;
        return *this;
    }
    // One character as a field of its own.
    FieldText& Char(wchar_t c) { return Text(std::wstring_view(&c, 1)); }
    const std::wstring& Str() const { return text_; }

private:
    std::wstring text_;
};

// The user number to send: -1 stands for the logged-in user's.
int UserOr(int userNo, const CCommunication& comm) { return userNo == -1 ? comm.m_nUserNo.load() : userNo; }

bool RefuseNoUser(int userNo, const wchar_t* function) {
    if (userNo != -1) return false;
    LOGF(LOG_WARNING, function, L"nUserNo == -1");
    return true;
}

struUserW ProfileUser() { return g_pUserInfo ? g_pUserInfo->GetUser() : struUserW{}; }

// The profile's user type as one character; "0" while the profile has none.
wchar_t UserTypeOf(const struUserW& user) { return user.userType.empty() ? L'0' : user.userType.front(); }

// Script values as the pages pass them: numbers may come as texts.
int IntOf(const VALUE& v) {
    if (v.is_int()) return v.get_int();
    if (v.is_float()) return static_cast<int>(v.get_double());
    if (v.is_string()) return text::WToI(v.get_string().c_str());
    return 0;
}
int IntKey(const VALUE& map, const wchar_t* key) { return IntOf(map.get_item(VALUE(key))); }
std::wstring TextKey(const VALUE& map, const wchar_t* key, const wchar_t* fallback = L"") {
    const VALUE v = map.get_item(VALUE(key));
    return v.is_string() ? v.get_string() : std::wstring(fallback);
}

}  // namespace

int CCommunication::QueueRequest(int commandId, const std::wstring& payload, const wchar_t* function,
                                 bool logFailures) {
    struCommContext* context = AllocateContext();
    if (context == nullptr) {
        if (logFailures) LOGF(LOG_ERROR, function, L"AllocateContext:NULL!");
        return -1;
    }
    CSocketThread* worker = LockOneMinConnect();
    if (worker == nullptr) {
        if (logFailures) LOGF(LOG_ERROR, function, L"LockOneMinConnect fail!");
        FreeContext(context);
        return -1;
    }
    if (!FillPayload(context, commandId, COMM_MODE_ASYNC, payload)) {
        LOGF(LOG_ERROR, function, L"strcpy err!!!");
        worker->SetBusy(false);  // chosen but never queued: nothing else would clear it
        FreeContext(context);
        return -1;
    }
    context->pSocketThread = worker;
    return worker->Push(context);
}

// ---- queries -----------------------------------------------------------------------

int CCommunication::PluseCheck_asyn(int userNo) {
    constexpr const wchar_t* kFn = L"CCommunication::PluseCheck_asyn";
    if (g_pMainFrame == nullptr || g_pMainFrame->GetState() == 0) return 0;
    userNo = UserOr(userNo, *this);
    if (RefuseNoUser(userNo, kFn)) return -1;
    const struUserW user = ProfileUser();
    FieldText f;
    f.Int(userNo)
        .Char(UserTypeOf(user))
        .Int(user.userGroupNo)
        .Int(user.userArticleGroupNo)
        .Int(m_nAreaCodeNo)
        .Int(g_pArticle ? g_pArticle->m_nMaxNo.load() : -1)
        .Text(g_Config.m_config.macAddress);
    // The three held message numbers travel as one field that carries its own
    // separators, so the payload ends with two separators.
    FieldText numbers;
    numbers.Int(g_pWeatherForecast ? g_pWeatherForecast->m_nForecastMessNo.load() : -1)
        .Int(g_pRealWeather ? g_pRealWeather->m_nRealMessNo.load() : -1)
        .Int(g_pLifeIndex ? g_pLifeIndex->m_nLiveIndexMessNo.load() : -1);
    return QueueRequest(COMMAND_PLUSECHECK, f.Str() + numbers.Str() + kSep, kFn);
}

int CCommunication::QuestUserInfo_asyn(int userNo, int serverSyncNo, int localSyncNo) {
    FieldText f;
    f.Int(UserOr(userNo, *this)).Int(serverSyncNo).Int(localSyncNo);
    return QueueRequest(COMMAND_USERINFO_QUEST, f.Str(), L"CCommunication::QuestUserInfo_asyn");
}

int CCommunication::QuestUserExpInfo_asyn(int userNo, int serverSyncNo, int localSyncNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestUserExpInfo_asyn";
    userNo = UserOr(userNo, *this);
    if (RefuseNoUser(userNo, kFn)) return -1;
    FieldText f;
    f.Int(userNo).Int(serverSyncNo).Int(localSyncNo);
    return QueueRequest(COMMAND_USEREXINFO_QUEST, f.Str(), kFn);
}

int CCommunication::QuestParameter_asyn(int userNo, int parameterNo, int serverSyncNo, int) {
    FieldText f;
    f.Int(UserOr(userNo, *this)).Int(parameterNo).Int(serverSyncNo);
    return QueueRequest(COMMAND_PARAMETER_QUEST, f.Str(), L"CCommunication::QuestParameter_asyn");
}

int CCommunication::QuestHealthElementValue_asyn(int userNo) {
    FieldText f;
    f.Int(UserOr(userNo, *this));
    return QueueRequest(COMMAND_ELEMENTVALUE_QUEST, f.Str(), L"CCommunication::QuestHealthElementValue_asyn");
}

namespace {
// The weather and life-index queries: user and area numbers, both refused when unknown.
std::optional<std::wstring> AreaQuery(const CCommunication& comm, const wchar_t* function, int userNo, int areaNo,
                                      int serverNo, int heldNo) {
    userNo = UserOr(userNo, comm);
    if (RefuseNoUser(userNo, function)) return std::nullopt;
    if (areaNo == -1) areaNo = comm.m_nAreaCodeNo;
    if (areaNo == -1) {
        LOGF(LOG_WARNING, function, L"nAreaNo == -1");
        return std::nullopt;
    }
    FieldText f;
    f.Int(userNo).Int(areaNo).Int(serverNo).Int(heldNo);
    return f.Str();
}
}  // namespace

int CCommunication::QuestWeatherLive_asyn(int userNo, int areaNo, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestWeatherLive_asyn";
    const auto payload = AreaQuery(*this, kFn, userNo, areaNo, serverNo, heldNo);
    return payload ? QueueRequest(COMMAND_WEATHERLIVE_QUEST, *payload, kFn) : -1;
}

int CCommunication::QuestWeatherForecast_asyn(int userNo, int areaNo, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestWeatherForecast_asyn";
    const auto payload = AreaQuery(*this, kFn, userNo, areaNo, serverNo, heldNo);
    return payload ? QueueRequest(COMMAND_WEATHERFORECAST_QUEST, *payload, kFn) : -1;
}

int CCommunication::QuestLifeIndex_asyn(int userNo, int areaNo, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestLifeIndex_asyn";
    const auto payload = AreaQuery(*this, kFn, userNo, areaNo, serverNo, heldNo);
    return payload ? QueueRequest(COMMAND_LIFEINDEX_QUEST, *payload, kFn) : -1;
}

int CCommunication::QuestPublicMess_asyn(int userNo, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestPublicMess_asyn";
    userNo = UserOr(userNo, *this);
    if (RefuseNoUser(userNo, kFn)) return -1;
    FieldText f;
    f.Int(userNo).Int(serverNo).Int(heldNo);
    return QueueRequest(COMMAND_PUBLICMESS_QUEST, f.Str(), kFn);
}

int CCommunication::QuestUserMess_asyn(int userNo, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestUserMess_asyn";
    userNo = UserOr(userNo, *this);
    if (RefuseNoUser(userNo, kFn)) return -1;
    FieldText f;
    f.Int(userNo).Int(serverNo).Int(heldNo);
    return QueueRequest(COMMAND_USERMESS_QUEST, f.Str(), kFn);
}

int CCommunication::QuestUserTypeMess_asyn(wchar_t userType, int serverNo, int heldNo) {
    constexpr const wchar_t* kFn = L"CCommunication::QuestUserTypeMess_asyn";
    // The query carries no user number, but only a logged-in user has a type.
    if (RefuseNoUser(m_nUserNo, kFn)) return -1;
    FieldText f;
    f.Char(userType == L'\0' ? UserTypeOf(ProfileUser()) : userType).Int(serverNo).Int(heldNo);
    return QueueRequest(COMMAND_USERTYPEMESS_QUEST, f.Str(), kFn);
}

int CCommunication::QuestUserGroupMess_asyn(int userGroupNo, int serverNo, int heldNo) {
    if (userGroupNo <= 0 && g_pUserInfo) userGroupNo = g_pUserInfo->GetUser().userGroupNo;
    FieldText f;
    f.Int(userGroupNo).Int(serverNo).Int(heldNo);
    return QueueRequest(COMMAND_USERGROUPMESS_QUEST, f.Str(), L"CCommunication::QuestUserGroupMess_asyn");
}

int CCommunication::QuestPedoRank_asyn(int value) {
    FieldText f;
    f.Int(value);
    return QueueRequest(COMMAND_PEDORANK_QUEST, f.Str(), L"CCommunication::QuestPedoRank_asyn");
}

// ---- uploads -----------------------------------------------------------------------

int CCommunication::UserInfoUpLoad_asyn(const struUserW& user, const struUserExpW& userExp) {
    FieldText f;
    f.Int(user.userNo).Text(user.userRegName).Int(user.userArticleGroupNo).Text(user.note);
    f.Text(userExp.userPhone)
        .Text(userExp.userMobile)
        .Text(userExp.userEmail)
        .Text(userExp.userQQ)
        .Text(userExp.userMSN)
        .Text(userExp.userLinkAddr)
        .Text(userExp.userBlog)
        .Text(userExp.userMicroBlog)
        .Text(userExp.userName)
        .Text(userExp.userSex)
        .Int(userExp.userBirthday);
    return QueueRequest(COMMAND_USERINFO_UPLOAD, f.Str(), L"CCommunication::UserInfoUpLoad_asyn");
}

int CCommunication::UserOpDataUpLoad_asyn(int) {
    constexpr const wchar_t* kFn = L"CCommunication::UserOpDataUpLoad_asyn";
    if (RefuseNoUser(m_nUserNo, kFn) || g_pUserOperation == nullptr) return -1;
    const UserOpDayRecord r = g_pUserOperation->GetDayRecord();
    FieldText f;
    f.Int(r.userNo).Int(r.recDate).Int(r.computerUseSecond).Int(r.mskbUseSecond).Int(r.browerUseSecond);
    for (const auto& app : r.apps) f.Text(app.appName).Int(app.appUseSecond).Int(app.appUsePercent).Int(app.appType);
    f.Int(r.syncNo).Text(r.status).Text(r.note);
    return QueueRequest(COMMAND_USEROPDATA_UPLOAD, f.Str(), kFn);
}

int CCommunication::UserAssessReportUpLoad_asyn(int) {
    if (g_pAssessInfo == nullptr) return -1;
    const struAssessReportW r = g_pAssessInfo->GetLastReport();
    FieldText f;
    f.Int(r.userNo).Int(r.assessDate).Int(r.assessPoint_all).Int(r.assessRank_all).Text(r.assessNote_all);
    for (const auto& type : r.types) f.Int(type.point).Int(type.rank);
    f.Int(r.syncNo).Text(r.status).Text(r.note);
    return QueueRequest(COMMAND_USERASSESSREPORT_DATA, f.Str(), L"CCommunication::UserAssessReportUpLoad_asyn");
}

int CCommunication::ArticleCollectionAddUpLoad_asyn(const VALUE& collection) {
    struArticleCollectionW r;
    r.userNo = IntKey(collection, L"userNo");
    r.articleNo = IntKey(collection, L"articleNo");
    r.preNode = IntKey(collection, L"preNode");
    r.node = IntKey(collection, L"node");
    r.title = TextKey(collection, L"title");
    r.simpleTitle = TextKey(collection, L"simpleTitle");
    r.keyWords = TextKey(collection, L"keyWords");
    r.articleSimpleBody = TextKey(collection, L"articleSimpleBody");
    r.sourceNote = TextKey(collection, L"sourceNote");
    r.sourceUrl = TextKey(collection, L"sourceUrl");
    r.homePageUrl = TextKey(collection, L"homePageUrl");
    r.collectionFlag = TextKey(collection, L"collectionFlag");
    r.viewTimes = IntKey(collection, L"viewTimes");
    r.folderFlag = TextKey(collection, L"folderFlag");
    r.nodeDispNo = IntKey(collection, L"nodeDispNo");
    r.dispNo = IntKey(collection, L"dispNo");
    r.sourceType = TextKey(collection, L"sourceType");
    r.status = TextKey(collection, L"status");
    r.note = TextKey(collection, L"note");
    // status is read with the rest but is no field of the upload.
    FieldText f;
    f.Int(r.userNo).Int(r.articleNo).Int(r.preNode).Int(r.node);
    f.Text(r.title).Text(r.simpleTitle).Text(r.keyWords).Text(r.articleSimpleBody);
    f.Text(r.sourceNote).Text(r.sourceUrl).Text(r.homePageUrl).Text(r.collectionFlag);
    f.Int(r.viewTimes).Text(r.folderFlag).Int(r.nodeDispNo).Int(r.dispNo).Text(r.sourceType).Text(r.note);
    return QueueRequest(COMMAND_ARTICLECOLLECTION_UPLOAD, f.Str(), L"CCommunication::ArticleCollectionAddUpLoad_asyn");
}

int CCommunication::FuncOpUpLoad_asyn(int userNo, const std::wstring& funcID, int a, int b,
                                      const std::wstring& operation) {
    FieldText f;
    f.Int(UserOr(userNo, *this)).Text(funcID).Int(a).Int(b).Text(operation);
    return QueueRequest(COMMAND_FUNCOP_UPLOAD, f.Str(), L"CCommunication::FuncOpUpLoad_asyn");
}

int CCommunication::HealthNoteOpUpLoad_asyn(const struHealthNoteW& n) {
    FieldText f;
    f.Int(n.userNo).Int(n.noteNo).Int(n.noteDate);
    f.Text(n.title).Text(n.content).Text(n.sourceType).Text(n.createTime).Text(n.allowShareFlag);
    f.Text(n.shareFlag).Text(n.lastOpCode).Text(n.syncFlag).Int(n.syncNo).Text(n.status).Text(n.note);
    return QueueRequest(COMMAND_HEALTHNOTE_UPLOAD, f.Str(), L"CCommunication::HealthNoteOpUpLoad_asyn");
}

int CCommunication::UserActionOpUpLoad_asyn(const struUserActionW& a) {
    FieldText f;
    f.Int(a.userNo).Int(a.recNo).Int(a.recDate).Int(a.actionNo);
    f.Text(a.responseType).Text(a.sourceType).Text(a.lastOpCode).Text(a.syncFlag);
    f.Int(a.syncNo).Text(a.status).Text(a.note);
    return QueueRequest(COMMAND_USERACTION_UPLOAD, f.Str(), L"CCommunication::UserActionOpUpLoad_asyn");
}

int CCommunication::UploadElementValue_asyn(const struHealthElementW& e) {
    FieldText f;
    f.Int(e.userNo).Text(e.healthElementID).Int(e.valueNo).Text(e.value);
    f.Int(e.sourceNo).Int(e.healthElementType).Int(e.decLen).Text(e.valueGeneratedTime).Text(e.unitName).Text(L"");
    return QueueRequest(COMMAND_ELEMENTVALUE_UPLOAD, f.Str(), L"CCommunication::UploadElementValue_asyn");
}

int CCommunication::PedometerOrigDataUpLoad_asyn(const struDeviceOrigData& d) {
    FieldText f;
    f.Int(d.userNo).Int(d.sourceNo).Text(d.regDeviceID).Text(d.deviceID);
    f.Text(d.readTime).Text(d.origData).Text(d.devOption);
    return QueueRequest(COMMAND_PEDOMETER_ORIGDATA_UPLOAD, f.Str(), L"CCommunication::PedometerOrigDataUpLoad_asyn",
                        true);
}

int CCommunication::BloodPressureDataUpLoad_asyn(const struBpPacketW& p) {
    FieldText f;
    f.Int(p.userNo).Int(p.sourceNo).Text(p.regDeviceID).Text(p.deviceID).Text(p.readTime);
    f.Int(p.packetNo).Int(p.recordCount).Int(p.keptCount).Text(p.keptData);
    f.Int(p.discardedCount).Text(p.discardedData).Text(p.note).Text(L"");
    return QueueRequest(COMMAND_BLOODPRESSURE_DATA_UPLOAD, f.Str(), L"CCommunication::BloodPressureDataUpLoad_asyn",
                        true);
}

int CCommunication::AlertListUpLoad_asyn(const struAlertListW& a) {
    FieldText f;
    f.Int(m_nUserNo).Int(a.alertDate).Int(a.alertNo).Int(a.no);
    f.Text(a.alertType).Text(a.message).Text(a.summary);
    f.Int(a.duraMinute).Int(a.alertMinute).Text(a.lastAlertTime).Int(a.actionNo).Text(a.actionRuleFlag).Text(L"");
    return QueueRequest(COMMAND_ALERTLIST_UPLOAD, f.Str(), L"CCommunication::AlertListUpLoad_asyn");
}

int CCommunication::TestingListUpLoad_asyn(const struTestingResultW& r) {
    // The record has four members; the sixth field stays empty.
    FieldText f;
    f.Int(m_nUserNo).Text(r.testingItemID).Text(r.lastTestingTime).Text(r.lastTestingNote);
    f.Int(r.lastTestingPoint).Text(L"");
    return QueueRequest(COMMAND_TESTINGLIST_UPLOAD, f.Str(), L"CCommunication::TestingListUpLoad_asyn");
}

int CCommunication::ArticleViewListUpLoad_asyn(const struArticleViewW& v) {
    FieldText f;
    f.Int(m_nUserNo).Int(v.articleType).Int(v.articleNo).Int(v.mainChannelNo).Int(v.subChannelNo);
    f.Text(v.title).Text(v.sourceNote).Text(v.sourceUrl).Text(v.homePageUrl).Text(v.note);
    return QueueRequest(COMMAND_ARTICLEVIEW_UPLOAD, f.Str(), L"CCommunication::ArticleViewListUpLoad_asyn");
}

// ---- composites ----------------------------------------------------------------------

int CCommunication::FuncOp(const std::wstring& funcID, const std::wstring& operation) {
    const std::optional<struFuncOpW> record = g_pFuncOp ? g_pFuncOp->GetFuncOp(funcID) : std::nullopt;
    if (!record) return -1;
    const int elapsed = DateDiff(L"ss", record->lastOpTime, GetCurTimeStrSeconds());
    // A last use that cannot be read (a function never used has none) counts as long
    // ago, so that the first use is reported.
    const bool unreadable = elapsed >= kDateDiffBadOlder && elapsed <= kDateDiffFailed;
    int a = 0;
    int b = 0;
    if (unreadable || elapsed > record->upperSecond) {
        a = record->opValueA3;
        b = record->opValueB3;
    } else if (elapsed > record->middleSecond) {
        a = record->opValueA2;
        b = record->opValueB2;
    } else if (elapsed >= record->lowerSecond) {
        a = record->opValueA1;
        b = record->opValueB1;
    } else {
        return 0;
    }
    if (b < 0) return 0;
    FuncOpUpLoad_asyn(m_nUserNo, funcID, a, b, operation);
    return 0;
}

int CCommunication::UserActionDataOp(const VALUE& actions) {
    if (!actions.is_array()) return -1;
    for (std::size_t i = 0; i < actions.length(); ++i) {
        const VALUE item = actions.nth(i);
        struUserActionW a;
        a.userNo = IntKey(item, L"userNo");
        a.recNo = IntKey(item, L"recNo");
        a.recDate = IntKey(item, L"recDate");
        a.actionNo = IntKey(item, L"actionNo");
        a.responseType = TextKey(item, L"responseType");
        a.sourceType = TextKey(item, L"sourceType");
        a.lastOpCode = TextKey(item, L"lastOpCode");
        a.syncFlag = TextKey(item, L"syncFlag", L"-1");
        a.syncNo = IntKey(item, L"syncNo");
        a.status = TextKey(item, L"status");
        a.note = TextKey(item, L"note");
        if (a.syncFlag == L"0") UserActionOpUpLoad_asyn(a);
    }
    return 0;
}

int CCommunication::AlertListUpLoad_BussProc(const std::wstring& reply) {
    const int retCode = records::ReplyResult(L"CCommunication::AlertListUpLoad_BussProc", COMMAND_ALERTLIST_UPLOAD, reply);
    if (retCode < 0) return retCode;
    const int alertNo = records::ReplyInt(reply, 4);
    const int no = records::ReplyInt(reply, 5);
    const int toMessageWin = records::ReplyInt(reply, 6);
    const std::wstring added = records::ReplyField(reply, 8);
    if (added.empty()) return 0;
    CMessageWin* const messages = g_pMessageWin;
    CAlertMessageWin* const alerts = g_pAlertMessageWin;
    if (toMessageWin != 0 && messages != nullptr) {
        messages->SetAdditionalMessage(alertNo, no, added);
    } else if (alerts != nullptr) {
        alerts->SetAdditionalMessage(alertNo, no, added);
    }
    return 0;
}
