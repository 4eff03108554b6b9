// The request builders: payload bytes as the server receives them, the limits, and
// the composites that choose whether to upload.
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "Alert.h"
#include "AlertMessageWin.h"
#include "CommFixture.h"
#include "MessageWin.h"
#include "Config.h"
#include "LogReader.h"
#include "MainFrame.h"
#include "TempDir.h"
#include "Testing.h"
#include "Text.h"
#include "deviceManager.h"
#include "funcOp.h"
#include "healthNote.h"
#include "HealthResources.h"
#include "userAction.h"
#include "userExInfo.h"
#include "userInfo.h"
#include "WaitFor.h"

namespace {

using Fields = std::vector<std::string>;

class RequestBuildersTest : public CommTest {
protected:
    RequestBuildersTest() {
        comm_->m_nUserNo = 77;
        g_pUserInfo = &user_;
    }
    ~RequestBuildersTest() override {
        EndWorkers();
        g_pUserInfo = nullptr;
        g_pMainFrame = nullptr;
        g_pFuncOp = nullptr;
    }

    // The n-th request the server recorded, once it has arrived.
    PacketRequest Request(std::size_t n) {
        EXPECT_TRUE(server_.WaitForRequests(n + 1));
        const auto requests = server_.Requests();
        return n < requests.size() ? requests[n] : PacketRequest{};
    }

