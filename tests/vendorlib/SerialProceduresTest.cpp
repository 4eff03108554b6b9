// The serial procedures against the simulated monitor on a pseudo-terminal: the readings
// file and what follows the download, the settings read into the block and "info.dat",
// the settings writes, and the codes of answers that do not fit.
#include <cstring>
#include <filesystem>

#include "SerialFixture.h"
#include "SerialProcedures.h"
#include "VepDate.h"
#include "VepResult.h"

namespace {

using Block = VepSettingsBlock;
using Bytes = std::vector<BYTE>;

std::vector<SimReading> ThreeReadings() {
    return {{2013, 3, 4, 21, 30, 5, 131, 85, 66},
            {2013, 3, 4, 7, 15, 0, 125, 82, 255},  // the pulse of a failed measurement
            {2013, 3, 3, 22, 0, 59, 118, 79, 72}};
}

std::array<BYTE, 16> TextBlock(const std::string& text, int length = -1) {
    std::array<BYTE, 16> block;
    block.fill(0xFF);
    block[0] = static_cast<BYTE>(length >= 0 ? length : static_cast<int>(text.size()));
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 15), block.begin() + 1);
    return block;
}

Bytes WithChecks(std::array<BYTE, 16> block) {
    Bytes bytes(block.begin(), block.end());
    BYTE check = 0;
    for (BYTE b : block) check ^= b;
    bytes.push_back(check);
    return bytes;
}

class SerialProceduresTest : public SerialFixture {
protected:
    // The window 08:00 to 21:30 every 30 minutes (index 4), night measurement on, the
    // clock at 08:09 on 5 March; and the monitor's memory as it would keep the settings.
    SerialProceduresTest() {
        SetMonitor([](SimMonitorState& s) {
            s.readings = ThreeReadings();
            s.status = {0x80, 0x00, 0xEF, 0x01, 0x89, 0x67, 0x0A, 0x05, 7, 1, 0x5A, 8, 0x08, 0x09, 0x05, 0x03};
            s.blocks[0] = TextBlock("TARO");
            s.blocks[1] = TextBlock("A-VERY-LONG-FAMILY-NAME", 200);  // a length past the field
            s.blocks[2] = TextBlock("PID01");
            s.blocks[3].fill(0x11);
            s.blocks[4] = TextBlock("DOC1");
            PutStamp(s.blocks[4], 16217280u + 9 * 60 + 30);  // 2010-11-01 09:30
            s.blocks[5] = TextBlock("SN0001");
            s.blocks[6].fill(0xFF);
            s.blocks[6][0] = 0x08, s.blocks[6][1] = 0x30, s.blocks[6][4] = 0x12, s.blocks[6][5] = 0x00;
            s.blocks[7].fill(0xFF);
            s.blocks[7][2] = 0x22, s.blocks[7][3] = 0x00;
            s.blocks[8].fill(0x00);
        });
    }
    static void PutStamp(std::array<BYTE, 16>& block, std::uint32_t stamp) {
        for (int i = 0; i < 4; ++i) block[9 + static_cast<std::size_t>(i)] = static_cast<BYTE>(stamp >> (8 * i));
    }
    int Job(int (SerialProcedures::*job)(), int mode) {
        state_.downloadMode = mode;
        MarkFrames();
        return (procedures_.*job)();
    }
    Bytes ReadingsFile(int count, std::initializer_list<std::size_t> readings) const {
        Bytes file(256, 0);
        file[0] = static_cast<BYTE>(count);
        for (std::size_t k : readings) {
            const Bytes record = monitor_->SerialReadingRecord(k);
            file.insert(file.end(), record.begin(), record.begin() + 16);
        }
        return file;
    }

    SerialProcedures procedures_{serial_, model_, state_};
};

