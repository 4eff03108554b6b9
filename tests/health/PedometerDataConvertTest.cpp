// The pedometer's raw text into day records and their statements.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "LogReader.h"
#include "PedometerFixture.h"
#include "SimPedometer.h"

namespace {

class PedometerConvertTest : public PedometerTest {
protected:
    // Converts the text as a read of that source leaves it.
    int Convert(const std::string& raw, int sourceNo = kSource, const std::wstring& deviceID = L"123456789A") {
        pedometer_->WithData([&](struDeviceOrigData& orig, auto&, auto&, auto&) {
            orig.userNo = userNo_;
            orig.sourceNo = sourceNo;
            orig.deviceID = deviceID;
            orig.origData = text::FromUtf8(raw);
        });
        return pedometer_->OrigDataToBussData();
    }
    static std::string Raw(const SimPedometerValues& values) {
        SimPedometer device;
        device.SetValues(values);
        return device.RawText();
    }
    std::vector<std::wstring> Save() {
        std::vector<std::wstring> list;
        EXPECT_EQ(pedometer_->PedoDataListSave_122(list), 0);
        return list;
    }
    std::vector<int> ValidDates() {
        std::vector<int> dates;
        for (const auto& day : pedometer_->GetDeviceBussData().pDeviceDataList)
            if (day.valid) dates.push_back(day.recDate);
        return dates;
    }
    static uie::value DemoRows(int count) {
        uie::value rows = uie::value::make_array();
        for (int i = 0; i < count; ++i)
            rows.append(records::MakeObject({{L"recDate", uie::value(20230101 + i)}, {L"step", uie::value(100 + i)}}));
        return rows;
    }
};

TEST_F(PedometerConvertTest, UnitFlagSelectsImperialConversionOfStepLengthAndWeight) {
    SimPedometerValues values;
    values.metric = false;
    values.stepLengthCm = 30;  // the digits 030, in inches
    values.weightKg = 150;     // the digits 150, in pounds
    const std::string imperial = Raw(values);
    ASSERT_EQ(imperial[0], '0');
    EXPECT_EQ(Convert(imperial), 0);
    struPedoDeviceValues decoded = pedometer_->GetDeviceValues();
    EXPECT_EQ(decoded.pedoUnitMode, 0);
    EXPECT_EQ(decoded.pedoStepLong, 76);   // 30 x 2.54
    EXPECT_EQ(decoded.pedoWeight, 680);    // 1500 x 0.45359237 = 680.39

    values.metric = true;
    EXPECT_EQ(Convert(Raw(values)), 0);
    decoded = pedometer_->GetDeviceValues();
    EXPECT_EQ(decoded.pedoUnitMode, 1);
    EXPECT_EQ(decoded.pedoStepLong, 30);
    EXPECT_EQ(decoded.pedoWeight, 1500);
}

TEST_F(PedometerConvertTest, DaysTakeTheirDatesDistanceAndShareOfTheActiveTime) {
    SimPedometerValues values;
    values.stepLengthCm = 75;
    values.referenceDuration = 3600;
    values.referenceSteps = 10000;
    values.referenceEnergy = 91200;
    values.days[0] = {5230, 45600};
    values.days[1] = {1000, 0};
    values.days[30] = {99999, 9999900};
    EXPECT_EQ(Convert(Raw(values)), 3);
    const struDeviceBussData buss = pedometer_->GetDeviceBussData();
    ASSERT_EQ(buss.pDeviceDataList.size(), 31u);
    EXPECT_EQ(buss.userNo, userNo_);
    EXPECT_EQ(buss.deviceID, L"123456789A");
    const auto& today = buss.pDeviceDataList[0];
    EXPECT_EQ(today.recDate, 20240301);
    EXPECT_EQ(today.step, 5230);
    EXPECT_EQ(today.energy, 45600);
    EXPECT_EQ(today.distance, 3923);  // (75 x 5230 + 50) / 100
    EXPECT_EQ(today.duration, 1800);  // 45600 x 3600 / 91200
    EXPECT_EQ(today.status, L"1");
    EXPECT_EQ(buss.pDeviceDataList[1].recDate, 20240229);
    EXPECT_EQ(buss.pDeviceDataList[1].duration, 0);  // shared out by energy, and it has none
    // The product passes 32 bits: 9999900 x 3600.
    EXPECT_EQ(buss.pDeviceDataList[30].recDate, 20240131);
    EXPECT_EQ(buss.pDeviceDataList[30].duration, 394732);

    values.referenceEnergy = 0;  // then by steps
    EXPECT_EQ(Convert(Raw(values)), 3);
    EXPECT_EQ(pedometer_->GetDeviceBussData().pDeviceDataList[1].duration, 360);  // 1000 x 3600 / 10000
    values.referenceSteps = 0;   // then none
    EXPECT_EQ(Convert(Raw(values)), 3);
    for (const auto& day : pedometer_->GetDeviceBussData().pDeviceDataList) EXPECT_EQ(day.duration, 0);

    // A garbled text whose share passes int: cut to the largest, never negative.
    values.referenceDuration = 99999 * 60;
    values.referenceEnergy = 100;
    EXPECT_EQ(Convert(Raw(values)), 3);
    EXPECT_EQ(pedometer_->GetDeviceBussData().pDeviceDataList[30].duration, INT_MAX);  // 9999900 x 5999940 / 100
}

TEST_F(PedometerConvertTest, EmptyDaysAreNeitherStoredNorDeletedAndTheLastDayAloneIsStored) {
    SimPedometerValues values;
    EXPECT_EQ(Convert(Raw(values)), 0);
    EXPECT_TRUE(Save().empty());  // not even the demo rows' delete
    EXPECT_EQ(Convert(Raw(values), 121), 0);  // only 122 is converted
    values.days[30] = {12, 0};
    EXPECT_EQ(Convert(Raw(values), kSource, L"O'Neil"), 1);
    EXPECT_EQ(ValidDates(), std::vector<int>{20240131});
    const std::vector<std::wstring> expected{
        L"delete from tDeviceDataList_122 where deviceID='VirtualData' ",
        L"delete from tDeviceDataList_122 where recDate in (20240131);",
        L"insert into tDeviceDataList_122 (userNo, recDate, stepLen_cm, step, distance, energy, duration, "
        L"generatedTime, deviceID, status, note)     values (" + std::to_wstring(userNo_) +
            L", 20240131, 75, 12, 9, 0, 0, datetime('now','localtime'),'O''Neil', '1',''); "};
    EXPECT_EQ(Save(), expected);

    values.days[30] = {};
    values.days[2] = {0, 100};  // energy alone makes a day
    values.days[0] = {7, 0};
    EXPECT_EQ(Convert(Raw(values)), 2);
    const std::vector<std::wstring> list = Save();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1], L"delete from tDeviceDataList_122 where recDate in (20240301,20240228);");
    ASSERT_EQ(db_.ExecSQLSet(list, true), 0);
    EXPECT_EQ(FirstValue(L"select group_concat(recDate || ':' || step || ':' || energy || ':' || deviceID, ' ') "
                         L"from (select * from tDeviceDataList_122 order by recDate)"),
              L"20240228:0:100:123456789A 20240301:7:0:123456789A");
}

