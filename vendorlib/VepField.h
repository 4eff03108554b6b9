// One field of a monitor's raw record, as a model file describes it, and its reader.
#pragma once

#include <cstddef>
#include <span>

#include "WinTypes.h"

struct VepField {
    int offset = 0;  // bytes from the start of the raw record
    int size = 0;    // 1, 2 or 3 bytes; any other size (0: the model has none) reads 0
    int startBit = 0;
    int bitLength = 0;  // 0: the whole value
    bool bcd = false;

    bool Present() const { return size > 0; }
};

// The field's value in record: big-endian, or little-endian for the models whose
// "data_type" says so, then shifted and masked, then read as packed decimal. A field
// that does not lie wholly inside record reads 0.
int ReadField(const VepField& field, std::span<const BYTE> record, bool littleEndian);
// Whether a packed-decimal field holds decimal digits only (0x1A is no number); a field
// of any other kind always does.
bool PackedDigitsValid(const VepField& field, std::span<const BYTE> record, bool littleEndian);

// Hexadecimal digits taken as decimal digits: 0x1234 gives 1234.
int FromBcd(unsigned value);
// A number of 0..99 as two packed decimal digits: 59 gives 0x59.
BYTE ToBcd(int value);
