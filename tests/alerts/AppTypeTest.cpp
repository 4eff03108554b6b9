// The server's reply to the computer-use upload: the timer interval, application types
// and the types of the programs used today.
#include <gtest/gtest.h>

#include <string>

#include "UserOpFixture.h"

namespace {

class AppTypeTest : public UserOpTest {
protected:
    // Result, three unused fields, the interval, the item count and the items.
    static std::wstring Reply(const std::wstring& interval, const std::wstring& count, const std::wstring& items) {
        return L"0\x02" L"a\x02" L"b\x02" L"c\x02" + interval + L"\x02" + count + L"\x02" + items + L"\x02";
    }
    UINT TimerPeriod() const { return GetTimerPeriod(frame_.GetHwnd(), CMainFrame::kUserOpTimer); }
    std::wstring Application(const wchar_t* column, const wchar_t* appFile) {
        return Column(L"tApplication", column, std::wstring(L" where appFile='") + appFile + L"'");
    }
};

TEST_F(AppTypeTest, TheIntervalIsRaisedToFiveSecondsAndReArmsTheTimerOnlyWhenItChanges) {
    EXPECT_EQ(monitor_->BussDataProc(Reply(L"-3", L"0", L"")), 0);
    EXPECT_EQ(monitor_->GetTimerInterval(), 5000);
    EXPECT_EQ(TimerPeriod(), 5000u);

    SetTimer(frame_.GetHwnd(), CMainFrame::kUserOpTimer, 1234, nullptr);  // a mark a re-arm would undo
    monitor_->BussDataProc(Reply(L"5", L"0", L""));
    EXPECT_EQ(TimerPeriod(), 1234u);

    // Refused: no interval, no number, too long for the timer, a failed result.
    for (const std::wstring& reply :
         {std::wstring(L"0\x02"), Reply(L"soon", L"0", L""), Reply(L"3000000", L"0", L""), std::wstring(L"-2\x02")})
        monitor_->BussDataProc(reply);
    EXPECT_EQ(monitor_->BussDataProc(L"-2\x02x\x02"), -2);
    EXPECT_EQ(monitor_->GetTimerInterval(), 5000);
    EXPECT_EQ(TimerPeriod(), 1234u);

    monitor_->BussDataProc(Reply(L"60", L"0", L""));
    EXPECT_EQ(TimerPeriod(), 60000u);
}

TEST_F(AppTypeTest, TypeItemsAddChangeAndDeleteTypesButOnlyUsedProgramsAreAssigned) {
    Exec(L"insert into tAppType (appType, appTypeName, ratio, status) values (3, '办公', 1, '1');");
    Exec(L"insert into tApplication (appFile, appType) values ('editor', 3);");
    EXPECT_EQ(monitor_->ReadAppTypeFromDB(), 2);
    tick_ += 60000;
    monitor_->ProcessUserTimeAdd(L"/x/editor", 5000);
    const int applications = RowCount(L"tApplication");

    monitor_->BussDataProc(Reply(L"180", L"3", L"/x/editor|0|Zero|0|/x/editor|-3|办公|1|/x/New|7|Game's|2"));
    EXPECT_EQ(RowCount(L"tAppType", L"where appType=0"), 0);
    EXPECT_EQ(RowCount(L"tAppType", L"where appType=3"), 0);
    EXPECT_EQ(monitor_->GetAppTypeName(3), L"");
    EXPECT_EQ(Record().apps[0].appType, 3);  // the program keeps its type
    EXPECT_EQ(monitor_->GetAppTypeName(7), L"Game's");
    EXPECT_EQ(Column(L"tAppType", L"note", L" where appType=7"), L"新增");
    EXPECT_EQ(RowCount(L"tApplication"), applications);  // "/x/new" was not used today
    EXPECT_EQ(monitor_->GetAppTypeName(0), L"其他软件");

    monitor_->BussDataProc(Reply(L"180", L"1", L"/x/New|7|Game's|5"));
    EXPECT_EQ(Column(L"tAppType", L"ratio", L" where appType=7"), L"5");
    EXPECT_EQ(Column(L"tAppType", L"note", L" where appType=7"), L"更新");
    // A type added here is loaded again after a restart.
    EXPECT_EQ(monitor_->ReadAppTypeFromDB(), 2);
    EXPECT_EQ(monitor_->GetAppTypeName(7), L"Game's");
}

// Numbers from the wire are checked before any arithmetic: -2147483648 has no negation (the
// sanitizers ended the program at the type it would remove), and a reply whose result is
// empty or no number is a failure that changes nothing.
TEST_F(AppTypeTest, ATypeWithoutANegationAndAReplyWithoutAResultCodeChangeNothing) {
    const int types = RowCount(L"tAppType");
    EXPECT_EQ(monitor_->BussDataProc(Reply(L"180", L"2", L"/x/a|-2147483648|Min|0|/x/b|8|Eight|1x")), 0);
    for (const wchar_t* result : {L"", L"ok"}) {
        const std::wstring reply = std::wstring(result) + L"\x02" L"a\x02" L"b\x02" L"c\x02" L"7\x02" L"1\x02" L"/x/c|9|Nine|0\x02";
        EXPECT_LT(monitor_->BussDataProc(reply), 0);
    }
    EXPECT_EQ(RowCount(L"tAppType"), types);
    EXPECT_EQ(monitor_->GetTimerInterval(), 180000);
}

TEST_F(AppTypeTest, AssigningTheBrowsingTypeMovesActiveTimeIntoBrowsingAndBack) {
    tick_ += 20000;
    monitor_->ProcessUserTimeAdd(L"/Opt/Tools/Editor", 15000);
    monitor_->ProcessUserTimeAdd(L"/opt/web", 10000);  // active time stops at the 20 s of use
    ASSERT_EQ(Record().mskbUseSecond, 20);

    monitor_->BussDataProc(Reply(L"180", L"1", L"/Opt/Tools/Editor|4|网页浏览|0"));
    EXPECT_EQ(Record().browerUseSecond, 15);
    EXPECT_EQ(Application(L"appPath", L"editor"), L"/Opt/Tools/");
    EXPECT_EQ(Application(L"appName", L"editor"), L"/Opt/Tools/Editor");
    EXPECT_EQ(Application(L"appType", L"editor"), L"4");
    EXPECT_EQ(Application(L"note", L"editor"), L"新增");
    monitor_->BussDataProc(Reply(L"180", L"1", L"/opt/web|4|网页浏览|0"));
    EXPECT_EQ(Record().browerUseSecond, 20);  // capped at the active time

    monitor_->BussDataProc(Reply(L"180", L"1", L"/opt/tools/editor|5|Office|0"));
    EXPECT_EQ(Record().browerUseSecond, 5);
    EXPECT_EQ(Application(L"appType", L"editor"), L"5");
    EXPECT_EQ(Application(L"note", L"editor"), L"更新");
    monitor_->BussDataProc(Reply(L"180", L"1", L"/opt/web|5|Office|0"));
    EXPECT_EQ(Record().browerUseSecond, 0);  // floored at 0
    EXPECT_EQ(Record().apps[0].appType, 5);
}

TEST_F(AppTypeTest, LongItemListsApplyWholeAndShortOrBadCountsTakeOnlyWhatIsThere) {
    tick_ += 60000;
    std::wstring items;
    std::vector<std::wstring> paths;
    for (int i = 0; i < 3; ++i) {
        paths.push_back(L"/opt/" + std::wstring(120, static_cast<wchar_t>(L'a' + i)) + L"/prog" + std::to_wstring(i));
        monitor_->ProcessUserTimeAdd(paths.back(), 1000 * (3 - i));
        items += paths.back() + L"|4|网页浏览|0|";
    }
    monitor_->BussDataProc(Reply(L"180", L"x", items));  // no count: nothing
    EXPECT_EQ(Record().browerUseSecond, 0);
    monitor_->BussDataProc(Reply(L"180", L"9", items + L"/opt/half|4"));  // 3 whole items of 9
    const UserOpDayRecord r = Record();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.apps[static_cast<std::size_t>(i)].appType, 4) << i;
    EXPECT_EQ(r.browerUseSecond, 6);
    EXPECT_EQ(RowCount(L"tApplication", L"where appFile='prog2'"), 1);

    // An empty path is skipped, never taken as the previous item's program.
    monitor_->BussDataProc(Reply(L"180", L"2", paths[0] + L"|6|Six|0||5|Five|0"));
    EXPECT_EQ(Record().apps[0].appType, 6);
    EXPECT_EQ(RowCount(L"tApplication", L"where appType=5"), 0);

    std::wstring folder = L"x";
    std::wstring file = L"y";
    CUserOperation::SplitAppPath(L"", folder, file);
    EXPECT_EQ(folder + file, L"");
    CUserOperation::SplitAppPath(L"C:\\Tools\\a.exe", folder, file);
    EXPECT_EQ(folder, L"C:\\Tools\\");
    EXPECT_EQ(file, L"a.exe");
}

}  // namespace
