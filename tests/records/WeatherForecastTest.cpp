// The weather forecast against a real user database: the rows a reply writes or leaves,
// the count the pages see, and which days the start-up read takes.
#include "weatherForecast.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTest.h"
#include "FeedFixture.h"
#include "LogReader.h"
#include "ReplyFields.h"

namespace {

std::wstring Row(int area, int date, const std::wstring& dayNight, int messNo, const std::wstring& name = L"晴") {
    return JoinFields({std::to_wstring(area), std::to_wstring(date), dayNight, L"初一", L"3", L"惊蛰", L"08",
                       std::to_wstring(messNo), L"07", L"1", name, L"10", L"20", L"30", L"60", L"2", L"北风", L"1",
                       L"3", L"1", L"it's"});
}
std::wstring Reply(const std::vector<std::wstring>& rows) { return JoinFields(rows, L'\x03'); }

class WeatherForecastTest : public FeedTest {
protected:
    WeatherForecastTest() {
        g_pWeatherForecast = &forecast_;
        forecast_.RegisterScriptObject(vm_);
        StartBar();
    }
    ~WeatherForecastTest() override {
        EndWorkers();
        g_pWeatherForecast = nullptr;
    }
    int Rows() { return std::stoi(FirstValue(L"select count(*) from tWeatherForecast")); }
    uie::value Maps() { return uie::test::CallNative(vm_, "weatherForecast", "getWeatherForecast").result; }
    // n rows of area 101 from day 20260401 on, day and night, message numbers from 1.
    static std::wstring Days(int n) {
        std::vector<std::wstring> rows;
        for (int i = 0; i < n; ++i) rows.push_back(Row(101, 20260401 + i / 2, i % 2 == 0 ? L"day" : L"night", i + 1));
        return Reply(rows);
    }

    CWeatherForecast forecast_;
};

TEST_F(WeatherForecastTest, AReplyFillsTheSlotsFromTheFrontUpToFourteen) {
    EXPECT_EQ(forecast_.BussDataProc(Days(3)), 3);
    const uie::value maps = Maps();
    ASSERT_EQ(maps.length(), 3u);
    std::vector<std::wstring> keys;
    const uie::value first = maps.nth(0);
    for (const auto& [key, v] : *first.map_ptr()) keys.push_back(key.get_string());
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"areaCodeNo", L"solarCalendar", L"dayNight", L"lunarCalendar",
                                               L"solarTermsNo", L"solarTermsName", L"pubTime", L"forecastMessNo",
                                               L"gatherTime", L"weatherNo", L"weatherName", L"minTemperature",
                                               L"maxTemperature", L"minHumidity", L"maxHumidity", L"windDirectionNo",
                                               L"windDirectionName", L"minWindLevel", L"maxWindLevel", L"status",
                                               L"note"}));
    EXPECT_EQ(maps.nth(2).get_item(uie::value(L"dayNight")).get_string(), L"day");
    EXPECT_EQ(maps.nth(2).get_item(uie::value(L"note")).get_string(), L"it's");
    EXPECT_EQ(forecast_.m_nForecastMessNo.load(), 1);
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(PopupCommands(), (std::vector<std::wstring>{L"8068"}));
    EXPECT_TRUE(Posted().empty());  // the main window is not told

    EXPECT_EQ(forecast_.BussDataProc(Days(20)), 14);
    EXPECT_EQ(forecast_.GetCount(), 14);
    EXPECT_EQ(Maps().length(), 14u);
    EXPECT_EQ(Rows(), 14);
}

TEST_F(WeatherForecastTest, AnAreaOfZeroEndsTheRowsAfterThoseBefore) {
    const std::wstring reply =
        Reply({Row(101, 20260401, L"day", 1), Row(101, 20260401, L"night", 2), Row(0, 20260402, L"day", 3),
               Row(101, 20260402, L"night", 4)});
    EXPECT_EQ(forecast_.BussDataProc(reply), 2);
    EXPECT_EQ(Maps().length(), 2u);
    EXPECT_EQ(Rows(), 2);
}

