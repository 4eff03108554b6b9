// The monitor's 72-byte records into the window's batch of readings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BloodPressureFixture.h"

namespace {

using BloodPressureDataConvertTest = BloodPressureTest;

TEST_F(BloodPressureDataConvertTest, RecordBecomesReadingWithBandLevelAndTheReadsIdentity) {
    str_bp_retdata r = Record("2012/03/05", "08:05:00", 150, 85, 72);
    r.number = 4;
    r.count = 5;
    r.setCount = 6;
    r.memo = 7;
    r.moveFlag = 8;
    r.irregularPulse = 9;
    r.serial = 11;
    r.reserved44 = 12;
    r.reserved68 = 17;
    str_bp_retdata evening = Record("2012/3/6", "21:30:00", 118, 76, 60, 2);
    ASSERT_EQ(ReadRecords({r, evening}), 2);

    const struBpDeviceBussData buss = bp_->GetDeviceBussData();
    EXPECT_EQ(buss.userNo, userNo_);
    EXPECT_EQ(buss.sourceNo, kSource);
    EXPECT_EQ(buss.deviceID, L"BP-0001");
    EXPECT_EQ(buss.readTime, L"2024-06-15 09:00:00");
    EXPECT_EQ(buss.recordCount, 2);
    ASSERT_EQ(buss.count, 2);
    const struDeviceDataList_1002W& a = buss.pDeviceDataList[0];
    EXPECT_EQ(a.recTime, L"2012-03-05 08:05:00");
    EXPECT_EQ(a.recDate, 20120305);
    EXPECT_EQ(a.bpKbn, 1);  // none from the monitor: the hour's band
    EXPECT_EQ(a.bpLevel, 6);
    EXPECT_EQ(a.save, 1);
    EXPECT_TRUE(a.valid);
    EXPECT_EQ(a.packet, -1);
    const std::vector<int> ints{a.systolic, a.diastolic, a.pulse,  a.msNumber, a.msCount,
                                a.msSetCount, a.memoFlag, a.moveFlag, a.fPulseFlag, a.serial,
                                a.userKbn, a.outFlag};
    EXPECT_EQ(ints, (std::vector<int>{150, 85, 72, 4, 5, 6, 7, 8, 9, 11, 12, 17}));
    EXPECT_TRUE(a.summary.empty() && a.bpAssessNote.empty() && a.status.empty() && a.note.empty());
    const struDeviceDataList_1002W& b = buss.pDeviceDataList[1];
    EXPECT_EQ(b.recTime, L"2012-3-6 21:30:00");
    EXPECT_EQ(b.recDate, 20120306);
    EXPECT_EQ(b.bpKbn, 2);  // the monitor's own band stands
    EXPECT_EQ(b.bpLevel, 1);
}

TEST_F(BloodPressureDataConvertTest, UnterminatedOrOddTextsAreReadWithinTheirFields) {
    // Both texts fill their fields without a NUL; the ints after them must not leak in.
    str_bp_retdata full = Record("2012/03/05Z", "23:59:59Q", 120, 80, 70);
    full.reserved68 = 0x41414141;
    str_bp_retdata odd = Record("no date", "late", 0, 0, 0);
    ASSERT_EQ(ReadRecords({full, odd}), 2);
    const struBpDeviceBussData buss = bp_->GetDeviceBussData();
    EXPECT_EQ(buss.pDeviceDataList[0].recTime, L"2012-03-05Z 23:59:59Q");
    EXPECT_EQ(buss.pDeviceDataList[0].recDate, 20120305);
    EXPECT_EQ(buss.pDeviceDataList[0].bpKbn, 3);
    EXPECT_EQ(buss.pDeviceDataList[1].recTime, L"no date late");
    EXPECT_EQ(buss.pDeviceDataList[1].recDate, 0);
    EXPECT_EQ(buss.pDeviceDataList[1].bpKbn, 0);   // no hour to band by
    EXPECT_EQ(buss.pDeviceDataList[1].bpLevel, 0);  // a memo entry is no measurement
}

TEST_F(BloodPressureDataConvertTest, OnlyWholeRecordsWithinTheByteCountAreRead) {
    const str_bp_retdata r = Record("2012/03/05", "08:05:00", 130, 85, 70);
    struBpDeviceReadState state;
    state.sourceNo = kSource;
    state.origData = Bytes({r, r});
    state.origData.resize(state.origData.size() - 1);  // the second record is cut short
    state.recordCount = 5;                             // and the count claims more
    bp_->SetReadState(state);
    EXPECT_EQ(bp_->OrigDataToBussData_1002(), 1);
    EXPECT_EQ(bp_->GetDeviceBussData().count, 1);

    state.recordCount = -3;
    bp_->SetReadState(state);
    EXPECT_EQ(bp_->OrigDataToBussData_1002(), 0);
    EXPECT_TRUE(bp_->GetDeviceBussData().pDeviceDataList.empty());
}

TEST_F(BloodPressureDataConvertTest, AnotherMonitorEmptiesTheBatch) {
    ASSERT_EQ(ReadRecords({Record("2012/03/05", "08:05:00", 130, 85, 70)}), 1);
    EXPECT_EQ(ReadRecords({Record("2012/03/06", "08:05:00", 140, 95, 70)}, 1001, L"OTHER"), 0);
    const struBpDeviceBussData buss = bp_->GetDeviceBussData();
    EXPECT_EQ(buss.count, 0);
    EXPECT_TRUE(buss.pDeviceDataList.empty());
    EXPECT_TRUE(buss.deviceID.empty());
}

}  // namespace
