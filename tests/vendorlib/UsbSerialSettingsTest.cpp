// Reading and writing the monitor's settings, setting its clock and clearing its
// memory, against the simulated monitor.
#include <cstring>

#include "UsbSerialSettings.h"
#include "VepDate.h"
#include "VepFixture.h"
#include "VepResult.h"

namespace {

using Block = VepSettingsBlock;

class UsbSerialSettingsTest : public VepFixture {
protected:
    UsbSerialSettingsTest() {
        SimMonitorState s;
        s.readings = {{2013, 3, 4, 21, 30, 5, 131, 85, 66}, {2013, 3, 4, 7, 15, 0, 125, 82, 70}};
        s.totalCount = 5;
        s.doctorStamp = 16217280u + 9 * 60 + 30;  // 2010-11-01 09:30
        s.additional = {{8, 30}, {12, 0}, {18, 45}};
        s.night = {{1, 2}};
        monitor_->SetState(s);
    }
    void SetMonitor(const std::function<void(SimMonitorState&)>& change) {
        SimMonitorState state = monitor_->State();
        change(state);
        monitor_->SetState(state);
    }
    std::vector<BYTE> FrameOf(const std::string& name) const {
        for (const auto& frame : monitor_->Frames()) {
            if (frame.name == name) return frame.bytes;
        }
        return {};
    }
    static void Put(std::array<BYTE, Block::kSize>& block, std::size_t at, const std::string& text) {
        std::memcpy(block.data() + at, text.data(), text.size());
    }
    static std::vector<BYTE> Padded(std::vector<BYTE> frame, std::size_t size) {
        frame.resize(size, 0);
        return frame;
    }