TEST_F(SerialProceduresTest, ImplausibleReadingsAreLeftOutAndTheCountIsRewritten) {
    // The first wake-up goes unanswered, as on a loaded line: the open takes a frame more.
    monitor_->SetFault("HANDSHAKE", SimMonitorFault::Silent, 1);
    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 0), vep::kOk);
    ExpectCommands({"CNT00", "MES", "MES", "MES", "END"});
    EXPECT_EQ(LastFrame("MES"), (Bytes{'M', 'E', 'S', 0, 0, 0, 0}));
    const std::vector<SimFrame> frames = FramesSinceMark(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[1].bytes, (Bytes{'M', 'E', 'S', 0, 0, 2, 2})) << "the oldest reading asked first";
    EXPECT_EQ(FileBytes("down.dat"), ReadingsFile(2, {2, 0}));
    EXPECT_EQ(state_.Size(), 2);
    EXPECT_EQ(state_.Progress(), 100);
    EXPECT_TRUE(line_.HostClosed());

    ASSERT_EQ(state_.readings.DecodeFile("down.dat", model_.Params(), state_.trace), 0);
    ASSERT_EQ(state_.readings.Count(), 2);
    str_bp_retdata newest{};
    ASSERT_TRUE(state_.readings.Select(1));
    ASSERT_TRUE(state_.readings.CopySelected(newest));
    EXPECT_EQ(std::vector<int>({newest.systolic, newest.diastolic, newest.pulse}), std::vector<int>({131, 85, 66}));
    EXPECT_STREQ(newest.time, "21:30:05");

    SetMonitor([](SimMonitorState& s) {
        s.readings = {{2013, 3, 5, 8, 0, 0, 320, 80, 70}, {2013, 3, 5, 7, 0, 0, 321, 80, 70}};
    });
    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 0), vep::kOk);
    EXPECT_EQ(FileBytes("down.dat"), ReadingsFile(1, {0})) << "a systolic value above 320 is left out";
}

TEST_F(SerialProceduresTest, AReadingRefusedThreeTimesIsSkippedEvenWhenItIsTheLast) {
    OpenSerialMonitor();
    int asked = 0;
    monitor_->OnCommand("MES", [&] {
        if (++asked == 3) monitor_->SetFault("MES", SimMonitorFault::No, 3);  // reading 0, the last asked
    });
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 0), vep::kOk);
    EXPECT_EQ(TakenCount("MES", 3 + 2), 3 + 2);
    EXPECT_EQ(FileBytes("down.dat"), ReadingsFile(1, {2}));
    EXPECT_EQ(PausesSinceMark(), (std::vector<DWORD>{100, 100}));
    EXPECT_NE(Trace().find("0:ext read error"), std::string::npos);
}

TEST_F(SerialProceduresTest, TheDownloadModeSetsTheClockAndClearsTheMemoryAfterTheReadings) {
    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 2), vep::kOk);
    ExpectCommands({"CNT00", "MES", "MES", "MES", "END"});

    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 4), vep::kOk);
    ExpectCommands({"CNT00", "MES", "MES", "MES", "CLEAR", "END"});
    EXPECT_EQ(LongSleeps(), (std::vector<DWORD>{3000}));
    EXPECT_TRUE(monitor_->State().readings.empty());

    SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::ReadingsJob, 6), vep::kOk);
    ExpectCommands({"CNT00", "MES", "MES", "MES", "RD 4", "WR 4", "STAT0", "PROG",
                                                    "CLEAR", "END"});
    // The entry is stamped with the present minute and the clock reads 08:09 on 5 March.
    std::array<BYTE, 16> doctor = TextBlock("DOC1");
    PutStamp(doctor, MinuteStamp({2013, 3, 5, 8, 9, 0}));
    Bytes wr{'W', 'R', 0, 4, 0};
    wr.insert(wr.end(), doctor.begin(), doctor.end());
    for (BYTE b : doctor) wr[4] ^= b;
    wr[4] ^= 4;
    EXPECT_EQ(LastFrame("WR"), wr);
    const Bytes prog = LastFrame("PROG");
    ASSERT_EQ(prog.size(), 21u);
    EXPECT_EQ(Bytes(prog.begin() + 17, prog.end()), (Bytes{0x08, 0x09, 0x05, 0x03}));
}

