// Byte helpers the simulated monitor's personalities share.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "WinTypes.h"

namespace simbytes {

inline BYTE Xor(const std::vector<BYTE>& bytes, std::size_t from, std::size_t to) {
    BYTE value = 0;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) value ^= bytes[i];
    return value;
}

// Element by element: GCC 12 takes a bulk insert behind a short vector for an overrun.
inline void Append(std::vector<BYTE>& to, const std::vector<BYTE>& bytes) {
    for (BYTE b : bytes) to.push_back(b);
}

inline std::vector<BYTE> Text(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<BYTE> Be16(int value) { return {static_cast<BYTE>(value >> 8), static_cast<BYTE>(value & 0xFF)}; }

inline std::vector<BYTE> Ok() { return {'O', 'K'}; }
inline std::vector<BYTE> Ng() { return {'N', 'G'}; }
inline std::vector<BYTE> No() { return {'N', 'O'}; }

}  // namespace simbytes
