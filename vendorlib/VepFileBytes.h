// A whole file in memory, for the decoders that read the work files and the monitor's
// own files: they bound every read by the bytes actually there.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WinTypes.h"

// False when the file cannot be opened or read to its end.
inline bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
    bytes.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}
