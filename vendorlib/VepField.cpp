#include "VepField.h"

namespace {

unsigned RawValue(const VepField& field, std::span<const BYTE> record, bool littleEndian) {
    const auto first = static_cast<std::size_t>(field.offset);
    const auto size = static_cast<std::size_t>(field.size);
    unsigned value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t at = littleEndian ? first + size - 1 - i : first + i;
        value = (value << 8) | record[at];
    }
    return value;
}

unsigned BitsOf(unsigned value, int startBit, int bitLength) {
    if (bitLength <= 0) return value;
    if (startBit < 0 || startBit >= 32) return 0;
    value >>= startBit;
    return bitLength >= 32 ? value : value & ((1u << bitLength) - 1);
}

}  // namespace

int ReadField(const VepField& field, std::span<const BYTE> record, bool littleEndian) {
    if (field.size < 1 || field.size > 3 || field.offset < 0) return 0;
    if (static_cast<std::size_t>(field.offset) + static_cast<std::size_t>(field.size) > record.size()) return 0;
    unsigned value = RawValue(field, record, littleEndian);
    if (value != 0) value = BitsOf(value, field.startBit, field.bitLength);
    if (value != 0 && field.bcd) return FromBcd(value);
    return static_cast<int>(value);
}

BYTE ToBcd(int value) { return static_cast<BYTE>(((value / 10 % 10) << 4) | (value % 10)); }

int FromBcd(unsigned value) {
    int result = 0;
    int scale = 1;
    for (; value != 0; value >>= 4, scale *= 10) result += static_cast<int>(value & 0xF) * scale;
    return result;
}
