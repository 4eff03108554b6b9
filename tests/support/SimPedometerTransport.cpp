#include "SimPedometerTransport.h"

#include <algorithm>
#include <cstdint>

namespace {

// Clock readings compared by their difference, as ticks are.
bool Later(DWORD a, DWORD b) { return static_cast<std::int32_t>(a - b) > 0; }

}  // namespace

SimPedometerTransport::SimPedometerTransport(std::shared_ptr<SimPedometer> device) : device_(std::move(device)) {}

void SimPedometerTransport::SetDecoy(bool present) {
    std::lock_guard guard(lock_);
    decoy_ = present;
}

void SimPedometerTransport::SetReportLengths(std::size_t input, std::size_t output) {
    std::lock_guard guard(lock_);
    inputLength_ = input;
    outputLength_ = output;
}

void SimPedometerTransport::SetOpenFails(bool fails) {
    std::lock_guard guard(lock_);
    openFails_ = fails;
}

int SimPedometerTransport::Searches() const {
    std::lock_guard guard(lock_);
    return searches_;
}

int SimPedometerTransport::Opens() const {
    std::lock_guard guard(lock_);
    return opens_;
}

int SimPedometerTransport::Closes() const {
    std::lock_guard guard(lock_);
    return closes_;
}

int SimPedometerTransport::OpenHandles() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(open_.size());
}

std::vector<std::string> SimPedometerTransport::OpenedPaths() const {
    std::lock_guard guard(lock_);
    return openedPaths_;
}

DWORD SimPedometerTransport::Elapsed() const {
    std::lock_guard guard(lock_);
    return now_;
}

void SimPedometerTransport::Advance(DWORD ms) {
    std::lock_guard guard(lock_);
    now_ += ms;
}

std::vector<HidDeviceInfo> SimPedometerTransport::Enumerate() {
    std::lock_guard guard(lock_);
    ++searches_;
    std::vector<HidDeviceInfo> devices;
    if (decoy_) devices.push_back({kDecoyPath, kVendorId, kDecoyProductId, inputLength_, outputLength_});
    if (device_->Plugged()) devices.push_back({kDevicePath, kVendorId, kProductId, inputLength_, outputLength_});
    return devices;
}

HidHandle SimPedometerTransport::Open(const std::string& path) {
    std::lock_guard guard(lock_);
    const bool present = (path == kDevicePath && device_->Plugged()) || (path == kDecoyPath && decoy_);
    if (!present || openFails_) return kNoHidHandle;
    ++opens_;
    openedPaths_.push_back(path);
    open_[nextHandle_] = path;
    return nextHandle_++;
}

HidIoResult SimPedometerTransport::Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end() || report == nullptr || size == 0) return {};
    if (it->second == kDevicePath && !device_->Plugged()) return {};
    if (it->second != kDevicePath || replies_.empty() || Later(replies_.front().due, now_ + milliseconds)) {
        now_ += milliseconds;
        return {HidStatus::TimedOut, 0};
    }
    const std::size_t bytes = std::min(size, inputLength_);
    if (bytes < 1) return {};
    const Pending next = replies_.front();
    replies_.pop_front();
    if (Later(next.due, now_)) now_ = next.due;
    std::fill(report, report + size, BYTE{0});
    std::copy_n(next.reply.begin(), std::min(bytes - 1, next.reply.size()), report + 1);
    return {HidStatus::Ok, bytes};
}

HidIoResult SimPedometerTransport::Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD) {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end() || report == nullptr || size != outputLength_) return {};
    if (it->second == kDecoyPath) return {HidStatus::Ok, size};
    if (!device_->Plugged()) return {};
    SimReport request{};
    std::copy_n(report + 1, std::min(size - 1, request.size()), request.begin());
    const SimAnswer answer = device_->Receive(request);
    if (answer.link == SimAnswer::Link::IoError) return {};
    if (answer.link == SimAnswer::Link::Reply) {
        // A device busy with a late reply answers after it.
        DWORD due = now_ + answer.delayMs;
        if (!replies_.empty() && Later(replies_.back().due, due)) due = replies_.back().due;
        replies_.push_back({due, answer.reply});
    }
    return {HidStatus::Ok, size};
}

void SimPedometerTransport::Close(HidHandle handle) {
    std::lock_guard guard(lock_);
    if (open_.erase(handle) > 0) ++closes_;
}