TEST_F(SerialProceduresTest, ASerialModelWhosePressuresAreNotTwoBytesWideIsTracedAtLoad) {
    LoadSerialModel(SimModel(1));
    EXPECT_NE(Trace().find("ofs_dia is 1 bytes wide, read as 2"), std::string::npos);
    EXPECT_NE(Trace().find("ofs_pul is 1 bytes wide, read as 2"), std::string::npos);
    EXPECT_EQ(Trace().find("ofs_sys is"), std::string::npos);
}

TEST_F(SerialProceduresTest, AFullReadFillsTheBlockAndKeepsEveryAnswerInInfoDat) {
    OpenSerialMonitor();
    std::memset(state_.settings.Bytes().data(), 0xAA, Block::kSize);
    ASSERT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kOk);
    ExpectCommands({"CNT00", "MES", "STAT0", "RD 0", "RD 1", "RD 2", "RD 3", "RD 4",
                                                    "RD 5", "RD 6", "RD 7", "RD 8"});
    EXPECT_EQ(LastFrame("MES"), (Bytes{'M', 'E', 'S', 0, 0, 0}));
    EXPECT_EQ(PausesSinceMark(), (std::vector<DWORD>{300}));
    EXPECT_FALSE(line_.HostClosed()) << "the port stays open after a settings read";

    const Block& block = state_.settings;
    EXPECT_EQ(block.Text(Block::kPatientName1), "TARO");
    EXPECT_EQ(block.Text(Block::kPatientName2), "A-VERY-LONG-FAM");
    EXPECT_EQ(block.Text(Block::kPatientId), "PID01");
    EXPECT_EQ(block.Text(Block::kDoctorId), "DOC1");
    EXPECT_EQ(block.Text(Block::kSerialText), "SN0001");
    EXPECT_EQ(block.Text(Block::kEntryDate), "2010/11/01");
    EXPECT_EQ(block.Text(Block::kEntryTime), "09:30:00");
    EXPECT_EQ(block.Text(Block::kClockDate), "2011/03/05") << "a March clock after a November entry";
    EXPECT_EQ(block.Text(Block::kClockTime), "08:09:00");
    EXPECT_EQ(block.Text(Block::kNewestDate), "2013/03/04");
    EXPECT_EQ(block.Text(Block::kNewestTime), "21:30:05");
    EXPECT_EQ((Bytes{block.Byte(105), block.Byte(106), block.Byte(107), block.Byte(108), block.Byte(109)}),
              (Bytes{8, 0, 21, 30, 4}));
    EXPECT_EQ(block.Byte(Block::kAdditionalFlag), 1);
    EXPECT_EQ(block.Byte(Block::kNightFlag), 1);
    EXPECT_EQ(block.Byte(Block::kSerialPortByte), 0x5A);
    EXPECT_EQ(block.Int(Block::kAdditionalCount), 2);
    EXPECT_EQ((Bytes{block.Byte(157), block.Byte(158), block.Byte(159), block.Byte(165), block.Byte(166)}),
              (Bytes{8, 12, 0xFF, 30, 0}));
    EXPECT_EQ(block.Int(Block::kNightCount), 1);
    EXPECT_EQ((Bytes{block.Byte(174), block.Byte(175), block.Byte(178)}), (Bytes{22, 0xFF, 0}));
    EXPECT_EQ(block.Int(Block::kNightIntervalCount), 0);
    EXPECT_EQ(block.Byte(Block::kNightIntervalFirst), 0xFF);
    EXPECT_EQ(block.Int(Block::kValidCount), 3);
    EXPECT_EQ(state_.Progress(), 100);

    const Bytes info = FileBytes("info.dat");
    ASSERT_EQ(info.size(), 320u);
    const auto state = monitor_->State();
    Bytes expected = WithChecks(state.status);
    for (const auto& memory : state.blocks) {
        expected.resize(expected.size() + 15, 0);
        const Bytes answer = WithChecks(memory);
        expected.insert(expected.end(), answer.begin(), answer.end());
    }
    expected.resize(320, 0);
    EXPECT_EQ(info, expected);
}

