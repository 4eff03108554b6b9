// The extended profile against a real user database and a main frame on this thread:
// what tUserExp gets, what the pages read, and which refreshes are posted in which order.
#include "userExInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordsFixture.h"
#include "userInfo.h"

namespace {

using uie::test::GetProperty;

const std::vector<std::string> kColumns = {
    "userNo",        "userID",       "userRegIpAddr", "userPhone",    "userMobile",         "userEmail",
    "userQQ",        "userMSN",      "userLinkAddr",  "userBlog",     "userMicroBlog",      "userName",
    "userSex",       "userBirthday", "userHeight",    "userWeight",   "userBust",           "userWaistline",
    "userHip",       "userDuties",   "userIndustry",  "userLaborIntensity", "syncNo",       "status",
    "note",          "modifyTime"};

class UserExInfoTest : public RecordsTest {
protected:
    UserExInfoTest() {
        Exec(L"update tUserExp set userNo=1001, userID='ann', userSex='1', userBirthday=19800101, userHeight=170, "
             L"syncNo=5");
        EXPECT_EQ(exp_.ReadUserExFromDB(), 1);
        exp_.RegisterScriptObject(vm_);
        g_pUserExInfo = &exp_;
        Posted();
    }
    ~UserExInfoTest() override {
        EndWorkers();
        g_pUserExInfo = nullptr;
    }

    uie::value Prop(const std::string& name) { return GetProperty(vm_, "userExp", name).result; }

    // The 25 fields of a 0x1080 reply.
    static std::wstring Reply(int syncNo, const std::wstring& sex, int birthday, int height = 181,
                              const std::wstring& name = L"Ann O'Hara") {
        return JoinFields({L"1001", L"ann", L"10.0.0.9", L"555-1", L"139", L"a@b.c", L"12345", L"msn", L"Road 1",
                     L"blog", L"micro", name, sex, std::to_wstring(birthday), std::to_wstring(height), L"65",
                     L"90", L"70", L"95", L"clerk", L"office", L"2", std::to_wstring(syncNo), L"1", L"n"});
    }

    CUserExInfo exp_;
};

TEST_F(UserExInfoTest, NewRecordStartsWithUnsetNumbers) {
    const struUserExpW fresh = CUserExInfo().GetUserExp();
    EXPECT_EQ(fresh.userNo, -1);
    EXPECT_EQ(fresh.userBirthday, -1);
    EXPECT_EQ(fresh.userHeight, -1);
    EXPECT_EQ(fresh.userLaborIntensity, -1);
    EXPECT_EQ(fresh.syncNo, -1);
}

TEST_F(UserExInfoTest, ScriptObjectHasOnePropertyPerColumnInColumnOrder) {
    // Every column a value of its own, so each property shows it reads its own column.
    Exec(L"update tUserExp set userNo=100, userID='c1', userRegIpAddr='c2', userPhone='c3', userMobile='c4', "
         L"userEmail='c5', userQQ='c6', userMSN='c7', userLinkAddr='c8', userBlog='c9', userMicroBlog='c10', "
         L"userName='c11', userSex='c12', userBirthday=113, userHeight=114, userWeight=115, userBust=116, "
         L"userWaistline=117, userHip=118, userDuties='c19', userIndustry='c20', userLaborIntensity=121, "
         L"syncNo=122, status='c23', note='c24', modifyTime='c25'");
    ASSERT_EQ(exp_.ReadUserExFromDB(), 1);

    const auto& properties = CUserExInfo::ScriptObjectDef()->properties;
    ASSERT_EQ(properties.size(), 26u);
    EXPECT_TRUE(CUserExInfo::ScriptObjectDef()->methods.empty());
    const SqlRows names = Rows(L"select name from pragma_table_info('tUserExp') order by cid");
    ASSERT_EQ(names.size(), 26u);
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        SCOPED_TRACE(kColumns[i]);
        EXPECT_EQ(properties[i].name, kColumns[i]);
        EXPECT_EQ(text::FromUtf8(kColumns[i]), names[i].front());
        const uie::value v = Prop(kColumns[i]);
        if (v.is_int())
            EXPECT_EQ(v.get_int(), static_cast<int>(i == 0 ? 100 : 100 + i));
        else
            EXPECT_EQ(v.get_string(), L"c" + std::to_wstring(i));
    }
}

TEST_F(UserExInfoTest, ReplyWritesTheRowShowsTheContactPartAndPostsInOrder) {
    EXPECT_EQ(exp_.BussDataProc(Reply(6, L"2", 19900215)), 1);

    EXPECT_EQ(Column(L"tUserExp", L"userName"), L"Ann O'Hara");  // the quote stored intact
    EXPECT_EQ(Column(L"tUserExp", L"userHeight"), L"181");
    EXPECT_EQ(Column(L"tUserExp", L"userLaborIntensity"), L"2");
    EXPECT_EQ(Column(L"tUserExp", L"syncNo"), L"6");
    EXPECT_EQ(Prop("userName").get_string(), L"Ann O'Hara");
    EXPECT_EQ(Prop("userSex").get_string(), L"2");
    EXPECT_EQ(Prop("userBirthday").get_int(), 19900215);
    EXPECT_EQ(Prop("syncNo").get_int(), 6);
    EXPECT_EQ(Prop("note").get_string(), L"n");
    // The measures reach the pages only at the next load.
    EXPECT_EQ(Prop("userHeight").get_int(), 170);
    EXPECT_EQ(Prop("userDuties").get_string(), L"");
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"802E:sex=2,r,d", L"802E:age=19900215,r,d", L"8040", L"8034"}));

    ASSERT_EQ(exp_.ReadUserExFromDB(), 1);
    EXPECT_EQ(Prop("userHeight").get_int(), 181);
}

