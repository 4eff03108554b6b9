// Readings decoded from a hand-made readings file by the model's field layout, the
// field reader and the civil dates behind the roll-overs and stamps.
#include <cstring>

#include "VepDate.h"
#include "VepFixture.h"

namespace {

constexpr std::size_t kRecord = 16;

// A readings file as the download writes it: n and the serial value in the header,
// records from 256 in the SimModel layout.
class ReadingsFile {
public:
    ReadingsFile(int n, int serial) : bytes_(256, 0) {
        bytes_[0] = static_cast<BYTE>(n);
        bytes_[1] = static_cast<BYTE>(n >> 8);
        bytes_[4] = static_cast<BYTE>(serial);
        bytes_[5] = static_cast<BYTE>(serial >> 8);
    }
    ReadingsFile& Add(std::vector<BYTE> record) {
        record.resize(kRecord, 0);
        bytes_.insert(bytes_.end(), record.begin(), record.end());
        return *this;
    }
    // year - 2000, month, day, hour, minute, second, systolic (2 bytes), diastolic, pulse
    ReadingsFile& Add(int yy, int mo, int dd, int hh, int mi, int ss, int sys, int dia, int pul) {
        return Add({'O', 'K', 0x30, BYTE(yy), BYTE(mo), BYTE(dd), BYTE(hh), BYTE(mi), BYTE(ss), BYTE(sys >> 8),
                    BYTE(sys & 0xFF), BYTE(dia), BYTE(pul)});
    }
    const std::vector<BYTE>& Bytes() const { return bytes_; }

private:
    std::vector<BYTE> bytes_;
};

class VepRecordsTest : public VepFixture {
protected:
    int Decode(const ReadingsFile& file, const ModelParams& params = SimModel()) {
        WriteModels(ModelXml("SIMBP3", params));
        EXPECT_EQ(model_.Load(kModelFile, "SIMBP3", state_), 0);
        return state_.readings.Decode(file.Bytes(), model_.Params(), state_.trace);
    }
    str_bp_retdata Record(int index) {
        str_bp_retdata out{};
        EXPECT_TRUE(state_.readings.Select(index));
        EXPECT_TRUE(state_.readings.CopySelected(out));
        return out;
    }
};

TEST(VepFieldTest, SizeByteOrderBitsAndPackedDecimal) {
    const std::vector<BYTE> raw{0x12, 0x34, 0xF5, 0x00};
    EXPECT_EQ(ReadField({0, 2, 0, 0, true}, raw, false), 1234);
    EXPECT_EQ(ReadField({0, 2, 0, 0, true}, raw, true), 3412);
    EXPECT_EQ(ReadField({0, 3, 0, 0, false}, raw, false), 0x1234F5);
    EXPECT_EQ(ReadField({2, 1, 4, 4, false}, raw, false), 0xF);
    EXPECT_EQ(ReadField({2, 1, 0, 4, true}, raw, false), 5);
    EXPECT_EQ(ReadField({0, 4, 0, 0, false}, raw, false), 0);  // no such size
    EXPECT_EQ(ReadField({3, 2, 0, 0, false}, raw, false), 0);  // past the record
    EXPECT_EQ(ReadField({0, 0, 0, 0, false}, raw, false), 0);  // absent
}

TEST(VepDateTest, StampsCountMinutesSince1980AndDatesRollOverByTheCalendar) {
    EXPECT_EQ(MinuteStamp({1980, 1, 1, 0, 0, 0}), 0u);
    EXPECT_EQ(MinuteStamp({2010, 11, 1, 0, 0, 0}), 16217280u);
    EXPECT_EQ(MinuteStamp({1979, 12, 31, 23, 59, 0}), 0u);
    const VepDateTime back = FromMinuteStamp(16217280u + 25 * 60 + 7);
    EXPECT_EQ(std::vector<int>({back.year, back.month, back.day, back.hour, back.minute}),
              std::vector<int>({2010, 11, 2, 1, 7}));
    const VepDateTime leap = AddDays({2012, 3, 1, 9, 30, 5}, -1);
    EXPECT_EQ(std::vector<int>({leap.year, leap.month, leap.day, leap.hour}), std::vector<int>({2012, 2, 29, 9}));
    const VepDateTime carried = CarryMinute({2012, 12, 31, 23, 60, 17});
    EXPECT_EQ(
        std::vector<int>({carried.year, carried.month, carried.day, carried.hour, carried.minute, carried.second}),
        std::vector<int>({2013, 1, 1, 0, 0, 17}));
    // A three-byte month field read from a device is no month, but its day still counts.
    EXPECT_EQ(CarryMinute({2013, 0xFEFFFF, 1, 24, 0, 0}).hour, 0);
}

TEST_F(VepRecordsTest, DatesCarryAMinuteOf60AndMonthZeroMeansNow) {
    ReadingsFile file(3, 0);
    file.Add(12, 12, 31, 23, 60, 17, 120, 80, 60)
        .Add(13, 0, 0, 0, 0, 0, 121, 81, 61)
        .Add(13, 2, 28, 7, 5, 9, 122, 82, 62);
    ASSERT_EQ(Decode(file), 0);
    ASSERT_EQ(state_.readings.Count(), 3);
    EXPECT_STREQ(Record(0).date, "2013/01/01");
    EXPECT_STREQ(Record(0).time, "00:00:17");
    EXPECT_STREQ(Record(1).date, "2013/03/05");  // the fixture's clock
    EXPECT_STREQ(Record(1).time, "08:09:10");

    ModelParams noSeconds = SimModel();
    noSeconds.erase("ofs_sec");
    ASSERT_EQ(Decode(file, noSeconds), 0);
    EXPECT_STREQ(Record(2).time, "07:05:00");
}

TEST_F(VepRecordsTest, TenthsOfAKilopascalBecomeMillimetresOfMercury) {
    ModelParams params = SimModel();
    params["ofs_unit"] = "15:1";
    ReadingsFile file(2, 0);
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 160, 200, 70, 0, 0, 1});
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 187, 90, 70, 0, 0, 0});
    ASSERT_EQ(Decode(file, params), 0);
    const str_bp_retdata converted = Record(0);
    EXPECT_EQ(std::vector<int>({converted.systolic, converted.diastolic, converted.pulse}),
              std::vector<int>({120, 150, 70}));
    EXPECT_EQ(Record(1).systolic, 187);  // unit 0 stays as it is

    file = ReadingsFile(1, 0);
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 187, 0, 0, 0, 0, 1});
    ASSERT_EQ(Decode(file, params), 0);
    EXPECT_EQ(Record(0).systolic, 140);
}

