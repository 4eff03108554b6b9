// The download procedures against the simulated monitor: the frames they send, the
// work files they write, and how they end on faults and aborts.
#include <filesystem>

#include "UsbSerialDownload.h"
#include "VepFixture.h"
#include "VepResult.h"

namespace {

std::vector<SimReading> ThreeReadings() {
    return {{2013, 3, 4, 21, 30, 5, 131, 85, 66},
            {2013, 3, 4, 7, 15, 0, 125, 82, 70},
            {2013, 3, 3, 22, 0, 59, 118, 79, 72}};
}

class UsbSerialDownloadTest : public VepFixture {
protected:
    void SetMonitor(const std::function<void(SimMonitorState&)>& change) {
        SimMonitorState state = monitor_->State();
        change(state);
        monitor_->SetState(state);
    }
    int Download(int kind = 0) {
        MarkFrames();
        return download_.Run(kind);
    }
    std::vector<std::vector<BYTE>> JobFrameBytes(const std::string& name) const {
        std::vector<std::vector<BYTE>> bytes;
        const auto frames = monitor_->Frames();
        const auto names = JobFrames();
        for (std::size_t i = frames.size() - names.size(); i < frames.size(); ++i) {
            if (frames[i].name == name) bytes.push_back(frames[i].bytes);
        }
        return bytes;
    }
    // The header the procedures write: n, a second value, the serial value, the profile response.
    std::vector<BYTE> Header(int n, int second, int serial, const std::vector<BYTE>& profile) const {
        std::vector<BYTE> header(256, 0);
        header[0] = BYTE(n), header[1] = BYTE(n >> 8), header[2] = BYTE(second), header[3] = BYTE(second >> 8);
        header[4] = BYTE(serial), header[5] = BYTE(serial >> 8);
        std::copy(profile.begin(), profile.end(), header.begin() + 16);
        return header;
    }
    std::vector<BYTE> ProfileResponse() const {
        const auto p = monitor_->State().profile;
        std::vector<BYTE> response{'O', 'K', 0x30};
        response.insert(response.end(), p.begin(), p.end());
        BYTE bcc = 0;
        for (std::size_t i = 3; i < response.size(); ++i) bcc ^= response[i];
        response.push_back(bcc);
        return response;
    }
    // Header and records of the simulated readings, the oldest first, each cut to size.
    std::vector<BYTE> ExpectedReadings(int serial, std::size_t size = 16) const {
        const auto readings = monitor_->State().readings;
        std::vector<BYTE> file = Header(static_cast<int>(readings.size()), 0, serial, ProfileResponse());
        for (std::size_t k = readings.size(); k-- > 0;) {
            const auto record = monitor_->ReadingRecord(k);
            file.insert(file.end(), record.begin(), record.begin() + static_cast<std::ptrdiff_t>(size));
        }
        return file;
    }