TEST_F(UserExInfoTest, SameSyncNoWritesAndPostsNothing) {
    Exec(L"update tUserExp set modifyTime='before'");
    EXPECT_EQ(exp_.BussDataProc(Reply(5, L"2", 19900215)), 0);
    EXPECT_EQ(Column(L"tUserExp", L"modifyTime"), L"before");
    EXPECT_EQ(Column(L"tUserExp", L"userName"), L"");
    EXPECT_EQ(Prop("userSex").get_string(), L"1");
    EXPECT_TRUE(Posted().empty());
}

TEST_F(UserExInfoTest, SexRefreshOnlyForZeroToTwoAndANonNumberCountsAsZero) {
    EXPECT_EQ(exp_.BussDataProc(Reply(6, L"3", 19000000)), 1);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8040", L"8034"}));
    EXPECT_EQ(Prop("userSex").get_string(), L"3");

    EXPECT_EQ(exp_.BussDataProc(Reply(7, L"male", 19000000)), 1);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"802E:sex=0,r,d", L"8040", L"8034"}));

    EXPECT_EQ(exp_.BussDataProc(Reply(8, L"-1", 19000000)), 1);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8040", L"8034"}));
}

TEST_F(UserExInfoTest, AgeRefreshOnlyStrictlyBetween1900And2100) {
    int syncNo = 10;
    const auto posts = [&](int birthday) {
        EXPECT_EQ(exp_.BussDataProc(Reply(++syncNo, L"9", birthday)), 1);
        return Posted();
    };
    EXPECT_EQ(posts(19000000), (std::vector<std::wstring>{L"8040", L"8034"}));
    EXPECT_EQ(posts(21000000), (std::vector<std::wstring>{L"8040", L"8034"}));
    EXPECT_EQ(posts(19000001), (std::vector<std::wstring>{L"802E:age=19000001,r,d", L"8040", L"8034"}));
    EXPECT_EQ(posts(20999999), (std::vector<std::wstring>{L"802E:age=20999999,r,d", L"8040", L"8034"}));
    EXPECT_EQ(Prop("userBirthday").get_int(), 20999999);
}

TEST_F(UserExInfoTest, FailedWriteLeavesTheRecordAndPostsNothing) {
    Exec(L"delete from tUserExp");  // the one row gone: the update changes nothing
    EXPECT_EQ(exp_.BussDataProc(Reply(6, L"2", 19900215)), 0);
    EXPECT_EQ(Prop("syncNo").get_int(), 5);
    EXPECT_EQ(Prop("userSex").get_string(), L"1");
    EXPECT_TRUE(Posted().empty());
}

TEST_F(UserExInfoTest, RefreshIsNotPostedWithoutAWindow) {
    CMainFrame never;
    EXPECT_EQ(never.PostRefreshElementValue(L"sex", 1, true, true), -1);
    EXPECT_EQ(frame_.PostRefreshElementValue(L"sex", 1, false, true), 0);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"802E:sex=1,d"}));
}

TEST_F(UserExInfoTest, AcknowledgedProfileUploadTakesTheContactFields) {
    CUserInfo user;
    Exec(L"update tUser set userNo=1001, userID='ann'");
    ASSERT_EQ(user.ReadUserFromDB(), 1);
    g_pUserInfo = &user;
    // No worker: the upload is never sent, so no server reply races the one given here.
    CCommunication noWorkers;
    g_pCommunication = &noWorkers;
    uie::value profile = uie::value::make_map();
    profile.set_item(uie::value(L"userPhone"), uie::value(L"777"));
    profile.set_item(uie::value(L"userName"), uie::value(L"Ann B"));
    profile.set_item(uie::value(L"userSex"), uie::value(L"0"));
    profile.set_item(uie::value(L"userBirthday"), uie::value(19851231));
    ASSERT_EQ(user.UpdateUserInfo(profile), 0);
    EXPECT_EQ(user.UserInfoUp_BussDataProc(L"0\x02ok\x02" L"77\x02" L"88\x02"), 0);
    g_pCommunication = comm_.get();
    g_pUserInfo = nullptr;

    EXPECT_EQ(Prop("userPhone").get_string(), L"777");
    EXPECT_EQ(Prop("userName").get_string(), L"Ann B");
    EXPECT_EQ(Prop("userSex").get_string(), L"0");
    EXPECT_EQ(Prop("userBirthday").get_int(), 19851231);
    EXPECT_EQ(Prop("syncNo").get_int(), 88);
    EXPECT_EQ(Prop("userHeight").get_int(), 170);  // not part of the upload
    EXPECT_EQ(Prop("userID").get_string(), L"ann");
}

}  // namespace
