// The simulated monitor's USB-serial adapter as the HID transport, so the library's
// own report handling runs against it. Installed through the hook in a HookScope; a
// library loaded with dlopen shares the hook.
//
//   HookScope hooks;
//   auto monitor = std::make_shared<SimMonitor>();
//   Hooks().hidTransport = std::make_shared<SimMonitorTransport>(monitor);
//
// The host writes a whole frame before it reads its answer, so a read ends the frame
// the output reports carried and hands it to the monitor. Answers come back in input
// reports of up to 7 data bytes; a read with no answer waiting reports a time-out at
// once, so tests stay fast, and one whose answer is held waits for its release. A late
// answer is there once two reads have timed out on it. With a reply delay an answer is
// there that long after its frame (a read within reach of it waits for it), and an answer
// to send twice comes again the monitor's repeat delay after the first.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HidTransport.h"
#include "SimMonitor.h"

class SimMonitorTransport : public HidTransport {
public:
    static constexpr int kVendorId = 0x0B1E;
    static constexpr int kProductId = 0x5A01;
    static constexpr int kDecoyProductId = 0x5A02;
    static constexpr const char* kAdapterPath = "sim/monitor";
    static constexpr const char* kDecoyPath = "sim/monitor-decoy";

    explicit SimMonitorTransport(std::shared_ptr<SimMonitor> monitor);

    // A device of the same vendor and another product, listed before the adapter.
    void SetDecoy(bool present);
    // How long the monitor takes to answer a frame; 0 (at once) unless set.
    void SetReplyDelay(std::chrono::milliseconds delay);
    // Report lengths (id byte included) given from the next search: 9, 9 and 3 at first.
    void SetReportLengths(std::size_t input, std::size_t output, std::size_t feature);

    // Every output and feature report as written, id byte first.
    std::vector<std::vector<BYTE>> OutputReports() const;
    std::vector<std::vector<BYTE>> FeatureReports() const;
    int InputReports() const;
    int OpenHandles() const;
    // The time reads spent in the transport, waiting for answers included.
    std::chrono::nanoseconds ReadTime() const;

    std::vector<HidDeviceInfo> Enumerate() override;
    HidHandle Open(const std::string& path) override;
    HidIoResult Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) override;
    HidIoResult Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD milliseconds) override;
    HidIoResult SetFeature(HidHandle handle, const BYTE* report, std::size_t size) override;
    void Close(HidHandle handle) override;

private:
    struct InputReport {
        std::vector<BYTE> bytes;
        std::uint64_t holdTicket = 0;
        int late = 0;  // the reads that find it time out, one fewer each
        std::chrono::steady_clock::time_point due{};  // not there before
    };
    struct OpenDevice {
        std::string path;
        std::vector<BYTE> frame;  // data bytes written since the last read
        std::deque<InputReport> input;
    };

    HidIoResult ReadLocked(std::unique_lock<std::mutex>& guard, HidHandle handle, BYTE* report, std::size_t size,
                           DWORD milliseconds);
    void QueueAnswer(OpenDevice& device, const SimMonitorAnswer& answer) const;
    void QueueReports(OpenDevice& device, const SimMonitorAnswer& answer,
                      std::chrono::steady_clock::time_point due) const;
    bool IsAdapter(const OpenDevice& device) const;

    std::shared_ptr<SimMonitor> monitor_;
    mutable std::mutex lock_;
    bool decoy_ = false;
    std::size_t inputLength_ = 9;
    std::size_t outputLength_ = 9;
    std::size_t featureLength_ = 3;
    std::chrono::milliseconds replyDelay_{0};
    std::map<HidHandle, OpenDevice> open_;
    HidHandle nextHandle_ = 1;
    std::vector<std::vector<BYTE>> outputReports_;
    std::vector<std::vector<BYTE>> featureReports_;
    int inputReports_ = 0;
    std::chrono::nanoseconds readTime_{0};
};
