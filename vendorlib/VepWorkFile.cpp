#include "VepWorkFile.h"

#include <algorithm>

#include "VepBytes.h"

std::array<BYTE, VepWorkFile::kHeaderLength> VepWorkFile::ReadingsHeader(int count, int second, int serial,
                                                                         const BYTE* profile) {
    std::array<BYTE, kHeaderLength> header{};
    PutLe16(header.data(), count);
    PutLe16(header.data() + 2, second);
    PutLe16(header.data() + 4, serial);
    if (profile != nullptr) std::copy_n(profile, kProfileLength, header.begin() + kProfileOffset);
    return header;
}

VepWorkFile::VepWorkFile(const std::string& name) : file_(std::fopen(name.c_str(), "wb")) {}

bool VepWorkFile::Write(const BYTE* bytes, std::size_t length) {
    if (!file_) return false;
    return std::fwrite(bytes, 1, length, file_.get()) == length && std::fflush(file_.get()) == 0;
}

bool VepWorkFile::WriteAt(long offset, const BYTE* bytes, std::size_t length) {
    if (!file_ || std::fseek(file_.get(), offset, SEEK_SET) != 0) return false;
    const bool written = Write(bytes, length);
    return std::fseek(file_.get(), 0, SEEK_END) == 0 && written;
}
