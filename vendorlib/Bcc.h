// The block check characters of the monitor's command protocol. A frame carries the
// XOR of its bytes from a start position (byte 4 after the command letters and their
// zero) to its end; a response ends in the XOR of its bytes from byte 3 up to the byte
// before the last.
#pragma once

#include <cstddef>

#include "WinTypes.h"

constexpr std::size_t kFrameBccStart = 4;
constexpr std::size_t kResponseBccStart = 3;

inline BYTE XorOf(const BYTE* bytes, std::size_t from, std::size_t to) {
    BYTE value = 0;
    for (std::size_t i = from; i < to; ++i) value ^= bytes[i];
    return value;
}

// The check byte of frame[0..length): XOR of its bytes from start to its end.
inline BYTE FrameBcc(const BYTE* frame, std::size_t length, std::size_t start = kFrameBccStart) {
    return XorOf(frame, start, length);
}

// Whether response[0..length) ends in the XOR of its bytes from byte 3 to the one
// before its last; a response too short to hold one fails.
inline bool ResponseBccOk(const BYTE* response, std::size_t length) {
    if (length <= kResponseBccStart) return false;
    return XorOf(response, kResponseBccStart, length - 1) == response[length - 1];
}
