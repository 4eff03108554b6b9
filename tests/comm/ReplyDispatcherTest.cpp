// The reply dispatcher: each command's reply reaches its one handler, the replies it
// handles in place, the feeds' follow-up requests and the pages' health-note operation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "AlertMessageWin.h"
#include "../records/RecordsFixture.h"
#include "HealthResources.h"
#include "LogReader.h"
#include "ReplyFields.h"
#include "SocketClientImpl.h"
#include "MyDatabase.h"
#include "Quorvix.h"
#include "Text.h"
#include "UserOperation.h"
#include "WaitFor.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"
#include "funcOp.h"
#include "healthNote.h"
#include "lifeIndex.h"
#include "parameter.h"
#include "pedometerWin.h"
#include "publicMess.h"
#include "realWeather.h"
#include "userAction.h"
#include "userExInfo.h"
#include "userGroupMess.h"
#include "userInfo.h"
#include "userMess.h"
#include "userTypeMess.h"
#include "weatherForecast.h"

namespace {

using Fields = std::vector<std::string>;

// The replies one handler received, answered with a set result. Replies of follow-up
// requests arrive on the socket worker.
class Recorder {
public:
    int Take(const std::wstring& reply) {
        std::lock_guard guard(m_lock);
        m_replies.push_back(reply);
        return m_result;
    }
    std::vector<std::wstring> Replies() const {
        std::lock_guard guard(m_lock);
        return m_replies;
    }
    void SetResult(int result) {
        std::lock_guard guard(m_lock);
        m_result = result;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::wstring> m_replies;
    int m_result = 0;
};

struct FuncOpStandIn : CFuncOp, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct HealthNoteStandIn : CHealthNote, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct UserActionStandIn : CUserAction, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct RealWeatherStandIn : CRealWeather, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct ForecastStandIn : CWeatherForecast, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct LifeIndexStandIn : CLifeIndex, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct HealthResourcesStandIn : CHealthResources, Recorder {
    int BussDataProc_HealthElementValue(const std::wstring& r) override { return Take(r); }
};
struct DeviceManagerStandIn : CDeviceManager, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct UserOperationStandIn : CUserOperation, Recorder {
    int BussDataProc(const std::wstring& r) override { return Take(r); }
};
struct PedometerStandIn : CPedometerWin, Recorder {
    int BussDataProc_PedoRank(const std::wstring& r) override { return Take(r); }
};
struct BloodPressureStandIn : CBloodPressureWin, Recorder {
    int BussDataProc_1002(const std::wstring& r) override { return Take(r); }
};

// A feed whose reply "stores" a set message number: the held number rises to it.
template <class Feed>
class FeedStandIn : public Feed, public Recorder {
public:
    int BussDataProc(const std::wstring& r) override {
        const int result = Take(r);
        if (m_storeNo > this->m_nMaxMessNo) this->m_nMaxMessNo = m_storeNo.load();
        return result;
    }
    void SetHeld(int n) { this->m_nMaxMessNo = n; }
    void StoreOnReply(int n) { m_storeNo = n; }

private:
    std::atomic<int> m_storeNo{-1};
};

// The global is a plain or an atomic pointer.
template <class Global, class S>
std::function<void(bool)> Placer(Global& global, S& standIn) {
    return [&global, &standIn](bool on) { global = on ? &standIn : nullptr; };
}

std::wstring Hex(int commandId) {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"%X", static_cast<unsigned>(commandId));
    return buf;
}

class ReplyDispatcherTest : public RecordsTest {
protected:
    struct StandInRow {
        int commandId;
        Recorder* recorder;
        bool passesResult;  // the row returns its handler's result
        std::function<void(bool)> place;
    };

    ReplyDispatcherTest() : marker_(L"rd" + std::to_wstring(std::random_device{}())) {
        comm_->m_nUserNo = 77;
        for (const auto& row : standIns_) row.place(true);
    }
    ~ReplyDispatcherTest() override {
        EndWorkers();
        for (const auto& row : standIns_) row.place(false);
        g_pUserInfo = nullptr;
        g_pUserExInfo = nullptr;
        g_pParameter = nullptr;
        g_pAlertMessageWin = nullptr;
        g_nRunState = 1;
    }