TEST_F(VepRecordsTest, SerialsCountBackFromTheHeaderValueBySlot) {
    ReadingsFile file(3, 100);
    file.Add(13, 1, 1, 8, 0, 0, 120, 80, 60).Add(13, 1, 2, 8, 0, 0, 120, 80, 60).Add(13, 1, 3, 8, 0, 0, 120, 80, 60);
    ASSERT_EQ(Decode(file), 0);
    EXPECT_EQ(std::vector<int>({Record(0).serial, Record(1).serial, Record(2).serial}),
              std::vector<int>({98, 99, 100}));

    ReadingsFile erased(3, 100);
    erased.Add(13, 1, 1, 8, 0, 0, 120, 80, 60).Add({'O', 'K', 0x30, 13, 0xFF}).Add(13, 1, 3, 8, 0, 0, 120, 80, 60);
    ASSERT_EQ(Decode(erased), 0);
    ASSERT_EQ(state_.readings.Count(), 2);
    EXPECT_EQ(std::vector<int>({Record(0).serial, Record(1).serial}), std::vector<int>({98, 100}));

    ModelParams noSerial = SimModel();
    noSerial["data_serial"] = "0";
    ASSERT_EQ(Decode(file, noSerial), 0);
    EXPECT_EQ(Record(2).serial, 0);
}