    CUserInfo user_;
};

TEST_F(RequestBuildersTest, QueriesCloseEveryFieldWithASeparator) {
    ASSERT_EQ(comm_->QuestPedoRank_asyn(5), 0);
    PacketRequest r = Request(0);
    EXPECT_EQ(r.commandId, COMMAND_PEDORANK_QUEST);
    EXPECT_EQ(r.payload, std::string("5\x02\0", 3));
    EXPECT_EQ(r.packLen, 7 + 3);

    ASSERT_EQ(comm_->QuestParameter_asyn(-1, 12, 34, 56), 0);
    EXPECT_EQ(Request(1).payload, std::string("77\x02" "12\x02" "34\x02\0", 10));  // c is not sent

    // The type query needs a logged-in user although it sends no user number.
    struUserW profile;
    profile.userType = L"3x";
    user_.SetUser(profile);
    comm_->m_nUserNo = -1;
    EXPECT_EQ(comm_->QuestUserTypeMess_asyn(L'\0', 1, 2), -1);
    comm_->m_nUserNo = 77;
    ASSERT_EQ(comm_->QuestUserTypeMess_asyn(L'\0', 1, 2), 0);
    EXPECT_EQ(Request(2).fields, (Fields{"3", "1", "2"}));
    user_.SetUser(struUserW{});
    ASSERT_EQ(comm_->QuestUserTypeMess_asyn(L'\0', 1, 2), 0);
    EXPECT_EQ(Request(3).fields, (Fields{"0", "1", "2"}));  // never an empty payload

    comm_->m_nAreaCodeNo = -1;
    EXPECT_EQ(comm_->QuestWeatherLive_asyn(-1, -1, 5, 6), -1);
    comm_->m_nAreaCodeNo = 1010;
    ASSERT_EQ(comm_->QuestLifeIndex_asyn(-1, -1, 5, 6), 0);
    r = Request(4);
    EXPECT_EQ(r.commandId, COMMAND_LIFEINDEX_QUEST);
    EXPECT_EQ(r.fields, (Fields{"77", "1010", "5", "6"}));
}

TEST_F(RequestBuildersTest, KeepAliveWaitsForTheMainFrameThenEndsWithTwoSeparators) {
    ASSERT_EQ(comm_->PluseCheck_asyn(-1), 0);  // no main frame yet: nothing to report
    TempDir pages;
    std::ofstream(pages / "main.htm") << "<html><body></body></html>";
    CMainFrame frame;
    frame.m_cs.ownThread = false;  // made on this thread, ended with the test
    frame.m_cs.page = text::FromUtf8((pages / "main.htm").string());
    g_pMainFrame = &frame;
    ASSERT_EQ(comm_->PluseCheck_asyn(-1), 0);  // state 0: not started
    frame.Start();  // the frame's start polls once itself
    ASSERT_NE(frame.GetState(), 0);
    ASSERT_TRUE(server_.WaitForRequests(1));

    struUserW profile;
    profile.userType = L"2";
    profile.userGroupNo = 8;
    profile.userArticleGroupNo = 9;
    user_.SetUser(profile);
    comm_->m_nAreaCodeNo = 1010;
    const std::wstring mac = g_Config.m_config.macAddress;
    g_Config.m_config.macAddress = L"00AABBCCDDEE";
    ASSERT_EQ(comm_->PluseCheck_asyn(-1), 0);
    g_Config.m_config.macAddress = mac;

    const PacketRequest r = Request(1);
    EXPECT_EQ(server_.RequestCount(), 2u);  // the two calls before the start sent nothing
    EXPECT_EQ(r.commandId, COMMAND_PLUSECHECK);
    EXPECT_EQ(r.fields, (Fields{"77", "2", "8", "9", "1010", "-1", "00AABBCCDDEE", "-1", "-1", "-1", ""}));
    EXPECT_EQ(r.payload.substr(r.payload.size() - 3), std::string("\x02\x02\0", 3));
    EndWorkers();  // the keep-alive's reply reads the main frame
    g_pMainFrame = nullptr;
}

TEST_F(RequestBuildersTest, RecordsTravelWholeInTheirFieldOrder) {
    struUserW user;
    user.userNo = 77;
    user.userRegName = L"张\x02三";  // a separator inside a text must not shift the fields
    user.userArticleGroupNo = 4;
    user.note = std::wstring(3000, L'n');  // longer than any fixed buffer the record once had
    struUserExpW exp;
    exp.userPhone = L"phone";
    exp.userMobile = L"mobile";
    exp.userEmail = L"mail";
    exp.userQQ = L"qq\x03";
    exp.userMSN = L"msn";
    exp.userLinkAddr = L"addr";
    exp.userBlog = L"blog";
    exp.userMicroBlog = L"micro";
    exp.userName = L"name";
    exp.userSex = L"1";
    exp.userBirthday = 19800102;
    ASSERT_EQ(comm_->UserInfoUpLoad_asyn(user, exp), 0);
    PacketRequest r = Request(0);
    EXPECT_EQ(r.commandId, COMMAND_USERINFO_UPLOAD);
    EXPECT_EQ(r.fields, (Fields{"77", text::ToAnsi(L"张三"), "4", std::string(3000, 'n'), "phone", "mobile", "mail",
                                "qq", "msn", "addr", "blog", "micro", "name", "1", "19800102"}));

    struHealthElementW element;
    element.userNo = 77;
    element.healthElementID = L"weight";
    element.valueNo = 655;
    element.value = L"65.5";
    element.sourceNo = 3;
    element.healthElementType = 10;
    element.decLen = 1;
    element.valueGeneratedTime = L"2024-05-10 08:00:00.000";
    element.unitName = L"kg";
    ASSERT_EQ(comm_->UploadElementValue_asyn(element), 0);
    EXPECT_EQ(Request(1).fields,
              (Fields{"77", "weight", "655", "65.5", "3", "10", "1", "2024-05-10 08:00:00.000", "kg", ""}));

    struDeviceOrigData orig{77, 122, L"reg", L"dev", L"raw", L"2024-05-10 08:00:00", L"opt"};
    ASSERT_EQ(comm_->PedometerOrigDataUpLoad_asyn(orig), 0);  // read time goes before the raw text
    EXPECT_EQ(Request(2).fields, (Fields{"77", "122", "reg", "dev", "2024-05-10 08:00:00", "raw", "opt"}));

    struTestingResultW testing{L"bp", L"2024-05-10 08:00:00", L"fine", 90};
    ASSERT_EQ(comm_->TestingListUpLoad_asyn(testing), 0);
    EXPECT_EQ(Request(3).fields, (Fields{"77", "bp", "2024-05-10 08:00:00", "fine", "90", ""}));
}

TEST_F(RequestBuildersTest, RefusedRequestsLeaveThePoolAsItWas) {
    struHealthNoteW note;
    note.content = std::wstring(2100, L'健');  // 2100 characters, 4200 bytes in GBK
    const int inUse = ContextsInUse();
    const int before = CountLogLines(L"strcpy err!!!");
    EXPECT_EQ(comm_->HealthNoteOpUpLoad_asyn(note), -1);
    EXPECT_EQ(CountLogLines(L"strcpy err!!!"), before + 1);
    EXPECT_EQ(ContextsInUse(), inUse);
    EXPECT_FALSE(Worker()->IsBusy());

    // Offline, with the worker held in an exchange and ten requests waiting.
    server_.OnCommand(COMMAND_USER_LOGOUT, [](const PacketRequest&) {
        PacketReply reply;
        reply.noReply = true;
        return reply;
    });
    ASSERT_LT(Exchange(COMMAND_USER_LOGOUT, "bye"), 1);
    ASSERT_FALSE(comm_->IsOnline());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server_.OnCommand(COMMAND_PEDORANK_QUEST, [released](const PacketRequest&) {
        released.wait_for(std::chrono::seconds(3));
        return PacketReply::Fields({"0", "ok"});
    });
    ASSERT_EQ(comm_->QuestPedoRank_asyn(0), 0);
    ASSERT_TRUE(server_.WaitForRequests(2));
    for (int i = 1; i <= 10; ++i) ASSERT_EQ(comm_->QuestPedoRank_asyn(i), 0) << i;
    const int held = ContextsInUse();
    EXPECT_EQ(comm_->QuestPedoRank_asyn(11), -1);
    EXPECT_EQ(ContextsInUse(), held);
    release.set_value();
    EXPECT_TRUE(server_.WaitForRequests(12));
}

TEST_F(RequestBuildersTest, FuncOpChoosesItsPairByTheTimeSinceTheLastUse) {
    Hooks().localTime = [](SYSTEMTIME& st) { st = SYSTEMTIME{2024, 5, 5, 10, 12, 0, 0, 0}; };
    CFuncOp funcOps;
    g_pFuncOp = &funcOps;
    const auto use = [&](const std::wstring& id, const std::wstring& lastOpTime, int b2 = 12) {
        struFuncOpW r;
        r.funcID = id;
        r.lastOpTime = lastOpTime;
        r.lowerSecond = 60;
        r.opValueA1 = 1;
        r.opValueB1 = 11;
        r.middleSecond = 3600;
        r.opValueA2 = 2;
        r.opValueB2 = b2;
        r.upperSecond = 86400;
        r.opValueA3 = 3;
        r.opValueB3 = 13;
        funcOps.SetFuncOp(r);
        return comm_->FuncOp(id, L"open");
    };
    EXPECT_EQ(use(L"below", L"2024-05-10 11:59:01"), 0);  // 59 s
    EXPECT_EQ(use(L"middle", L"2024-05-10 11:00:00"), 0);  // exactly 3600 s
    EXPECT_EQ(use(L"noB", L"2024-05-10 10:59:59", -1), 0);  // 3601 s, pair 2 with b < 0
    EXPECT_EQ(use(L"upper", L"2024-05-09 11:59:59"), 0);  // 86401 s
    EXPECT_EQ(use(L"never", L""), 0);
    EXPECT_EQ(comm_->FuncOp(L"unknown", L"open"), -1);
    ASSERT_EQ(comm_->QuestPedoRank_asyn(0), 0);  // queued last: once it is in, the rest are

    ASSERT_TRUE(server_.WaitForRequests(4));
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].fields, (Fields{"77", "middle", "1", "11", "open"}));
    EXPECT_EQ(requests[1].fields, (Fields{"77", "upper", "3", "13", "open"}));
    EXPECT_EQ(requests[2].fields, (Fields{"77", "never", "3", "13", "open"}));
    EXPECT_EQ(requests[3].commandId, COMMAND_PEDORANK_QUEST);
    EndWorkers();  // the uploads' replies reach the local function-use records
}

