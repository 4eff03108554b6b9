#include "IntDate.h"

#include <gtest/gtest.h>

#include <vector>

#include "Config.h"
#include "Hooks.h"

namespace {

SYSTEMTIME Day(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0) {
    return SYSTEMTIME{year, month, 0, day, hour, minute, second, 0};
}

TEST(IntDateCounts, DayCountCoversTwoThousandToTwentyNinetyNine) {
    EXPECT_EQ(DayCountFrom2000(Day(2000, 1, 1)), 0);
    EXPECT_EQ(DayCountFrom2000(Day(2000, 3, 1)), 60);
    EXPECT_EQ(DayCountFrom2000(Day(2001, 1, 1)), 366);
    EXPECT_EQ(DayCountFrom2000(Day(2099, 12, 31)), 36524);
    EXPECT_EQ(DayCountFrom2000(Day(1999, 12, 31)), -1);
    EXPECT_EQ(DayCountFrom2000(Day(2100, 1, 1)), -1);
    EXPECT_EQ(DayCountFrom2000(Day(2013, 13, 1)), -1);
    EXPECT_EQ(DayCountFrom2000(Day(2013, 2, 0)), -1);
    EXPECT_EQ(DayCountFrom2000(Day(2013, 2, 29)), -1);
}

TEST(IntDateCounts, SecondCountEndsWhereThirtyTwoBitsDo) {
    EXPECT_EQ(SecondCountFrom2000(Day(2068, 1, 19, 3, 14, 7)), 2147483647);
    EXPECT_EQ(SecondCountFrom2000(Day(2068, 1, 19, 3, 14, 8)), -1);
    EXPECT_EQ(HourCountFrom2000(Day(1999, 12, 31, 23)), -1);
}

TEST(IntDateParse, AcceptsTheThreeShapes) {
    SYSTEMTIME st{};
    ASSERT_EQ(StrToSystemTime("2013-07-05 18:05:09.123", &st), 1);
    EXPECT_EQ(SystemTimeToStr(st), L"2013-07-05 18:05:09.123");
    EXPECT_EQ(st.wDayOfWeek, 5);  // a Friday
    ASSERT_EQ(StrToSystemTime("2013-07-05 18:05:09", &st), 1);
    EXPECT_EQ(st.wMilliseconds, 0);
    ASSERT_EQ(StrToSystemTime("2013-07-05", &st), 1);
    EXPECT_EQ(SystemTimeToStr(st), L"2013-07-05 00:00:00.000");
    EXPECT_EQ(StrToSystemTime("2012-02-29", &st), 1);
    EXPECT_EQ(StrToSystemTime("1900-02-29", &st), 1);
}

TEST(IntDateParse, RefusesEverythingElse) {
    SYSTEMTIME st{};
    for (const char* bad : {"2013-02-29", "2013-7-05", "2013-07-5", "2013-07-05 8:05:09", "2013-07-05 24:00:00",
                            "2013-07-05T18:05:09", "2013-07-05 18:05:09.1", "2013-13-01", "2013-00-01",
                            "2013-07-00", "1899-12-31", "2100-01-01", "2013-07-05 18:60:00", "2013-07-05 18:05:60",
                            "2013-07-05 18:05:09,123", "2013/07/05", "2013-07-0x", "+013-07-05", ""}) {
        EXPECT_EQ(StrToSystemTime(bad, &st), 0) << bad;
    }
    EXPECT_EQ(StrToSystemTime(nullptr, &st), 0);
}

TEST(IntDateDiffText, UnitsAndFailureCodes) {
    const std::wstring lateEve = L"2013-12-31 23:00:00", earlyMorning = L"2014-01-01 01:00:00";
    EXPECT_EQ(DateDiff(L"day", lateEve, earlyMorning), 1);
    EXPECT_EQ(DateDiff(L"dd", lateEve, earlyMorning), 1);
    EXPECT_EQ(DateDiff(L"hour", lateEve, earlyMorning), 2);
    EXPECT_EQ(DateDiff(L"second", earlyMorning, lateEve), -7200);
    EXPECT_EQ(DateDiff(L"Day", lateEve, earlyMorning), kDateDiffFailed);
    EXPECT_EQ(DateDiff(L"day", L"1999-12-31", earlyMorning), kDateDiffFailed);
    EXPECT_EQ(DateDiff(L"second", lateEve, L"2068-01-19 03:14:08"), kDateDiffFailed);
    EXPECT_EQ(DateDiff(L"second", lateEve, L"2068-01-19 03:14:07"), 2147483647 - 441846000);
    EXPECT_EQ(DateDiff(L"day", L"2013-12-31 24:00:00", L"bad"), kDateDiffBadOlder);
    EXPECT_EQ(DateDiff(L"day", lateEve, L"bad"), kDateDiffBadNewer);
    EXPECT_EQ(DateDiff(L"day", lateEve + std::wstring(70, L' '), lateEve), kDateDiffBadOlder);

    int out = 42;
    EXPECT_EQ(DateDiffBySystemTime("week", Day(2013, 1, 1), Day(2013, 1, 8), &out), 0);
    EXPECT_EQ(out, 42);
}

TEST(IntDateClock, ReadsTheLocalTimeHook) {
    HookScope hooks;
    Hooks().localTime = [](SYSTEMTIME& st) { st = SYSTEMTIME{2013, 7, 0, 7, 18, 5, 9, 45}; };  // a Sunday
    EXPECT_EQ(GetCurDate(), 20130707);
    EXPECT_EQ(GetCurMonth(), 7);
    EXPECT_EQ(GetCurDay(), 7);
    EXPECT_EQ(GetWeekDay(), 7);
    EXPECT_EQ(GetCurTimeHHMM(), 1805);
    EXPECT_EQ(GetCurTimeStr(), L"2013-07-07 18:05:09.045");
}

TEST(IntDateArithmetic, TimesAgesAndPowers) {
    EXPECT_EQ(AddTimeHHMM(2330, 45), 15);
    EXPECT_EQ(AddTimeHHMM(900, 30), 930);
    EXPECT_EQ(AddTimeHHMM(0, -30), -30);
    EXPECT_EQ(AddTimeHHMM(100, -90), -30);
    EXPECT_EQ(GetAgeByDate(19800705, 20130704), 32);
    EXPECT_EQ(GetAgeByDate(19800705, 20130705), 33);
    EXPECT_EQ(IntPow(3, 4), 81);
    EXPECT_EQ(IntPow(7, -2), 1);
    EXPECT_EQ(IntPow(2, 31), static_cast<int>(0x80000000u));
    EXPECT_EQ(IntPow(2, 32), 0);
    EXPECT_TRUE(IsDigitString(""));
    EXPECT_FALSE(IsDigitString("12a4"));
    EXPECT_TRUE(IsDigitString(std::string(1024, '7').c_str()));
    EXPECT_FALSE(IsDigitString(std::string(1025, '7').c_str()));
}

TEST(IntDateDiffInt, UnitsOfIntDateDiff) {
    EXPECT_EQ(IntDateDiff(20121231, 20130101, kIntDateYears), 1);
    EXPECT_EQ(IntDateDiff(20121130, 20121201, kIntDateMonths), 1);
    EXPECT_EQ(IntDateDiff(20121201, 20130101, kIntDateMonths), 2);
    EXPECT_EQ(IntDateDiff(20130501, 20120501, kIntDateMonths), 0);
    EXPECT_EQ(IntDateDiff(20130501, 20130301, kIntDateMonths), -2);
    EXPECT_EQ(IntDateDiff(20130706, 20130707, kIntDateWeeks), 1);
    EXPECT_EQ(IntDateDiff(20130707, 20130713, kIntDateWeeks), 0);
    EXPECT_EQ(IntDateDiff(20130101, 20130102, 5), -1);
}

TEST(IntDateDiffInt, CalendarDaysAndWeekIndex) {
    EXPECT_EQ(DayDiffIntDate(20131231, 20140101), 1);
    EXPECT_EQ(DayDiffIntDate(20120101, 20130101), 366);
    EXPECT_EQ(DayDiffIntDate(20000101, 21000101), 36525);  // 2100 is not a leap year
    EXPECT_EQ(DayDiffIntDate(20130310, 20130311), 1);  // a spring-forward day is still whole
    EXPECT_EQ(WeekIndexIntDate(19790101), 1);
    EXPECT_EQ(WeekIndexIntDate(19790106), 1);
    EXPECT_EQ(WeekIndexIntDate(19790107), 2);
    EXPECT_EQ(WeekIndexIntDate(19700101), 1);
}

TEST(IntDateDiffInt, ImpossibleDatesGiveMinusOne) {
    for (int bad : {20131301, 20130001, 20130100, 101, 20130229, 21000229}) {
        EXPECT_EQ(IntDateDiff(bad, 20130101, kIntDateDays), -1) << bad;
        EXPECT_EQ(IntDateDiff(20130101, bad, kIntDateMonths), -1) << bad;
        EXPECT_EQ(WeekDiffIntDate(bad, 20130101), -1) << bad;
        EXPECT_EQ(DayDiffIntDate(20130101, bad), -1) << bad;
    }
    EXPECT_EQ(DayDiffIntDate(20120228, 20120229), 1);
}

TEST(IntDateSystem, ActionsGoThroughTheHookOnly) {
    HookScope hooks;
    std::vector<SystemAction> asked;
    bool succeed = true;
    Hooks().systemAction = [&](SystemAction a) {
        asked.push_back(a);
        return succeed;
    };
    EXPECT_EQ(ShutComputer(1), 0);
    EXPECT_EQ(ShutComputer(0), 0);
    EXPECT_TRUE(LockWorkStationNow());
    EXPECT_TRUE(SetScreenSaveActive(true));
    EXPECT_TRUE(SetScreenSaveActive(false));
    succeed = false;
    EXPECT_EQ(ShutComputer(1), -3);
    EXPECT_FALSE(LockWorkStationNow());
    EXPECT_EQ(asked, (std::vector<SystemAction>{SystemAction::Shutdown, SystemAction::Reboot,
                                                SystemAction::LockWorkstation, SystemAction::ScreenSaverOn,
                                                SystemAction::ScreenSaverOff, SystemAction::Shutdown,
                                                SystemAction::LockWorkstation}));
}

TEST(IntDateText, DatabasePathsAndCodePages) {
    const struConfig saved = g_Config.m_config;
    g_Config.m_config.userDBName = L"/data/u42/用户.db";
    g_Config.m_config.tempDBName = L"/opt/q/Quorv10.db";
    g_Config.m_config.binDir = L"/opt/q/%binDir%";
    g_Config.m_config.UserID = L"u42";
    EXPECT_EQ(GetDBFilePath("userDB"), "/data/u42/\xd3\xc3\xbb\xa7.db");
    EXPECT_EQ(GetDBFilePath("defaultDB"), "/opt/q/Quorv10.db");
    EXPECT_EQ(GetDBFilePath("%binDir%/%userID%/%userID%.db"), "/opt/q/%binDir%/u42/u42.db");
    EXPECT_EQ(GetDBFilePath("UserDB"), "UserDB");
    g_Config.m_config = saved;

    const std::string utf8 = "\xe5\x81\xa5\xe5\xba\xb7 ok", gbk = "\xbd\xa1\xbf\xb5 ok";
    EXPECT_EQ(ConvertCodePage(utf8, kCodePageUtf8, kCodePageGbk), gbk);
    EXPECT_EQ(ConvertCodePage(gbk, kCodePageAnsi, kCodePageUtf8), utf8);
    EXPECT_EQ(ConvertCodePage(gbk, 1252, kCodePageUtf8), gbk);
}

}  // namespace
