// The simulated monitor on a serial line: a pseudo-terminal whose slave a test names as
// a COM port, with the monitor's serial personality (SimMonitorSerial) answering on
// the master from a thread of its own.
//
//   auto monitor = std::make_shared<SimMonitor>();
//   SimMonitorPty line(monitor);
//   Hooks().serialPorts[2] = line.SlavePath();  // COM3
//
// A frame ends at its known length or when the line is quiet for a moment. Text
// commands and the wake-up are answered about 100 ms later, as the monitor does (the
// host purges its input right after writing); the echoed commands at once. With the
// state's echo-back every byte is echoed as it arrives. Held answers are not offered
// on this face.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SerialPortPty.h"
#include "SimMonitor.h"

class SimMonitorPty {
public:
    static constexpr std::chrono::milliseconds kReplyDelay{100};
    static constexpr std::chrono::milliseconds kFrameGap{20};

    explicit SimMonitorPty(std::shared_ptr<SimMonitor> monitor);
    ~SimMonitorPty();
    SimMonitorPty(const SimMonitorPty&) = delete;
    SimMonitorPty& operator=(const SimMonitorPty&) = delete;

    bool Started() const { return thread_.joinable(); }
    const std::string& SlavePath() const { return line_.SlavePath(); }
    // The line as the host set it up, read through the master.
    std::optional<SerialLineSettings> LineSettings() const { return line_.LineSettings(); }
    // Whether the host opened the port and has closed it again.
    bool HostClosed() const { return line_.SlaveClosed(); }

private:
    void Serve();
    // Takes the frames that are complete (or, after a quiet moment, whatever came).
    void TakeFrames(std::vector<BYTE>& pending, bool quiet);
    void Answer(const std::vector<BYTE>& frame);
    // Waits unless the face is stopping; false when it is.
    bool Pause(std::chrono::milliseconds time) const;

    std::shared_ptr<SimMonitor> monitor_;
    SerialPortPty line_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
