// The reply dispatcher: the reply of every queued request goes, on the socket worker,
// to the one handler that owns its command; a few replies are handled here. Also the
// pages' health-note operation.
#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>
#include <string>

#include "Communication.h"

#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthResources.h"
#include "MyDatabase.h"
#include "Text.h"
#include "UserOperation.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"
#include "funcOp.h"
#include "global.h"
#include "healthNote.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "pedometerWin.h"
#include "realWeather.h"
#include "userAction.h"
#include "userExInfo.h"
#include "userInfo.h"
#include "weatherForecast.h"

namespace {

constexpr const wchar_t* kFn = L"CCommunication::BussProc";
constexpr int kSqlChars = 260;
constexpr int kElementAckFields = 4;  // code, message, user, element

// A row's result; none when the object that owns the reply does not exist (yet).
using RowResult = std::optional<int>;

struct ReplyRow {
    int commandId;
    RowResult (*handle)(CCommunication& comm, const std::wstring& reply);
};

template <class T>
T* Loaded(T* global) {
    return global;
}
template <class T>
T* Loaded(const std::atomic<T*>& global) {
    return global.load();
}

// The handler of an object reached through its global, which may still be null.
template <auto& Owner, auto Handler>
RowResult Owned(CCommunication&, const std::wstring& reply) {
    auto* const owner = Loaded(Owner);
    if (owner == nullptr) return std::nullopt;
    return (owner->*Handler)(reply);
}

// A feed's reply and its follow-up request.
template <int FeedCommand>
RowResult FeedReply(CCommunication& comm, const std::wstring& reply) {
    return comm.MessFeedReply(FeedCommand, reply);
}

// The server has an element's value: the element no longer waits for upload.
RowResult ElementValueUploaded(CCommunication&, const std::wstring& reply) {
    if (records::ReplyResult(kFn, COMMAND_ELEMENTVALUE_UPLOAD, reply) != 0) return 0;
    if (g_pMyDatabase == nullptr) return std::nullopt;
    if (!records::HasFields(kFn, COMMAND_ELEMENTVALUE_UPLOAD, reply, kElementAckFields)) return 0;
    std::wstring sql;
    // A cut statement could name another element: not run.
    if (FormatCut(sql, kSqlChars, L"update tHealthElement set syncNo=0 where healthElementID='%s';",
                  text::QuoteSql(records::ReplyField(reply, 4)).c_str()))
        g_pMyDatabase->ExecSQL(sql);
    return 0;
}

RowResult AssessReportReply(CCommunication&, const std::wstring& reply) {
    const int code = records::ReplyResult(kFn, COMMAND_USERASSESSREPORT_DATA, reply);
    if (code != 0) LOGF(LOG_WARNING, kFn, L"COMMAND_USERASSESSREPORT_DATA retun %d:[%s]", code, reply.c_str());
    return code;
}

// In table order: the first row with the reply's command id decides.
const ReplyRow kRows[] = {
    {COMMAND_USER_LOGIN,
     [](CCommunication& comm, const std::wstring& reply) -> RowResult {
         comm.LoginBussProc(reply, COMM_MODE_ASYNC);
         return 0;
     }},
    {COMMAND_USER_LOGOUT, [](CCommunication&, const std::wstring&) -> RowResult { return 0; }},
    {COMMAND_PLUSECHECK,
     [](CCommunication& comm, const std::wstring& reply) -> RowResult {
         comm.PluseCheckBussProc(reply);
         return 0;
     }},
    {COMMAND_ELEMENTVALUE_UPLOAD, ElementValueUploaded},
    {COMMAND_ELEMENTVALUE_QUEST,
     [](CCommunication& comm, const std::wstring& reply) -> RowResult {
         // Its result is not passed on.
         const auto handle = Owned<g_pHealthResources, &CHealthResources::BussDataProc_HealthElementValue>;
         return handle(comm, reply) ? RowResult(0) : std::nullopt;
     }},
    {COMMAND_USERASSESSREPORT_DATA, AssessReportReply},
    {COMMAND_USEROPDATA_UPLOAD, Owned<g_pUserOperation, &CUserOperation::BussDataProc>},
    {COMMAND_FUNCOP_UPLOAD, Owned<g_pFuncOp, &CFuncOp::BussDataProc>},
    {COMMAND_BLOODPRESSURE_DATA_UPLOAD, Owned<g_pBloodPressure, &CBloodPressureWin::BussDataProc_1002>},
    {COMMAND_HEALTHNOTE_UPLOAD, Owned<g_pHealthNote, &CHealthNote::BussDataProc>},
    {COMMAND_USERACTION_UPLOAD, Owned<g_pUserAction, &CUserAction::BussDataProc>},
    {COMMAND_USERINFO_QUEST, Owned<g_pUserInfo, &CUserInfo::BussDataProc>},
    {COMMAND_USEREXINFO_QUEST, Owned<g_pUserExInfo, &CUserExInfo::BussDataProc>},
    {COMMAND_WEATHERLIVE_QUEST, Owned<g_pRealWeather, &CRealWeather::BussDataProc>},
    {COMMAND_WEATHERFORECAST_QUEST, Owned<g_pWeatherForecast, &CWeatherForecast::BussDataProc>},
    {COMMAND_LIFEINDEX_QUEST, Owned<g_pLifeIndex, &CLifeIndex::BussDataProc>},
    {COMMAND_USERMESS_QUEST, FeedReply<COMMAND_USERMESS_QUEST>},
    {COMMAND_PUBLICMESS_QUEST, FeedReply<COMMAND_PUBLICMESS_QUEST>},
    {COMMAND_USERTYPEMESS_QUEST, FeedReply<COMMAND_USERTYPEMESS_QUEST>},
    {COMMAND_USERGROUPMESS_QUEST, FeedReply<COMMAND_USERGROUPMESS_QUEST>},
    {COMMAND_USERINFO_UPLOAD, Owned<g_pUserInfo, &CUserInfo::UserInfoUp_BussDataProc>},
    {COMMAND_PARAMETER_QUEST, Owned<g_pParameter, &CParameter::BussDataProc>},
    {COMMAND_PEDOMETER_ORIGDATA_UPLOAD, Owned<g_pDeviceManager, &CDeviceManager::BussDataProc>},
    {COMMAND_PEDORANK_QUEST, Owned<g_pPedometer, &CPedometerWin::BussDataProc_PedoRank>},
    {COMMAND_ALERTLIST_UPLOAD,
     [](CCommunication& comm, const std::wstring& reply) -> RowResult { return comm.AlertListUpLoad_BussProc(reply); }},
};

// A command that no handler owns: only a failure is noted.
int UnownedReply(int commandId, const std::wstring& reply) {
    const int code = records::ReplyResult(kFn, commandId, reply);
    if (code >= 0) return 0;
    LOGF(LOG_ERROR, kFn, L"pPackHead->nCommandID[%X] retCode[%d],strRetMsg[%s]", commandId, code,
         records::ReplyField(reply, 2).c_str());
    return code;
}

struHealthNoteW ReadHealthNote(const uie::value& object, int userNo) {
    using records::MemberInt;
    using records::MemberText;
    struHealthNoteW n;
    n.userNo = MemberInt(object, L"userNo", userNo);
    n.noteNo = MemberInt(object, L"noteNo", 1);
    n.noteDate = MemberInt(object, L"noteDate", 0);
    n.title = MemberText(object, L"title");
    n.content = MemberText(object, L"content");
    n.sourceType = MemberText(object, L"sourceType");
    n.createTime = MemberText(object, L"createTime");
    n.allowShareFlag = MemberText(object, L"allowShareFlag", L"1");
    n.shareFlag = MemberText(object, L"shareFlag", L"0");
    n.lastOpCode = MemberText(object, L"lastOpCode", L" ");
    n.syncFlag = MemberText(object, L"syncFlag", L"-1");
    n.syncNo = MemberInt(object, L"syncNo", 0);
    n.status = MemberText(object, L"status");
    n.note = MemberText(object, L"note");
    return n;
}

// A note the server has is deleted through the server; one it never had, here.
void DeleteHealthNote(CCommunication& comm, const struHealthNoteW& note) {
    if (g_pMyDatabase == nullptr) {
        LOGF(LOG_WARNING, L"CCommunication::HealthNoteOp", L"no database: note [%d][%d] not deleted", note.userNo,
             note.noteNo);
        return;
    }
    std::wstring where;
    FormatCut(where, kSqlChars, L"where userNo=%d and noteNo=%0d", note.userNo, note.noteNo);
    if (g_pMyDatabase->ReadFieldValueField(L"tHealthNote", L"syncNo", where, -1) > 0) {
        comm.HealthNoteOpUpLoad_asyn(note);
        return;
    }
    std::wstring sql;
    if (FormatCut(sql, kSqlChars, L"delete from tHealthNote where userNo=%d and noteNo = %0d ;", note.userNo,
                  note.noteNo))
        g_pMyDatabase->ExecSQL(sql);
}

}  // namespace

int CCommunication::BussProc(struCommContext* context) {
    const std::wstring reply = GetReplyText(context);
    if (reply.empty()) return 0;
    const int commandId = context->nCommandID;
    const auto row = std::find_if(std::begin(kRows), std::end(kRows),
                                  [commandId](const ReplyRow& r) { return r.commandId == commandId; });
    if (row == std::end(kRows)) return UnownedReply(commandId, reply);
    if (const RowResult result = row->handle(*this, reply)) return *result;
    LOGF(LOG_WARNING, kFn, L"[%X] reply dropped, no object takes it: [%s]", commandId, reply.c_str());
    return 0;
}

int CCommunication::HealthNoteOp(const uie::value& notes) {
    const struHealthNoteW note = ReadHealthNote(notes.nth(0), m_nUserNo);
    if (note.lastOpCode == L"0")
        HealthNoteOpUpLoad_asyn(note);
    else if (note.lastOpCode == L"2")
        DeleteHealthNote(*this, note);
    return 0;
}