    UsbSerialDownload download_{link_, model_, state_};
};

TEST_F(UsbSerialDownloadTest, TypeOneAsksEveryReadingOnceOldestFirstAndKeepsThemInOrder) {
    SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
    OpenSimMonitor(SimModel(1));
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(JobFrames(),
              (std::vector<std::string>{"HANDSHAKE", "VER00", "PRF00", "CNT00", "MES", "MES", "MES", "END"}));
    EXPECT_EQ(JobFrameBytes("MES"),
              (std::vector<std::vector<BYTE>>{
                  {'M', 'E', 'S', 0, 0, 2, 2}, {'M', 'E', 'S', 0, 0, 1, 1}, {'M', 'E', 'S', 0, 0, 0, 0}}));
    EXPECT_EQ(FileBytes("down.dat"), ExpectedReadings(0));
    EXPECT_EQ(state_.Count(), 3);
    EXPECT_EQ(state_.Progress(), 100);
    EXPECT_EQ(transport_->OpenHandles(), 0);

    ASSERT_EQ(state_.readings.DecodeFile("down.dat", model_.Params(), state_.trace), 0);
    ASSERT_EQ(state_.readings.Count(), 3);
    str_bp_retdata newest{};
    ASSERT_TRUE(state_.readings.Select(2));
    ASSERT_TRUE(state_.readings.CopySelected(newest));
    EXPECT_EQ(std::vector<int>({newest.systolic, newest.diastolic, newest.pulse}), std::vector<int>({131, 85, 66}));
    EXPECT_STREQ(newest.date, "2013/03/04");
    EXPECT_STREQ(newest.time, "21:30:05");
}

TEST_F(UsbSerialDownloadTest, AMonitorWithoutProfileOrReadingsIsStillDownloaded) {
    for (int type : {1, 3}) {
        SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
        OpenSimMonitor(SimModel(type));
        monitor_->SetFault("PRF00", SimMonitorFault::No, 1);
        ASSERT_EQ(Download(), vep::kOk) << type;
        const auto file = FileBytes("down.dat");
        ASSERT_EQ(file.size(), 256u + 3 * 16) << type;
        EXPECT_EQ(std::vector<BYTE>(file.begin() + 16, file.begin() + 19), (std::vector<BYTE>{'N', 'O', 0})) << type;
    }
    SetMonitor([](SimMonitorState& s) { s.readings.clear(); });
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(FileBytes("down.dat"), Header(0, 0, 0, ProfileResponse()));
    EXPECT_EQ(state_.Progress(), 100);
}

TEST_F(UsbSerialDownloadTest, ASingleUserMonitorIsAskedForUserTwoFromThenOn) {
    SetMonitor([](SimMonitorState& s) {
        s.readings = ThreeReadings();
        s.serialValue = 0x1234;
        s.profile = {'P', 'R', 'O', '0', '2', 'A', 'B', 'C', 'D', 'E'};
    });
    OpenSimMonitor();
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(model_.UserSelector(), 2);
    EXPECT_EQ(JobFrameBytes("GDC"), (std::vector<std::vector<BYTE>>{{'G', 'D', 'C', 0, 2, 0, 0, 2}}));
    for (const auto& frame : JobFrameBytes("GME")) EXPECT_EQ(frame[4], 2);
    EXPECT_EQ(FileBytes("down.dat"), ExpectedReadings(0x1234));
    EXPECT_NE(Trace().find("new cnt cmd"), std::string::npos);

    SetMonitor([](SimMonitorState& s) { s.profile[4] = '1'; });
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(JobFrameBytes("GDC").at(0)[4], 2);
}

TEST_F(UsbSerialDownloadTest, AReadingThatFailsIsAskedAgainAndWrittenOnce) {
    SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
    OpenSimMonitor();
    monitor_->SetFault("GME", SimMonitorFault::Ng, 2);
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(monitor_->CountOf("GME"), 3 + 2);
    EXPECT_EQ(FileBytes("down.dat"), ExpectedReadings(0));
    // A 100 ms pause before each attempt of the count and of every reading.
    EXPECT_EQ(Pauses(), std::vector<DWORD>(1 + 5, 100));
    EXPECT_NE(Trace().find("Retry-2"), std::string::npos);

    monitor_->SetFault("GME", SimMonitorFault::WrongBcc, 3);
    EXPECT_EQ(Download(), vep::kBccError);
    EXPECT_EQ(LastJobFrame(), "END");
    EXPECT_EQ(FileBytes("down.dat").size(), 256u);
}

// The oldest reading's answer comes after the wait for it ran out, as it is asked again:
// the retry's own answer is waited out, so that the next reading does not take it.
TEST_F(UsbSerialDownloadTest, AReadingAnsweredTooLateLeavesNoAnswerForTheNext) {
    SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
    OpenSimMonitor();
    monitor_->SetFault("GME", SimMonitorFault::Late, 1);
    ASSERT_EQ(Download(), vep::kOk);
    EXPECT_EQ(monitor_->CountOf("GME"), 3 + 1);
    EXPECT_EQ(FileBytes("down.dat"), ExpectedReadings(0));
}

TEST_F(UsbSerialDownloadTest, AnAbortEndsTheDownloadAndIsClearedAsItIsSeen) {
    SetMonitor([](SimMonitorState& s) { s.readings = ThreeReadings(); });
    OpenSimMonitor(SimModel(1));
    monitor_->OnCommand("MES", [this] { state_.abort = true; });
    EXPECT_EQ(Download(), vep::kAborted);
    EXPECT_FALSE(state_.abort);
    EXPECT_EQ(monitor_->CountOf("MES"), 1);
    EXPECT_EQ(LastJobFrame(), "END");
    EXPECT_EQ(FileBytes("down.dat").size(), 256u + 16);
}

TEST_F(UsbSerialDownloadTest, TheClockIsCheckedFirstAndSetOrTheMemoryClearedAfter) {
    ModelParams params = SimModel();
    params["sumdata"] = "1";
    SetMonitor([](SimMonitorState& s) {
        s.readings = ThreeReadings();
        s.clockSet = false;
    });
    OpenSimMonitor(params);
    EXPECT_EQ(Download(), vep::kClockNotSet);
    EXPECT_EQ(JobFrames(), (std::vector<std::string>{"HANDSHAKE", "VER00", "PRF00", "GMA", "END"}));
    monitor_->SetFault("GMA", SimMonitorFault::Silent);
    EXPECT_EQ(Download(), vep::kTimedOut);
    EXPECT_EQ(monitor_->CountOf("GMA"), 1 + 3);

    LoadSimModel();
    state_.downloadMode = 2;
    monitor_->SetFault("SCL", SimMonitorFault::Ng);
    EXPECT_EQ(Download(), vep::kNotOk);
    EXPECT_EQ(FileBytes("down.dat"), ExpectedReadings(0)) << "every reading was written";
    EXPECT_EQ(monitor_->CountOf("SCL"), 3);

    monitor_->SetFault("SCL", SimMonitorFault::Ng, 0);
    state_.downloadMode = 6;
    EXPECT_EQ(Download(), vep::kOk);
    const auto names = JobFrames();
    EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
              (std::vector<std::string>{"SCL", "MCL00", "END"}));
    EXPECT_EQ(JobFrameBytes("SCL").at(0),
              (std::vector<BYTE>{'S', 'C', 'L', 0, 13, 3, 5, 8, 9, 10, 13 ^ 3 ^ 5 ^ 8 ^ 9 ^ 10}));
    EXPECT_TRUE(monitor_->State().readings.empty());
}

