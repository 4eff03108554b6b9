// The monitor's settings as the library's callers read and write them: a 220-byte block
// whose layout every link fills the same way. Texts are NUL-terminated within their
// fields; integers are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "VepDate.h"
#include "WinTypes.h"

class VepSettingsBlock {
public:
    static constexpr std::size_t kSize = 220;

    // Offsets and field sizes.
    static constexpr std::size_t kPatientName1 = 0;
    static constexpr std::size_t kPatientName2 = 16;
    static constexpr std::size_t kPatientId = 32;
    static constexpr std::size_t kDoctorId = 48;
    static constexpr std::size_t kTextField = 16;
    static constexpr std::size_t kClockDate = 64;
    static constexpr std::size_t kClockTime = 75;
    static constexpr std::size_t kEntryDate = 84;
    static constexpr std::size_t kEntryTime = 95;
    static constexpr std::size_t kDateField = 11;
    static constexpr std::size_t kTimeField = 9;
    static constexpr std::size_t kAdditionalFlag = 104;
    static constexpr std::size_t kBasicStartHour = 105;  // then start minute, end hour, end minute
    static constexpr std::size_t kIntervalIndex = 109;
    static constexpr std::size_t kAdditionalCount = 112;
    static constexpr std::size_t kNightCount = 116;
    static constexpr std::size_t kNightIntervalCount = 120;
    static constexpr std::size_t kSerialPortByte = 124;
    static constexpr std::size_t kSerialText = 125;
    static constexpr std::size_t kRevisionText = 141;
    static constexpr std::size_t kAdditionalFirst = 157;
    static constexpr std::size_t kAdditionalSecond = 165;
    static constexpr std::size_t kNightFlag = 173;
    static constexpr std::size_t kNightFirst = 174;
    static constexpr std::size_t kNightSecond = 178;
    static constexpr std::size_t kNightIntervalFirst = 182;
    static constexpr std::size_t kNightIntervalSecond = 186;
    static constexpr std::size_t kNewestDate = 190;
    static constexpr std::size_t kNewestTime = 201;
    static constexpr std::size_t kTotalCount = 212;
    static constexpr std::size_t kValidCount = 216;

    static constexpr int kAdditionalPairs = 8;
    static constexpr int kNightPairs = 4;
    static constexpr BYTE kUnused = 0xFF;

    // Minutes of an interval index: 0 for an index outside the table.
    static int IntervalMinutes(int index);
    // The first index with those minutes; 0 when none has them.
    static int IntervalIndex(int minutes);

    void Clear() { bytes_.fill(0); }
    std::array<BYTE, kSize>& Bytes() { return bytes_; }
    const std::array<BYTE, kSize>& Bytes() const { return bytes_; }

    BYTE Byte(std::size_t offset) const { return bytes_[offset]; }
    void SetByte(std::size_t offset, BYTE value) { bytes_[offset] = value; }
    std::int32_t Int(std::size_t offset) const;
    void SetInt(std::size_t offset, std::int32_t value);

    // The text of a 16-byte field, up to its NUL (at most 15 bytes).
    std::string Text(std::size_t offset) const;
    // At most limit bytes of text, never more than the field holds with its NUL.
    void SetText(std::size_t offset, const BYTE* text, std::size_t length, std::size_t limit);
    // A date (formats differ by field) or a time "%02d:%02d:%02d", cut to its field.
    void SetDate(std::size_t offset, const char* format, const VepDateTime& when);
    void SetTime(std::size_t offset, const VepDateTime& when);
    void ClearField(std::size_t offset, std::size_t size);

private:
    char* CharsAt(std::size_t offset) { return reinterpret_cast<char*>(bytes_.data() + offset); }

    std::array<BYTE, kSize> bytes_{};
};
