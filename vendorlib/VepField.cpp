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

// The field's bits before any packed-decimal reading; 0 for a field outside the record.
unsigned FieldBits(const VepField& field, std::span<const BYTE> record, bool littleEndian) {
    if (field.size < 1 || field.size > 3 || field.offset < 0) return 0;
    if (static_cast<std::size_t>(field.offset) + static_cast<std::size_t>(field.size) > record.size()) return 0;
    const unsigned value = RawValue(field, record, littleEndian);
    return value != 0 ? BitsOf(value, field.startBit, field.bitLength) : 0;
}

}  // namespace

int ReadField(const VepField& field, std::span<const BYTE> record, bool littleEndian) {
    const unsigned value = FieldBits(field, record, littleEndian);
    if (value != 0 && field.bcd) return FromBcd(value);
    return static_cast<int>(value);
}

bool PackedDigitsValid(const VepField& field, std::span<const BYTE> record, bool littleEndian) {
    if (!field.bcd) return true;
    for (unsigned value = FieldBits(field, record, littleEndian); value != 0; value >>= 4) {
        if ((value & 0xF) > 9) return false;
    }
    return true;
}

BYTE ToBcd(int value) { return static_cast<BYTE>(((value / 10 % 10) << 4) | (value % 10)); }

int FromBcd(unsigned value) {
    int result = 0;
    int scale = 1;
    for (; value != 0; value >>= 4, scale *= 10) result += static_cast<int>(value & 0xF) * scale;
    return result;
}
