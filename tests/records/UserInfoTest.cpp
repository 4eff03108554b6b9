// The user profile against a real user database, a loopback server and a main frame
// made on this thread: what the tables get, what the pages read, what is posted.
#include "userInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "RecordsFixture.h"

namespace {

using uie::test::GetProperty;

// The 26 fields of a user record reply.
std::vector<std::wstring> UserFields(int userNo, const std::wstring& userID, int syncNo, const std::wstring& pass,
                                     const std::wstring& note) {
    return {std::to_wstring(userNo), userID, L"Ann", pass, L"20200101", L"dev-1", L"1", L"2026-01-01 08:00:00",
            L"2026-01-01 09:00:00", L"2026-01-01 10:00:00", L"10.0.0.1", L"7", L"101010100", L"A", L"3", L"4",
            L"5", L"6", L"7", L"8", L"9", L"10", L"11", std::to_wstring(syncNo), L"1", note};
}

class UserInfoTest : public RecordsTest {
protected:
    UserInfoTest() {
        // The row as a previous login left it.
        EXPECT_EQ(db_.ExecSQL(L"update tUser set userNo=1001, userID='ann', syncNo=5, lastPluseTime='kept'"), 1);
        EXPECT_EQ(db_.ExecSQL(L"update tUserExp set userNo=1001"), 1);
        EXPECT_EQ(user_.ReadUserFromDB(), 1);
        user_.RegisterScriptObject(vm_);
        g_pUserInfo = &user_;
    }
    ~UserInfoTest() override {
        EndWorkers();
        g_pUserInfo = nullptr;
    }

    uie::value Prop(const char* name) { return GetProperty(vm_, "user", name).result; }
    uie::value Profile(bool withBirthday) {
        uie::value p = uie::value::make_map();
        p.set_item(uie::value(L"userRegName"), uie::value(L"O'Neil"));
        p.set_item(uie::value(L"userArticleGroupNo"), uie::value(12));
        p.set_item(uie::value(L"note"), uie::value(L"it's me"));
        p.set_item(uie::value(L"userPhone"), uie::value(L"555"));
        if (withBirthday) p.set_item(uie::value(L"userBirthday"), uie::value(19800101));
        return p;
    }

    CUserInfo user_;
};

TEST_F(UserInfoTest, RecordReplyWithNewSyncNoWritesTableKeepsPasswordOffDiskAndTellsThePages) {
    Posted();
    const std::wstring reply = JoinFields(UserFields(1001, L"ann", 6, L"secret", L"Bob's note"));
    EXPECT_EQ(user_.BussDataProc(reply), 1);

    EXPECT_EQ(Column(L"tUser", L"userPass"), L"");
    EXPECT_EQ(Column(L"tUser", L"note"), L"Bob's note");  // the quote stored intact
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"6");
    EXPECT_EQ(Column(L"tUser", L"lastPluseTime"), L"kept");
    EXPECT_EQ(Prop("userPass").get_string(), L"secret");
    EXPECT_EQ(Prop("note").get_string(), L"Bob's note");
    EXPECT_EQ(Prop("syncNo").get_int(-99), 6);
    EXPECT_EQ(Prop("areaCodeNo").get_int(-99), 101010100);
    EXPECT_TRUE(Prop("userType").is_string());
    EXPECT_TRUE(Prop("lastPluseTime").is_undefined());  // not shown to the pages
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8034", L"8022"}));

    // The same syncNo again: nothing written, nobody told.
    EXPECT_EQ(user_.BussDataProc(JoinFields(UserFields(1001, L"ann", 6, L"other", L"changed"))), 0);
    EXPECT_EQ(Column(L"tUser", L"note"), L"Bob's note");
    EXPECT_TRUE(Posted().empty());

