#include "SerialPortPty.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

SerialPortPty::SerialPortPty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof(name)) != 0) {
        if (master_ >= 0) close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = name;
}

SerialPortPty::~SerialPortPty() {
    if (master_ >= 0) close(master_);
}

int SerialPortPty::Read(BYTE* out, std::size_t size, DWORD milliseconds) {
    if (!IsOpen() || out == nullptr) return -1;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(milliseconds)) <= 0) return 0;
    const ssize_t got = read(master_, out, size);
    if (got >= 0) return static_cast<int>(got);
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

bool SerialPortPty::Write(const BYTE* bytes, std::size_t length) {
    if (!IsOpen()) return false;
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = write(master_, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            pollfd p{master_, POLLOUT, 0};
            if (errno != EAGAIN || poll(&p, 1, 100) <= 0) return false;
        }
    }
    return true;
}

bool SerialPortPty::SlaveClosed() const {
    pollfd p{master_, POLLIN, 0};
    return IsOpen() && poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

std::optional<SerialLineSettings> SerialPortPty::LineSettings() const {
    if (!IsOpen()) return std::nullopt;
    return SerialPort::LineSettingsOf(master_);
}
