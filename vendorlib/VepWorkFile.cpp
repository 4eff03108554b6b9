#include "VepWorkFile.h"

VepWorkFile::VepWorkFile(const std::string& name) : file_(std::fopen(name.c_str(), "wb")) {}

bool VepWorkFile::Write(const BYTE* bytes, std::size_t length) {
    if (!file_) return false;
    return std::fwrite(bytes, 1, length, file_.get()) == length && std::fflush(file_.get()) == 0;
}
