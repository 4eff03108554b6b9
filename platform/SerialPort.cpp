#include "SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "Hooks.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// "COM1".."COM8" in any case: the port's number, else 0.
int ComNumber(std::string_view name) {
    if (name.size() != 4 || name[3] < '1' || name[3] > '8') return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if ((name[i] | 0x20) != "com"[i]) return 0;
    }
    return name[3] - '0';
}

// One "COMn=path" entry into the table; false when it is malformed.
bool PutEntry(std::string_view entry, SerialPort::PortTable& table) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) return false;
    const int number = ComNumber(Trim(entry.substr(0, equals)));
    const std::string_view path = Trim(entry.substr(equals + 1));
    if (number == 0 || path.empty()) return false;
    table[static_cast<std::size_t>(number - 1)] = std::string(path);
    return true;
}

const std::pair<speed_t, unsigned> kSpeeds[] = {
    {B300, 300},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},
    {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
};

unsigned BaudOf(speed_t speed) {
    for (const auto& [code, baud] : kSpeeds) {
        if (code == speed) return baud;
    }
    return 0;
}

char ParityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) return 'N';
    if (cflag & CMSPAR) return (cflag & PARODD) ? 'M' : 'S';
    return (cflag & PARODD) ? 'O' : 'E';
}

int DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

void SetParity(termios& mode, int parityCode) {
    mode.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    mode.c_iflag &= ~INPCK;
    switch (parityCode) {
        case 2: mode.c_cflag |= PARENB; break;
        case 3: mode.c_cflag |= PARENB | PARODD; break;
        case 4: mode.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 5: mode.c_cflag |= PARENB | CMSPAR; break;
        default: return;
    }
    mode.c_iflag |= INPCK;
}

// Raw 9600 baud, 8 data bits, the parity and stop bits of the codes, no flow control.
void MakeLine(termios& mode, int parityCode, int stopCode) {
    cfmakeraw(&mode);
    cfsetispeed(&mode, B9600);
    cfsetospeed(&mode, B9600);
    mode.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS);
    mode.c_cflag |= CS8 | CLOCAL | CREAD;
    mode.c_iflag &= ~(IXON | IXOFF | IXANY);
    SetParity(mode, parityCode);
    if (stopCode == 2 || stopCode == 3) mode.c_cflag |= CSTOPB;
    mode.c_cc[VMIN] = 0;  // reads wait in poll(), never in the driver
    mode.c_cc[VTIME] = 0;
}