    UsbSerialSettings settings_{link_, model_, state_};
};

TEST_F(UsbSerialSettingsTest, AFullReadFillsTheWholeBlock) {
    OpenSimMonitor();
    std::memset(state_.settings.Bytes().data(), 0xAA, Block::kSize);
    MarkFrames();
    ASSERT_EQ(settings_.ReadJob(), vep::kOk);

    std::array<BYTE, Block::kSize> expected{};
    Put(expected, 0, "TARO");
    Put(expected, 16, "YAMADA");
    Put(expected, 32, "PID01");
    Put(expected, 48, "DOC1");
    Put(expected, 64, "2013/03/05");
    Put(expected, 75, "08:09:10");
    Put(expected, 84, "2010/11/01");
    Put(expected, 95, "09:30:00");
    expected[104] = 1;
    expected[105] = 7, expected[106] = 0, expected[107] = 21, expected[108] = 30, expected[109] = 4;
    expected[112] = 3, expected[116] = 1;
    Put(expected, 125, "SN0001");
    Put(expected, 141, "1.02");
    const BYTE additionalFirst[] = {8, 12, 18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const BYTE additionalSecond[] = {30, 0, 45, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(expected.data() + 157, additionalFirst, 8);
    std::memcpy(expected.data() + 165, additionalSecond, 8);
    expected[173] = 1;
    const BYTE nightFirst[] = {1,    0xFF, 0xFF, 0xFF, 2,    0xFF, 0xFF, 0xFF,
                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(expected.data() + 174, nightFirst, sizeof(nightFirst));
    Put(expected, 190, "2013/03/04");
    Put(expected, 201, "21:30:05");
    expected[212] = 5, expected[216] = 2;
    EXPECT_EQ(state_.settings.Bytes(), expected);

    std::vector<std::string> frames{"HANDSHAKE", "VER00"};
    for (const char* step :
         {"CNT00", "GME", "GPI00", "GPF00", "GPS00", "GBI00", "GCL00", "GDI00", "GIA00", "GAT00", "GMT00", "GFM00"}) {
        if (frames.size() > 2) frames.push_back("HANDSHAKE");
        frames.push_back(step);
    }
    frames.push_back("END");
    EXPECT_EQ(JobFrames(), frames);
    EXPECT_EQ(FrameOf("GME"), (std::vector<BYTE>{'G', 'M', 'E', 0, 0, 0, 0, 0}));
    EXPECT_EQ(Pauses(), std::vector<DWORD>(11, 100));
    EXPECT_EQ(state_.Progress(), 100);
}

TEST_F(UsbSerialSettingsTest, NoReadingsNoNewestAndAnIntervalOutsideTheTableMeansNoWindow) {
    SetMonitor([](SimMonitorState& s) {
        s.readings.clear();
        s.intervalMinutes = 45;
        s.additional.clear();
        s.doctorStamp = 0;
        s.additional.assign(10, {9, 9});  // more pairs than the block keeps
    });
    OpenSimMonitor();
    ASSERT_EQ(settings_.ReadJob(), vep::kOk);
    const Block& block = state_.settings;
    EXPECT_EQ(monitor_->CountOf("GME"), 0);
    EXPECT_EQ(block.Byte(Block::kNewestDate), 0);
    EXPECT_EQ(block.Byte(Block::kNewestTime), 0);
    EXPECT_EQ(block.Byte(Block::kEntryDate), 0);
    EXPECT_EQ(block.Byte(Block::kIntervalIndex), 0);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(block.Byte(Block::kBasicStartHour + i), 0xFF);
    EXPECT_EQ(block.Int(Block::kAdditionalCount), 8);
    EXPECT_EQ(block.Byte(Block::kAdditionalFlag), 1);
}

TEST_F(UsbSerialSettingsTest, AFullWriteSendsEverySettingThenSetsTheClockAndClearsTheMemory) {
    OpenSimMonitor();
    Block& block = state_.settings;
    block.Clear();
    const std::string name1 = "TARO";
    const std::string doctor = "DOCTOR-ID-10";
    block.SetText(Block::kPatientName1, reinterpret_cast<const BYTE*>(name1.data()), name1.size(), 15);
    block.SetText(Block::kDoctorId, reinterpret_cast<const BYTE*>(doctor.data()), doctor.size(), 15);
    for (std::size_t i = 0; i < 4; ++i) block.SetByte(Block::kBasicStartHour + i, BYTE(std::array{7, 0, 21, 30}[i]));
    block.SetByte(Block::kIntervalIndex, 4);
    block.SetInt(Block::kAdditionalCount, 3);  // the flag is off: none go
    block.SetByte(Block::kNightFlag, 1);
    block.SetInt(Block::kNightCount, 2);
    block.SetByte(Block::kNightFirst, 22), block.SetByte(Block::kNightFirst + 1, 2);
    MarkFrames();
    ASSERT_EQ(settings_.WriteJob(), vep::kOk);

    std::vector<std::string> frames{"HANDSHAKE", "VER00"};
    for (const char* step : {"GBI00", "SPI", "SPF", "SPS", "SDI", "SIA", "SAT", "SMT", "SFM", "SCL", "MCL00"}) {
        if (frames.size() > 2) frames.push_back("HANDSHAKE");
        frames.push_back(step);
    }
    frames.push_back("END");
    EXPECT_EQ(JobFrames(), frames);
    EXPECT_EQ(FrameOf("SPI"), Padded({'S', 'P', 'I', 0, 1, 0, 1}, 19));
    EXPECT_EQ(FrameOf("SPF"), Padded({'S', 'P', 'F', 0, 4, 'T', 'A', 'R', 'O', BYTE(4 ^ 'T' ^ 'A' ^ 'R' ^ 'O')}, 21));
    const std::uint32_t stamp = MinuteStamp({2013, 3, 5, 8, 9, 0});
    std::vector<BYTE> sdi{'S', 'D', 'I', 0, 8, 'D', 'O', 'C', 'T', 'O', 'R', '-', 'I'};
    for (int shift = 0; shift < 32; shift += 8) sdi.push_back(BYTE(stamp >> shift));
    BYTE bcc = 0;
    for (std::size_t i = 4; i < sdi.size(); ++i) bcc ^= sdi[i];
    sdi.push_back(bcc);
    EXPECT_EQ(FrameOf("SDI"), sdi);
    EXPECT_EQ(FrameOf("SIA"), (std::vector<BYTE>{'S', 'I', 'A', 0, 7, 0, 21, 30, 0, 0, 7 ^ 21 ^ 30}));
    EXPECT_EQ(FrameOf("SAT"), Padded({'S', 'A', 'T', 0, 0, 0}, 22));
    EXPECT_EQ(FrameOf("SMT"), Padded({'S', 'M', 'T', 0, 2, 22, 0, 2, 0, 2 ^ 22 ^ 2}, 14));
    EXPECT_EQ(FrameOf("SFM"), Padded({'S', 'F', 'M', 0, 0, 0}, 14));
    EXPECT_EQ(block.Text(Block::kEntryDate), "2013/03/05");
    EXPECT_EQ(block.Text(Block::kEntryTime), "08:09:00");

    const SimMonitorState written = monitor_->State();
    EXPECT_EQ(written.patientName1, "TARO");
    EXPECT_EQ(written.doctorId, "DOCTOR-I");
    EXPECT_EQ(written.doctorStamp, stamp);
    EXPECT_TRUE(written.readings.empty()) << "the full write ends with the memory clear";
}

TEST_F(UsbSerialSettingsTest, AWindowWithoutItsStartIsWrittenAsNoWindow) {
    OpenSimMonitor();
    Block& block = state_.settings;
    block.Clear();
    for (std::size_t i = 0; i < 4; ++i)
        block.SetByte(Block::kBasicStartHour + i, BYTE(std::array{0xFF, 0xFF, 21, 30}[i]));
    block.SetByte(Block::kIntervalIndex, 4);
    block.SetByte(Block::kAdditionalFlag, 1);
    ASSERT_EQ(settings_.WriteJob(), vep::kOk);
    EXPECT_EQ(FrameOf("SIA"), (std::vector<BYTE>{'S', 'I', 'A', 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(UsbSerialSettingsTest, TheShortFormsOfTypeFourStopEarly) {
    OpenSimMonitor(SimModel(4));
    MarkFrames();
    ASSERT_EQ(settings_.ReadJob(), vep::kOk);
    std::vector<std::string> names = JobFrames();
    EXPECT_EQ(names[names.size() - 2], "GDI00");
    EXPECT_EQ(monitor_->CountOf("GIA00"), 0);

    MarkFrames();
    ASSERT_EQ(settings_.WriteJob(), vep::kOk);
    names = JobFrames();
    EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
              (std::vector<std::string>{"SDI", "HANDSHAKE", "SCL", "END"}));
    EXPECT_EQ(monitor_->CountOf("SIA"), 0);
}

TEST_F(UsbSerialSettingsTest, AStepIsTriedThreeTimesAndAnAbortEndsTheProcedure) {
    OpenSimMonitor();
    monitor_->SetFault("GPS00", SimMonitorFault::No, 2);
    monitor_->OnCommand("GBI00", [this] { state_.abort = true; });
    MarkFrames();
    EXPECT_EQ(settings_.ReadJob(), vep::kAborted);
    EXPECT_FALSE(state_.abort);
    EXPECT_EQ(monitor_->CountOf("GPS00"), 3);
    EXPECT_EQ(monitor_->CountOf("GCL00"), 0);
    EXPECT_EQ(LastJobFrame(), "END");
    EXPECT_EQ(state_.settings.Text(Block::kPatientName2), "YAMADA") << "earlier steps keep what they read";

    // A length that would run past the response buffer is refused.
    monitor_->OnCommand("GBI00", {});
    monitor_->SetReply("GPI00", {'O', 'K', 0x30, 28});
    EXPECT_EQ(settings_.ReadJob(), vep::kNotOk);
    EXPECT_EQ(monitor_->CountOf("GPI00"), 1 + 3);
    EXPECT_NE(Trace().find("GPI00 err:5"), std::string::npos);
}

TEST_F(UsbSerialSettingsTest, TheClearJobFollowsTheDownloadType) {
    for (const auto& [type, command] : std::vector<std::pair<int, std::string>>{{3, "MCL00"}, {2, "CTD00"}, {1, ""}}) {
        OpenSimMonitor(SimModel(type));
        MarkFrames();
        EXPECT_EQ(settings_.ClearJob(), vep::kOk) << type;
        std::vector<std::string> expected{"HANDSHAKE", "VER00", "END"};
        if (!command.empty()) expected.insert(expected.begin() + 2, command);
        EXPECT_EQ(JobFrames(), expected) << type;
    }
    OpenSimMonitor();
    monitor_->SetFault("MCL00", SimMonitorFault::Silent);
    EXPECT_EQ(settings_.ClearJob(), vep::kTimedOut);
    EXPECT_EQ(monitor_->CountOf("MCL00"), 1 + 3);
}

}  // namespace
