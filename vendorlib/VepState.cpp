#include "VepState.h"

#include <algorithm>
#include <cstring>

void VepState::ResetProgress() {
    size_ = 0;
    count_ = 0;
    progress_ = 0;
}

void VepState::SetSize(int size) {
    size_ = size;
    UpdateProgress();
}

void VepState::SetCount(int count) {
    count_ = count;
    UpdateProgress();
}

int VepState::ReadingsToFetch(int count) {
    const int kept = std::min(count, static_cast<int>(VepRecords::kCapacity));
    if (kept < count) trace.Line("data count %d, the newest %d asked for", count, kept);
    return kept;
}

int VepState::Status() const {
    if (thCnt > 0) return 1;
    return thStatus != 0 ? -1 : 0;
}

void VepState::SetDeviceInfo(std::size_t offset, const BYTE* bytes, std::size_t size) {
    if (bytes == nullptr || offset >= deviceInfo.size()) return;
    std::memcpy(deviceInfo.data() + offset, bytes, std::min(size, deviceInfo.size() - offset));
}

void VepState::UpdateProgress() {
    const long long size = size_;
    const long long percent = size != 0 ? count_ * 100LL / size : 100;
    progress_ = static_cast<int>(std::clamp(percent, 0LL, 100LL));
}
