#include "WalkingData.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VepBytes.h"
#include "VepFileBytes.h"
#include "VepModel.h"
#include "VepTrace.h"

namespace {

constexpr std::size_t kProfileOffset = 16;
constexpr unsigned kCountMask = 0x3FFF;
constexpr unsigned kFlagBit = 0x4000;
constexpr std::size_t kSecondFlags = 16;

// The device's value as its four hexadecimal digits read as a decimal number; a digit
// A..F ends the number, as the device's own software reads it.
std::int16_t HexAsDecimal(int value) {
    char digits[8];
    std::snprintf(digits, sizeof(digits), "%04X", static_cast<unsigned>(value) & 0xFFFF);
    return static_cast<std::int16_t>(std::strtol(digits, nullptr, 10));
}

// The raw hourly value of hour h, or 0 when the list has no offset for it or the
// offset lies outside the record.
unsigned HourlyValue(const std::vector<int>& offsets, std::size_t hour, std::span<const BYTE> raw) {
    if (hour >= offsets.size() || offsets[hour] < 0) return 0;
    const auto at = static_cast<std::size_t>(offsets[hour]);
    if (at + 2 > raw.size()) return 0;
    return (unsigned{raw[at]} << 8) | raw[at + 1];
}

}  // namespace

int WalkingData::DecodeFile(const std::string& path, const VepModelParams& model, VepTrace& trace,
                            const std::function<bool()>& stop, const std::string& volume) {
    Clear();
    std::vector<BYTE> file;
    const std::size_t bound = VepRecordsFileBound(model.dataStart, model.recLength, kVepMostRecords);
    const int read = ReadVepFile(path, file, bound, trace, stop, volume);
    if (read != 0) {
        trace.Line("file open err: %s", path.c_str());
        return read;
    }
    const int result = Decode(file, model, LocalNow());
    if (result != 0) trace.Line("walking file err: %s", path.c_str());
    return result;
}

void WalkingData::Clear() {
    head_ = {};
    records_.clear();
    count_ = 0;
    selected_ = 0;
}

int WalkingData::Decode(std::span<const BYTE> file, const VepModelParams& model, const VepDateTime& today) {
    Clear();
    if (file.size() < kProfileOffset) return -1;
    DecodeHead(file.subspan(kProfileOffset), model);
    const int n = Le16(file.data());
    const auto start = static_cast<std::size_t>(std::max(model.dataStart, 0));
    const auto length = static_cast<std::size_t>(std::max(model.recLength, 0));
    const bool little = model.dataType != 0;
    for (int i = 0; i < n && records_.size() < kCapacity; ++i) {
        const std::size_t at = start + static_cast<std::size_t>(i) * length;
        if (length == 0 || at + length > file.size()) {
            Clear();  // a file shorter than its count hands out nothing
            return -1;
        }
        const auto raw = file.subspan(at, length);
        if (ReadField(model.wdNwalk, raw, little) == 0) continue;
        records_.push_back(DecodeDay(raw, model, AddDays(today, -i)));
    }
    count_ = static_cast<int>(records_.size());
    return 0;
}

void WalkingData::DecodeHead(std::span<const BYTE> profile, const VepModelParams& model) {
    const auto spec = static_cast<std::size_t>(std::max(model.wpSpec.offset, 0));
    if (spec + 2 <= profile.size()) {
        head_.spec[0] = profile[spec];
        head_.spec[1] = profile[spec + 1];
    }
    const bool little = model.dataType != 0;
    head_.height = HexAsDecimal(ReadField(model.wpHeight, profile, little));
    head_.weight = HexAsDecimal(ReadField(model.wpWeight, profile, little));
    head_.stride = HexAsDecimal(ReadField(model.wpStride, profile, little));
}

str_np_data WalkingData::DecodeDay(std::span<const BYTE> raw, const VepModelParams& model,
                                   const VepDateTime& date) const {
    str_np_data d{};
    FormatDate(d.date, sizeof(d.date), "%4d/%02d/%02d", date);
    const bool little = model.dataType != 0;
    d.nwalk = ReadField(model.wdNwalk, raw, little);
    d.nwalks = ReadField(model.wdNwalks, raw, little);
    d.twalks = ReadField(model.wdTwalks, raw, little);
    d.carorie = ReadField(model.wdCarorie, raw, little);
    d.distance = ReadField(model.wdDistance, raw, little);
    d.fatBurn = ReadField(model.wdFatBurn, raw, little);
    d.daySerial = ReadField(model.wdDaySerial, raw, little) & 0x7FFF;
    for (std::size_t h = 0; h < kVepHours; ++h) {
        const unsigned first = HourlyValue(model.wdTmNwalk, h, raw);
        const unsigned second = HourlyValue(model.wdTmNwalks, h, raw);
        d.tmNwalk[h] = static_cast<std::uint16_t>(first & kCountMask);
        d.tmNwalks[h] = static_cast<std::uint16_t>(second & kCountMask);
        d.tmNwalkFlag[h] = ((first & kFlagBit) != 0 || d.tmNwalk[h] != 0) ? 1 : 0;
        if (h < kSecondFlags) d.tmNwalksFlag[h] = (second & kFlagBit) != 0 ? 1 : 0;
    }
    return d;
}

bool WalkingData::Select(int index) {
    if (index < 0 || index >= Count()) return false;
    selected_ = index;
    return true;
}

bool WalkingData::CopySelected(str_np_data& out) const {
    if (records_.empty()) return false;
    constexpr std::size_t kKept = sizeof(out.reserved);
    std::memcpy(reinterpret_cast<BYTE*>(&out) + kKept,
                reinterpret_cast<const BYTE*>(&records_[static_cast<std::size_t>(selected_)]) + kKept,
                sizeof(out) - kKept);
    return true;
}
