#include "SmallFile.h"

#include <fstream>
#include <system_error>

std::string ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return {};
    std::ifstream in(file, std::ios::binary);
    std::string bytes(maxBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(maxBytes));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::string FirstLineOf(const std::filesystem::path& file, std::size_t maxBytes) {
    std::string text = ReadSmallFile(file, maxBytes);
    text.resize(std::min(text.find('\n'), text.size()));
    return text;
}
