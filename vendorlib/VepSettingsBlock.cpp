#include "VepSettingsBlock.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::array<int, 10> kIntervalMinutes{0, 10, 15, 20, 30, 60, 120, 180, 240, 360};
}  // namespace

int VepSettingsBlock::IntervalMinutes(int index) {
    if (index < 0 || index >= static_cast<int>(kIntervalMinutes.size())) return 0;
    return kIntervalMinutes[static_cast<std::size_t>(index)];
}

int VepSettingsBlock::IntervalIndex(int minutes) {
    const auto it = std::find(kIntervalMinutes.begin(), kIntervalMinutes.end(), minutes);
    return it == kIntervalMinutes.end() ? 0 : static_cast<int>(it - kIntervalMinutes.begin());
}

std::int32_t VepSettingsBlock::Int(std::size_t offset) const {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{bytes_[offset + i]} << (8 * i);
    return static_cast<std::int32_t>(value);
}

void VepSettingsBlock::SetInt(std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<BYTE>(bits >> (8 * i));
}

std::string VepSettingsBlock::Text(std::size_t offset) const {
    const char* text = reinterpret_cast<const char*>(bytes_.data() + offset);
    return std::string(text, strnlen(text, kTextField - 1));
}

void VepSettingsBlock::SetText(std::size_t offset, const BYTE* text, std::size_t length, std::size_t limit) {
    ClearField(offset, kTextField);
    const std::size_t copied = std::min({length, limit, kTextField - 1});
    if (text != nullptr && copied > 0) std::memcpy(bytes_.data() + offset, text, copied);
}

void VepSettingsBlock::SetDate(std::size_t offset, const char* format, const VepDateTime& when) {
    FormatDate(CharsAt(offset), kDateField, format, when);
}

void VepSettingsBlock::SetTime(std::size_t offset, const VepDateTime& when) {
    FormatTime(CharsAt(offset), kTimeField, when);
}

void VepSettingsBlock::ClearField(std::size_t offset, std::size_t size) {
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), size, BYTE{0});
}