    // A record for another user changes no row: memory stays as it was.
    EXPECT_EQ(user_.BussDataProc(JoinFields(UserFields(2002, L"eve", 7, L"x", L"eve"))), 0);
    EXPECT_EQ(Prop("userNo").get_int(), 1001);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(UserInfoTest, SecondUpdateWhileTheFirstIsUnansweredIsRefused) {
    // Answered late, so the second call surely comes while the first is unanswered.
    server_.OnCommand(COMMAND_USERINFO_UPLOAD, [](const PacketRequest&) {
        PacketReply reply = PacketReply::Fields({"0", "ok"});
        reply.delay = std::chrono::milliseconds(500);
        return reply;
    });
    EXPECT_EQ(uie::test::CallNative(vm_, "user", "UpdateUserInfo", {Profile(false)}).result.get_int(-99), 0);
    EXPECT_EQ(uie::test::CallNative(vm_, "user", "UpdateUserInfo", {Profile(true)}).result.get_int(-99), -2);
    EXPECT_EQ(Prop("updateUserInfo_State").get_int(-99), 1);

    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest request = server_.Requests().front();
    EXPECT_EQ(request.commandId, COMMAND_USERINFO_UPLOAD);
    ASSERT_EQ(request.fields.size(), 15u);
    EXPECT_EQ(request.fields[0], "1001");
    EXPECT_EQ(request.fields[1], "O'Neil");
    EXPECT_EQ(request.fields[4], "555");
    EXPECT_EQ(request.fields[5], "");   // missing text
    EXPECT_EQ(request.fields[14], "-1");  // missing birthday
    EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(UserInfoTest, PageNumbersOutsideTheIntRangeUploadAsNotANumber) {
    uie::value profile = Profile(false);
    profile.set_item(uie::value(L"userBirthday"), uie::value(std::nan("")));
    profile.set_item(uie::value(L"userArticleGroupNo"), uie::value(3.0e9));
    EXPECT_EQ(user_.UpdateUserInfo(profile), 0);

    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest request = server_.Requests().front();
    ASSERT_EQ(request.fields.size(), 15u);
    EXPECT_EQ(request.fields[2], "-1");
    EXPECT_EQ(request.fields[14], "-1");
}

TEST_F(UserInfoTest, UploadReplyWritesBothTablesOrReportsTheRefusal) {
    // The test hands the replies over itself: no upload goes out whose reply would race it.
    CCommunication noWorkers;
    g_pCommunication = &noWorkers;
    ASSERT_EQ(user_.UpdateUserInfo(Profile(true)), 0);
    Posted();
    EXPECT_EQ(user_.UserInfoUp_BussDataProc(L"-1\x02refused\x02"), -1);
    EXPECT_EQ(Prop("updateUserInfo_State").get_int(-99), 0);
    EXPECT_EQ(Prop("updateUserInfo_RetCode").get_int(), -1);
    EXPECT_EQ(Prop("updateUserInfo_RetMsg").get_string(), L"refused");
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"5");
    EXPECT_TRUE(Posted().empty());

    ASSERT_EQ(user_.UpdateUserInfo(Profile(true)), 0);
    EXPECT_EQ(user_.UserInfoUp_BussDataProc(L"0\x02ok\x02" L"77\x02" L"88\x02"), 0);
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"77");
    EXPECT_EQ(Column(L"tUser", L"userRegName"), L"O'Neil");
    EXPECT_EQ(Column(L"tUser", L"note"), L"it's me");
    EXPECT_EQ(Column(L"tUserExp", L"syncNo"), L"88");
    EXPECT_EQ(Column(L"tUserExp", L"userBirthday"), L"19800101");
    EXPECT_EQ(Prop("userRegName").get_string(), L"O'Neil");
    EXPECT_EQ(Prop("syncNo").get_int(), 77);
    EXPECT_EQ(Prop("userArticleGroupNo").get_int(), 12);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8034", L"8022"}));

