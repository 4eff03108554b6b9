#include "FileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>

#include "Text.h"

namespace fs = std::filesystem;

namespace {

// A new hidden file beside target that no other copy uses; -1 when none can be made.
int OpenSibling(const fs::path& target, fs::path& sibling) {
    static std::atomic<unsigned> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        sibling = folder / ("." + target.filename().string() + ".copy-" + std::to_string(::getpid()) + "-" +
                            std::to_string(counter++));
        const int fd = ::open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CopyContent(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || !WriteAll(to, buffer, static_cast<std::size_t>(n))) return false;
    }
}

// The sibling holds the whole copy, on the disk, with the source's permissions.
bool FillSibling(int from, int to) {
    struct stat source {};
    return ::fstat(from, &source) == 0 && CopyContent(from, to) && ::fchmod(to, source.st_mode & 07777) == 0 &&
           ::fsync(to) == 0;
}

}  // namespace

BOOL CopyFileW(const wchar_t* existingFileName, const wchar_t* newFileName, BOOL failIfExists) {
    if (existingFileName == nullptr || newFileName == nullptr) return FALSE;
    const int from = ::open(text::ToUtf8(existingFileName).c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return FALSE;
    const fs::path target(text::ToUtf8(newFileName));
    fs::path sibling;
    const int to = OpenSibling(target, sibling);
    bool ok = to >= 0 && FillSibling(from, to);
    ok = (to < 0 || ::close(to) == 0) && ok;
    ::close(from);
    // A link never replaces a file, so a name taken in the meantime is kept as well.
    if (ok) {
        ok = (failIfExists ? ::link(sibling.c_str(), target.c_str()) : ::rename(sibling.c_str(), target.c_str())) == 0;
    }
    if (to >= 0) ::unlink(sibling.c_str());  // after a rename it is gone already
    return ok ? TRUE : FALSE;
}
