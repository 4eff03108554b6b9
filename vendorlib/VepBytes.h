// Little-endian values of the work-file heads and the monitor's minute stamps (the
// protocol's big-endian counts are read with Be16 of VepFrame.h).
#pragma once

#include <cstdint>

#include "WinTypes.h"

inline int Le16(const BYTE* at) { return at[0] | (at[1] << 8); }

inline void PutLe16(BYTE* at, int value) {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>((value >> 8) & 0xFF);
}

inline std::uint32_t Le32(const BYTE* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (std::uint32_t{at[3]} << 24);
}

inline void PutLe32(BYTE* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}