TEST_F(PedometerConvertTest, ShortTextLogsAndStopsHexLettersAndTheEndReadAsNoDigit) {
    SimPedometerValues values;
    for (auto& day : values.days) day = {12345, 45600};
    std::string raw = Raw(values);
    // Day 5 starts at character 90 and needs 99 characters.
    const int before = CountLogLines(L"m_deviceOrigData.origData length[97][99] ? ");
    EXPECT_EQ(Convert(raw.substr(0, 97)), 5);
    // At least: the log is shared with other test processes.
    EXPECT_EQ(CountLogLines(L"m_deviceOrigData.origData length[97][99] ? ") - before, 1);
    EXPECT_EQ(ValidDates(), (std::vector<int>{20240301, 20240229, 20240228, 20240227, 20240226}));

    // Today's steps are joined from characters 35, 32, 33, 30, 31: a letter at 33 ends them.
    raw[33] = 'A';
    EXPECT_EQ(Convert(raw), 31);
    EXPECT_EQ(pedometer_->GetDeviceBussData().pDeviceDataList[0].step, 12);
    // Energy is joined from 38, 39, 36, 37, 34; the text ends after 38.
    EXPECT_EQ(Convert(raw.substr(0, 39)), 1);
    EXPECT_EQ(pedometer_->GetDeviceBussData().pDeviceDataList[0].energy, 0);
    EXPECT_EQ(Convert(""), 0);
}

TEST_F(PedometerConvertTest, DemoDaysNeverOutliveAConversion) {
    EXPECT_EQ(pedometer_->GenVirtualData(kSource, DemoRows(40), L"VirtualData"), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tDeviceDataList_122 where deviceID='VirtualData'"), L"40");
    SimPedometerValues values;
    values.days[0] = {300, 0};
    values.days[1] = {200, 0};
    EXPECT_EQ(Convert(Raw(values)), 2);
    EXPECT_EQ(pedometer_->GetDeviceBussData().pDeviceDataList.size(), 31u);
    EXPECT_EQ(ValidDates(), (std::vector<int>{20240301, 20240229}));
    const std::vector<std::wstring> list = Save();
    ASSERT_EQ(list.size(), 4u);
    ASSERT_EQ(db_.ExecSQLSet(list, true), 0);
    EXPECT_EQ(FirstValue(L"select group_concat(step, ',') from (select step from tDeviceDataList_122 order by step)"),
              L"200,300");
}

}  // namespace