    // The reply as an exchange leaves it in the context, handed to the dispatcher.
    int Dispatch(int commandId, const std::wstring& reply) {
        struCommContext* context = comm_->AllocateContext();
        context->nCommandID = commandId;
        const std::string ansi = text::ToAnsi(reply);
        const std::size_t len = std::min(ansi.size(), static_cast<std::size_t>(kMaxPayloadLen - kPackHeadSize));
        std::memcpy(context->szRecv + kPackHeadSize, ansi.data(), len);
        context->nRecvLen = static_cast<int>(kPackHeadSize + len + 1);
        const int result = comm_->BussProc(context);
        comm_->FreeContext(context);
        return result;
    }

    // One request of the command queued on the worker, the server answering it with
    // payload; true once the worker has handled the reply and returned the context.
    bool QueueAnswered(int commandId, const std::string& payload) {
        server_.OnCommand(commandId, [payload](const PacketRequest&) {
            PacketReply reply;
            reply.payload = payload;
            return reply;
        });
        if (Worker()->Push(Context(commandId, std::string("77\x02", 4), COMM_MODE_ASYNC)) != 0) return false;
        return WaitFor([this] { return ContextsInUse() == 0; });
    }

    // No request reaches the server beyond the count it has.
    bool NoMoreRequests(std::size_t count) {
        return !server_.WaitForRequests(count + 1, std::chrono::milliseconds(150));
    }

    const std::wstring marker_;

    FuncOpStandIn funcOp_;
    HealthNoteStandIn healthNote_;
    UserActionStandIn userAction_;
    RealWeatherStandIn realWeather_;
    ForecastStandIn forecast_;
    LifeIndexStandIn lifeIndex_;
    HealthResourcesStandIn healthResources_;
    DeviceManagerStandIn deviceManager_;
    UserOperationStandIn userOperation_;
    PedometerStandIn pedometer_;
    BloodPressureStandIn bloodPressure_;
    FeedStandIn<CUserMess> userMess_;
    FeedStandIn<CPublicMess> publicMess_;
    FeedStandIn<CUserTypeMess> userTypeMess_;
    FeedStandIn<CUserGroupMess> userGroupMess_;

