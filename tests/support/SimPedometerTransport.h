// The simulated pedometer as the HID transport, so the module's own link logic (report
// id, buffer sizes, closing on failure) runs against it. Installed through the hook in a
// HookScope; the module loaded with dlopen shares the hook.
//
//   HookScope hooks;
//   auto device = std::make_shared<SimPedometer>();
//   auto link = std::make_shared<SimPedometerTransport>(device);
//   Hooks().hidTransport = link;
//
// A read with no reply waiting reports a time-out at once, so tests stay fast.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

    std::vector<HidDeviceInfo> Enumerate() override;
    HidHandle Open(const std::string& path) override;
    HidIoResult Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) override;
    HidIoResult Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD milliseconds) override;
    void Close(HidHandle handle) override;

private:
    struct OpenDevice {
        std::string path;
        std::optional<SimReport> pending;
    };

    std::shared_ptr<SimPedometer> device_;
    mutable std::mutex lock_;
    bool decoy_ = false;
    bool openFails_ = false;
    std::size_t inputLength_ = 9;
    std::size_t outputLength_ = 9;
    std::map<HidHandle, OpenDevice> open_;
    HidHandle nextHandle_ = 1;
    int searches_ = 0;
    int opens_ = 0;
    int closes_ = 0;
    std::vector<std::string> openedPaths_;
};
