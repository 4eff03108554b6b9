// The simulated pedometer behind a raw-mode pseudo-terminal, laid out as the hidraw
// backend finds a device: <root>/sys/class/hidraw/hidraw0/device/{uevent,report_descriptor}
// and <root>/dev/hidraw0 naming the terminal. Point the hooks (or, for another process,
// QUORV_SYSFS_ROOT and QUORV_DEV_ROOT) at SysfsRoot() and DevRoot().
//
// Each 9-byte report written to the node (id 0, then the request) is answered with the
// 8 reply bytes, as hidraw gives an unnumbered report. A late reply is written when its
// delay has passed, and the replies after it follow it.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <thread>

#include "SimPedometer.h"

class SimPedometerPty {
public:
    SimPedometerPty(std::shared_ptr<SimPedometer> device, const std::filesystem::path& root);
    ~SimPedometerPty();
    SimPedometerPty(const SimPedometerPty&) = delete;
    SimPedometerPty& operator=(const SimPedometerPty&) = delete;

    bool Started() const { return thread_.joinable(); }
    std::filesystem::path SysfsRoot() const { return root_ / "sys"; }
    std::filesystem::path DevRoot() const { return root_ / "dev"; }
    std::filesystem::path Node() const { return DevRoot() / "hidraw0"; }

private:
    bool OpenTerminal();
    void PrepareTree() const;
    void Serve();
    void Answer(const SimReport& request);
    // Writes the replies that are due; how long until the next is, at most idle.
    std::chrono::milliseconds SendDue(std::chrono::milliseconds idle);

    struct Pending {
        std::chrono::steady_clock::time_point due;
        SimReport reply{};
    };

    std::shared_ptr<SimPedometer> device_;
    std::filesystem::path root_;
    std::filesystem::path terminal_;
    int master_ = -1;
    int slave_ = -1;  // kept open, so the terminal stays raw and never hangs up between opens
    std::deque<Pending> replies_;  // the serving thread's own
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