    const std::vector<StandInRow> standIns_{
        {COMMAND_ELEMENTVALUE_QUEST, &healthResources_, false, Placer(g_pHealthResources, healthResources_)},
        {COMMAND_USEROPDATA_UPLOAD, &userOperation_, true, Placer(g_pUserOperation, userOperation_)},
        {COMMAND_FUNCOP_UPLOAD, &funcOp_, true, Placer(g_pFuncOp, funcOp_)},
        {COMMAND_BLOODPRESSURE_DATA_UPLOAD, &bloodPressure_, true, Placer(g_pBloodPressure, bloodPressure_)},
        {COMMAND_HEALTHNOTE_UPLOAD, &healthNote_, true, Placer(g_pHealthNote, healthNote_)},
        {COMMAND_USERACTION_UPLOAD, &userAction_, true, Placer(g_pUserAction, userAction_)},
        {COMMAND_WEATHERLIVE_QUEST, &realWeather_, true, Placer(g_pRealWeather, realWeather_)},
        {COMMAND_WEATHERFORECAST_QUEST, &forecast_, true, Placer(g_pWeatherForecast, forecast_)},
        {COMMAND_LIFEINDEX_QUEST, &lifeIndex_, true, Placer(g_pLifeIndex, lifeIndex_)},
        {COMMAND_USERMESS_QUEST, &userMess_, true, Placer(g_pUserMess, userMess_)},
        {COMMAND_PUBLICMESS_QUEST, &publicMess_, true, Placer(g_pPublicMess, publicMess_)},
        {COMMAND_USERTYPEMESS_QUEST, &userTypeMess_, true, Placer(g_pUserTypeMess, userTypeMess_)},
        {COMMAND_USERGROUPMESS_QUEST, &userGroupMess_, true, Placer(g_pUserGroupMess, userGroupMess_)},
        {COMMAND_PEDOMETER_ORIGDATA_UPLOAD, &deviceManager_, true, Placer(g_pDeviceManager, deviceManager_)},
        {COMMAND_PEDORANK_QUEST, &pedometer_, true, Placer(g_pPedometer, pedometer_)},
    };
};

TEST_F(ReplyDispatcherTest, EachReplyReachesOnlyItsOwnHandler) {
    for (std::size_t i = 0; i < standIns_.size(); ++i) standIns_[i].recorder->SetResult(40 + static_cast<int>(i));
    for (std::size_t i = 0; i < standIns_.size(); ++i) {
        const StandInRow& row = standIns_[i];
        const std::wstring reply = L"0\x02" + marker_ + std::to_wstring(i) + L'\x02';
        const int expected = row.passesResult ? 40 + static_cast<int>(i) : 0;
        EXPECT_EQ(Dispatch(row.commandId, reply), expected) << Hex(row.commandId);
        EXPECT_EQ(row.recorder->Replies(), std::vector<std::wstring>{reply}) << Hex(row.commandId);
    }
    for (const auto& row : standIns_) EXPECT_EQ(row.recorder->Replies().size(), 1u) << Hex(row.commandId);
    // An empty reply text reaches nobody.
    EXPECT_EQ(Dispatch(COMMAND_FUNCOP_UPLOAD, L""), 0);
    EXPECT_EQ(funcOp_.Replies().size(), 1u);
    EXPECT_TRUE(NoMoreRequests(0));  // no feed had anything announced
}

TEST_F(ReplyDispatcherTest, ReplyForAMissingObjectIsDroppedWithOneLogLine) {
    for (const auto& row : standIns_) row.place(false);
    g_pMyDatabase = nullptr;
    std::vector<int> commands{COMMAND_USERINFO_QUEST, COMMAND_USEREXINFO_QUEST, COMMAND_USERINFO_UPLOAD,
                              COMMAND_PARAMETER_QUEST, COMMAND_ELEMENTVALUE_UPLOAD};
    for (const auto& row : standIns_) commands.push_back(row.commandId);
    for (const int id : commands) {
        const std::wstring reply = L"0\x02" + marker_ + Hex(id) + L'\x02';
        EXPECT_EQ(Dispatch(id, reply), 0) << Hex(id);
        EXPECT_EQ(CountLogLines(L"[" + Hex(id) + L"] reply dropped, no object takes it: [" + reply), 1) << Hex(id);
    }
}

TEST_F(ReplyDispatcherTest, BuiltHandlersShowTheirEffect) {
    ASSERT_EQ(db_.ExecSQL(L"update tUser set userNo=77, userID='ann', syncNo=5"), 1);
    CUserInfo user;
    ASSERT_EQ(user.ReadUserFromDB(), 1);
    g_pUserInfo = &user;
    std::vector<std::wstring> record{L"77", L"ann", L"Ann", L"", L"20200101", L"dev", L"1", L"", L"", L"", L"", L"7",
                                     L"1010", L"A", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10", L"11", L"6",
                                     L"1", marker_};
    EXPECT_EQ(Dispatch(COMMAND_USERINFO_QUEST, JoinFields(record)), 1);
    EXPECT_EQ(user.GetField(&struUserW::syncNo), 6);
    EXPECT_EQ(Dispatch(COMMAND_USERINFO_UPLOAD, L"-7\x02" + marker_ + L'\x02'), -7);
    EXPECT_EQ(user.GetUpdateRetMsg(), marker_);

    CUserExInfo userEx;
    g_pUserExInfo = &userEx;
    std::vector<std::wstring> exRecord(25, L"");
    exRecord[0] = L"77";
    exRecord[3] = marker_;  // userPhone
    exRecord[22] = L"9";    // syncNo
    Dispatch(COMMAND_USEREXINFO_QUEST, JoinFields(exRecord));
    EXPECT_EQ(FirstValue(L"select userPhone from tUserExp"), marker_);

    CParameter parameter;
    g_pParameter = &parameter;
    Dispatch(COMMAND_PARAMETER_QUEST, JoinFields({L"3", L"assessPoint_type1", marker_, L"4", L"1", L""}));
    EXPECT_EQ(FirstValue(L"select value from tParameter where parameterNo=3"), marker_);

    CAlertMessageWin alertWin;
    g_pAlertMessageWin = &alertWin;
    EXPECT_EQ(Dispatch(COMMAND_ALERTLIST_UPLOAD, JoinFields({L"0", L"ok", L"", L"41", L"2", L"0", L"", marker_})), 0);
    ASSERT_EQ(alertWin.GetAdditionalMessages().size(), 1u);
    EXPECT_EQ(alertWin.GetAdditionalMessages()[0].text, marker_);

    // Field 2 is the profile's syncNo and the rest announce nothing: no request follows.
    std::vector<std::wstring> keepAlive(21, L"-1");
    keepAlive[0] = L"0";
    keepAlive[1] = L"6";
    keepAlive[8] = L"4242";  // field 9, the newest user message
    EXPECT_EQ(Dispatch(COMMAND_PLUSECHECK, JoinFields(keepAlive)), 0);
    EXPECT_EQ(comm_->m_nPluseCheckNo[9], 4242);

    EXPECT_EQ(Dispatch(COMMAND_USER_LOGOUT, L"-1\x02no\x02"), 0);
}

TEST_F(ReplyDispatcherTest, ReLoginReplyGoesToTheLoginHandler) {
    std::atomic<int> exits{0};
    Hooks().exitProcess = [&exits](int) { ++exits; };
    EXPECT_EQ(Dispatch(COMMAND_USER_LOGIN, L"-7\x02" + marker_ + L'\x02'), 0);
    EXPECT_EQ(comm_->m_nRetCode, -7);
    EXPECT_EQ(comm_->GetStatusText(), marker_);
    EXPECT_EQ(comm_->m_nLoginState, 3);
    EXPECT_EQ(exits, 1);  // a refused re-login ends the program
}

TEST_F(ReplyDispatcherTest, AssessReportAndUnownedRepliesLogOnlyFailures) {
    const std::wstring refused = L"-2\x02" + marker_ + L"a\x02";
    EXPECT_EQ(Dispatch(COMMAND_USERASSESSREPORT_DATA, refused), -2);
    EXPECT_EQ(CountLogLines(L"COMMAND_USERASSESSREPORT_DATA retun -2:[" + refused + L"]"), 1);
    EXPECT_EQ(Dispatch(COMMAND_USERASSESSREPORT_DATA, L"0\x02" + marker_ + L"b\x02"), 0);
    EXPECT_EQ(CountLogLines(marker_ + L"b"), 0);

    EXPECT_EQ(Dispatch(COMMAND_TESTINGLIST_UPLOAD, L"-3\x02" + marker_ + L"c\x02"), -3);
    EXPECT_EQ(CountLogLines(L"pPackHead->nCommandID[1192] retCode[-3],strRetMsg[" + marker_ + L"c]"), 1);
    EXPECT_EQ(Dispatch(COMMAND_TESTINGLIST_UPLOAD, L"0\x02" + marker_ + L"d\x02"), 0);
    EXPECT_EQ(CountLogLines(marker_ + L"d"), 0);
}

TEST_F(ReplyDispatcherTest, ElementUploadReplyClearsOnlyTheNamedElementsSyncNo) {
    ASSERT_EQ(db_.ExecSQL(L"insert into tHealthElement (userNo, healthElementID, syncNo) values (77, 'it''s', 4)"), 1);
    ASSERT_GT(db_.ExecSQL(L"update tHealthElement set syncNo=4"), 1);
    const auto syncNo = [&](const wchar_t* id) {
        return FirstValue(std::wstring(L"select syncNo from tHealthElement where healthElementID='") + id + L"'");
    };

    // A failure, and results that are empty or no number, which are failures too.
    for (const wchar_t* result : {L"1", L"", L"ok"})
        EXPECT_EQ(Dispatch(COMMAND_ELEMENTVALUE_UPLOAD, JoinFields({result, L"no", L"", L"sex"})), 0);
    EXPECT_EQ(syncNo(L"sex"), L"4");
    EXPECT_EQ(Dispatch(COMMAND_ELEMENTVALUE_UPLOAD, JoinFields({L"0", L"ok", L"", L"x' or '1'='1"})), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tHealthElement where syncNo=0"), L"0");
    EXPECT_EQ(Dispatch(COMMAND_ELEMENTVALUE_UPLOAD, JoinFields({L"0", L"ok", L"", L"it's"})), 0);
    EXPECT_EQ(syncNo(L"it''s"), L"0");
    EXPECT_EQ(FirstValue(L"select count(*) from tHealthElement where syncNo=0"), L"1");
}

TEST_F(ReplyDispatcherTest, EachFeedAsksForTheNextMessageWithItsOwnNumbers) {
    struct FeedCase {
        int commandId;
        std::size_t field;  // the keep-alive field that announces the feed
        int announced;
        Recorder& recorder;
        std::function<void(int held, int stores)> prepare;
        Fields expected;
    };
    const auto prepare = [](auto& feed) {
        return [&feed](int held, int stores) {
            feed.SetHeld(held);
            feed.StoreOnReply(stores);
        };
    };
    // No profile: the type and group queries send their defaults.
    const std::vector<FeedCase> feeds{
        {COMMAND_PUBLICMESS_QUEST, 7, 17, publicMess_, prepare(publicMess_), {"77", "17", "6"}},
        {COMMAND_USERTYPEMESS_QUEST, 8, 18, userTypeMess_, prepare(userTypeMess_), {"0", "18", "6"}},
        {COMMAND_USERMESS_QUEST, 9, 7, userMess_, prepare(userMess_), {"77", "7", "6"}},
        {COMMAND_USERGROUPMESS_QUEST, 10, 20, userGroupMess_, prepare(userGroupMess_), {"0", "20", "6"}},
    };
    for (const FeedCase& feed : feeds) comm_->m_nPluseCheckNo[feed.field] = feed.announced;
    for (std::size_t i = 0; i < feeds.size(); ++i) {
        feeds[i].prepare(5, 6);  // held 5, the reply stores message 6
        EXPECT_EQ(Dispatch(feeds[i].commandId, L"0\x02" L"6\x02"), 0);
        ASSERT_TRUE(server_.WaitForRequests(i + 1));
        const PacketRequest request = server_.Requests()[i];
        EXPECT_EQ(request.commandId, feeds[i].commandId);
        EXPECT_EQ(request.fields, feeds[i].expected);
        // The follow-up's own reply stores nothing new: the feed asks no further.
        EXPECT_TRUE(WaitFor([&] { return feeds[i].recorder.Replies().size() == 2; }));
    }
    EXPECT_TRUE(NoMoreRequests(feeds.size()));
}

TEST_F(ReplyDispatcherTest, FeedAsksAgainOnlyWhenTheReplyMovedItOn) {
    userMess_.SetHeld(5);
    comm_->m_nPluseCheckNo[9] = 7;
    EXPECT_EQ(Dispatch(COMMAND_USERMESS_QUEST, L"77\x02" L"6\x02"), 0);  // nothing stored
    userMess_.StoreOnReply(6);
    userMess_.SetResult(-1);
    EXPECT_EQ(Dispatch(COMMAND_USERMESS_QUEST, L"77\x02" L"6\x02"), -1);  // the handler failed
    userMess_.SetHeld(5);
    userMess_.SetResult(0);
    comm_->m_nPluseCheckNo[9] = 0;
    EXPECT_EQ(Dispatch(COMMAND_USERMESS_QUEST, L"77\x02" L"6\x02"), 0);  // nothing announced
    EXPECT_TRUE(NoMoreRequests(0));
}

TEST_F(ReplyDispatcherTest, HealthNoteDeleteIsLocalUntilTheServerHasTheNote) {
    for (const wchar_t* sql : {L"insert into tHealthNote (userNo, noteNo, title, syncNo) values (77, 1, 'a', 0)",
                               L"insert into tHealthNote (userNo, noteNo, title, syncNo) values (77, 2, 'b', 3)",
                               L"insert into tHealthNote (userNo, noteNo, title, syncNo) values (77, 5, 'c', 0)"})
        ASSERT_EQ(db_.ExecSQL(sql), 1);
    const auto op = [&](int noteNo, const wchar_t* code) {
        uie::value note = uie::value::make_map();
        note.set_item(uie::value(L"noteNo"), uie::value(noteNo));
        note.set_item(uie::value(L"lastOpCode"), uie::value(code));
        return comm_->HealthNoteOp(uie::value::make_array({note}));
    };
    const auto rows = [&] {
        return FirstValue(L"select group_concat(noteNo) from (select noteNo from tHealthNote order by noteNo)");
    };

    EXPECT_EQ(op(1, L"2"), 0);  // never synced: deleted here
    EXPECT_EQ(op(9, L"2"), 0);  // no such row
    EXPECT_EQ(op(5, L"1"), 0);  // not an operation of this method
    EXPECT_EQ(rows(), L"2,5");
    EXPECT_EQ(op(2, L"2"), 0);  // the server has it: the delete goes through the server
    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest upload = server_.Requests()[0];
    EXPECT_EQ(upload.commandId, COMMAND_HEALTHNOTE_UPLOAD);
    EXPECT_EQ(upload.fields, (Fields{"77", "2", "0", "", "", "", "", "1", "0", "2", "-1", "0", "", ""}));
    EXPECT_EQ(rows(), L"2,5");
}

TEST_F(ReplyDispatcherTest, ReplyCutShortOfItsRecordChangesNoRow) {
    // A full profile, as a start finds it.
    ASSERT_EQ(db_.ExecSQL(L"update tUser set userNo=77, userID='ann', areaNo=11, areaCodeNo=101010100, "
                          L"userType='3', userGroupNo=7, syncNo=5, note='mine'"),
              1);
    ASSERT_EQ(db_.ExecSQL(L"update tUserExp set userNo=77, syncNo=3"), 1);
    CUserInfo user;
    ASSERT_EQ(user.ReadUserFromDB(), 1);
    g_pUserInfo = &user;
    CUserExInfo userEx;
    ASSERT_EQ(userEx.ReadUserExFromDB(), 1);
    g_pUserExInfo = &userEx;
    CParameter parameter;
    g_pParameter = &parameter;
    CFuncOp funcOp;
    g_pFuncOp = &funcOp;
    CHealthNote healthNote;
    g_pHealthNote = &healthNote;
    CUserAction userAction;
    g_pUserAction = &userAction;
    const auto tables = [&] {
        std::vector<SqlRows> all;
        for (const wchar_t* table : {L"tUser", L"tUserExp", L"tParameter", L"tFuncOp", L"tHealthNote",
                                     L"tUserActionDataList", L"tHealthElement"})
            all.push_back(Rows(std::wstring(L"select * from ") + table));
        return all;
    };

    struct Cut {
        int commandId;
        int sent;   // fields the server sends
        int whole;  // fields of the whole reply
        std::vector<std::pair<int, std::wstring>> fields;  // those not "0"; field 2 is the row's marker
    };
    const std::vector<Cut> cuts{
        {COMMAND_USERINFO_QUEST, 6, 26, {{1, L"77"}, {24, L"6"}}},
        {COMMAND_USERINFO_QUEST, 25, 26, {{1, L"77"}, {24, L"6"}}},
        {COMMAND_USEREXINFO_QUEST, 24, 25, {{1, L"77"}, {23, L"9"}}},
        {COMMAND_PARAMETER_QUEST, 5, 6, {{1, L"1"}}},
        {COMMAND_USERINFO_UPLOAD, 3, 4, {{3, L"9"}}},
        {COMMAND_FUNCOP_UPLOAD, 29, 30, {{6, L"77"}}},
        {COMMAND_HEALTHNOTE_UPLOAD, 5, 6, {{3, L"77"}, {4, L"1"}}},
        {COMMAND_USERACTION_UPLOAD, 5, 6, {{3, L"77"}, {4, L"1"}}},
        {COMMAND_ELEMENTVALUE_UPLOAD, 3, 4, {{3, L"77"}}},
    };
    const std::vector<SqlRows> before = tables();
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        const Cut& cut = cuts[i];
        std::vector<std::wstring> fields(static_cast<std::size_t>(cut.sent), L"0");
        fields[1] = marker_ + std::to_wstring(i);
        for (const auto& [n, value] : cut.fields)
            if (n <= cut.sent) fields[static_cast<std::size_t>(n - 1)] = value;
        const std::wstring reply = JoinFields(fields);
        ASSERT_TRUE(QueueAnswered(cut.commandId, text::ToAnsi(reply) + '\0')) << Hex(cut.commandId);
        EXPECT_EQ(CountLogLines(L"reply 0x" + Hex(cut.commandId) + L" cut short: " + std::to_wstring(cut.sent) +
                                L" of " + std::to_wstring(cut.whole) + L" fields:[" + reply + L"]"),
                  1)
            << Hex(cut.commandId) << " " << cut.sent;
        EXPECT_EQ(tables(), before) << Hex(cut.commandId) << " " << cut.sent;
    }
    EXPECT_EQ(user.GetField(&struUserW::areaCodeNo), 101010100);
    EXPECT_EQ(user.GetField(&struUserW::userType), L"3");
    EndWorkers();
}

TEST_F(ReplyDispatcherTest, OversizedReplyFailsOnlyItsOwnRequest) {
    CUserExInfo userEx;
    g_pUserExInfo = &userEx;
    comm_->m_nAreaCodeNo = 1010;
    server_.OnCommand(COMMAND_USEREXINFO_QUEST, [](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"0"});
        reply.packLen = SocketClientImpl::kLimitLen - 4 + 1;  // one byte past what the client takes
        return reply;
    });
    // The keep-alive announces a new extended profile, forecast, weather and life index;
    // its handler queues their requests behind one another on the worker.
    std::vector<std::wstring> keepAlive(23, L"0");
    keepAlive[2] = L"9";
    keepAlive[3] = L"10";
    keepAlive[4] = L"20";
    keepAlive[5] = L"30";
    ASSERT_TRUE(QueueAnswered(COMMAND_PLUSECHECK, text::ToAnsi(JoinFields(keepAlive)) + '\0'));

    ASSERT_TRUE(server_.WaitForRequests(5));
    std::vector<int> commands;
    for (const PacketRequest& r : server_.Requests()) commands.push_back(r.commandId);
    EXPECT_EQ(commands, (std::vector<int>{COMMAND_PLUSECHECK, COMMAND_USEREXINFO_QUEST, COMMAND_WEATHERFORECAST_QUEST,
                                          COMMAND_WEATHERLIVE_QUEST, COMMAND_LIFEINDEX_QUEST}));
    EXPECT_TRUE(WaitFor([&] { return lifeIndex_.Replies().size() == 1; }));
    EXPECT_TRUE(comm_->IsOnline());
    EndWorkers();
}