TEST_F(UsbSerialDownloadTest, WeeklySummariesComeEightWeeksBackMorningThenEvening) {
    ModelParams params = SimModel();
    params["rec_length"] = "12";
    SetMonitor([](SimMonitorState& s) {
        s.mornings[6] = {0x8123, 2013, 2, 18, 120, 80, 70};
        s.evenings[6] = {6, 2013, 2, 18, 130, 85, 0};
        s.evenings[2] = {2, 2013, 2, 20, 125, 82, 66};  // the morning says the week is empty
    });
    OpenSimMonitor(params);
    ASSERT_EQ(Download(1), vep::kOk);
    std::vector<std::string> expected{"HANDSHAKE", "VER00"};
    for (int week = 7; week >= 0; --week) expected.insert(expected.end(), {"GMA", "GEA"});
    expected.push_back("END");
    EXPECT_EQ(JobFrames(), expected);
    const auto frames = JobFrameBytes("GMA");
    EXPECT_EQ(frames.front(), (std::vector<BYTE>{'G', 'M', 'A', 0, 0, 7, 0, 0, 7}));
    EXPECT_EQ(Pauses(), std::vector<DWORD>(8, 100));

    const auto week = FileBytes("week.dat");
    ASSERT_EQ(week.size(), 16u + 16 * 16);
    EXPECT_EQ(std::vector<BYTE>(week.begin(), week.begin() + 16),
              (std::vector<BYTE>{8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const std::size_t morning6 = 16 + 2 * 16;  // week 6 is the second pair
    EXPECT_EQ(std::vector<BYTE>(week.begin() + morning6 + 8, week.begin() + morning6 + 16),
              (std::vector<BYTE>{95, 80, 70, 0x81 ^ 0x23 ^ 13 ^ 2 ^ 18 ^ 95 ^ 80 ^ 70, 0, 0, 0, 0}));

    ASSERT_EQ(state_.weekData.size(), 1u);
    const str_sumbp_data& s = state_.weekData[0];
    EXPECT_STREQ(s.date, "2013/02/18");
    EXPECT_EQ(s.number, 0x0123);
    EXPECT_EQ(std::vector<int>(s.systolic, s.systolic + 4), std::vector<int>({120, 0, 130, 250}));
    EXPECT_EQ(std::vector<int>(s.pulse, s.pulse + 4), std::vector<int>({70, 0, 0, 70}));
    EXPECT_EQ(std::vector<int>(s.valid, s.valid + 4), std::vector<int>({1, 0, 0, 1}));

    SetMonitor([](SimMonitorState& s) { s.mornings = {}; });
    ASSERT_EQ(Download(1), vep::kOk);
    EXPECT_TRUE(state_.weekData.empty());
}

TEST_F(UsbSerialDownloadTest, TheWalkingDeviceIsReadDayByDayInFourParts) {
    ModelParams params = SimModel(2);
    params["rec_length"] = "64";
    params["resv_length2"] = "9";
    SetMonitor([](SimMonitorState& s) {
        s.readings.resize(2);
        s.totalCount = 5;
        s.walkingDays = 2;
        s.resvLength2 = 9;
    });
    OpenSimMonitor(params);
    ASSERT_EQ(Download(), vep::kOk);
    std::vector<BYTE> expected = Header(2, 2, 0, ProfileResponse());
    for (int day = 0; day < 2; ++day) {
        for (int part = 1; part <= 4; ++part) {
            std::vector<BYTE> response = monitor_->WalkingPart(day, part);
            response.resize(16, 0);
            expected.insert(expected.end(), response.begin(), response.end());
        }
    }
    EXPECT_EQ(FileBytes("down2.dat"), expected);
    EXPECT_EQ(JobFrameBytes("GTD").at(7), (std::vector<BYTE>{'G', 'T', 'D', 0, 0, 1, 4, 1 ^ 4}));
    EXPECT_EQ(std::string(state_.deviceInfo.begin() + 24, state_.deviceInfo.begin() + 34),
              std::string("OK\x30\x06SN0001", 10));
    EXPECT_EQ(state_.Size(), 2);

    SetMonitor([](SimMonitorState& s) { s.serialText = std::string(28, 'S'); });
    EXPECT_EQ(Download(), vep::kBccError);
    EXPECT_NE(Trace().find("cmd SRL err"), std::string::npos);
}

TEST_F(UsbSerialDownloadTest, AWorkFileThatCannotBeWrittenEndsTheDownload) {
    OpenSimMonitor();
    std::filesystem::create_directory("down.dat");
    EXPECT_EQ(Download(), vep::kFileError);
    EXPECT_EQ(LastJobFrame(), "END");
    EXPECT_NE(Trace().find("WriteFile Open Error!!"), std::string::npos);
}

}  // namespace
