// A work file the procedures write into the current folder ("down.dat", "week.dat"
// ...): created anew, written in binary, closed when the object goes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "WinTypes.h"

class VepWorkFile {
public:
    static constexpr std::size_t kHeaderLength = 256;
    static constexpr std::size_t kProfileOffset = 16;
    static constexpr std::size_t kProfileLength = 14;

    // The head of a readings file: the number of readings at 0, a second value at 2 and
    // the serial value at 4 (each little-endian), the profile response (null: none) at 16.
    static std::array<BYTE, kHeaderLength> ReadingsHeader(int count, int second, int serial, const BYTE* profile);

    explicit VepWorkFile(const std::string& name);

    bool IsOpen() const { return file_ != nullptr; }
    // Whether all length bytes were written.
    bool Write(const BYTE* bytes, std::size_t length);
    // Overwrites what was written at offset; later writes go on at the end.
    bool WriteAt(long offset, const BYTE* bytes, std::size_t length);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};
