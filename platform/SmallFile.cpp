#include "SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kChunk = 64 * 1024;

class OpenFile {
public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

FileReadResult Missing() { return errno == ENOENT || errno == ENOTDIR ? FileReadResult::Missing : FileReadResult::Failed; }

// Reads until the end of the file, or one byte past maxBytes (which tells a larger file).
template <typename Bytes>
FileReadResult ReadAll(int fd, std::size_t maxBytes, Bytes& bytes, const std::function<bool()>& stop) {
    for (;;) {
        if (stop && stop()) return FileReadResult::Stopped;
        const std::size_t at = bytes.size();
        const std::size_t left = maxBytes - at;
        const std::size_t want = left == 0 ? 1 : std::min(kChunk, left);
        bytes.resize(at + want);
        const ssize_t got = ::read(fd, bytes.data() + at, want);
        bytes.resize(at + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return FileReadResult::Failed;
        if (got == 0) return FileReadResult::Ok;
        if (bytes.size() > maxBytes) {
            bytes.resize(maxBytes);
            return FileReadResult::TooLarge;
        }
    }
}

// Opens a file of a volume for flags, as OverwriteVolumeFile and ReadVolumeFile need it:
// looked at first (so that no device is ever opened in the normal case), opened without
// following a link, and what was opened looked at again, which decides.
FileReadResult OpenVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume, int flags,
                              int& fd) {
    fd = -1;
    struct stat root {};
    struct stat named {};
    if (::stat(volume.empty() ? "." : volume.c_str(), &root) != 0) return FileReadResult::Failed;
    if (::lstat(file.c_str(), &named) != 0) return Missing();
    if (S_ISLNK(named.st_mode)) return FileReadResult::OffVolume;
    if (!S_ISREG(named.st_mode)) return FileReadResult::NotRegular;
    fd = ::open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? FileReadResult::OffVolume : Missing();
    struct stat got {};
    if (::fstat(fd, &got) != 0) return FileReadResult::Failed;
    if (!S_ISREG(got.st_mode)) return FileReadResult::NotRegular;
    if (got.st_dev != root.st_dev) return FileReadResult::OffVolume;
    return FileReadResult::Ok;
}

// Opens a file for reading: the name is looked at first, so that no device is ever opened
// (an open alone may act on one), and what was opened again, as it may have been put in
// the name's place since.
FileReadResult OpenRegularFile(const std::filesystem::path& file, int& fd) {
    fd = -1;
    struct stat named {};
    if (::stat(file.c_str(), &named) != 0) return Missing();
    if (!S_ISREG(named.st_mode)) return FileReadResult::NotRegular;
    fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Missing();
    struct stat got {};
    if (::fstat(fd, &got) != 0) return FileReadResult::Failed;
    if (!S_ISREG(got.st_mode)) return FileReadResult::NotRegular;
    return FileReadResult::Ok;
}

// The whole file through open, which leaves its descriptor (or -1) in fd.
template <typename Bytes>
FileReadResult ReadOpened(const std::function<FileReadResult(int&)>& open, std::size_t maxBytes, Bytes& bytes,
                          const std::function<bool()>& stop) {
    bytes.clear();
    int fd = -1;
    const FileReadResult opened = open(fd);
    const OpenFile file(fd);
    if (opened != FileReadResult::Ok) return opened;
    const FileReadResult result = ReadAll(file.Fd(), maxBytes, bytes, stop);
    if (result == FileReadResult::Failed || result == FileReadResult::Stopped) bytes.clear();
    return result;
}

template <typename Bytes>
FileReadResult ReadInto(const std::filesystem::path& file, std::size_t maxBytes, Bytes& bytes,
                        const std::function<bool()>& stop) {
    return ReadOpened([&](int& fd) { return OpenRegularFile(file, fd); }, maxBytes, bytes, stop);
}

template <typename Bytes>
FileReadResult ReadVolumeInto(const std::filesystem::path& file, const std::filesystem::path& volume,
                              std::size_t maxBytes, Bytes& bytes, const std::function<bool()>& stop) {
    return ReadOpened([&](int& fd) { return OpenVolumeFile(file, volume, O_RDONLY, fd); }, maxBytes, bytes, stop);
}

}  // namespace

FileReadResult ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes, std::string& bytes,
                               const std::function<bool()>& stop) {
    return ReadInto(file, maxBytes, bytes, stop);
}

FileReadResult ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes,
                               std::vector<std::uint8_t>& bytes, const std::function<bool()>& stop) {
    return ReadInto(file, maxBytes, bytes, stop);
}

FileReadResult ReadVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume,
                              std::size_t maxBytes, std::string& bytes, const std::function<bool()>& stop) {
    return ReadVolumeInto(file, volume, maxBytes, bytes, stop);
}

FileReadResult ReadVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume,
                              std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                              const std::function<bool()>& stop) {
    return ReadVolumeInto(file, volume, maxBytes, bytes, stop);
}

std::string ReadSmallFile(const std::filesystem::path& file, std::size_t maxBytes) {
    std::string bytes;
    const FileReadResult result = ReadRegularFile(file, maxBytes, bytes);
    if (result != FileReadResult::Ok && result != FileReadResult::TooLarge) bytes.clear();
    return bytes;
}

std::string FirstLineOf(const std::filesystem::path& file, std::size_t maxBytes) {
    std::string text = ReadSmallFile(file, maxBytes);
    text.resize(std::min(text.find('\n'), text.size()));
    return text;
}

bool OverwriteVolumeFile(const std::filesystem::path& file, const std::filesystem::path& volume, const void* bytes,
                         std::size_t size) {
    int fd = -1;
    const FileReadResult opened = OpenVolumeFile(file, volume, O_WRONLY, fd);
    const OpenFile written(fd);
    if (opened != FileReadResult::Ok) return false;
    const auto* at = static_cast<const char*>(bytes);
    for (std::size_t left = size; left > 0;) {
        const ssize_t put = ::write(written.Fd(), at, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        left -= static_cast<std::size_t>(put);
    }
    return true;
}
