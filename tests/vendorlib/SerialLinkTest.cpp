// The serial link against the simulated monitor on a pseudo-terminal: which ports it
// tries, the line and the wake-up the monitor sees, and how the open ends on refusals,
// another device and an abort.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "SerialFixture.h"
#include "VepResult.h"
#include "Window.h"

namespace {

class SerialLinkTest : public SerialFixture {
protected:
    std::vector<std::string> PortChecks() const {
        std::vector<std::string> checks;
        std::istringstream lines(Trace());
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("PortCheck-", 0) == 0) checks.push_back(line);
        }
        return checks;
    }
};

TEST_F(SerialLinkTest, TheSetPortAloneIsTriedElseEveryPortInOrder) {
    LoadSerialModel();
    state_.comPort = 3;
    EXPECT_EQ(serial_.Open(), vep::kOk);
    EXPECT_EQ(PortChecks(), (std::vector<std::string>{"PortCheck-3:OK"}));
    serial_.Close();

    // COM1 a missing path, COM2 a file that is no terminal, COM3 nothing, COM5 the monitor.
    std::ofstream(dir_ / "plain") << "x";
    Hooks().serialPorts = {
        (dir_ / "missing").string(), (dir_ / "plain").string(), "", "", line_.SlavePath(), "", "", ""};
    std::filesystem::remove(dir_ / "debug.txt");
    state_.comPort = 0;
    EXPECT_EQ(serial_.Open(), vep::kOk);
    std::vector<std::string> expected;
    for (int port = 1; port <= 8; ++port)
        expected.push_back("PortCheck-" + std::to_string(port) + (port == 5 ? ":OK" : ":NG"));
    EXPECT_EQ(PortChecks(), expected);
    EXPECT_NE(Trace().find("ComPort:COM5"), std::string::npos);
    serial_.Close();
    TakenFrames();  // the end command of that close too
    MarkFrames();

    state_.comPort = 9;
    EXPECT_EQ(serial_.Open(), vep::kNoPort);
    state_.comPort = 5;
    Hooks().serialPorts[4].clear();
    EXPECT_EQ(serial_.Open(), vep::kNoPort) << "a table with no openable path";

    // A port that another holder keeps is not usable.
    SerialPort holder;
    ASSERT_TRUE(holder.OpenPath(line_.SlavePath()));
    Hooks().serialPorts[4] = line_.SlavePath();
    EXPECT_EQ(serial_.Open(), vep::kNoPort);
    EXPECT_EQ(PortChecks().back(), "PortCheck-5:NG");
    EXPECT_TRUE(FramesSinceMark().empty()) << "no monitor woken on a port that is not usable";
}

TEST_F(SerialLinkTest, TheMonitorWakesOnFourteenZerosOnARawLineAndIsIdentified) {
    SetMonitor([](SimMonitorState& s) { s.serialText = "SN-4711"; });
    OpenSerialMonitor();
    const std::vector<std::string> names = TakenNames(3);
    ASSERT_EQ(FromWakeUp(names), (std::vector<std::string>{"HANDSHAKE", "VER00", "SRL00"}));
    EXPECT_EQ(monitor_->Frames().front().bytes, std::vector<BYTE>(14, 0));
    const auto line = line_.LineSettings();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->baud, 9600u);
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_EQ(line->parity, 'N');
    EXPECT_EQ(line->stopBits, 1);
    EXPECT_TRUE(line->raw);
    EXPECT_FALSE(line->flowControl);
    EXPECT_TRUE(serial_.Awake());
    EXPECT_EQ(serial_.DeviceName(), "SIMSER");
    EXPECT_EQ(serial_.Revision(), "1.02");
    EXPECT_EQ(std::string(state_.deviceInfo.begin() + 27, state_.deviceInfo.begin() + 34), "SN-4711");
    const auto wakeUps = static_cast<std::size_t>(std::count(names.begin(), names.end(), "HANDSHAKE"));
    EXPECT_EQ(Pauses(), std::vector<DWORD>(wakeUps - 1, 200)) << "a pause only before a wake-up sent again";

    // The end command goes out before the port closes.
    serial_.End();
    EXPECT_EQ(LastFrame("END"), (std::vector<BYTE>{0x45, 0x4E, 0x44, 0xFF, 0xFF}));
    EXPECT_TRUE(line_.HostClosed());
}

TEST_F(SerialLinkTest, AMonitorThatDoesNotWakeLeavesThePortClosed) {
    LoadSerialModel();
    monitor_->SetFault("HANDSHAKE", SimMonitorFault::No);
    EXPECT_EQ(serial_.Open(), vep::kException);
    EXPECT_EQ(TakenNames(3), std::vector<std::string>(3, "HANDSHAKE"));
    EXPECT_EQ(Pauses(), (std::vector<DWORD>{200, 200}));
    EXPECT_TRUE(line_.HostClosed());
    EXPECT_FALSE(serial_.Awake());
}