TEST_F(VepRecordsTest, AnErasedMonthIsDroppedBeforeItsPackedDecimalIsRead) {
    ModelParams params = SimModel();
    params["ofs_month"] = "4:1:0:0:1";
    ReadingsFile file(2, 0);
    file.Add({'O', 'K', 0x30, 13, 0xFF, 0x01}).Add({'O', 'K', 0x30, 13, 0x12, 25, 9, 30, 0, 0, 120, 80, 70});
    ASSERT_EQ(Decode(file, params), 0);
    ASSERT_EQ(state_.readings.Count(), 1);
    EXPECT_STREQ(Record(0).date, "2013/12/25");
}

TEST_F(VepRecordsTest, TheCountIsBoundByTheFileAndAShortFileHandsOutNothingOld) {
    ReadingsFile file(5000, 0);
    file.Add(13, 1, 1, 8, 0, 0, 120, 80, 60).Add(13, 1, 2, 8, 0, 0, 121, 80, 60).Add(13, 1, 3, 8, 0, 0, 122, 80, 60);
    ASSERT_EQ(Decode(file), 0);
    EXPECT_EQ(state_.readings.Count(), 3);
    EXPECT_NE(Trace().find("data count 5000 cut to 3"), std::string::npos);

    std::vector<BYTE> shortFile(file.Bytes().begin(), file.Bytes().begin() + 100);
    EXPECT_EQ(state_.readings.Decode(shortFile, model_.Params(), state_.trace), -1);
    EXPECT_EQ(state_.readings.Count(), 0);
    EXPECT_FALSE(state_.readings.Select(0));
    EXPECT_EQ(state_.readings.DecodeFile("down.dat", model_.Params(), state_.trace), -1);

    // No model with records of length 0 loads; the decoding stands without one too.
    VepModelParams noRecords = model_.Params();
    noRecords.recLength = 0;
    ASSERT_EQ(state_.readings.Decode(file.Bytes(), noRecords, state_.trace), 0);
    EXPECT_EQ(state_.readings.Count(), 0);
}

TEST_F(VepRecordsTest, MemoKindAndSetCountRulesAndTheRecordLayout) {
    ModelParams params = SimModel(3);
    params["memo_type"] = "1";
    params["bpkbn_flg"] = "1";
    params["ofs_cnt"] = "15:1:1:2";
    params["ofs_setcnt"] = "15:1:3:2";
    ReadingsFile file(4, 0);
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 0, 0, 1, 0, 0, 0x02});         // memo reading, count 1
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 120, 80, 60, 1, 0xC8, 0x0B});  // number 1, count 1, set 1
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 120, 80, 60, 2, 0, 0});
    file.Add({'O', 'K', 0x30, 13, 1, 1, 9, 0, 0, 0, 120, 80, 60, 7, 0, 0});
    ASSERT_EQ(Decode(file, params), 0);
    const str_bp_retdata memo = Record(0);
    EXPECT_EQ(std::vector<int>({memo.pulse, memo.memo, memo.kind, memo.count, memo.setCount}),
              std::vector<int>({0, 1, 1, 1, 3}));
    const str_bp_retdata second = Record(1);
    EXPECT_EQ(std::vector<int>({second.memo, second.kind, second.irregularPulse, second.count, second.setCount}),
              std::vector<int>({-56, 3, 1, 1, 1}));
    EXPECT_EQ(Record(2).kind, 2);
    EXPECT_EQ(Record(3).kind, 0);

    str_bp_retdata out;
    std::memset(&out, 0x5A, sizeof(out));
    ASSERT_TRUE(state_.readings.CopySelected(out));
    EXPECT_EQ(out.reserved44, 0x5A5A5A5A) << "left as the caller had it";
    EXPECT_EQ(out.reserved68, 0);
    EXPECT_EQ(out.date[10], '\0');
    EXPECT_EQ(out.time[8], '\0');
    EXPECT_FALSE(state_.readings.Select(4));
    EXPECT_EQ(state_.readings.Selected(), 3);

    params["memo_type"] = "2";
    ReadingsFile empty(1, 0);
    empty.Add(13, 1, 1, 9, 0, 0, 25, 0, 0);
    ASSERT_EQ(Decode(empty, params), 0);
    EXPECT_EQ(std::vector<int>({Record(0).systolic, Record(0).memo}), std::vector<int>({0, 1}));
}

}  // namespace