SerialLineSettings SettingsOf(const termios& mode) {
    SerialLineSettings line;
    line.baud = BaudOf(cfgetospeed(&mode));
    line.dataBits = DataBitsOf(mode.c_cflag);
    line.parity = ParityOf(mode.c_cflag);
    line.stopBits = (mode.c_cflag & CSTOPB) ? 2 : 1;
    line.raw = (mode.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (mode.c_oflag & OPOST) == 0;
    line.flowControl = (mode.c_cflag & CRTSCTS) != 0 || (mode.c_iflag & (IXON | IXOFF)) != 0;
    return line;
}

// A pseudo-terminal has no modem lines: it answers ENOTTY or EINVAL, which is no fault.
bool SetModemLine(int fd, unsigned long request, int line) {
    if (ioctl(fd, request, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

// A legacy port without hardware still opens and has a termios; its UART type is 0.
bool UartPresent(const std::string& name) {
    std::ifstream type(Hooks().sysfsRoot / "class" / "tty" / name / "type");
    int uart = -1;
    if (!(type >> uart)) return true;  // nothing tells: the terminal is taken as it is
    return uart != 0;
}

long long MillisecondsUntil(Clock::time_point when) {
    return std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
}

}  // namespace

SerialPort::PortTable SerialPort::TableFrom(const char* text) {
    PortTable table;
    if (text == nullptr) {
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = "/dev/ttyS" + std::to_string(i);
        return table;
    }
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t comma = std::min(rest.find(','), rest.size());
        const std::string_view entry = Trim(rest.substr(0, comma));
        rest.remove_prefix(std::min(comma + 1, rest.size()));
        if (entry.empty()) continue;
        if (!PutEntry(entry, table)) {
            std::fprintf(stderr, "QUORV_COMPORTS: entry \"%.*s\" skipped (COM1..COM8=path expected)\n",
                         static_cast<int>(entry.size()), entry.data());
        }
    }
    return table;
}

std::optional<SerialLineSettings> SerialPort::LineSettingsOf(int fd) {
    termios mode{};
    if (tcgetattr(fd, &mode) != 0) return std::nullopt;
    return SettingsOf(mode);
}

SerialLineSettings SerialPort::SettingsFor(int parityCode, int stopCode) {
    termios mode{};
    MakeLine(mode, parityCode, stopCode);
    return SettingsOf(mode);
}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(int number) {
    Close();
    if (number < 1 || number > kPorts) return false;
    const std::string path = Hooks().serialPorts[static_cast<std::size_t>(number - 1)];
    return !path.empty() && OpenPath(path);
}

bool SerialPort::OpenPath(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    if (!Lock()) {
        Close();
        return false;
    }
    path_ = path;
    return true;
}

void SerialPort::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    path_.clear();
}

bool SerialPort::HasProperties() const {
    termios mode{};
    if (!IsOpen() || tcgetattr(fd_, &mode) != 0) return false;
    const std::string name = std::filesystem::path(path_).filename().string();
    return name.rfind("ttyS", 0) != 0 || UartPresent(name);
}

bool SerialPort::Setup(int parityCode, int stopCode) {
    termios mode{};
    if (!IsOpen() || tcgetattr(fd_, &mode) != 0) return false;
    MakeLine(mode, parityCode, stopCode);
    if (tcsetattr(fd_, TCSANOW, &mode) != 0) return false;
    return SetModemLine(fd_, TIOCMBIS, TIOCM_DTR) && SetModemLine(fd_, TIOCMBIC, TIOCM_RTS);
}

int SerialPort::Write(const BYTE* bytes, std::size_t length) {
    if (!IsOpen() || (bytes == nullptr && length > 0)) return -1;
    const auto limit = std::chrono::milliseconds(timeouts_.writeTotalPerByte * length + timeouts_.writeTotalConstant);
    const auto deadline = Clock::now() + limit;
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = write(fd_, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return -1;
        if (!WaitReady(POLLOUT, MillisecondsUntil(deadline))) break;
    }
    return static_cast<int>(written);
}

// With VMIN and VTIME 0 an empty line reads 0 bytes; a line that poll() calls readable
// and that still reads nothing has been hung up.
int SerialPort::Read(BYTE* out, std::size_t length) {
    if (!IsOpen() || (out == nullptr && length > 0)) return -1;
    const auto total = std::chrono::milliseconds(timeouts_.readTotalPerByte * length + timeouts_.readTotalConstant);
    const auto deadline = Clock::now() + total;
    auto byteDeadline = deadline;
    std::size_t got = 0;
    bool readable = false;
    const int failed = -1;
    while (got < length) {
        const ssize_t n = read(fd_, out + got, length - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            readable = false;
            if (timeouts_.readInterval > 0)
                byteDeadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(timeouts_.readInterval));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if ((n < 0 && errno != EAGAIN) || readable) return got > 0 ? static_cast<int>(got) : failed;
        const long long wait = MillisecondsUntil(got > 0 ? byteDeadline : deadline);
        if (wait <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(wait));
        if (ready < 0 && errno != EINTR) return failed;
        if (ready > 0 && (p.revents & POLLIN) == 0) return got > 0 ? static_cast<int>(got) : failed;
        readable = ready > 0;
    }
    return static_cast<int>(got);
}

void SerialPort::PurgeInput() {
    if (IsOpen()) tcflush(fd_, TCIFLUSH);
}

bool SerialPort::Lock() { return flock(fd_, LOCK_EX | LOCK_NB) == 0; }

bool SerialPort::WaitReady(short events, long long milliseconds) const {
    if (milliseconds <= 0) return false;
    pollfd p{fd_, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(milliseconds));
    return ready > 0 && (p.revents & events) != 0;
}
