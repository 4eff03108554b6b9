// A command frame, built in a zeroed 32-byte buffer as the monitor's protocol has it,
// and the 32-byte buffer a response is read into.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "WinTypes.h"

using VepResponse = std::array<BYTE, 32>;

struct VepFrame {
    std::array<BYTE, 32> bytes{};
    std::size_t length = 0;

    // The command's letters ("PRF00"); a three-letter command is then followed by Add(0).
    static VepFrame Of(const char* command) {
        VepFrame frame;
        frame.length = std::min(std::strlen(command), frame.bytes.size());
        std::memcpy(frame.bytes.data(), command, frame.length);
        return frame;
    }
    // Bytes past the buffer are dropped: no frame of the protocol comes near it.
    VepFrame& Add(int value) {
        if (length < bytes.size()) bytes[length++] = static_cast<BYTE>(value);
        return *this;
    }
    VepFrame& AddBe16(int value) { return Add(value >> 8).Add(value & 0xFF); }
    // Zero bytes up to total: frames of a fixed size.
    VepFrame& PadTo(std::size_t total) {
        length = std::max(length, std::min(total, bytes.size()));
        return *this;
    }
};

inline int Be16(const VepResponse& response, std::size_t at) { return (response[at] << 8) | response[at + 1]; }
