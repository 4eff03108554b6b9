// The simulated pedometer as the HID transport, so the module's own link logic (report
// id, buffer sizes, closing on failure) runs against it. Installed through the hook in a
// HookScope; the module loaded with dlopen shares the hook.
//
//   HookScope hooks;
//   auto device = std::make_shared<SimPedometer>();
//   auto link = std::make_shared<SimPedometerTransport>(device);
//   Hooks().hidTransport = link;
//
// Time on the link is simulated: a read with no reply due within its time-out reports the
// time-out at once and moves the link's clock on by it, so tests stay fast and a late
// reply (SimPedometer::AnswerLate) comes when its delay has passed on that clock. Replies
// wait on the device's side in order, whichever handle is open when they come.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HidTransport.h"
#include "SimPedometer.h"

class SimPedometerTransport : public HidTransport {
public:
    static constexpr int kVendorId = 0x0C45;
    static constexpr int kProductId = 0x70C1;
    static constexpr int kDecoyProductId = 0x70C2;
    static constexpr const char* kDevicePath = "sim/pedometer";
    static constexpr const char* kDecoyPath = "sim/decoy";

    explicit SimPedometerTransport(std::shared_ptr<SimPedometer> device);

    // A device of the same vendor and another product, listed before the pedometer.
    void SetDecoy(bool present);
    // Report lengths (id byte included) given from the next search; 9 and 9 at first.
    void SetReportLengths(std::size_t input, std::size_t output);
    void SetOpenFails(bool fails);

    int Searches() const;
    int Opens() const;
    int Closes() const;
    int OpenHandles() const;
    std::vector<std::string> OpenedPaths() const;
    // The link's clock: milliseconds since the link was made.
    DWORD Elapsed() const;
    // Moves the clock on, as a caller's sleep of that long would.
    void Advance(DWORD ms);

    std::vector<HidDeviceInfo> Enumerate() override;
    HidHandle Open(const std::string& path) override;
    HidIoResult Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) override;
    HidIoResult Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD milliseconds) override;
    void Close(HidHandle handle) override;

private:
    struct Pending {
        DWORD due = 0;  // on the link's clock
        SimReport reply{};
    };

    std::shared_ptr<SimPedometer> device_;
    mutable std::mutex lock_;
    bool decoy_ = false;
    bool openFails_ = false;
    std::size_t inputLength_ = 9;
    std::size_t outputLength_ = 9;
    std::map<HidHandle, std::string> open_;  // handle -> path
    std::deque<Pending> replies_;
    DWORD now_ = 0;
    HidHandle nextHandle_ = 1;
    int searches_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    std::vector<std::string> openedPaths_;
};