TEST_F(SerialProceduresTest, TheShortReadTakesTheStatusAndTwoBlocksAndNoEntryMeansThisYear) {
    SetMonitor([](SimMonitorState& s) {
        s.status[3] = 0xFF, s.status[4] = 0xFF;                                    // no window start
        s.status[8] = 200;                                                         // an index past the interval table
        s.blocks[4][9] = s.blocks[4][10] = s.blocks[4][11] = s.blocks[4][12] = 0;  // no entry
    });
    OpenSerialMonitor();
    ASSERT_EQ(Job(&SerialProcedures::InfoReadJob, 1), vep::kOk);
    ExpectCommands({"STAT0", "RD 2", "RD 4"});
    const Block& block = state_.settings;
    EXPECT_EQ((Bytes{block.Byte(105), block.Byte(106), block.Byte(107), block.Byte(108)}), (Bytes{0xFF, 0xFF, 21, 30}));
    EXPECT_EQ(block.Text(Block::kEntryDate), "");
    EXPECT_TRUE(FileBytes("info.dat").empty());
    EXPECT_EQ(state_.Progress(), 100);

    ASSERT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kOk);
    EXPECT_EQ(block.Text(Block::kClockDate), "2013/03/05") << "without an entry the clock is of this year";
    EXPECT_EQ(block.Byte(Block::kIntervalIndex), 197);
}

