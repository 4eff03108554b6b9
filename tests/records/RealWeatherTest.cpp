// The live weather against a real user database: what the start-up read shows, what a
// reading writes and whom it tells, and the five health elements it sets.
#include "realWeather.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTest.h"
#include "FeedFixture.h"
#include "HealthResourcesFixture.h"
#include "Hooks.h"
#include "LogReader.h"
#include "ReplyFields.h"

namespace {

void FixClock(SYSTEMTIME& st) {
    st = SYSTEMTIME{};
    st.wYear = 2026;
    st.wMonth = 3;
    st.wDay = 15;
    st.wHour = 1;  // after midnight, where a UTC date would still be yesterday's east of Greenwich
}

// A reading: area, date, term name, lunar date, term number, pubTime, message number, ...
std::wstring Reading(int area, int messNo, const std::wstring& weatherName = L"晴", int temperature = 23) {
    return JoinFields({std::to_wstring(area), L"20260315", L"惊蛰", L"二月初七", L"3", L"08:00", std::to_wstring(messNo),
                       L"07:50", L"1", weatherName, std::to_wstring(temperature), L"15", L"25", L"60", L"40", L"80",
                       L"2", L"东北风", L"3", L"2", L"4", L"1", L"it's"});
}

class RealWeatherTest : public FeedTest {
protected:
    RealWeatherTest() {
        Hooks().localTime = FixClock;
        g_pRealWeather = &weather_;
        weather_.RegisterScriptObject(vm_);
    }
    ~RealWeatherTest() override {
        EndWorkers();
        g_pRealWeather = nullptr;
    }
    // The seed row as a reading of `date` for area 101, message 5, written at "stamp".
    void SeedRow(int date) {
        Exec(L"update tRealWeather set areaCodeNo=101, solarCalendar=" + std::to_wstring(date) +
             L", lunarCalendar='正月', solarTermsNo=2, solarTermsName='雨水', pubTime='p', realMessNo=5, "
             L"gatherTime='g', realWeatherNo=2, realWeatherName='阴', realTemperature=11, realMinTemperature=9, "
             L"realMaxTemperature=13, realHumidity=50, realMinHumidity=45, realMaxHumidity=55, "
             L"realWindDirectionNo=4, realWindDirectionName='北风', realWindLevel=2, realMinWindLevel=1, "
             L"realMaxWindLevel=3, status='1', note='n', modifyTime='stamp'");
    }
    uie::value Property(const char* name) { return uie::test::GetProperty(vm_, "realWeather", name).result; }
    std::wstring Table(const wchar_t* column) { return Column(L"tRealWeather", column); }

