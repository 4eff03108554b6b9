#include "WalkingData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "VepBytes.h"
#include "VepModel.h"

namespace {

constexpr std::size_t kDataStart = 256;
constexpr std::size_t kRecLength = 112;
constexpr VepDateTime kToday{2013, 3, 1, 8, 9, 10};

void PutBe16(std::vector<BYTE>& bytes, std::size_t at, int value) {
    bytes[at] = static_cast<BYTE>(value >> 8);
    bytes[at + 1] = static_cast<BYTE>(value);
}

// Day fields as 2-byte values from 0; hourly lists at 16 + 2h and 64 + 2h.
VepModelParams WalkingModel(std::size_t hours = kVepHours) {
    VepModelParams p;
    p.downloadType = 2;
    p.dataStart = static_cast<int>(kDataStart);
    p.recLength = static_cast<int>(kRecLength);
    p.wpSpec = {0, 1};
    p.wpHeight = {2, 2};
    p.wpWeight = {4, 2};
    p.wpStride = {6, 2};
    VepField* day[] = {&p.wdNwalk, &p.wdNwalks, &p.wdTwalks, &p.wdCarorie, &p.wdDistance, &p.wdFatBurn, &p.wdDaySerial};
    for (int i = 0; i < 7; ++i) *day[i] = {2 * i, 2};
    for (std::size_t h = 0; h < hours; ++h) {
        p.wdTmNwalk.push_back(static_cast<int>(16 + 2 * h));
        p.wdTmNwalks.push_back(static_cast<int>(64 + 2 * h));
    }
    return p;
}

// n raw records whose first field (nwalk) is given, day serial 0xFFFF.
std::vector<BYTE> WalkingFile(const std::vector<int>& nwalk) {
    std::vector<BYTE> file(kDataStart + nwalk.size() * kRecLength, 0);
    PutLe16(file.data(), static_cast<int>(nwalk.size()));
    const BYTE profile[] = {'S', 'P', 0x01, 0x72, 0x00, 0x65, 0x01, 0xA2};
    std::memcpy(file.data() + 16, profile, sizeof(profile));
    for (std::size_t i = 0; i < nwalk.size(); ++i) {
        const std::size_t at = kDataStart + i * kRecLength;
        PutBe16(file, at, nwalk[i]);
        PutBe16(file, at + 12, 0xFFFF);
    }
    return file;
}

str_np_data Record(WalkingData& data, int index) {
    str_np_data out{};
    EXPECT_TRUE(data.Select(index));
    EXPECT_TRUE(data.CopySelected(out));
    return out;
}

TEST(WalkingDataTest, DropsEmptyDaysButDatesByRawPosition) {
    WalkingData data;
    ASSERT_EQ(data.Decode(WalkingFile({500, 0, 300}), WalkingModel(), kToday), 0);
    ASSERT_EQ(data.Count(), 2);
    const str_np_data first = Record(data, 0);
    EXPECT_STREQ(first.date, "2013/03/01");
    EXPECT_EQ(first.nwalk, 500);
    EXPECT_EQ(first.daySerial, 0x7FFF);
    const str_np_data third = Record(data, 1);
    EXPECT_STREQ(third.date, "2013/02/27");  // today - 2 across the month's end
    EXPECT_EQ(third.nwalk, 300);
}

TEST(WalkingDataTest, HeadReadsHexDigitsAsDecimal) {
    WalkingData data;
    ASSERT_EQ(data.Decode(WalkingFile({1}), WalkingModel(), kToday), 0);
    EXPECT_EQ(data.Head().spec[0], 'S');
    EXPECT_EQ(data.Head().spec[1], 'P');
    EXPECT_EQ(data.Head().height, 172);
    EXPECT_EQ(data.Head().weight, 65);
    EXPECT_EQ(data.Head().stride, 1);  // 0x01A2: the digit A ends the number
}

TEST(WalkingDataTest, HourlyCountsAndFlags) {
    std::vector<BYTE> file = WalkingFile({1});
    PutBe16(file, kDataStart + 16, 0x4005);      // hour 0, first list
    PutBe16(file, kDataStart + 16 + 2, 0x0005);  // hour 1, first list
    PutBe16(file, kDataStart + 64, 0x4003);      // hour 0, second list
    PutBe16(file, kDataStart + 64 + 2, 0x0005);  // hour 1, second list
    WalkingData data;
    ASSERT_EQ(data.Decode(file, WalkingModel(), kToday), 0);
    const str_np_data r = Record(data, 0);
    EXPECT_EQ(r.tmNwalk[0], 5);
    EXPECT_EQ(r.tmNwalkFlag[0], 1);
    EXPECT_EQ(r.tmNwalk[1], 5);
    EXPECT_EQ(r.tmNwalkFlag[1], 1);
    EXPECT_EQ(r.tmNwalks[0], 3);
    EXPECT_EQ(r.tmNwalksFlag[0], 1);
    EXPECT_EQ(r.tmNwalks[1], 5);
    EXPECT_EQ(r.tmNwalksFlag[1], 0);
}

TEST(WalkingDataTest, MissingOrOutlyingHourlyOffsetsReadZero) {
    std::vector<BYTE> file = WalkingFile({1});
    for (std::size_t h = 0; h < 24; ++h) PutBe16(file, kDataStart + 16 + 2 * h, 0x4007);
    VepModelParams model = WalkingModel(20);
    model.wdTmNwalk[3] = static_cast<int>(kRecLength);  // beyond the record
    WalkingData data;
    ASSERT_EQ(data.Decode(file, model, kToday), 0);
    const str_np_data r = Record(data, 0);
    EXPECT_EQ(r.tmNwalk[2], 7);
    EXPECT_EQ(r.tmNwalk[3], 0);
    EXPECT_EQ(r.tmNwalkFlag[3], 0);
    EXPECT_EQ(r.tmNwalk[21], 0);
    EXPECT_EQ(r.tmNwalkFlag[21], 0);
}

TEST(WalkingDataTest, BoundsCountByStoreAndFile) {
    WalkingData data;
    ASSERT_EQ(data.Decode(WalkingFile(std::vector<int>(70, 1)), WalkingModel(), kToday), 0);
    EXPECT_EQ(data.Count(), 64);

    std::vector<BYTE> shortFile = WalkingFile({1, 1});
    PutLe16(shortFile.data(), 3);
    EXPECT_EQ(data.Decode(shortFile, WalkingModel(), kToday), -1);
    EXPECT_EQ(data.Count(), 0);
}

TEST(WalkingDataTest, SelectionAndCopyKeepTheCallersFirstBytes) {
    WalkingData data;
    ASSERT_EQ(data.Decode(WalkingFile({9, 8}), WalkingModel(), kToday), 0);
    EXPECT_FALSE(data.Select(2));
    EXPECT_FALSE(data.Select(-1));
    ASSERT_TRUE(data.Select(1));
    str_np_data out;
    std::memset(&out, 0xEE, sizeof(out));
    ASSERT_TRUE(data.CopySelected(out));
    EXPECT_EQ(out.reserved[0], 0xEE);
    EXPECT_EQ(out.reserved[7], 0xEE);
    EXPECT_EQ(out.nwalk, 8);
}

}  // namespace
