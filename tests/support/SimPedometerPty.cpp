#include "SimPedometerPty.h"

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kReportLength = 9;  // id byte and 8 data bytes

// A vendor-defined device with one 8-byte input and one 8-byte output report, no report ids.
const std::vector<unsigned char> kReportDescriptor = {
    0x06, 0x00, 0xFF,  // usage page (vendor defined)
    0x09, 0x01,        // usage
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        // logical minimum 0
    0x26, 0xFF, 0x00,  // logical maximum 255
    0x75, 0x08,        // report size 8
    0x95, 0x08,        // report count 8
    0x09, 0x01, 0x81, 0x02,  // input (data, variable, absolute)
    0x09, 0x01, 0x91, 0x02,  // output (data, variable, absolute)
    0xC0,              // end collection
};

}  // namespace

SimPedometerPty::SimPedometerPty(std::shared_ptr<SimPedometer> device, const std::filesystem::path& root)
    : device_(std::move(device)), root_(root) {
    if (!OpenTerminal()) return;
    PrepareTree();
    thread_ = std::thread([this] { Serve(); });
}

SimPedometerPty::~SimPedometerPty() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

bool SimPedometerPty::OpenTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
    char name[128];
    if (ptsname_r(master_, name, sizeof(name)) != 0) return false;
    terminal_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return false;
    termios mode{};
    if (tcgetattr(slave_, &mode) != 0) return false;
    cfmakeraw(&mode);  // every byte passes as it is, none is echoed
    return tcsetattr(slave_, TCSANOW, &mode) == 0;
}

void SimPedometerPty::PrepareTree() const {
    const auto device = SysfsRoot() / "class" / "hidraw" / "hidraw0" / "device";
    std::filesystem::create_directories(device);
    std::filesystem::create_directories(DevRoot());
    std::ofstream(device / "uevent") << "DRIVER=hid-generic\nHID_ID=0003:00000C45:000070C1\n"
                                        "HID_NAME=Simulated pedometer\nHID_PHYS=usb-sim/input0\n";
    std::ofstream(device / "report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(kReportDescriptor.data()),
               static_cast<std::streamsize>(kReportDescriptor.size()));
    std::filesystem::create_symlink(terminal_, Node());
}

void SimPedometerPty::Serve() {
    std::vector<BYTE> received;
    while (!stop_) {
        const auto wait = SendDue(std::chrono::milliseconds(20));
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) continue;
        if ((p.revents & POLLIN) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        BYTE chunk[64];
        const ssize_t got = read(master_, chunk, sizeof(chunk));
        if (got <= 0) continue;
        received.insert(received.end(), chunk, chunk + got);
        while (received.size() >= kReportLength) {
            SimReport request{};
            std::copy(received.begin() + 1, received.begin() + kReportLength, request.begin());
            received.erase(received.begin(), received.begin() + kReportLength);
            Answer(request);
        }
    }
}

void SimPedometerPty::Answer(const SimReport& request) {
    const SimAnswer answer = device_->Receive(request);
    if (answer.link != SimAnswer::Link::Reply) return;
    auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
    if (!replies_.empty() && replies_.back().due > due) due = replies_.back().due;
    replies_.push_back({due, answer.reply});
    SendDue(std::chrono::milliseconds(0));
}

std::chrono::milliseconds SimPedometerPty::SendDue(std::chrono::milliseconds idle) {
    const auto now = std::chrono::steady_clock::now();
    while (!replies_.empty() && replies_.front().due <= now) {
        const ssize_t sent = write(master_, replies_.front().reply.data(), replies_.front().reply.size());
        (void)sent;  // a reply that cannot be written is a time-out for the reader
        replies_.pop_front();
    }
    if (replies_.empty()) return idle;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(replies_.front().due - now);
    return std::min(idle, left);
}
