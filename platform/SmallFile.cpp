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

template <typename Bytes>
FileReadResult ReadInto(const std::filesystem::path& file, std::size_t maxBytes, Bytes& bytes,
                        const std::function<bool()>& stop) {
    bytes.clear();
    // Looked at first, so that no device is ever opened: an open alone may act on one.
    struct stat named {};
    if (::stat(file.c_str(), &named) != 0) return Missing();
    if (!S_ISREG(named.st_mode)) return FileReadResult::NotRegular;
    const OpenFile opened(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (opened.Fd() < 0) return Missing();
    // What was opened may have been put in the name's place since.
    struct stat got {};
    if (::fstat(opened.Fd(), &got) != 0) return FileReadResult::Failed;
    if (!S_ISREG(got.st_mode)) return FileReadResult::NotRegular;
    const FileReadResult result = ReadAll(opened.Fd(), maxBytes, bytes, stop);
    if (result == FileReadResult::Failed || result == FileReadResult::Stopped) bytes.clear();
    return result;
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
    struct stat root {};
    struct stat named {};
    if (::stat(volume.empty() ? "." : volume.c_str(), &root) != 0) return false;
    // Looked at first, so that no device is ever opened.
    if (::lstat(file.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
    const OpenFile opened(::open(file.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat got {};
    if (opened.Fd() < 0 || ::fstat(opened.Fd(), &got) != 0) return false;
    if (!S_ISREG(got.st_mode) || got.st_dev != root.st_dev) return false;
    const auto* at = static_cast<const char*>(bytes);
    for (std::size_t left = size; left > 0;) {
        const ssize_t put = ::write(opened.Fd(), at, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        left -= static_cast<std::size_t>(put);
    }
    return true;
}
