#include "SerialMemory.h"

#include <algorithm>
#include <string>

#include "VepBytes.h"
#include "VepField.h"
#include "VepSettingsBlock.h"

namespace {

using Settings = VepSettingsBlock;

constexpr BYTE kUnused = Settings::kUnused;
constexpr std::size_t kNightPairsAt = 2;
constexpr std::size_t kStartAgainAt = 14;
constexpr int kAdditionalOn = 8;

// The text blocks: where each lands in the settings and how long it may be.
struct TextBlock {
    int number;
    std::size_t offset;
    std::size_t limit;
};
constexpr TextBlock kTextBlocks[] = {
    {0, Settings::kPatientName1, 15}, {1, Settings::kPatientName2, 15}, {2, Settings::kPatientId, 13},
    {4, Settings::kDoctorId, 8},      {5, Settings::kSerialText, 15},
};

const TextBlock* TextBlockOf(int number) {
    for (const TextBlock& text : kTextBlocks) {
        if (text.number == number) return &text;
    }
    return nullptr;
}

int Window(const BYTE* at) { return at[0] | (at[1] << 8); }

// Minutes after midnight as an hour and a minute byte.
void PutClockBytes(Settings& settings, std::size_t offset, int minutes) {
    settings.SetByte(offset, static_cast<BYTE>(minutes / 60));
    settings.SetByte(offset + 1, static_cast<BYTE>(minutes % 60));
}

// Pairs whose bytes are packed decimals (none above 0x7F) go on from the first entry;
// the rest of the entries are unused.
void DecodePairs(const BYTE* data, int pairs, std::size_t first, std::size_t second, std::size_t countOffset,
                 Settings& settings) {
    int count = 0;
    for (int i = 0; i < pairs; ++i) {
        const BYTE a = data[2 * i];
        const BYTE b = data[2 * i + 1];
        if (a > 0x7F || b > 0x7F) continue;
        settings.SetByte(first + static_cast<std::size_t>(count), static_cast<BYTE>(FromBcd(a)));
        settings.SetByte(second + static_cast<std::size_t>(count), static_cast<BYTE>(FromBcd(b)));
        ++count;
    }
    for (int i = count; i < pairs; ++i) {
        settings.SetByte(first + static_cast<std::size_t>(i), kUnused);
        settings.SetByte(second + static_cast<std::size_t>(i), kUnused);
    }
    settings.SetInt(countOffset, count);
}

void EncodePair(BYTE* at, BYTE a, BYTE b) {
    const bool unused = a == kUnused || b == kUnused;
    at[0] = unused ? kUnused : ToBcd(a);
    at[1] = unused ? kUnused : ToBcd(b);
}

void EncodePairs(BYTE* at, const Settings& settings, std::size_t countOffset, int most, std::size_t first,
                 std::size_t second) {
    const int count = std::clamp<int>(settings.Int(countOffset), 0, most);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        EncodePair(at + 2 * index, settings.Byte(first + index), settings.Byte(second + index));
    }
}

void DecodeDoctorStamp(const BYTE* data, Settings& settings) {
    const std::uint32_t stamp = Le32(data + SerialMemory::kStampByte);
    if (stamp == 0) {
        settings.ClearField(Settings::kEntryDate, Settings::kDateField);
        settings.ClearField(Settings::kEntryTime, Settings::kTimeField);
        return;
    }
    const VepDateTime entry = FromMinuteStamp(stamp);
    settings.SetDate(Settings::kEntryDate, "%d/%02d/%02d", entry);
    settings.SetTime(Settings::kEntryTime, entry);
}

}  // namespace

VepDateTime SerialMemory::DecodeStatus(const BYTE* status, VepSettingsBlock& settings) {
    const int index = std::max(1, status[8] - 3);
    settings.SetByte(Settings::kIntervalIndex, static_cast<BYTE>(index));
    const int interval = Settings::IntervalMinutes(index);  // an index past the table is no interval
    if (status[3] != kUnused && status[4] != kUnused) {
        PutClockBytes(settings, Settings::kBasicStartHour, std::max(0, Window(status + 2) - (interval + 1) / 2));
    } else {
        settings.SetByte(Settings::kBasicStartHour, kUnused);
        settings.SetByte(Settings::kBasicStartHour + 1, kUnused);
    }
    if (status[6] != kUnused && status[7] != kUnused) {
        PutClockBytes(settings, Settings::kBasicStartHour + 2, Window(status + 6));
    } else {
        settings.SetByte(Settings::kBasicStartHour + 2, kUnused);
        settings.SetByte(Settings::kBasicStartHour + 3, kUnused);
    }
    settings.SetByte(Settings::kAdditionalFlag, status[11] == kAdditionalOn ? 1 : 0);
    settings.SetByte(Settings::kNightFlag, status[9] == 1 ? 1 : 0);
    settings.SetByte(Settings::kSerialPortByte, status[kKeptStatusByte]);
    VepDateTime clock;
    clock.hour = FromBcd(status[12]);
    clock.minute = FromBcd(status[13]);
    clock.day = FromBcd(status[14]);
    clock.month = FromBcd(status[15]);
    settings.SetTime(Settings::kClockTime, clock);  // the monitor keeps no seconds
    return clock;
}