    // A write that fails reports it and leaves the tables and what the pages read as they were.
    ASSERT_EQ(user_.UpdateUserInfo(Profile(true)), 0);
    Exec(L"alter table tUserExp rename to tUserExpGone");
    EXPECT_LT(user_.UserInfoUp_BussDataProc(L"0\x02ok\x02" L"78\x02" L"89\x02"), 0);
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"77");
    EXPECT_EQ(Prop("syncNo").get_int(), 77);
    EXPECT_TRUE(Posted().empty());
    g_pCommunication = comm_.get();
}

TEST_F(UserInfoTest, UploadThatCannotBeQueuedDoesNotLockLaterUpdatesOut) {
    CCommunication noWorkers;
    g_pCommunication = &noWorkers;
    EXPECT_EQ(user_.UpdateUserInfo(Profile(true)), 0);
    EXPECT_FALSE(user_.GetUpdateState());
    EXPECT_EQ(user_.GetUpdateRetCode(), -1);
    EXPECT_EQ(user_.GetUpdateRetMsg(), L"修改用户信息失败。(通信故障)");
    EXPECT_EQ(user_.UpdateUserInfo(Profile(true)), 0);
    g_pCommunication = comm_.get();
}

TEST_F(UserInfoTest, LoginReplyTakesAnotherUsersWholeRecordElseOnlyAccountAndSyncNo) {
    const std::vector<std::wstring> result = {L"0", L"ok", L"1", L"2", L"3", L"4"};
    const auto login = [&](int userNo, const std::wstring& userID, int syncNo) {
        std::vector<std::wstring> fields = result;
        for (auto& f : UserFields(userNo, userID, syncNo, L"pw", L"server note")) fields.push_back(f);
        return JoinFields(fields);
    };
    comm_->m_nRetCode = 0;

    // Nothing differs: nothing written.
    db_.ExecSQL(L"update tUser set status='mark'");
    EXPECT_EQ(user_.UserLoginDataProc(login(1001, L"ann", 5)), 0);
    EXPECT_EQ(Column(L"tUser", L"status"), L"mark");

    // A reply cut short of its last field takes nothing, in memory or in the table.
    const std::wstring whole = login(3003, L"zed", 7);
    EXPECT_EQ(user_.UserLoginDataProc(whole.substr(0, whole.rfind(L'\x02', whole.size() - 2) + 1)), 0);
    EXPECT_EQ(user_.GetUser().userNo, 1001);
    EXPECT_EQ(Column(L"tUser", L"userNo"), L"1001");

    // Another user: the whole record received is taken, as none of the one held is theirs.
    EXPECT_EQ(user_.UserLoginDataProc(login(3003, L"zed", 5)), 0);
    EXPECT_EQ(Column(L"tUser", L"userNo"), L"3003");
    EXPECT_EQ(Column(L"tUser", L"userID"), L"zed");
    EXPECT_EQ(Column(L"tUser", L"note"), L"server note");
    EXPECT_EQ(Column(L"tUser", L"userPass"), L"");
    // The same user under another account: the account only.
    struUserW held = user_.GetUser();
    held.note = L"mine";
    user_.SetUser(held);
    user_.UserLoginDataProc(login(3003, L"amy", 5));
    EXPECT_EQ(Column(L"tUser", L"userID"), L"amy");
    EXPECT_EQ(Column(L"tUser", L"note"), L"mine");  // the received note is not taken

    // A long profile still gets its whole statement.
    struUserW u = user_.GetUser();
    u.note = std::wstring(600, L'n') + L"'s";
    user_.SetUser(u);
    user_.UserLoginDataProc(login(3003, L"amy", 9));
    EXPECT_EQ(Column(L"tUser", L"syncNo"), L"9");
    EXPECT_EQ(Column(L"tUser", L"note"), u.note);

    // Only after a successful online login.
    comm_->m_nRetCode = -1;
    user_.UserLoginDataProc(login(4004, L"amy", 9));
    EXPECT_EQ(user_.GetUser().userNo, 3003);
}

}  // namespace