TEST_F(SerialProceduresTest, AFullWriteSendsTheStatusAndSixBlocksThenClears) {
    OpenSerialMonitor();
    Block& block = state_.settings;
    block.Clear();
    const std::string name = "TARO";
    const std::string doctor = "DOCTOR-ID-10";
    block.SetText(Block::kPatientName1, reinterpret_cast<const BYTE*>(name.data()), name.size(), 15);
    block.SetText(Block::kDoctorId, reinterpret_cast<const BYTE*>(doctor.data()), doctor.size(), 15);
    for (std::size_t i = 0; i < 4; ++i) block.SetByte(Block::kBasicStartHour + i, BYTE(std::array{8, 0, 21, 30}[i]));
    block.SetByte(Block::kIntervalIndex, 4);
    block.SetByte(Block::kAdditionalFlag, 1);
    block.SetInt(Block::kAdditionalCount, 2);
    block.SetByte(Block::kAdditionalFirst, 8), block.SetByte(Block::kAdditionalSecond, 30);
    block.SetByte(Block::kAdditionalFirst + 1, 12), block.SetByte(Block::kAdditionalSecond + 1, 0xFF);
    block.SetByte(Block::kNightFlag, 1);
    block.SetInt(Block::kNightCount, 1);
    block.SetByte(Block::kNightFirst, 22), block.SetByte(Block::kNightSecond, 45);
    ASSERT_EQ(Job(&SerialProcedures::InfoWriteJob, 0), vep::kOk);
    ExpectCommands({"STAT0", "RD 5", "PROG", "WR 0", "WR 1", "WR 2", "WR 4", "WR 6",
                                                    "WR 7", "CLEAR", "END"});
    // Centre 08:15 (495), end 21:30 (1290), index 4 + 3, night, the kept byte, on, 08:09 5 March.
    const Bytes status{0x80, 0x00, 0xEF, 0x01, 0x89, 0x67, 0x0A, 0x05, 7, 1, 0x5A, 8, 0x08, 0x09, 0x05, 0x03};
    Bytes prog{'P', 'R', 'O', 'G', 0};
    for (BYTE b : status) prog[4] ^= b;
    prog.insert(prog.end(), status.begin(), status.end());
    EXPECT_EQ(LastFrame("PROG"), prog);

    const auto written = monitor_->State();
    EXPECT_EQ(written.blocks[0], TextBlock("TARO"));
    EXPECT_EQ(written.blocks[1], TextBlock(""));
    EXPECT_EQ(written.blocks[5], TextBlock("SN0001")) << "the serial text read back unchanged";
    std::array<BYTE, 16> doctorBlock = TextBlock("DOCTOR-I");
    PutStamp(doctorBlock, MinuteStamp({2013, 3, 5, 8, 9, 0}));
    EXPECT_EQ(written.blocks[4], doctorBlock);
    EXPECT_EQ(Bytes(written.blocks[6].begin(), written.blocks[6].begin() + 5), (Bytes{0x08, 0x30, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(written.blocks[7].begin(), written.blocks[7].begin() + 5), (Bytes{0x08, 0x00, 0x22, 0x45, 0xFF}));
    EXPECT_EQ(Bytes(written.blocks[7].begin() + 14, written.blocks[7].end()), (Bytes{0x08, 0x00}));
    EXPECT_EQ(block.Text(Block::kEntryDate), "2013/03/05");
    EXPECT_TRUE(written.readings.empty()) << "the full write ends with the memory clear";
    EXPECT_TRUE(line_.HostClosed());
}

TEST_F(SerialProceduresTest, TheNightFlagAndSerialTextWritesChangeOneBlockEach) {
    OpenSerialMonitor();
    state_.settings.SetByte(Block::kNightFlag, 1);
    ASSERT_EQ(Job(&SerialProcedures::InfoWriteJob, 1), vep::kOk);
    ExpectCommands({"RD 3", "WR 3", "END"});
    std::array<BYTE, 16> night;
    night.fill(0x11);
    night[9] = 1;
    EXPECT_EQ(monitor_->State().blocks[3], night);

    OpenSerialMonitor();
    const std::string serial = "SERIAL-0123456789";
    state_.settings.SetText(Block::kSerialText, reinterpret_cast<const BYTE*>(serial.data()), serial.size(), 15);
    ASSERT_EQ(Job(&SerialProcedures::InfoWriteJob, 2), vep::kOk);
    ExpectCommands({"WR 5", "END"});
    EXPECT_EQ(monitor_->State().blocks[5], TextBlock("SERIAL-01234567"));
}

TEST_F(SerialProceduresTest, AnswersThatDoNotFitGiveTheirCodesAndAnAbortStopsAWrite) {
    OpenSerialMonitor();
    monitor_->SetFault("STAT0", SimMonitorFault::WrongBcc, 3);
    EXPECT_EQ(Job(&SerialProcedures::InfoReadJob, 1), vep::kBccError);
    EXPECT_EQ(TakenCount("STAT0", 3), 3);
    EXPECT_NE(Trace().find("get Status err!!"), std::string::npos);

    monitor_->SetReply("CNT00", {'O', 'K', 0x30, 0x00});  // bytes missing
    EXPECT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kException);
    ExpectCommands(std::vector<std::string>(3, "CNT00"));

    monitor_->SetReply("CNT00", {'O', 'K', 0x30, 0x00, 0x03, 0x00, 0x03, 0x31});  // the check byte is wrong
    EXPECT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kBccError);
    monitor_->SetReply("CNT00", {'O', 'K', 0x30, 0x00, 0x03, 0x00, 0x03, 0x30, 0x55});  // a byte too many
    EXPECT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kOk) << "the next command's purge drops it";

    std::filesystem::remove(dir_ / "info.dat");
    std::filesystem::create_directory(dir_ / "info.dat");
    EXPECT_EQ(Job(&SerialProcedures::InfoReadJob, 0), vep::kFileError);

    monitor_->OnCommand("WR", [this] { state_.abort = true; });
    EXPECT_EQ(Job(&SerialProcedures::InfoWriteJob, 0), vep::kAborted);
    ExpectCommands({"STAT0", "RD 5", "PROG", "WR 0", "END"});
    EXPECT_FALSE(state_.abort);

    OpenSerialMonitor();
    monitor_->SetFault("RD", SimMonitorFault::WrongBcc, 3);
    EXPECT_EQ(Job(&SerialProcedures::InfoWriteJob, 0), vep::kBccError);
    EXPECT_NE(Trace().find("Serial read err!!"), std::string::npos);
}

}  // namespace