TEST_F(RequestBuildersTest, ScriptValueUploadsReadTheirKeys) {
    VALUE actions = VALUE::make_array();
    for (const wchar_t* flag : {L"1", L"0"}) {
        VALUE a = VALUE::make_map();
        a.set_item(VALUE(L"userNo"), VALUE(77));
        a.set_item(VALUE(L"recNo"), VALUE(L"5"));  // pages may pass numbers as texts
        a.set_item(VALUE(L"responseType"), VALUE(L"r"));
        a.set_item(VALUE(L"syncFlag"), VALUE(flag));
        a.set_item(VALUE(L"note"), VALUE(L"n"));
        actions.append(a);
    }
    ASSERT_EQ(comm_->UserActionDataOp(actions), 0);

    VALUE c = VALUE::make_map();
    c.set_item(VALUE(L"userNo"), VALUE(77));
    c.set_item(VALUE(L"articleNo"), VALUE(900));
    c.set_item(VALUE(L"title"), VALUE(L"t"));
    c.set_item(VALUE(L"viewTimes"), VALUE(3));
    c.set_item(VALUE(L"status"), VALUE(L"9"));
    c.set_item(VALUE(L"note"), VALUE(L"n"));
    ASSERT_EQ(comm_->ArticleCollectionAddUpLoad_asyn(c), 0);

    ASSERT_TRUE(server_.WaitForRequests(2));
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);  // only the action still waiting for upload
    EXPECT_EQ(requests[0].fields, (Fields{"77", "5", "0", "0", "r", "", "", "0", "0", "", "n"}));
    EXPECT_EQ(requests[1].fields,
              (Fields{"77", "900", "0", "0", "t", "", "", "", "", "", "", "", "3", "", "0", "0", "", "n"}));
}