SerialMemory::Block SerialMemory::EncodeStatus(const VepSettingsBlock& settings, const VepDateTime& now) {
    Block status{};
    status[0] = 0x80;
    status[1] = 0x00;
    status[4] = 0x89;
    status[5] = 0x67;
    const BYTE index = settings.Byte(Settings::kIntervalIndex);
    const std::size_t start = Settings::kBasicStartHour;
    if (settings.Byte(start) == kUnused) {
        std::fill_n(status.begin() + 2, 2, kUnused);
        std::fill_n(status.begin() + 6, 2, kUnused);
    } else {
        const int interval = Settings::IntervalMinutes(index);
        PutLe16(status.data() + 2, settings.Byte(start) * 60 + settings.Byte(start + 1) + (interval + 1) / 2);
        PutLe16(status.data() + 6, settings.Byte(start + 2) * 60 + settings.Byte(start + 3));
    }
    status[8] = static_cast<BYTE>(index + 3);
    status[9] = settings.Byte(Settings::kNightFlag);
    status[kKeptStatusByte] = settings.Byte(Settings::kSerialPortByte);
    status[11] = settings.Byte(Settings::kAdditionalFlag) != 0 ? kAdditionalOn : 0;
    SetStatusClock(status.data(), now);
    return status;
}

void SerialMemory::SetStatusClock(BYTE* status, const VepDateTime& now) {
    status[kClockStatusByte] = ToBcd(now.hour);
    status[kClockStatusByte + 1] = ToBcd(now.minute);
    status[kClockStatusByte + 2] = ToBcd(now.day);
    status[kClockStatusByte + 3] = ToBcd(now.month);
}

void SerialMemory::DecodeBlock(int number, const BYTE* data, VepSettingsBlock& settings) {
    if (const TextBlock* text = TextBlockOf(number)) {
        settings.SetText(text->offset, data + 1, data[0], text->limit);
        if (number == kDoctorBlock) DecodeDoctorStamp(data, settings);
        return;
    }
    switch (number) {
        case 6:
            DecodePairs(data, Settings::kAdditionalPairs, Settings::kAdditionalFirst, Settings::kAdditionalSecond,
                        Settings::kAdditionalCount, settings);
            break;
        case 7:
            DecodePairs(data + kNightPairsAt, Settings::kNightPairs, Settings::kNightFirst, Settings::kNightSecond,
                        Settings::kNightCount, settings);
            break;
        case 8:
            // The monitor keeps no night intervals.
            for (int i = 0; i < Settings::kNightPairs; ++i) {
                settings.SetByte(Settings::kNightIntervalFirst + static_cast<std::size_t>(i), kUnused);
                settings.SetByte(Settings::kNightIntervalSecond + static_cast<std::size_t>(i), kUnused);
            }
            settings.SetInt(Settings::kNightIntervalCount, 0);
            break;
        default: break;
    }
}

SerialMemory::Block SerialMemory::EncodeBlock(int number, const VepSettingsBlock& settings, std::uint32_t stamp) {
    Block block;
    block.fill(kUnused);
    if (const TextBlock* text = TextBlockOf(number)) {
        const std::string value = settings.Text(text->offset);
        const std::size_t length = std::min(value.size(), text->limit);
        block[0] = static_cast<BYTE>(length);
        std::copy_n(value.begin(), length, block.begin() + 1);
        if (number == kDoctorBlock) PutLe32(block.data() + kStampByte, stamp);
    } else if (number == 6) {
        EncodePairs(block.data(), settings, Settings::kAdditionalCount, Settings::kAdditionalPairs,
                    Settings::kAdditionalFirst, Settings::kAdditionalSecond);
    } else if (number == 7) {
        const std::size_t start = Settings::kBasicStartHour;
        EncodePair(block.data(), settings.Byte(start), settings.Byte(start + 1));
        EncodePair(block.data() + kStartAgainAt, settings.Byte(start), settings.Byte(start + 1));
        EncodePairs(block.data() + kNightPairsAt, settings, Settings::kNightCount, Settings::kNightPairs,
                    Settings::kNightFirst, Settings::kNightSecond);
    }
    return block;
}
