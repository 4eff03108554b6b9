// Reading the small files of a device tree, a mounts table or a plugged-in volume. Their
// folders come from settings a user can point anywhere, or from a drive anyone can plug
// in, so a name may lead to an endless file (a link to /dev/zero), a FIFO whose open
// would wait for a writer for ever, or a huge file: only regular files are read, and
// only up to a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

enum class FileReadResult {
    Ok,
    Missing,     // no such file
    NotRegular,  // a folder, FIFO, device or socket
    TooLarge,    // more than the bound; the bytes hold its first part
    Failed,      // could not be opened or read
    Stopped,     // stop answered true between two chunks; the bytes are empty
    OffVolume,   // a link, or a file of another file system than the volume's
};

// The whole file, at most maxBytes of it. The name is looked at before the open, the
// open never blocks, and what it opened is looked at again, so a FIFO or a device put
// in the file's place is refused, never waited on. stop, when set, is asked before
// each chunk.
FileReadResult ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& bytes,
                               const std::function<bool()>& stop = {});
FileReadResult ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes,
                               std::vector<std::uint8_t>& bytes, const std::function<bool()>& stop = {});

// The same for a file of a plugged-in volume, read only when it is the volume's own: a name
// on such a volume may lead, through a link, to any file of the user's. Its last name is
// opened without following a link, and what was opened must be a regular file on the
// volume's file system, so nothing put in its place meanwhile is read either.
FileReadResult ReadVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume,
                              std::size_t maxBytes, std::string& bytes, const std::function<bool()>& stop = {});
FileReadResult ReadVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume,
                              std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                              const std::function<bool()>& stop = {});

// At most maxBytes of the file; "" when it is not a regular file or cannot be read.
std::string ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes);
// The first line of the file (read as above), without its line end.
std::string FirstLineOf(const std::filesystem::path& file, std::size_t maxBytes);

// Writes size bytes over the start of an existing file of a plugged-in volume, in place. A
// name on such a volume may lead, through a link, to any file of the user's: a link as the
// last name, anything but a regular file, or a file on another file system than volume's is
// refused unwritten. False when refused or when the write fails.
bool OverwriteVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume, const void* bytes,
                         std::size_t size);