    CRealWeather weather_;
};

TEST_F(RealWeatherTest, OnlyTodaysRowIsLoaded) {
    SeedRow(20260314);
    EXPECT_EQ(weather_.LoadFromDB(101), 0);
    const struRealWeatherW cleared = weather_.GetRecord();
    EXPECT_EQ(cleared.areaCodeNo, -1);
    EXPECT_EQ(cleared.realMessNo, -1);
    for (int t : {cleared.realTemperature, cleared.realMinTemperature, cleared.realMaxTemperature}) EXPECT_EQ(t, -29999);
    for (int h : {cleared.realHumidity, cleared.realMinHumidity, cleared.realMaxHumidity}) EXPECT_EQ(h, -1);
    for (const std::wstring& t : {cleared.lunarCalendar, cleared.realWeatherName, cleared.note, cleared.modifyTime})
        EXPECT_EQ(t, L"");
    EXPECT_EQ(weather_.m_nRealMessNo.load(), -1);

    SeedRow(20260315);
    EXPECT_EQ(weather_.LoadFromDB(101), 0);
    const struRealWeatherW w = weather_.GetRecord();
    EXPECT_EQ(w.areaCodeNo, 101);
    EXPECT_EQ(w.solarCalendar, 20260315);
    EXPECT_EQ(w.lunarCalendar, L"正月");
    EXPECT_EQ(w.solarTermsName, L"雨水");
    EXPECT_EQ(w.realWeatherName, L"阴");
    EXPECT_EQ(w.realMaxTemperature, 13);
    EXPECT_EQ(w.realWindDirectionName, L"北风");
    EXPECT_EQ(w.realMaxWindLevel, 3);
    EXPECT_EQ(w.modifyTime, L"stamp");
    EXPECT_EQ(weather_.m_nRealMessNo.load(), 5);
    EXPECT_EQ(Property("realMessNo").get_int(), 5);
    EXPECT_EQ(Property("lunarCalendar").get_string(), L"正月");

    // Another area's row is not read.
    weather_.LoadFromDB(102);
    EXPECT_EQ(weather_.GetRecord().areaCodeNo, -1);
}

TEST_F(RealWeatherTest, ANewReadingIsStoredShownAndAnnounced) {
    SeedRow(20260315);
    weather_.LoadFromDB(101);
    StartBar();
    EXPECT_EQ(weather_.BussDataProc(Reading(205, 6)), 1);  // another area than the one loaded

    EXPECT_EQ(Table(L"areaCodeNo"), L"205");
    EXPECT_EQ(Table(L"solarTermsName"), L"惊蛰");
    EXPECT_EQ(Table(L"lunarCalendar"), L"二月初七");
    EXPECT_EQ(Table(L"note"), L"it's");
    EXPECT_NE(Table(L"modifyTime"), L"stamp");
    EXPECT_EQ(Property("solarTermsName").get_string(), L"惊蛰");
    EXPECT_EQ(Property("lunarCalendar").get_string(), L"二月初七");
    EXPECT_EQ(Property("realWindDirectionName").get_string(), L"东北风");
    EXPECT_EQ(Property("modifyTime").get_string(), L"stamp");  // the memory keeps the loaded one
    EXPECT_EQ(weather_.m_nRealMessNo.load(), 6);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8023"}));
    EXPECT_EQ(PopupCommands(), (std::vector<std::wstring>{L"8066"}));

    // The held number again: nothing written, nothing posted.
    Exec(L"update tRealWeather set note='kept'");
    EXPECT_EQ(weather_.BussDataProc(Reading(205, 6, L"雨")), 0);
    EXPECT_EQ(Table(L"note"), L"kept");
    EXPECT_EQ(Property("realWeatherName").get_string(), L"晴");
    EXPECT_TRUE(Posted().empty());
    EXPECT_TRUE(PopupCommands().empty());
    EXPECT_EQ(weather_.BussDataProc(Reading(0, 7)), 0);  // no area
    EXPECT_EQ(Table(L"note"), L"kept");
}

TEST_F(RealWeatherTest, AnyChangedRowCountsAndNoRowOrAShortReplyChangesNothing) {
    weather_.LoadFromDB(101);
    Exec(L"insert into tRealWeather (areaCodeNo) values (7)");
    EXPECT_EQ(weather_.BussDataProc(Reading(205, 8)), 2);
    EXPECT_EQ(weather_.m_nRealMessNo.load(), 8);
    EXPECT_EQ(Posted(), (std::vector<std::wstring>{L"8023"}));

    Exec(L"delete from tRealWeather");
    EXPECT_EQ(weather_.BussDataProc(Reading(205, 9)), 0);
    EXPECT_EQ(weather_.m_nRealMessNo.load(), 8);
    EXPECT_TRUE(Posted().empty());

    Exec(L"insert into tRealWeather (areaCodeNo) values (7)");
    const int unique = 100000 + static_cast<int>(tick_ % 800000);
    std::wstring cut = Reading(unique, 10);
    cut.erase(cut.rfind(L'\x02', cut.size() - 2) + 1);  // 22 fields
    EXPECT_EQ(weather_.BussDataProc(cut), 0);
    EXPECT_EQ(Table(L"areaCodeNo"), L"7");
    EXPECT_EQ(weather_.m_nRealMessNo.load(), 8);
    EXPECT_EQ(CountLogLines(L"reply 0x1100 cut short: 22 of 23 fields:[" + std::to_wstring(unique) + L"\x02"), 1);
}

TEST_F(RealWeatherTest, TheElementRowsAreFiveInTheirOrderEvenWithoutDisplayTexts) {
    struRealWeatherW w;
    w.realWeatherNo = 1;
    w.realWeatherName = L"晴";
    w.realTemperature = 23;
    w.realHumidity = 60;
    w.realWindLevel = 3;
    w.realWindDirectionNo = 2;
    w.realWindDirectionName = L"东北风";
    const CHealthResources none;  // knows no element: every display text is empty
    EXPECT_EQ(CRealWeather::ElementRows(w, none).to_json(),
              L"[{\"healthElementID\":\"realWeather\",\"valueNo\":1,\"value\":\"晴\",\"recordDataList\":0},"
              L"{\"healthElementID\":\"realTemperature\",\"valueNo\":23,\"value\":\"\",\"recordDataList\":0},"
              L"{\"healthElementID\":\"realHumidity\",\"valueNo\":60,\"value\":\"\",\"recordDataList\":0},"
              L"{\"healthElementID\":\"realWindLevel\",\"valueNo\":3,\"value\":\"\",\"recordDataList\":0},"
              L"{\"healthElementID\":\"realWindDirectionName\",\"valueNo\":2,\"value\":\"东北风\","
              L"\"recordDataList\":0}]");
}

class RealWeatherElementsTest : public HealthResourcesTest {
protected:
    RealWeatherElementsTest() { g_pRealWeather = &weather_; }
    ~RealWeatherElementsTest() override {
        EndWorkers();
        g_pRealWeather = nullptr;
    }
    CRealWeather weather_;
};

TEST_F(RealWeatherElementsTest, AReadingSetsTheWeatherElements) {
    weather_.LoadFromDB(101);
    ASSERT_EQ(weather_.BussDataProc(Reading(205, 6)), 1);
    EXPECT_EQ(Db(L"valueNo", L"realWeather"), L"1");
    EXPECT_EQ(Db(L"value", L"realWeather"), L"晴");
    EXPECT_EQ(Db(L"valueNo", L"realTemperature"), L"23");
    EXPECT_EQ(Db(L"valueNo", L"realHumidity"), L"60");
    EXPECT_EQ(Db(L"valueNo", L"realWindLevel"), L"3");
    EXPECT_EQ(Db(L"value", L"realWindDirectionName"), L"东北风");
    EXPECT_EQ(HistoryRows(L"realTemperature"), 0);  // the rows ask for no history
}

}  // namespace