std::vector<std::wstring> Texts(const std::vector<AdditionalText>& added) {
    std::vector<std::wstring> texts;
    for (const auto& a : added) texts.push_back(std::to_wstring(a.alertNo) + L"/" + std::to_wstring(a.no) + L"/" + a.text);
    return texts;
}

TEST_F(RequestBuildersTest, AlertListReplyAddsItsTextToTheFlaggedWindow) {
    CMessageWin messageWin(L"");
    CAlertMessageWin alertWin;
    g_pMessageWin = &messageWin;
    g_pAlertMessageWin = &alertWin;
    // The server answers with alertNo, no, the target flag (the alert type here) and a text.
    server_.OnCommand(COMMAND_ALERTLIST_UPLOAD, [](const PacketRequest& r) {
        return PacketReply::Fields({"0", "ok", "", r.fields.at(2), r.fields.at(3), r.fields.at(4), "", r.fields.at(5)});
    });
    struAlertListW alert;
    alert.alertNo = 41;
    alert.no = 2;
    alert.alertType = L"0";
    alert.message = L"";  // no added text: nobody is told
    ASSERT_EQ(comm_->AlertListUpLoad_asyn(alert), 0);
    alert.alertType = L"1";
    alert.message = L"到窗口";
    ASSERT_EQ(comm_->AlertListUpLoad_asyn(alert), 0);
    alert.alertType = L"0";
    alert.message = L"to pop-up";
    ASSERT_EQ(comm_->AlertListUpLoad_asyn(alert), 0);
    // One worker takes the replies in order: the last text in place means all were handled.
    ASSERT_TRUE(WaitFor([&] { return alertWin.GetAdditionalMessages().size() == 1; }));

    EXPECT_EQ(Request(1).fields, (Fields{"77", "0", "41", "2", "1", text::ToAnsi(L"到窗口"), "", "0", "0", "", "0",
                                         "", ""}));
    EXPECT_EQ(Texts(messageWin.GetAdditionalMessages()), (std::vector<std::wstring>{L"41/2/到窗口"}));
    EXPECT_EQ(Texts(alertWin.GetAdditionalMessages()), (std::vector<std::wstring>{L"41/2/to pop-up"}));
    EXPECT_EQ(comm_->AlertListUpLoad_BussProc(L"-3\x02" L"refused\x02\x02" L"41\x02" L"2\x02" L"0\x02\x02" L"x\x02"), -3);
    EXPECT_EQ(alertWin.GetAdditionalMessages().size(), 1u);

    // Meant for the message window, which is not there: the pop-up shows it instead.
    g_pMessageWin = nullptr;
    EXPECT_EQ(comm_->AlertListUpLoad_BussProc(L"0\x02ok\x02\x02" L"42\x02" L"3\x02" L"1\x02\x02" L"late\x02"), 0);
    // The pop-up keeps only the latest text for the alert it shows.
    EXPECT_EQ(Texts(alertWin.GetAdditionalMessages()), (std::vector<std::wstring>{L"42/3/late"}));

    EndWorkers();  // the worker may still be posting to a window after storing its text
    g_pAlertMessageWin = nullptr;
}

}  // namespace