TEST_F(WeatherForecastTest, AStoredHalfDayIsUpdatedAndAHeldNumberWritesNothing) {
    EXPECT_EQ(forecast_.BussDataProc(Reply({Row(101, 20260401, L"day", 1)})), 1);
    // The same half-day with a new number: the row is rewritten in place.
    EXPECT_EQ(forecast_.BussDataProc(Reply({Row(101, 20260401, L"day", 2, L"雨")})), 1);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Column(L"tWeatherForecast", L"weatherName"), L"雨");
    EXPECT_EQ(forecast_.m_nForecastMessNo.load(), 2);

    // The number the slot holds: counted, not written.
    Exec(L"delete from tWeatherForecast");
    EXPECT_EQ(forecast_.BussDataProc(Reply({Row(101, 20260401, L"day", 2, L"雪")})), 1);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Maps().nth(0).get_item(uie::value(L"weatherName")).get_string(), L"雨");
    EXPECT_EQ(PopupCommands(), (std::vector<std::wstring>{L"8068", L"8068", L"8068"}));
}

TEST_F(WeatherForecastTest, ARowCutShortEndsTheRows) {
    const int unique = 100000 + static_cast<int>(tick_ % 800000);
    std::wstring cut = Row(unique, 20260402, L"day", 9);
    cut.erase(cut.rfind(L'\x02', cut.size() - 2) + 1);  // 20 fields
    EXPECT_EQ(forecast_.BussDataProc(Reply({Row(101, 20260401, L"day", 1), cut, Row(101, 20260403, L"day", 3)})), 1);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(forecast_.GetCount(), 1);
    EXPECT_EQ(CountLogLines(L"reply 0x1101 cut short: 20 of 21 fields:[" + std::to_wstring(unique) + L"\x02"), 1);

    // Cut in its first row, a reply writes nothing.
    Exec(L"delete from tWeatherForecast");
    EXPECT_EQ(forecast_.BussDataProc(Reply({cut})), 0);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(forecast_.m_nForecastMessNo.load(), 1);
}

TEST_F(WeatherForecastTest, TheStartUpReadTakesTheAreasHalfDaysFromTheLocalDateOn) {
    const int yesterday = SqliteDate(-1), today = SqliteDate(0), tomorrow = SqliteDate(1);
    for (const auto& [area, date, dayNight, no] :
         std::vector<std::tuple<int, int, const wchar_t*, int>>{{101, tomorrow, L"day", 30},
                                                               {101, today, L"night", 21},
                                                               {101, yesterday, L"day", 10},
                                                               {101, today, L"day", 20},
                                                               {102, today, L"day", 99}}) {
        Exec(L"insert into tWeatherForecast (areaCodeNo, solarCalendar, dayNight, forecastMessNo, modifyTime) "
             L"values (" + std::to_wstring(area) + L", " + std::to_wstring(date) + L", '" + dayNight + L"', " +
             std::to_wstring(no) + L", 'stamp')");
    }
    EXPECT_EQ(forecast_.LoadFromDB(101), 0);
    const uie::value maps = Maps();
    ASSERT_EQ(maps.length(), 3u);
    std::vector<int> numbers;
    for (std::size_t i = 0; i < maps.length(); ++i)
        numbers.push_back(maps.nth(i).get_item(uie::value(L"forecastMessNo")).get_int());
    EXPECT_EQ(numbers, (std::vector<int>{20, 21, 30}));
    EXPECT_EQ(forecast_.m_nForecastMessNo.load(), 20);
    EXPECT_EQ(maps.nth(0).get_item(uie::value(L"minTemperature")).get_int(), 0);  // NULL column reads 0

    // A table with only past rows: every slot cleared, the count as it was.
    CWeatherForecast fresh;
    EXPECT_EQ(fresh.LoadFromDB(103), 0);
    EXPECT_EQ(fresh.GetCount(), 0);
    EXPECT_EQ(fresh.m_nForecastMessNo.load(), -1);
}

}  // namespace
