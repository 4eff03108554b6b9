// Demo days the page asks for, and demo runs beside a device read.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "PedometerFixture.h"
#include "SimPedometer.h"

namespace {

class PedometerDemoTest : public PedometerTest {
protected:
    static uie::value Row(int recDate, int step) {
        return records::MakeObject({{L"recDate", uie::value(recDate)},
                                    {L"step", uie::value(step)},
                                    {L"stepLen_cm", uie::value(70)},
                                    {L"distance", uie::value(step * 7 / 10)},
                                    {L"energy", uie::value(step * 4)},
                                    {L"duration", uie::value(step / 2)},
                                    {L"generatedTime", uie::value(L"2024-02-01 08:00:00")}});
    }
    std::wstring Days() {
        return FirstValue(L"select group_concat(recDate || ':' || step || ':' || stepLen_cm || ':' || distance || "
                          L"':' || energy || ':' || duration || ':' || deviceID || ':' || userNo, ' ') from "
                          L"(select * from tDeviceDataList_122 order by recDate, step)");
    }
};

TEST_F(PedometerDemoTest, RowsReplaceEarlierDemoDaysAndTheirDatesAndTellThePage) {
    StartWindow();
    WindowCommands();
    for (const wchar_t* values : {L"20240101, 1, 'VirtualData'", L"20240210, 2, 'DEV'", L"20240211, 3, 'DEV'"})
        Exec(std::wstring(L"insert into tDeviceDataList_122 (userNo, stepLen_cm, distance, energy, duration, recDate, "
                          L"step, deviceID) values (1, 0, 0, 0, 0, ") + values + L")");
    uie::value rows = uie::value::make_array();
    rows.append(Row(20240210, 1000));
    rows.append(records::MakeObject({{L"recDate", uie::value(20240212)}}));  // the rest defaults
    rows.append(uie::value(L"not a row"));
    EXPECT_EQ(pedometer_->GenVirtualData(CPedometerWin::kDaySource, rows, L"VirtualData"), 0);
    const std::wstring user = std::to_wstring(userNo_);
    EXPECT_EQ(Days(), L"20240210:1000:70:700:4000:500:VirtualData:" + user + L" 20240211:3:0:0:0:0:DEV:1" +
                          L" 20240212:0:0:0:0:0:VirtualData:" + user);
    EXPECT_EQ(WindowCommands(), std::vector<std::wstring>{L"8081:0"});
    const struDeviceBussData buss = pedometer_->GetDeviceBussData();
    EXPECT_EQ(buss.recordCount, 2);  // the text is no row
    EXPECT_EQ(buss.pDeviceDataList[0].generatedTime, L"2024-02-01 08:00:00");
    EXPECT_EQ(buss.deviceID, L"VirtualData");
}

TEST_F(PedometerDemoTest, EmptyOrOtherSourceStoresNothing) {
    StartWindow();
    WindowCommands();
    uie::value rows = uie::value::make_array();
    rows.append(Row(20240210, 1000));
    EXPECT_EQ(pedometer_->GenVirtualData(121, rows, L"VirtualData"), 0);
    EXPECT_EQ(pedometer_->GenVirtualData(CPedometerWin::kDaySource, uie::value::make_array(), L"VirtualData"), 0);
    EXPECT_EQ(FirstValue(L"select count(*) from tDeviceDataList_122"), L"0");
    EXPECT_EQ(WindowCommands(), (std::vector<std::wstring>{L"8081:0", L"8081:0"}));

    Exec(L"drop table tDeviceDataList_122");
    EXPECT_LT(pedometer_->GenVirtualData(CPedometerWin::kDaySource, rows, L"VirtualData"), 0);
    EXPECT_TRUE(WindowCommands().empty());
}

// A demo run on the page's thread while the read thread converts and a reply saves: each
// works on its own copy, so none reads records another has freed.
TEST_F(PedometerDemoTest, DemoRunsBesideConversionsAndSaves) {
    SimPedometerValues values;
    for (auto& day : values.days) day = {1234, 5600};
    SimPedometer device;
    device.SetValues(values);
    pedometer_->WithData([&](struDeviceOrigData& orig, auto&, auto&, auto&) {
        orig.sourceNo = CPedometerWin::kDaySource;
        orig.origData = text::FromUtf8(device.RawText());
    });
    uie::value rows = uie::value::make_array();
    for (int i = 0; i < 40; ++i) rows.append(Row(20230101 + i, 10 + i));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (int i = 0; i < 60; ++i) {
            EXPECT_EQ(pedometer_->OrigDataToBussData(), 31);
            std::vector<std::wstring> list;
            EXPECT_EQ(pedometer_->PedoDataListSave_122(list), 0);
            EXPECT_TRUE(list.size() == 33u || list.size() == 42u) << list.size();
        }
        done = true;
    });
    struDeviceDataList_122W demo;
    demo.valid = true;
    demo.recDate = 20230101;
    demo.step = 10;
    std::vector<std::wstring> page;
    while (!done) {
        pedometer_->WithData([&](auto&, struDeviceBussData& buss, auto&, auto&) {
            buss.pDeviceDataList.assign(40, demo);
            buss.recordCount = 40;
        });
        page.clear();
        EXPECT_EQ(pedometer_->PedoDataListSave_122(page), 0);
    }
    reader.join();
    EXPECT_EQ(pedometer_->GenVirtualData(CPedometerWin::kDaySource, rows, L"VirtualData"), 0);
}

}  // namespace