// A keep-alive announcing a message far ahead, each reply moving the feed on by one, starts
// no chain without end: the feed asks for its share, the rest waits for the next keep-alive.
TEST_F(ReplyDispatcherTest, AFeedAnnouncedFarAheadAsksForItsShareOfMessagesPerKeepAlive) {
    CPublicMess publicMess;
    publicMess.LoadFromDB();
    g_pPublicMess = &publicMess;
    server_.OnCommand(COMMAND_PUBLICMESS_QUEST, [](const PacketRequest& request) {
        PacketReply reply;
        reply.payload = std::to_string(std::stoi(request.fields.at(2)) + 1) + "\x02text\x02p\x02v\x02" "1\x02" "1\x02n\x02m\x02" + '\0';
        return reply;
    });
    comm_->m_nPluseCheckNo[7] = 2147483647;
    constexpr int kShare = CCommunication::kFeedRequestsPerKeepAlive;
    for (int keepAlive = 1; keepAlive <= 2; ++keepAlive) {
        comm_->QuestNewMessages();
        EXPECT_TRUE(WaitFor([&] { return publicMess.GetMaxMessNo() == keepAlive * kShare; }));
        EXPECT_TRUE(NoMoreRequests(static_cast<std::size_t>(keepAlive * kShare)));
    }
    EndWorkers();
    EXPECT_EQ(FirstValue(L"select count(*) from tPublicMess"), std::to_wstring(2 * kShare));
}

