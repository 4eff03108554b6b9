// The simulated monitor on a serial line: a pseudo-terminal whose slave a test names as
// a COM port, with the monitor's serial personality (SimMonitorSerial) answering on
// the master from a thread of its own.
//
//   auto monitor = std::make_shared<SimMonitor>();
//   SimMonitorPty line(monitor);
//   Hooks().serialPorts[2] = line.SlavePath();  // COM3
//
// Frames are told apart by their bytes (SimMonitorSerial::FrameLength), however the
// line hands them over: one read may bring the end of the wake-up and the next command,
// and a wake-up may come in pieces. Only "MES",0,0,0 with nothing after it waits for the
// line to stay quiet for the reply delay. Text commands and the wake-up are answered
// the reply delay (100 ms unless said) later, as the monitor does (the host purges its
// input right after writing); the echoed commands at once. With the state's echo-back
// every byte is echoed as it arrives. An answer to send twice comes again the monitor's
// repeat delay later, whatever the host wrote meanwhile. Held answers are not offered on
// this face.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SerialPortPty.h"
#include "SimMonitor.h"

class SimMonitorPty {
public:
    static constexpr std::chrono::milliseconds kReplyDelay{100};

    // replyDelay: how long the monitor takes to answer a text command (a slow monitor's longer).
    explicit SimMonitorPty(std::shared_ptr<SimMonitor> monitor, std::chrono::milliseconds replyDelay = kReplyDelay);
    ~SimMonitorPty();
    SimMonitorPty(const SimMonitorPty&) = delete;
    SimMonitorPty& operator=(const SimMonitorPty&) = delete;

    bool Started() const { return thread_.joinable(); }
    const std::string& SlavePath() const { return line_.SlavePath(); }
    // The line as the host set it up, read through the master.
    std::optional<SerialLineSettings> LineSettings() const { return line_.LineSettings(); }
    // Whether the host opened the port and has closed it again.
    bool HostClosed() const { return line_.SlaveClosed(); }
    // Waits until the monitor has taken (and answered) every byte the host wrote before
    // the call; false after the time-out. A host that gave up on an answer returns
    // before the monitor has read its last command.
    bool AwaitTaken(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) const;

private:
    void Serve();
    // Takes the frames that are complete; `quiet`: nothing came for the reply delay.
    void TakeFrames(std::vector<BYTE>& pending, bool quiet);
    // `delayed`: the reply delay has passed since the frame's last byte.
    void Answer(const std::vector<BYTE>& frame, bool delayed);
    // Waits unless the face is stopping, sending the repeats that fall due; false when it is.
    bool Pause(std::chrono::milliseconds time);
    // Writes the repeats due by now.
    void SendRepeats();

    std::shared_ptr<SimMonitor> monitor_;
    const std::chrono::milliseconds replyDelay_;
    SerialPortPty line_;
    std::atomic<bool> stop_{false};
    // AwaitTaken's tickets: asked_ counts the calls, takenUpTo_ the last one the line
    // was found empty after.
    mutable std::mutex takenLock_;
    mutable std::condition_variable taken_;
    mutable std::uint64_t asked_ = 0;
    std::uint64_t takenUpTo_ = 0;
    // Answers to send again, with when; only the serving thread touches them.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::vector<BYTE>>> repeats_;
    std::thread thread_;
};
