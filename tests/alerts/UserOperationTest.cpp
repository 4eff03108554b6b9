// How the monitor credits input time to programs, rounds, ranks and keeps the day row.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "Quorvix.h"
#include "UserOpFixture.h"
#include "WaitFor.h"

namespace {

TEST_F(UserOpTest, InputUpTo20SecondsAfterTheLastSampleIsCreditedToThePreviousProgram) {
    SetForeground(L"/usr/bin/Editor");
    monitor_->ProcData(1000);  // the first sample only makes the program current
    tick_ += 60000;
    SetForeground(L"/usr/bin/term");
    monitor_->ProcData(20000);
    UserOpDayRecord r = Record();
    EXPECT_EQ(r.apps[0].appName, L"/usr/bin/editor");
    EXPECT_EQ(r.appFileNames[0], L"editor");
    EXPECT_EQ(r.apps[0].appUseSecond, 19);
    EXPECT_EQ(r.mskbUseSecond, 19);
    EXPECT_EQ(r.computerUseSecond, 60);

    monitor_->ProcData(41001);  // 21 s later: idle, nothing credited
    EXPECT_EQ(Record().mskbUseSecond, 19);
    monitor_->ProcData(41002);  // still current from the idle sample: 1 ms to term
    EXPECT_EQ(Record().apps[1].appName, L"/usr/bin/term");
}

TEST_F(UserOpTest, InputLessThanHalfASecondAfterTheLastSampleIsNotSampled) {
    tick_ += 60000;
    SetInput(10000);
    SetForeground(L"/a");
    monitor_->SampleStep();
    SetInput(10400);
    SetForeground(L"/b");
    monitor_->SampleStep();  // 400 ms: not sampled, "/a" stays current
    SetInput(11600);
    SetForeground(L"/c");
    monitor_->SampleStep();
    const UserOpDayRecord r = Record();
    EXPECT_EQ(r.apps[0].appName, L"/a");
    EXPECT_EQ(r.apps[0].appUseSecond, 2);  // 1600 ms
    EXPECT_EQ(r.apps[1].appName, L"");

    SetInput(20000, false);  // the input time unknown: nothing happens
    monitor_->SampleStep();
    EXPECT_EQ(Record().mskbUseSecond, 2);
}

TEST_F(UserOpTest, SecondsRoundAtHalfAndBrowsingAndActiveTimeStayWithinTheirBounds) {
    Exec(L"insert into tApplication (appFile, appType) values ('browser', 4);");
    tick_ += 10000;
    monitor_->ProcessUserTimeAdd(L"/usr/bin/Editor", 1499);
    EXPECT_EQ(Record().mskbUseSecond, 1);
    EXPECT_EQ(Record().mskbOpRate, 15);  // (1 * 100 + 50) / 10
    monitor_->ProcessUserTimeAdd(L"/usr/bin/editor", 1);
    EXPECT_EQ(Record().mskbUseSecond, 2);
    EXPECT_EQ(Record().apps[0].appUseSecond, 2);
    EXPECT_EQ(Record().mskbOpRate, 25);

    monitor_->ProcessUserTimeAdd(L"/opt/Browser", 3000);
    UserOpDayRecord r = Record();
    EXPECT_EQ(r.apps[0].appName, L"/opt/browser");
    EXPECT_EQ(r.apps[0].appType, 4);
    EXPECT_EQ(r.browerUseSecond, 3);
    EXPECT_EQ(r.mskbUseSecond, 5);      // 4500 ms
    EXPECT_EQ(r.browsingRate, 70);      // (3 * 100 + 50) / 5
    EXPECT_EQ(r.apps[1].appType, 0);

    monitor_->ProcessUserTimeAdd(L"/opt/browser", 20000);  // more than the 10 s of use
    r = Record();
    EXPECT_EQ(r.computerUseSecond, 10);
    EXPECT_EQ(r.mskbUseSecond, 10);
    EXPECT_EQ(r.browerUseSecond, 10);

    int seconds = 0;
    EXPECT_TRUE(monitor_->GetUseSecondValue(L"surfingInternetSecond", &seconds));
    EXPECT_EQ(seconds, 10);
    EXPECT_TRUE(monitor_->GetUseSecondValue(L"computerUseSecond", &seconds));
    EXPECT_FALSE(monitor_->GetUseSecondValue(L"mskbOpRate", &seconds));
}

TEST_F(UserOpTest, SlotsFollowActiveTimeTiesGoToTheLargerPathAndSpareSlotsKeepTheirValues) {
    tick_ += 100000;
    UserOpDayRecord seeded = Record();
    seeded.apps[5].appName = L"/kept";
    seeded.apps[5].appUseSecond = 9;
    monitor_->SetDayRecord(seeded);
    monitor_->ProcessUserTimeAdd(L"/a/prog", 3000);
    monitor_->ProcessUserTimeAdd(L"/B/prog", 3000);
    monitor_->ProcessUserTimeAdd(L"/c/big", 5000);
    UserOpDayRecord r = Record();
    EXPECT_EQ(r.apps[0].appName, L"/c/big");
    EXPECT_EQ(r.apps[0].appUsePercent, 45);  // 5 of 11 s
    EXPECT_EQ(r.apps[1].appName, L"/b/prog");
    EXPECT_EQ(r.apps[2].appName, L"/a/prog");
    EXPECT_EQ(r.apps[2].appUsePercent, 27);
    EXPECT_EQ(r.apps[5].appName, L"/kept");
    EXPECT_EQ(r.apps[5].appUseSecond, 9);

    for (const wchar_t* path : {L"/d", L"/e", L"/f", L"/g"}) monitor_->ProcessUserTimeAdd(path, 1000);
    r = Record();
    EXPECT_EQ(r.apps[3].appName, L"/g");
    EXPECT_EQ(r.apps[5].appName, L"/e");  // the sixth of seven; "/d" is left out
    EXPECT_EQ(r.appFileNames[5], L"e");
}

TEST_F(UserOpTest, ARestartOnTheSameDayContinuesFromTheStoredRow) {
    Exec(L"insert into tUserOpData (userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond, appName, "
         L"appUseSecond, appUsePercent, appType, syncNo) values (7, 20260310, 100, 50, 0, '/opt/a', 40, 80, 3, 3);");
    ASSERT_EQ(monitor_->ReadLastUserOperation(), 0);
    UserOpDayRecord r = Record();
    EXPECT_EQ(r.baseSecond, 100);
    EXPECT_EQ(r.syncNo, 3);
    EXPECT_EQ(r.mskbOpRate, 50);
    EXPECT_EQ(r.apps[0].appType, 3);
    tick_ += 5000;
    monitor_->ProcessUserTimeAdd(L"/opt/A", 1000);
    r = Record();
    EXPECT_EQ(r.computerUseSecond, 105);
    EXPECT_EQ(r.mskbUseSecond, 51);
    EXPECT_EQ(r.apps[0].appName, L"/opt/a");
    EXPECT_EQ(r.apps[0].appUseSecond, 41);
    EXPECT_EQ(r.apps[0].appType, 3);  // the type read from the row, not looked up again
}

TEST_F(UserOpTest, AStoredRowWithProgramsButNoActiveTimeGivesPercentsOfZero) {
    Exec(L"insert into tUserOpData (userNo, recDate, computerUseSecond, mskbUseSecond, browerUseSecond, appName, "
         L"appUseSecond, appUsePercent, appType, appName2, appUseSecond2, appUsePercent2, appType2, syncNo) values "
         L"(7, 20260310, 100, 0, 0, '/opt/a', 40, 70, 0, '/opt/b', 20, 30, 0, 1);");
    ASSERT_EQ(monitor_->ReadLastUserOperation(), 0);
    monitor_->ProcessUserTimeAdd(L"/opt/a", 0);
    const UserOpDayRecord r = Record();
    EXPECT_EQ(r.apps[0].appUsePercent, 0);
    EXPECT_EQ(r.apps[1].appUsePercent, 0);
    EXPECT_EQ(r.browsingRate, 0);
}

TEST_F(UserOpTest, PathsWithApostrophesAndSixLongPathsAreStoredIntact) {
    tick_ += 60000;
    monitor_->ProcessUserTimeAdd(L"/home/O'Brien/bin/Tool", 9000);
    for (int i = 0; i < 5; ++i)
        monitor_->ProcessUserTimeAdd(L"/opt/" + std::wstring(250, static_cast<wchar_t>(L'a' + i)), 1000);
    ASSERT_EQ(monitor_->RecordUserOpertion(), 0);
    EXPECT_EQ(Column(L"tUserOpData", L"appName", L" where recDate=20260310"), L"/home/o'brien/bin/tool");
    EXPECT_EQ(Column(L"tUserOpData", L"length(appName6)", L" where recDate=20260310"), L"255");
    EXPECT_EQ(Column(L"tUserOpData", L"syncNo", L" where recDate=20260310"), L"1");
}

TEST_F(UserOpTest, ADayChangeWritesAndUploadsTheOldRowBeforeTheFiguresStartAgain) {
    Exec(L"insert into tUserOpData (userNo, recDate, syncNo) values (7, 20260310, 4);");
    tick_ += 30000;
    monitor_->ProcessUserTimeAdd(L"/opt/a", 12000);
    monitor_->PeriodicStep();  // the same day: nothing written
    EXPECT_EQ(Column(L"tUserOpData", L"syncNo", L" where recDate=20260310"), L"4");

    SetDay(11);
    tick_ += 6000;
    monitor_->PeriodicStep();
    EXPECT_EQ(Column(L"tUserOpData", L"syncNo", L" where recDate=20260310"), L"5");
    // The figures as the last credit left them.
    EXPECT_EQ(Column(L"tUserOpData", L"computerUseSecond", L" where recDate=20260310"), L"30");
    EXPECT_EQ(Column(L"tUserOpData", L"appName", L" where recDate=20260310"), L"/opt/a");
    ASSERT_TRUE(server_.WaitForRequests(1));
    const PacketRequest upload = server_.Requests().front();
    EXPECT_EQ(upload.commandId, 0x1091);
    ASSERT_GE(upload.fields.size(), 30u);
    EXPECT_EQ(upload.fields[1], "20260310");
    EXPECT_EQ(upload.fields[2], "30");
    EXPECT_EQ(upload.fields[3], "12");
    EXPECT_EQ(upload.fields[5], "/opt/a");
    EXPECT_EQ(upload.fields[29], "5");

    UserOpDayRecord r = Record();
    EXPECT_EQ(r.recDate, 20260311);
    EXPECT_EQ(r.computerUseSecond, 0);
    EXPECT_EQ(r.apps[0].appName, L"");
    EXPECT_EQ(r.syncNo, -1);
    ASSERT_EQ(monitor_->RecordUserOpertion(), 0);
    EXPECT_EQ(Column(L"tUserOpData", L"syncNo", L" where recDate=20260311"), L"1");
}

TEST_F(UserOpTest, WithoutAUserNothingIsWritten) {
    comm_->m_nUserNo = -1;
    monitor_->ResetDayData();
    tick_ += 5000;
    monitor_->ProcessUserTimeAdd(L"/opt/a", 1000);
    EXPECT_EQ(monitor_->RecordUserOpertion(), -1);
    EXPECT_EQ(RowCount(L"tUserOpData"), 0);
}

TEST_F(UserOpTest, ATickWrapMidDayKeepsTheElapsedTime) {
    tick_ = 0xFFFFF000u;
    monitor_->ResetDayData();
    tick_ = 0x00001000u;  // 8192 ms later
    monitor_->ProcessUserTimeAdd(L"/opt/a", 1000);
    EXPECT_EQ(Record().computerUseSecond, 8);
    EXPECT_EQ(Record().mskbUseSecond, 1);
}

TEST_F(UserOpTest, TheWorkerSamplesOnceTheMainFrameAndElementsAreReadyAndEndsWithTheProgram) {
    const int savedState = g_Config.GetLoadPageState(L"healthElement");
    g_Config.SetLoadPageState(L"healthElement", 1);
    SetForeground(L"/opt/seen");
    SetInput(5000);
    ASSERT_EQ(monitor_->StartWork(), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitFor([&] {
        // Input as the user types on: the worker credits the gaps between its samples.
        SetInput(5000 + static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start).count()));
        return Record().apps[0].appName == L"/opt/seen";
    }));
    const int savedRun = g_nRunState.exchange(4);
    EXPECT_TRUE(WaitFor([&] { return !monitor_->IsWorking(); }));
    g_nRunState = savedRun;
    monitor_->StopWork();
    g_Config.SetLoadPageState(L"healthElement", savedState);
}

}  // namespace
