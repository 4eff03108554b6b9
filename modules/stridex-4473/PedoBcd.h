// The pedometer's packed-decimal data: two decimal digits per byte, high nibble first.
// Decoders for the module and the readers of its raw text, encoders for the simulated
// pedometer, so both sides state values and meet in the same bytes.
#pragma once

#include <cstdint>

namespace pedo {

using Byte = std::uint8_t;

constexpr int HighDigit(Byte b) { return b >> 4; }
constexpr int LowDigit(Byte b) { return b & 0x0F; }
constexpr Byte Nibbles(int high, int low) { return static_cast<Byte>(((high & 0x0F) << 4) | (low & 0x0F)); }
// The two digits of one byte as a number 0..99.
constexpr int BcdValue(Byte b) { return HighDigit(b) * 10 + LowDigit(b); }
// The last two decimal digits of value in one byte.
constexpr Byte ToBcd(int value) { return Nibbles((value / 10) % 10, value % 10); }
// The decimal digit of value at place (0 units, 1 tens, ...).
constexpr int DigitAt(int value, int place) {
    for (int i = 0; i < place; ++i) value /= 10;
    return value % 10;
}
// A number stored low pair first.
constexpr int BcdNumber(Byte low, Byte high) { return BcdValue(low) + BcdValue(high) * 100; }

// A raw data block (5 bytes) carries two five-digit numbers: the low one in bytes 0, 1
// and the low nibble of byte 2, the high one in byte 4, byte 3 and the high nibble of byte 2.
constexpr int RawLow(const Byte* block) { return BcdNumber(block[0], block[1]) + LowDigit(block[2]) * 10000; }
constexpr int RawHigh(const Byte* block) {
    return BcdValue(block[4]) * 1000 + BcdValue(block[3]) * 10 + HighDigit(block[2]);
}
inline void PutRawNumbers(Byte* block, int low, int high) {
    block[0] = ToBcd(low);
    block[1] = ToBcd(low / 100);
    block[2] = Nibbles(DigitAt(high, 0), DigitAt(low, 4));
    block[3] = ToBcd(high / 10);
    block[4] = ToBcd(high / 1000);
}

// Block 0 (and the settings block, which has the same layout): the unit flag (odd digit:
// metric) in the high nibble of byte 0, the step length in cm as byte 2 then the high
// nibble of byte 1, the weight as the low nibble of byte 4 then byte 3.
constexpr bool RawMetric(const Byte* block) { return (HighDigit(block[0]) & 1) != 0; }
constexpr int RawStepLength(const Byte* block) { return BcdValue(block[2]) * 10 + HighDigit(block[1]); }
constexpr int RawWeight(const Byte* block) { return LowDigit(block[4]) * 100 + BcdValue(block[3]); }
inline void PutRawBody(Byte* block, bool metric, int stepLength, int weight) {
    block[0] = Nibbles(metric ? 1 : 0, LowDigit(block[0]));
    block[1] = Nibbles(DigitAt(stepLength, 0), LowDigit(block[1]));
    block[2] = Nibbles(DigitAt(stepLength, 2), DigitAt(stepLength, 1));
    block[3] = Nibbles(DigitAt(weight, 1), DigitAt(weight, 0));
    block[4] = Nibbles(HighDigit(block[4]), DigitAt(weight, 2));
}

// A day record as the device answers a read-day-record request (reply bytes 0..5):
// steps in bytes 0, 1 and the high nibble of byte 3; calories / 10 in bytes 4, 5 with
// the last digit in the low nibble of byte 3.
struct DayRecord {
    int steps = 0;
    int calories = 0;
};

// Whether every digit the day record's decoding reads (bytes 0, 1, 3, 4, 5) is decimal.
constexpr bool DayRecordDigits(const Byte* reply) {
    for (const int at : {0, 1, 3, 4, 5}) {
        if (HighDigit(reply[at]) > 9 || LowDigit(reply[at]) > 9) return false;
    }
    return true;
}

constexpr DayRecord DecodeDayRecord(const Byte* reply) {
    return {BcdNumber(reply[0], reply[1]) + HighDigit(reply[3]) * 10000,
            BcdNumber(reply[4], reply[5]) * 10 + LowDigit(reply[3])};
}
inline void EncodeDayRecord(Byte* reply, const DayRecord& day) {
    reply[0] = ToBcd(day.steps);
    reply[1] = ToBcd(day.steps / 100);
    reply[2] = 0;
    reply[3] = Nibbles(DigitAt(day.steps, 4), DigitAt(day.calories, 0));
    reply[4] = ToBcd(day.calories / 10);
    reply[5] = ToBcd(day.calories / 1000);
}

}  // namespace pedo
