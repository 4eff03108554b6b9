// A whole file in memory, for the decoders that read the work files and the monitor's
// own files, and for the model files: they bound every read by the bytes actually there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

// False when the file cannot be opened or read to its end, or holds more than limit
// bytes. Bytes is a std::vector<BYTE> or a std::string.
template <typename Bytes>
bool ReadWholeFile(const std::string& path, Bytes& bytes, std::size_t limit = SIZE_MAX) {
    bytes.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char chunk[4096];
    while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > limit - bytes.size()) return false;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return !in.bad();
}