TEST_F(SerialLinkTest, AFailedVersionOrAnotherDeviceEndsTheSessionBeforeTheClose) {
    LoadSerialModel();
    monitor_->SetFault("VER00", SimMonitorFault::No);
    EXPECT_EQ(serial_.Open(), vep::kException);
    EXPECT_EQ(FromWakeUp(TakenNames(5)), (std::vector<std::string>{"HANDSHAKE", "VER00", "VER00", "VER00", "END"}));
    EXPECT_NE(Trace().find("ver err!!"), std::string::npos);
    EXPECT_TRUE(line_.HostClosed());

    monitor_->SetFault("VER00", SimMonitorFault::WrongBcc);
    EXPECT_EQ(serial_.Open(), vep::kBccError);

    monitor_->SetFault("VER00", SimMonitorFault::No, 0);
    MarkFrames();
    ModelParams params = SimSerialModel();
    params["model_id"] = "OTHER";
    LoadSerialModel(params);
    EXPECT_EQ(serial_.Open(), vep::kNotUsable);
    std::vector<std::string> since;
    for (const SimFrame& frame : FramesSinceMark(3)) since.push_back(frame.name);
    EXPECT_EQ(FromWakeUp(since), (std::vector<std::string>{"HANDSHAKE", "VER00", "END"}));
    EXPECT_EQ(LastFrame("END"), (std::vector<BYTE>{0x45, 0x4E, 0x44, 0xFF, 0xFF}));
    EXPECT_TRUE(line_.HostClosed());
}

TEST_F(SerialLinkTest, AnAbortDuringTheWakeUpEndsTheSearchAtThatPort) {
    auto other = std::make_shared<SimMonitor>();
    SimMonitorPty otherLine(other);
    Hooks().serialPorts[3] = otherLine.SlavePath();  // COM4, a monitor that would answer
    LoadSerialModel();
    monitor_->SetFault("HANDSHAKE", SimMonitorFault::Silent);
    monitor_->OnCommand("HANDSHAKE", [this] { state_.abort = true; });
    EXPECT_EQ(serial_.Open(), vep::kAborted);
    EXPECT_EQ(TakenNames(2), (std::vector<std::string>{"HANDSHAKE", "END"}));
    EXPECT_TRUE(line_.HostClosed());
    EXPECT_TRUE(otherLine.AwaitTaken());
    EXPECT_TRUE(other->Frames().empty());
    EXPECT_TRUE(state_.abort) << "left set, so the model search stops too";
}

TEST_F(SerialLinkTest, TheMonitorTellsFramesApartByTheirBytesWhenTheyArriveTogether) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kMonitorPort));
    ASSERT_TRUE(port.Setup(1, 1));
    // A wake-up, "CNT00", the request for reading 1, the newest reading's date (which the
    // request for reading 0 begins with) and the end command, in one write.
    std::vector<BYTE> line(14, 0);
    for (const std::string& command : {std::string("CNT00"), std::string("MES\0\0\1\1", 7), std::string("MES\0\0\0", 6),
                                       std::string("END\xFF\xFF", 5)})
        line.insert(line.end(), command.begin(), command.end());
    ASSERT_EQ(port.Write(line.data(), line.size()), static_cast<int>(line.size()));
    std::vector<std::string> frames;
    for (const SimFrame& frame : TakenFrames(5)) frames.push_back(frame.name + " " + std::to_string(frame.bytes.size()));
    EXPECT_EQ(frames, (std::vector<std::string>{"HANDSHAKE 14", "CNT00 5", "MES 7", "MES 6", "END 5"}));
}

std::atomic<int> g_served{0};

LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP + 1) {
        ++g_served;
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(SerialLinkTest, WaitsServeTheCallingThreadsWindowsAndAnEchoingLineWorks) {
    g_served = 0;
    const HWND window = CallerWindow(L"SerialLinkTestWindow", CountingProc);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_APP + 1, 0, 0);

    SetMonitor([](SimMonitorState& s) { s.echoBack = true; });
    serial_.SetEchoBack(true);
    OpenSerialMonitor();
    EXPECT_EQ(g_served, 1);
    EXPECT_EQ(monitor_->Frames().front().bytes, std::vector<BYTE>(14, 0));
    VepResponse counts{};
    EXPECT_EQ(serial_.Text(VepFrame::Of("CNT00"), counts, 8), vep::kOk);
    DestroyWindow(window);

    std::thread([] {
        DispatchPendingMessages();
        EXPECT_FALSE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0)) << "no queue is made for it";
    }).join();
}

}  // namespace
