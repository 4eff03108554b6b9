#include "HidChannel.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "Hooks.h"
#include "VepResult.h"

namespace {

constexpr DWORD kWriteTimeout = 500;
constexpr std::size_t kFeatureLength = 3;  // id, speed code, second byte

}  // namespace

HidChannel::~HidChannel() { Close(); }

int HidChannel::OpenIndex(int index, int vendorId, int productId) {
    Close();
    transport_ = Hooks().hidTransport;
    if (!transport_ || index < 0) return -1;
    const std::vector<HidDeviceInfo> devices = transport_->Enumerate();
    if (static_cast<std::size_t>(index) >= devices.size()) return -1;
    const HidDeviceInfo& device = devices[static_cast<std::size_t>(index)];
    if (device.vendorId != vendorId || device.productId != productId) return 0;
    handle_ = transport_->Open(device.path);
    if (handle_ == kNoHidHandle) return 0;
    device_ = device;
    return 1;
}

bool HidChannel::Usable() const {
    return IsOpen() && device_.inputReportLength >= kMinReportLength && device_.outputReportLength >= kMinReportLength;
}

void HidChannel::Close() {
    if (handle_ != kNoHidHandle && transport_) transport_->Close(handle_);
    handle_ = kNoHidHandle;
    kept_.clear();
}

int HidChannel::Write(const BYTE* bytes, std::size_t length) {
    if (!Usable()) return vep::kWriteFailed;
    std::vector<BYTE> report(device_.outputReportLength);
    for (std::size_t at = 0; at < length; at += kDataPerReport) {
        const std::size_t chunk = std::min(kDataPerReport, length - at);
        std::fill(report.begin(), report.end(), BYTE{0});
        report[1] = static_cast<BYTE>(chunk);
        for (std::size_t i = 0; i < chunk; ++i) report[2 + i] = bytes[at + i];
        const HidIoResult io = transport_->Write(handle_, report.data(), report.size(), kWriteTimeout);
        if (io.status != HidStatus::Ok || io.bytes != report.size()) return vep::kWriteFailed;
    }
    return vep::kOk;
}

int HidChannel::Read(BYTE* out, std::size_t length, DWORD milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (bool first = true; kept_.size() < length; first = false) {
        // Rounded up, so a read never gives up before its time.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // Reports without data bytes must not keep a read going past its time.
        if (!first && left.count() <= 0) return vep::kTimedOut;
        const int result = ReadReport(static_cast<DWORD>(std::max<long long>(0, left.count())));
        if (result != vep::kOk) return result;
    }
    std::copy_n(kept_.begin(), length, out);
    kept_.erase(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(length));
    return vep::kOk;
}

std::vector<BYTE> HidChannel::TakeKept() {
    std::vector<BYTE> kept(kept_.begin(), kept_.end());
    kept_.clear();
    return kept;
}

bool HidChannel::DropUntilQuiet(DWORD milliseconds, std::size_t mostReports) {
    for (std::size_t dropped = 0;; ++dropped) {
        kept_.clear();
        const int result = ReadReport(milliseconds);
        if (result == vep::kTimedOut) return true;
        if (result != vep::kOk || dropped == mostReports) return false;
    }
}

int HidChannel::ReadReport(DWORD milliseconds) {
    if (!Usable()) return vep::kReadFailed;
    std::vector<BYTE> report(device_.inputReportLength);
    const HidIoResult io = transport_->Read(handle_, report.data(), report.size(), milliseconds);
    if (io.status == HidStatus::TimedOut) return vep::kTimedOut;
    if (io.status != HidStatus::Ok || io.bytes < 2) return vep::kReadFailed;
    const std::size_t count = report[1];
    if (count > kDataPerReport || 2 + count > io.bytes) return vep::kReadFailed;
    kept_.insert(kept_.end(), report.begin() + 2, report.begin() + 2 + static_cast<std::ptrdiff_t>(count));
    return vep::kOk;
}

int HidChannel::SetFeature(BYTE code, BYTE second) {
    if (!IsOpen() || device_.featureReportLength < kFeatureLength) return vep::kWriteFailed;
    std::vector<BYTE> report(device_.featureReportLength);
    report[1] = code;
    report[2] = second;
    const HidIoResult io = transport_->SetFeature(handle_, report.data(), report.size());
    return io.status == HidStatus::Ok ? vep::kOk : vep::kWriteFailed;
}
