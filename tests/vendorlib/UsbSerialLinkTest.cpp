// The USB-serial link against the simulated adapter: reports, the check bytes, the
// handshake, the version query, the speed report and finding the model's adapter.
#include <thread>

#include "Bcc.h"
#include "HidChannel.h"
#include "VepFixture.h"
#include "VepResult.h"
#include "WaitFor.h"

namespace {

class UsbSerialLinkTest : public VepFixture {
protected:
    // A job on the opened monitor that only runs exchange.
    int Job(const std::function<int()>& exchange) {
        MarkFrames();
        return link_.RunJob(exchange);
    }
    std::vector<BYTE> LastFrame(const std::string& name) const {
        for (const auto& frames = monitor_->Frames(); const auto& frame : std::vector(frames.rbegin(), frames.rend())) {
            if (frame.name == name) return frame.bytes;
        }
        return {};
    }
};

TEST_F(UsbSerialLinkTest, BytesTravelInReportsOfSevenAndKeptBytesServeTheNextRead) {
    monitor_->SetReply("ABC00", {'O', 'K', '1', '2', '3', '4', '5'});
    HidChannel channel;
    ASSERT_EQ(channel.OpenIndex(0, SimMonitorTransport::kVendorId, SimMonitorTransport::kProductId), 1);
    std::vector<BYTE> frame{'A', 'B', 'C', '0', '0', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    ASSERT_EQ(channel.Write(frame.data(), frame.size()), vep::kOk);
    const auto reports = transport_->OutputReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(std::vector<int>({reports[0][0], reports[0][1], reports[1][1], reports[2][1]}),
              std::vector<int>({0, 7, 7, 2}));
    EXPECT_EQ(reports[2].size(), 9u);
    EXPECT_EQ(std::vector<BYTE>(reports[2].begin() + 2, reports[2].begin() + 4), std::vector<BYTE>({10, 11}));
    EXPECT_EQ(monitor_->CountOf("ABC00"), 0) << "the frame ends only when the host reads";

    BYTE ok[2];
    BYTE rest[5];
    ASSERT_EQ(channel.Read(ok, 2, 800), vep::kOk);
    ASSERT_EQ(channel.Read(rest, 5, 800), vep::kOk);
    EXPECT_EQ(transport_->InputReports(), 1);
    EXPECT_EQ(std::string(rest, rest + 5), "12345");
    EXPECT_EQ(monitor_->Frames().at(0).bytes, frame);
    EXPECT_EQ(channel.Read(ok, 1, 800), vep::kTimedOut);

    monitor_->SetFault("CNT00", SimMonitorFault::BadCount);
    ASSERT_EQ(channel.Write(reinterpret_cast<const BYTE*>("CNT00"), 5), vep::kOk);
    EXPECT_EQ(channel.Read(ok, 2, 800), vep::kReadFailed);
}

TEST_F(UsbSerialLinkTest, ResponsesMustBeginWithOkAndEndInTheirCheckByte) {
    OpenSimMonitor();
    VepResponse response{};
    // "NG" ends the exchange at once: the byte after it stays for the next read.
    monitor_->SetReply("CNT00", {'N', 'G', 'O', 'K'});
    monitor_->SetReply("XYZ00", {0x30, 0x30, 0x30, 0x30, 0x30, 0x30});
    EXPECT_EQ(Job([&] {
                  const int ng = link_.Command(VepFrame::Of("CNT00"), false, response, 8, true);
                  const int next = link_.Command(VepFrame::Of("XYZ00"), false, response, 8, false);
                  return ng * 100 + next;
              }),
              vep::kNotOk * 100);
    EXPECT_NE(Trace().find("not OK <NG>"), std::string::npos);

    // "MES", 0, 0x01, 0x02 goes out with the XOR of its bytes from byte 4.
    monitor_->SetState([] {
        SimMonitorState s;
        s.readings.resize(0x0103);
        return s;
    }());
    EXPECT_EQ(Job([&] { return link_.Command(VepFrame::Of("MES").Add(0).AddBe16(0x0102), true, response, 17, true); }),
              vep::kOk);
    EXPECT_EQ(LastFrame("MES"), (std::vector<BYTE>{'M', 'E', 'S', 0, 0x01, 0x02, 0x03}));

    monitor_->SetFault("MES", SimMonitorFault::WrongBcc, 1);
    EXPECT_EQ(Job([&] { return link_.Command(VepFrame::Of("MES").Add(0).AddBe16(1), true, response, 17, true); }),
              vep::kBccError);
    monitor_->SetFault("MES", SimMonitorFault::Silent, 1);
    EXPECT_EQ(Job([&] { return link_.Command(VepFrame::Of("MES").Add(0).AddBe16(1), true, response, 17, true); }),
              vep::kTimedOut);
}

TEST_F(UsbSerialLinkTest, AHeldResponseIsWaitedForWithinTheReadTime) {
    OpenSimMonitor();
    monitor_->SetFault("CNT00", SimMonitorFault::Hold, 2);
    VepResponse response{};
    int result = -1;
    std::thread job(
        [&] { result = link_.RunJob([&] { return link_.Command(VepFrame::Of("CNT00"), false, response, 8, true); }); });
    ASSERT_TRUE(WaitFor([&] { return monitor_->Holding(); }));
    monitor_->Release();
    job.join();
    EXPECT_EQ(result, vep::kOk);

    // The end command that follows lets the held response go, so it needs no wait.
    monitor_->OnCommand("END", [this] { monitor_->Release(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Job([&] { return link_.Command(VepFrame::Of("CNT00"), false, response, 8, true, 30); }), vep::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(UsbSerialLinkTest, AVersionWithABadCheckByteFailsAfterThreeAttemptsAndEndsTheSession) {
    OpenSimMonitor();
    EXPECT_EQ(link_.DeviceName(), "SIMBP3");
    EXPECT_EQ(link_.Revision(), "1.02");
    monitor_->SetFault("VER00", SimMonitorFault::WrongBcc);
    bool ran = false;
    EXPECT_EQ(Job([&] {
                  ran = true;
                  return vep::kOk;
              }),
              vep::kBccError);
    EXPECT_FALSE(ran);
    EXPECT_EQ(JobFrames(), (std::vector<std::string>{"HANDSHAKE", "VER00", "VER00", "VER00", "END"}));
    EXPECT_EQ(transport_->OpenHandles(), 0);
}

TEST_F(UsbSerialLinkTest, TheHandshakeBlockFollowsTheSetupModeAndIsTriedFiveTimes) {
    ModelParams params = SimModel();
    params["setup_mode"] = "1";
    SimMonitorState state;
    state.handshakeLength = 30;
    monitor_->SetState(state);
    OpenSimMonitor(params);
    EXPECT_EQ(LastFrame("HANDSHAKE").size(), 30u);

    monitor_->SetFault("HANDSHAKE", SimMonitorFault::Silent, 4);
    EXPECT_EQ(Job([] { return vep::kOk; }), vep::kOk);
    EXPECT_EQ(monitor_->CountOf("HANDSHAKE"), 1 + 5);
    EXPECT_EQ(Pauses(), (std::vector<DWORD>{120, 120, 120, 120}));

    monitor_->SetFault("HANDSHAKE", SimMonitorFault::No);
    EXPECT_EQ(Job([] { return vep::kOk; }), vep::kNotUsable);
    EXPECT_EQ(JobFrames(), std::vector<std::string>(5, "HANDSHAKE"));
    EXPECT_NE(Trace().find("SETUP Retry:5"), std::string::npos);

    LoadSimModel();
    monitor_->SetState(SimMonitorState{});
    monitor_->SetFault("HANDSHAKE", SimMonitorFault::No, 0);
    EXPECT_EQ(Job([] { return vep::kOk; }), vep::kOk);
    EXPECT_EQ(LastFrame("HANDSHAKE"), std::vector<BYTE>(12, 0));
}

TEST_F(UsbSerialLinkTest, TheSpeedGoesByItsCodeInAFeatureReport) {
    for (const auto& [speed, code] :
         std::vector<std::pair<std::string, BYTE>>{{"9600", 1}, {"1200", 4}, {"19200", 0x00}}) {
        ModelParams params = SimModel();
        params["sir_speed"] = speed;
        OpenSimMonitor(params);
        EXPECT_EQ(transport_->FeatureReports().back(), (std::vector<BYTE>{0, code, 0})) << speed;
    }
    transport_->SetReportLengths(9, 9, 2);
    EXPECT_EQ(Job([] { return vep::kOk; }), vep::kWriteFailed);
}

TEST_F(UsbSerialLinkTest, TheAdapterOfTheModelIsFoundByIdsAndName) {
    ModelParams params = SimModel();
    params["model_id"] = "OTHER";
    params["model_id2"] = "";
    params["model_id3"] = "SIMBP3";
    transport_->SetDecoy(true);
    LoadSimModel(params);
    EXPECT_EQ(link_.Open(), vep::kOk);
    EXPECT_TRUE(link_.AdapterFound());
    EXPECT_EQ(transport_->OpenHandles(), 0);
    EXPECT_EQ(monitor_->FrameNames(), (std::vector<std::string>{"HANDSHAKE", "VER00", "PRF00"}));
    EXPECT_EQ(std::vector<BYTE>(state_.deviceInfo.begin() + 40, state_.deviceInfo.begin() + 43),
              (std::vector<BYTE>{'O', 'K', 0x30}));

    params["model_id3"] = "";
    LoadSimModel(params);
    EXPECT_EQ(link_.Open(), vep::kNotUsable);
    EXPECT_EQ(link_.RunJob([] { return vep::kOk; }), vep::kFailed);

    LoadSimModel();
    transport_->SetReportLengths(8, 9, 3);
    EXPECT_EQ(link_.Open(), vep::kNotUsable);

    transport_->SetReportLengths(9, 9, 3);
    ASSERT_EQ(link_.Open(), vep::kOk);
    monitor_->SetPlugged(false);
    EXPECT_EQ(link_.RunJob([] { return vep::kOk; }), vep::kNotUsable);
    EXPECT_EQ(link_.Open(), vep::kNoAdapter);
    EXPECT_EQ(link_.RunJob([] { return vep::kOk; }), vep::kFailed);
}

TEST_F(UsbSerialLinkTest, TheVersionTextSplitsIntoANameOfTenAndTheRevisionAfterIt) {
    const auto version = [](const std::string& text) {
        std::vector<BYTE> reply{'O', 'K', 0x30};
        reply.insert(reply.end(), text.begin(), text.end());
        BYTE bcc = 0;
        for (std::size_t i = 3; i < reply.size(); ++i) bcc ^= reply[i];
        reply.push_back(bcc);
        return reply;
    };
    ModelParams params = SimModel();
    params["model_id"] = "ABCDEFGHIJ";
    monitor_->SetReply("VER00", version("ABCDEFGHIJK"));
    OpenSimMonitor(params);
    EXPECT_EQ(link_.DeviceName(), "ABCDEFGHIJ");
    EXPECT_EQ(link_.Revision(), "K");

    params["model_id"] = "BP";
    monitor_->SetReply("VER00", version(std::string("BP\0V2.0   \0\0", 11)));
    OpenSimMonitor(params);
    EXPECT_EQ(link_.DeviceName(), "BP");
    EXPECT_EQ(link_.Revision(), "V2.0");
}

TEST(BccTest, FramesCheckFromByteFourAndResponsesFromByteThree) {
    const BYTE frame[] = {'G', 'D', 'C', 0, 2, 0x10, 0x01};
    EXPECT_EQ(FrameBcc(frame, sizeof(frame)), 2 ^ 0x10 ^ 0x01);
    const BYTE response[] = {'O', 'K', 0x30, 0x01, 0x02, 0x03};
    EXPECT_TRUE(ResponseBccOk(response, sizeof(response)));
    const BYTE fromTwo[] = {'O', 'K', 0x30, 0x01, 0x02, 0x30 ^ 0x03};
    EXPECT_FALSE(ResponseBccOk(fromTwo, sizeof(fromTwo)));
    EXPECT_FALSE(ResponseBccOk(response, 3));
}

}  // namespace
