#include "SimMonitorTransport.h"

#include <algorithm>
#include <iterator>
#include <thread>

SimMonitorTransport::SimMonitorTransport(std::shared_ptr<SimMonitor> monitor) : monitor_(std::move(monitor)) {}

void SimMonitorTransport::SetDecoy(bool present) {
    std::lock_guard guard(lock_);
    decoy_ = present;
}

void SimMonitorTransport::SetReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard guard(lock_);
    replyDelay_ = delay;
}

void SimMonitorTransport::SetReportLengths(std::size_t input, std::size_t output, std::size_t feature) {
    std::lock_guard guard(lock_);
    inputLength_ = input;
    outputLength_ = output;
    featureLength_ = feature;
}

std::vector<std::vector<BYTE>> SimMonitorTransport::OutputReports() const {
    std::lock_guard guard(lock_);
    return outputReports_;
}

std::vector<std::vector<BYTE>> SimMonitorTransport::FeatureReports() const {
    std::lock_guard guard(lock_);
    return featureReports_;
}

int SimMonitorTransport::InputReports() const {
    std::lock_guard guard(lock_);
    return inputReports_;
}

int SimMonitorTransport::OpenHandles() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(open_.size());
}

std::chrono::nanoseconds SimMonitorTransport::ReadTime() const {
    std::lock_guard guard(lock_);
    return readTime_;
}

std::vector<HidDeviceInfo> SimMonitorTransport::Enumerate() {
    std::lock_guard guard(lock_);
    std::vector<HidDeviceInfo> devices;
    if (decoy_)
        devices.push_back({kDecoyPath, kVendorId, kDecoyProductId, inputLength_, outputLength_, featureLength_});
    if (monitor_->Plugged())
        devices.push_back({kAdapterPath, kVendorId, kProductId, inputLength_, outputLength_, featureLength_});
    return devices;
}

HidHandle SimMonitorTransport::Open(const std::string& path) {
    std::lock_guard guard(lock_);
    const bool present = (path == kAdapterPath && monitor_->Plugged()) || (path == kDecoyPath && decoy_);
    if (!present) return kNoHidHandle;
    open_[nextHandle_] = {path, {}, {}};
    return nextHandle_++;
}

HidIoResult SimMonitorTransport::Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock guard(lock_);
    const HidIoResult result = ReadLocked(guard, handle, report, size, milliseconds);
    readTime_ += std::chrono::steady_clock::now() - start;
    return result;
}

HidIoResult SimMonitorTransport::ReadLocked(std::unique_lock<std::mutex>& guard, HidHandle handle, BYTE* report,
                                            std::size_t size, DWORD milliseconds) {
    auto it = open_.find(handle);
    if (it == open_.end() || report == nullptr || size < 2) return {};
    if (!IsAdapter(it->second)) return {HidStatus::TimedOut, 0};  // nothing behind the decoy answers
    if (!monitor_->Plugged()) return {};
    if (!it->second.frame.empty()) {
        const std::vector<BYTE> frame = std::move(it->second.frame);
        it->second.frame.clear();
        guard.unlock();
        const SimMonitorAnswer answer = monitor_->Receive(frame);
        guard.lock();
        if ((it = open_.find(handle)) == open_.end()) return {};
        QueueAnswer(it->second, answer);
    }
    if (it->second.input.empty()) return {HidStatus::TimedOut, 0};
    if (const auto due = it->second.input.front().due; due > std::chrono::steady_clock::now()) {
        if (due > std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds))
            return {HidStatus::TimedOut, 0};
        guard.unlock();
        std::this_thread::sleep_until(due);
        guard.lock();
        if ((it = open_.find(handle)) == open_.end() || it->second.input.empty()) return {};
    }
    if (it->second.input.front().late > 0) {
        --it->second.input.front().late;
        return {HidStatus::TimedOut, 0};
    }
    if (const std::uint64_t ticket = it->second.input.front().holdTicket; ticket != 0) {
        guard.unlock();
        const bool released = monitor_->AwaitRelease(ticket, std::chrono::milliseconds(milliseconds));
        guard.lock();
        if (!released) return {HidStatus::TimedOut, 0};
        if ((it = open_.find(handle)) == open_.end() || it->second.input.empty()) return {};
    }
    const std::vector<BYTE> bytes = std::move(it->second.input.front().bytes);
    it->second.input.pop_front();
    const std::size_t length = std::min(size, inputLength_);
    std::fill(report, report + size, BYTE{0});
    std::copy_n(bytes.begin(), std::min(length, bytes.size()), report);
    ++inputReports_;
    return {HidStatus::Ok, length};
}

HidIoResult SimMonitorTransport::Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD) {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end() || report == nullptr || size != outputLength_ || size < 2) return {};
    outputReports_.emplace_back(report, report + size);
    if (!IsAdapter(it->second)) return {HidStatus::Ok, size};
    if (!monitor_->Plugged()) return {};
    const std::size_t count = report[1];
    if (count < 1 || count + 2 > size) return {};
    it->second.frame.insert(it->second.frame.end(), report + 2, report + 2 + count);
    return {HidStatus::Ok, size};
}

HidIoResult SimMonitorTransport::SetFeature(HidHandle handle, const BYTE* report, std::size_t size) {
    std::lock_guard guard(lock_);
    const auto it = open_.find(handle);
    if (it == open_.end() || report == nullptr || size != featureLength_) return {};
    if (it->second.path == kAdapterPath && !monitor_->Plugged()) return {};
    featureReports_.emplace_back(report, report + size);
    return {HidStatus::Ok, size};
}

void SimMonitorTransport::Close(HidHandle handle) {
    std::lock_guard guard(lock_);
    open_.erase(handle);
}

void SimMonitorTransport::QueueAnswer(OpenDevice& device, const SimMonitorAnswer& answer) const {
    const auto due = std::chrono::steady_clock::now() + replyDelay_;
    QueueReports(device, answer, due);
    if (answer.twice) QueueReports(device, answer, due + answer.repeatAfter);
}

// Reports of [0, count, up to 7 data bytes], behind those due before them; a bad count
// shows in the first.
void SimMonitorTransport::QueueReports(OpenDevice& device, const SimMonitorAnswer& answer,
                                       std::chrono::steady_clock::time_point due) const {
    auto place = std::find_if(device.input.begin(), device.input.end(),
                              [&](const InputReport& r) { return r.due > due; });
    for (std::size_t at = 0; at < answer.bytes.size(); at += 7) {
        const std::size_t count = std::min<std::size_t>(7, answer.bytes.size() - at);
        InputReport input{std::vector<BYTE>(std::max<std::size_t>(inputLength_, 2 + count)), 0};
        input.bytes[1] = static_cast<BYTE>(at == 0 && answer.badCount ? 8 : count);
        std::copy_n(answer.bytes.begin() + static_cast<std::ptrdiff_t>(at), count, input.bytes.begin() + 2);
        if (at == 0) input.holdTicket = answer.holdTicket;
        if (at == 0 && answer.late) input.late = 2;
        input.due = due;
        place = std::next(device.input.insert(place, std::move(input)));
    }
}

bool SimMonitorTransport::IsAdapter(const OpenDevice& device) const { return device.path == kAdapterPath; }