// A keep-alive that follows the last at once (the main window's, after the login's) asks a
// feed for nothing it asked for already while that reply can still come.
TEST_F(ReplyDispatcherTest, ASecondKeepAliveBeforeTheReplyDoesNotAskForTheSameMessageAgain) {
    CPublicMess publicMess;
    publicMess.LoadFromDB();
    g_pPublicMess = &publicMess;
    std::atomic<bool> answer{false};
    server_.OnCommand(COMMAND_PUBLICMESS_QUEST, [&answer](const PacketRequest&) {
        WaitFor([&answer] { return answer.load(); });
        PacketReply reply;
        reply.payload = std::string("1\x02text\x02p\x02v\x02" "1\x02" "1\x02n\x02m\x02") + '\0';
        return reply;
    });
    comm_->m_nPluseCheckNo[7] = 1;
    comm_->QuestNewMessages();
    ASSERT_TRUE(server_.WaitForRequests(1));
    comm_->QuestNewMessages();
    answer = true;
    EXPECT_TRUE(WaitFor([&] { return publicMess.GetMaxMessNo() == 1; }));
    EXPECT_TRUE(NoMoreRequests(1));
    EndWorkers();
}

TEST_F(ReplyDispatcherTest, FeedMovesPastAMessageCutShortAndBringsTheLaterOnes) {
    CPublicMess publicMess;
    CUserMess userMess;
    publicMess.LoadFromDB();
    userMess.LoadFromDB();
    ASSERT_EQ(publicMess.GetMaxMessNo(), 0);
    ASSERT_EQ(userMess.GetMaxMessNo(), 0);
    g_pPublicMess = &publicMess;
    g_pUserMess = &userMess;
    // Each request asks for the message after the held one (its third field); message 2
    // has a NUL in its text, which cuts the reply there.
    const auto answer = [this](int commandId, const std::string& owner) {
        server_.OnCommand(commandId, [owner](const PacketRequest& request) {
            const int next = std::stoi(request.fields.at(2)) + 1;
            const std::string text = next == 2 ? std::string("te\0xt", 5) : "text";
            PacketReply reply;
            reply.payload = owner + std::to_string(next) + "\x02" + text + "\x02" + "p\x02v\x02" + "1\x02" +
                            "1\x02" + "n\x02" + "m\x02" + '\0';
            return reply;
        });
    };
    answer(COMMAND_PUBLICMESS_QUEST, "");
    answer(COMMAND_USERMESS_QUEST, "77\x02");
    comm_->m_nPluseCheckNo[7] = 4;
    comm_->m_nPluseCheckNo[9] = 4;
    comm_->QuestNewMessages();

    EXPECT_TRUE(WaitFor([&] { return publicMess.GetMaxMessNo() == 4 && userMess.GetMaxMessNo() == 4; }));
    EndWorkers();
    EXPECT_EQ(FirstValue(L"select group_concat(publicMessNo) from (select publicMessNo from tPublicMess order by 1)"),
              L"1,3,4");
    EXPECT_EQ(FirstValue(L"select group_concat(userMessNo) from (select userMessNo from tUserMess order by 1)"),
              L"1,3,4");
}

}  // namespace
