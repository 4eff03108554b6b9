// The USB-serial adapter's byte stream over HID reports: output reports carry up to 7
// data bytes after a count byte, input reports the same; bytes of an input report
// beyond what a read asked for are kept for the next read. The serial speed is set by
// a feature report. Uses the HID transport in the platform hooks.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "HidTransport.h"
#include "WinTypes.h"

class HidChannel {
public:
    // The adapter's reports must hold the id, the count and 7 data bytes.
    static constexpr std::size_t kMinReportLength = 9;
    static constexpr std::size_t kDataPerReport = 7;

    HidChannel() = default;
    ~HidChannel();
    HidChannel(const HidChannel&) = delete;
    HidChannel& operator=(const HidChannel&) = delete;

    // Opens the device at index of the transport's list when it carries both ids.
    // 1 opened; 0 another device (or it cannot be opened); -1 past the end of the list.
    int OpenIndex(int index, int vendorId, int productId);
    // Whether the open device's report lengths can carry the adapter's reports.
    bool Usable() const;
    void Close();
    bool IsOpen() const { return handle_ != kNoHidHandle; }

    // 0, or 7 when a report is not sent within 500 ms.
    int Write(const BYTE* bytes, std::size_t length);
    // Exactly length bytes within milliseconds, counted from the call: 0; 1 on a
    // time-out; 2 on a failed read or a report whose count byte is 8 or more.
    int Read(BYTE* out, std::size_t length, DWORD milliseconds);
    // Drops the bytes kept from earlier reports.
    void Forget() { kept_.clear(); }
    // Drops them too, handing them out.
    std::vector<BYTE> TakeKept();
    // Drops the kept bytes and every report that comes until one read of milliseconds
    // brings none: true then; false when more than mostReports come, or a read fails.
    bool DropUntilQuiet(DWORD milliseconds, std::size_t mostReports);
    // The feature report [id, code, second]; 0, or 7 when it fails.
    int SetFeature(BYTE code, BYTE second);

private:
    int ReadReport(DWORD milliseconds);

    std::shared_ptr<HidTransport> transport_;
    HidHandle handle_ = kNoHidHandle;
    HidDeviceInfo device_;
    std::deque<BYTE> kept_;
};
