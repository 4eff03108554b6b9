// Reading the small text files of a device tree or a mounts table. Their folders come
// from settings a user can point anywhere, so a name may lead to an endless file (a link
// to /dev/zero) or a huge one: only regular files are read, and only up to a bound.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// At most maxBytes of the file; "" when it is not a regular file or cannot be read.
std::string ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes);
// The first line of the file (read as above), without its line end.
std::string FirstLineOf(const std::filesystem::path& file, std::size_t maxBytes);
