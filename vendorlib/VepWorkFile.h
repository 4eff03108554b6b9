// A work file the procedures write into the current folder ("down.dat", "week.dat"
// ...): created anew, written in binary, closed when the object goes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "WinTypes.h"

class VepWorkFile {
public:
    explicit VepWorkFile(const std::string& name);

    bool IsOpen() const { return file_ != nullptr; }
    // Whether all length bytes were written.
    bool Write(const BYTE* bytes, std::size_t length);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};
