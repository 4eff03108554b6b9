// The pedometer's link: finds one HID device by vendor and product id through the HID
// transport in the hooks and moves single reports with a time-out. It knows nothing of
// the pedometer's commands.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HidTransport.h"
#include "WinTypes.h"

class CHIDClass {
public:
    // dataBytes: what each report must carry after its id; a device whose reports are
    // shorter is refused, as the missing bytes would read as zeros.
    CHIDClass(int productId, int vendorId, std::size_t dataBytes);
    virtual ~CHIDClass();
    CHIDClass(const CHIDClass&) = delete;
    CHIDClass& operator=(const CHIDClass&) = delete;

    // Closes what is open, then opens the first device with both ids. True while a
    // matching device is open with buffers of its report lengths.
    bool FindDevice();
    // One report's data bytes (after the report id) into buffer, at most length of them;
    // 1 ok, 0 failed. Any failure closes the device; while closed the time-out is waited out.
    int Read(BYTE* buffer, DWORD length, DWORD milliseconds);
    // data (at most length bytes) sent after the report id 0, zero-padded; 1 ok, 0 failed.
    int Write(const BYTE* data, DWORD length, DWORD milliseconds);
    void CloseHandles();

    bool Found() const;
    std::size_t InputReportLength() const;
    std::size_t OutputReportLength() const;
    // The node of the device the last search opened, kept after a failure closed it;
    // empty when that search found none.
    std::string Node() const;
    // What the last failed read or write since the last search brought ("read timed out
    // after 1000 ms, 0 of 9 bytes"); a transfer refused because that failure closed the
    // link keeps it. Empty when none failed.
    std::string LastFault() const;
    // Whether a time-out closed the link since the last search: the device did not answer
    // in time, but nothing tells it left the bus.
    bool ClosedByTimeOut() const;

private:
    bool UsableLength(std::size_t length) const;
    bool OpenDevice(const HidDeviceInfo& device);
    bool SizeBuffers(const HidDeviceInfo& device);
    // Closes the device and clears the found flag; always 0, the failed result.
    int Fail();
    // Fail() after a transfer of the open device that brought io instead of size bytes.
    int FailTransfer(const char* what, const HidIoResult& io, std::size_t size, DWORD milliseconds);
    // Fail() on the closed link, which has moved nothing since its failure.
    int FailClosed(const char* what, DWORD milliseconds);
    void CloseLocked();

    const int vendorId_;
    const int productId_;
    const std::size_t dataBytes_;
    // The transport the open handle belongs to.
    std::shared_ptr<HidTransport> transport_;
    HidHandle handle_ = kNoHidHandle;
    std::vector<BYTE> inputReport_;
    std::vector<BYTE> outputReport_;
    bool found_ = false;
    bool timedOut_ = false;
    std::string node_;
    std::string fault_;
    std::string lastRefusal_;  // the line of the last device refused for its report lengths
    mutable std::mutex lock_;
};
