#include "CHIDClass.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include "Hooks.h"
#include "Text.h"

namespace {

// No report is longer than the kernel's largest HID report.
constexpr std::size_t kMaxReportLength = 4096;

// "read timed out after 1000 ms, 0 of 9 bytes", "read failed (Input/output error), 0 of 9
// bytes", "read 4 of 9 bytes": the counts include the report id, as the lengths do.
std::string Describe(const char* what, const HidIoResult& io, std::size_t size, DWORD milliseconds) {
    std::string how;
    if (io.status == HidStatus::TimedOut) {
        how = " timed out after " + std::to_string(milliseconds) + " ms,";
    } else if (io.status == HidStatus::Failed) {
        how = " failed (" + (io.error != 0 ? std::generic_category().message(io.error) : "no reason given") + "),";
    }
    return what + how + " " + std::to_string(io.bytes) + " of " + std::to_string(size) + " bytes";
}

}  // namespace

CHIDClass::CHIDClass(int productId, int vendorId, std::size_t dataBytes)
    : vendorId_(vendorId), productId_(productId), dataBytes_(dataBytes) {}

CHIDClass::~CHIDClass() {
    std::lock_guard guard(lock_);
    CloseLocked();
}

bool CHIDClass::FindDevice() {
    std::lock_guard guard(lock_);
    CloseLocked();
    found_ = false;
    timedOut_ = false;
    node_.clear();
    fault_.clear();
    transport_ = Hooks().hidTransport;
    if (!transport_) return false;
    for (const auto& device : transport_->Enumerate()) {
        if (device.vendorId != vendorId_ || device.productId != productId_) continue;
        if (OpenDevice(device)) {
            found_ = true;
            break;
        }
    }
    return found_;
}

// A report holds the id byte, then the data bytes.
bool CHIDClass::UsableLength(std::size_t length) const { return length > dataBytes_ && length <= kMaxReportLength; }

bool CHIDClass::OpenDevice(const HidDeviceInfo& device) {
    if (!UsableLength(device.inputReportLength) || !UsableLength(device.outputReportLength)) {
        std::string refusal = "HID device " + device.path + " refused: reports of " +
                              std::to_string(device.inputReportLength) + " and " +
                              std::to_string(device.outputReportLength) + " bytes cannot carry an id and " +
                              std::to_string(dataBytes_) + " data bytes";
        // A read searches again at every try: the same device is told of once.
        if (refusal != lastRefusal_) OutputDebugStringW(text::FromUtf8(refusal).c_str());
        lastRefusal_ = std::move(refusal);
        return false;
    }
    handle_ = transport_->Open(device.path);
    if (handle_ == kNoHidHandle) return false;
    if (SizeBuffers(device)) {
        node_ = device.path;
        return true;
    }
    CloseLocked();
    return false;
}

// Buffers of unchanged lengths are kept.
bool CHIDClass::SizeBuffers(const HidDeviceInfo& device) {
    try {
        if (inputReport_.size() != device.inputReportLength) inputReport_ = std::vector<BYTE>(device.inputReportLength);
        if (outputReport_.size() != device.outputReportLength) {
            outputReport_ = std::vector<BYTE>(device.outputReportLength);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int CHIDClass::Read(BYTE* buffer, DWORD length, DWORD milliseconds) {
    if (buffer == nullptr) return 0;
    std::lock_guard guard(lock_);
    std::memset(buffer, 0, length);
    if (handle_ == kNoHidHandle) return FailClosed("read", milliseconds);
    inputReport_[0] = 0;
    const HidIoResult io = transport_->Read(handle_, inputReport_.data(), inputReport_.size(), milliseconds);
    // A short report is a failure too: its missing bytes would read as stale data.
    if (io.status != HidStatus::Ok || io.bytes != inputReport_.size()) {
        return FailTransfer("read", io, inputReport_.size(), milliseconds);
    }
    std::memcpy(buffer, inputReport_.data() + 1, std::min<std::size_t>(length, inputReport_.size() - 1));
    return 1;
}

int CHIDClass::Write(const BYTE* data, DWORD length, DWORD milliseconds) {
    if (data == nullptr) return 0;
    std::lock_guard guard(lock_);
    if (handle_ == kNoHidHandle) return FailClosed("write", milliseconds);
    std::fill(outputReport_.begin(), outputReport_.end(), BYTE{0});
    std::memcpy(outputReport_.data() + 1, data, std::min<std::size_t>(length, outputReport_.size() - 1));
    const HidIoResult io = transport_->Write(handle_, outputReport_.data(), outputReport_.size(), milliseconds);
    if (io.status != HidStatus::Ok || io.bytes != outputReport_.size()) {
        return FailTransfer("write", io, outputReport_.size(), milliseconds);
    }
    return 1;
}

void CHIDClass::CloseHandles() {
    std::lock_guard guard(lock_);
    CloseLocked();
    found_ = false;
}

bool CHIDClass::Found() const {
    std::lock_guard guard(lock_);
    return found_;
}

std::size_t CHIDClass::InputReportLength() const {
    std::lock_guard guard(lock_);
    return inputReport_.size();
}

std::size_t CHIDClass::OutputReportLength() const {
    std::lock_guard guard(lock_);
    return outputReport_.size();
}

std::string CHIDClass::Node() const {
    std::lock_guard guard(lock_);
    return node_;
}

std::string CHIDClass::LastFault() const {
    std::lock_guard guard(lock_);
    return fault_;
}

bool CHIDClass::ClosedByTimeOut() const {
    std::lock_guard guard(lock_);
    return timedOut_;
}

int CHIDClass::FailTransfer(const char* what, const HidIoResult& io, std::size_t size, DWORD milliseconds) {
    fault_ = Describe(what, io, size, milliseconds);
    timedOut_ = io.status == HidStatus::TimedOut;
    return Fail();
}

int CHIDClass::FailClosed(const char* what, DWORD milliseconds) {
    Sleep(milliseconds);
    if (fault_.empty()) fault_ = std::string(what) + " on a closed link";
    return Fail();
}

int CHIDClass::Fail() {
    CloseLocked();
    found_ = false;
    return 0;
}

void CHIDClass::CloseLocked() {
    if (handle_ != kNoHidHandle && transport_) transport_->Close(handle_);
    handle_ = kNoHidHandle;
}
