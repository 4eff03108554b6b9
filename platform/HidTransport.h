// HID report I/O behind one interface: the Linux hidraw nodes are its default backend
// (the transport hook of Hooks.h), and tests put a simulated device in its place.
// Report lengths and buffers count the report-id byte first, as the Windows HID
// interface does: a device with 8-byte reports has report lengths of 9.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "WinTypes.h"

struct HidDeviceInfo {
    std::string path;                 // what Open takes
    int vendorId = 0;
    int productId = 0;
    std::size_t inputReportLength = 0;   // 0 when the device has no input reports
    std::size_t outputReportLength = 0;  // 0 when it has no output reports
    std::size_t featureReportLength = 0;  // 0 when it has no feature reports
};

using HidHandle = int;
constexpr HidHandle kNoHidHandle = -1;

enum class HidStatus { Ok, TimedOut, Failed };

struct HidIoResult {
    HidStatus status = HidStatus::Failed;
    std::size_t bytes = 0;  // bytes moved, report id included
    int error = 0;          // the system's error number of a failed transfer, 0 when none is known
};

class HidTransport {
public:
    virtual ~HidTransport() = default;

    // The HID devices present now. A device whose description cannot be read is left out.
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;
    // kNoHidHandle when the device cannot be opened for reading and writing, or the path
    // is no device at all (a FIFO or a plain file would hand back what is written to it).
    virtual HidHandle Open(const std::string& path) = 0;
    // One input report into report (its id at byte 0), waiting at most milliseconds.
    virtual HidIoResult Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) = 0;
    // One output report, its id at byte 0, waiting at most milliseconds to send it.
    virtual HidIoResult Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD milliseconds) = 0;
    // One feature report to the device, its id at byte 0. A transport of a device
    // without feature reports fails it.
    virtual HidIoResult SetFeature(HidHandle /*handle*/, const BYTE* /*report*/, std::size_t /*size*/) { return {}; }
    virtual void Close(HidHandle handle) = 0;
};

// The hidraw backend: devices under <sysfs root>/class/hidraw, nodes in the dev root
// (both from the hooks, read at each enumeration). A node it refuses to open gets one
// debug-output line saying why, until it opens again: the caller only sees no device.
std::shared_ptr<HidTransport> MakeHidrawTransport();
