// The hidraw backend of the HID transport.
#include "HidTransport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HidReportDescriptor.h"
#include "Hooks.h"
#include "SmallFile.h"
#include "Text.h"

namespace {

constexpr std::size_t kUeventBytes = 4096;
constexpr std::size_t kDescriptorBytes = 4096;  // the kernel's largest report descriptor

struct HidIds {
    int vendorId = 0;
    int productId = 0;
};

// "HID_ID=0003:00000C45:000070C1": bus, vendor and product in hexadecimal.
std::optional<HidIds> IdsFromUevent(const std::filesystem::path& file) {
    std::istringstream in(ReadSmallFile(file, kUeventBytes));
    std::string line;
    while (std::getline(in, line)) {
        unsigned bus = 0;
        unsigned vendor = 0;
        unsigned product = 0;
        if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3) {
            return HidIds{static_cast<int>(vendor & 0xFFFF), static_cast<int>(product & 0xFFFF)};
        }
    }
    return std::nullopt;
}

std::vector<BYTE> ReadBytes(const std::filesystem::path& file) {
    const std::string bytes = ReadSmallFile(file, kDescriptorBytes);
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

// The N of "hidrawN", or -1 for any other name.
int NodeNumber(const std::string& name) {
    constexpr std::string_view kPrefix = "hidraw";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) return -1;
    const std::string digits = name.substr(kPrefix.size());
    // Nine digits at most, so the number always fits.
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::atoi(digits.c_str());
}

std::optional<HidDeviceInfo> DescribeNode(const std::filesystem::path& entry) {
    const auto ids = IdsFromUevent(entry / "device" / "uevent");
    if (!ids) return std::nullopt;
    const auto descriptor = ReadBytes(entry / "device" / "report_descriptor");
    if (descriptor.empty()) return std::nullopt;
    const HidReportLengths lengths = ReportLengthsOf(descriptor);
    return HidDeviceInfo{(Hooks().devRoot / entry.filename()).string(), ids->vendorId, ids->productId, lengths.input,
                         lengths.output, lengths.feature};
}

// Waits until fd is ready for events; EINTR does not cut the wait short.
HidStatus WaitReady(int fd, short events, DWORD milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, events, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready > 0) return (p.revents & events) != 0 ? HidStatus::Ok : HidStatus::Failed;
        if (ready == 0) return HidStatus::TimedOut;
        if (errno != EINTR) return HidStatus::Failed;
    }
}

// A failed transfer with the error number the system gave.
HidIoResult Failure() { return {HidStatus::Failed, 0, errno}; }

// Why fd is not usable as a device node; empty when it is. A FIFO or a plain file would
// pass every length check with bytes that no device sent.
std::string NotADevice(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::generic_category().message(errno);
    return S_ISCHR(st.st_mode) ? std::string() : "not a character device";
}

class HidrawTransport : public HidTransport {
public:
    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<std::pair<int, HidDeviceInfo>> found;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Hooks().sysfsRoot / "class" / "hidraw", ec)) {
            const int number = NodeNumber(entry.path().filename().string());
            if (number < 0) continue;
            if (auto device = DescribeNode(entry.path())) found.emplace_back(number, std::move(*device));
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<HidDeviceInfo> devices;
        for (auto& [number, device] : found) devices.push_back(std::move(device));
        return devices;
    }

    // O_NONBLOCK: opening a FIFO never waits for a writer.
    HidHandle Open(const std::string& path) override {
        const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return Refused(path, std::generic_category().message(errno));
        const std::string why = NotADevice(fd);
        if (!why.empty()) {
            close(fd);
            return Refused(path, why);
        }
        std::lock_guard guard(lock_);
        refused_.erase(path);
        return fd;
    }

    // hidraw hands over an unnumbered report without its id byte: the id 0 is put in front.
    HidIoResult Read(HidHandle handle, BYTE* report, std::size_t size, DWORD milliseconds) override {
        if (handle == kNoHidHandle || report == nullptr || size < 1) return {};
        const HidStatus ready = WaitReady(handle, POLLIN, milliseconds);
        if (ready != HidStatus::Ok) return {ready, 0};
        const ssize_t got = read(handle, report + 1, size - 1);
        if (got < 0) return Failure();
        report[0] = 0;
        return {HidStatus::Ok, static_cast<std::size_t>(got) + 1};
    }

    // hidraw takes the report id as the first byte of what is written.
    HidIoResult Write(HidHandle handle, const BYTE* report, std::size_t size, DWORD milliseconds) override {
        if (handle == kNoHidHandle || report == nullptr || size < 1) return {};
        const HidStatus ready = WaitReady(handle, POLLOUT, milliseconds);
        if (ready != HidStatus::Ok) return {ready, 0};
        const ssize_t sent = write(handle, report, size);
        if (sent < 0) return Failure();
        return {HidStatus::Ok, static_cast<std::size_t>(sent)};
    }

    // The kernel sends it at once; the report id leads, as in a write. The request
    // number carries the size in 14 bits, far above any real feature report.
    HidIoResult SetFeature(HidHandle handle, const BYTE* report, std::size_t size) override {
        if (handle == kNoHidHandle || report == nullptr || size < 1 || size > 4096) return {};
        const int sent = ioctl(handle, HIDIOCSFEATURE(size), report);
        if (sent < 0) return Failure();
        return {HidStatus::Ok, static_cast<std::size_t>(sent)};
    }

    void Close(HidHandle handle) override {
        if (handle != kNoHidHandle) close(handle);
    }

private:
    // Callers search again and again (up to 30 times a read): a node's refusal is told
    // once, and again only after it opened in between.
    HidHandle Refused(const std::string& path, const std::string& why) {
        {
            std::lock_guard guard(lock_);
            if (!refused_.insert(path).second) return kNoHidHandle;
        }
        OutputDebugStringW(text::FromUtf8("hidraw node " + path + " not opened: " + why).c_str());
        return kNoHidHandle;
    }

    std::mutex lock_;
    std::set<std::string> refused_;  // the nodes whose refusal was told
};

}  // namespace

std::shared_ptr<HidTransport> MakeHidrawTransport() { return std::make_shared<HidrawTransport>(); }
