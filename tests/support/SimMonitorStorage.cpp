#include "SimMonitorStorage.h"

#include <fstream>

#include "Hooks.h"
#include "SimMonitor.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kHeaderLength = 256;
constexpr std::size_t kRecordLength = 16;
constexpr std::size_t kKeptHead = 24;
constexpr std::size_t kKeptTail = 1686;

void PutLe(std::vector<BYTE>& bytes, std::size_t at, unsigned value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
}

// The mounts file's escape of a blank.
std::string Escaped(const std::string& path) {
    std::string text;
    for (char c : path) text += c == ' ' ? std::string("\\040") : std::string(1, c);
    return text;
}

}  // namespace

SimMonitorStorage::SimMonitorStorage(const fs::path& base, std::shared_ptr<SimMonitor> monitor,
                                     const std::string& volume, const std::string& label, bool device)
    : base_(base), monitor_(std::move(monitor)), volume_(base / volume) {
    fs::create_directories(volume_);
    const fs::path blockDevice = base_ / "sys/devices/pci0000:00/usb1/1-1/host6/block/sdz";
    fs::create_directories(blockDevice / "device");
    std::ofstream(blockDevice / "device/vendor") << "SIM     \n";
    std::ofstream(blockDevice / "device/model") << "SIMUMS          \n";
    fs::create_directories(base_ / "sys/block");
    if (device) fs::create_directory_symlink(blockDevice, base_ / "sys/block/sdz");
    fs::create_directories(base_ / "dev/disk/by-label");
    std::ofstream(base_ / "dev/sdz1") << "";
    if (!label.empty()) fs::create_symlink("../../sdz1", base_ / "dev/disk/by-label" / label);
    std::ofstream(base_ / "mounts") << "proc /proc proc rw 0 0\nbroken-line\n"
                                    << (base_ / "dev/sdz1").string() << " " << Escaped(volume_.string())
                                    << " vfat rw,relatime 0 0\n";
}

void SimMonitorStorage::Point(PlatformHooks& hooks) const {
    hooks.sysfsRoot = base_ / "sys";
    hooks.devRoot = base_ / "dev";
    hooks.mountsFile = base_ / "mounts";
}

void SimMonitorStorage::WriteReadings() const {
    const SimMonitorState state = monitor_->State();
    const std::size_t n = state.readings.size();
    std::vector<BYTE> bytes(kHeaderLength + n * kRecordLength, 0);
    PutLe(bytes, 0, static_cast<unsigned>(n), 2);
    PutLe(bytes, 4, static_cast<unsigned>(state.serialValue), 2);
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<BYTE> record = monitor_->ReadingRecord(n - 1 - i);
        std::copy_n(record.begin(), std::min(kRecordLength, record.size()),
                    bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderLength + i * kRecordLength));
    }
    WriteFile(kReadingsFile, bytes);
}

void SimMonitorStorage::WriteSummaries(const std::string& name,
                                       const std::vector<std::array<SimSummaryGroup, 4>>& records, int count) const {
    std::vector<BYTE> bytes(2 + records.size() * 80, 0);
    PutLe(bytes, 0, static_cast<unsigned>(count < 0 ? static_cast<int>(records.size()) : count), 2);
    for (std::size_t r = 0; r < records.size(); ++r) {
        for (std::size_t j = 0; j < 4; ++j) {
            const SimSummaryGroup& g = records[r][j];
            const std::size_t at = 2 + r * 80 + j * 20;
            PutLe(bytes, at, static_cast<unsigned>(g.systolic), 4);
            PutLe(bytes, at + 4, static_cast<unsigned>(g.diastolic), 4);
            PutLe(bytes, at + 8, static_cast<unsigned>(g.pulse), 4);
            PutLe(bytes, at + 12, static_cast<unsigned>(g.valid), 4);
            bytes[at + 16] = static_cast<BYTE>(g.month);
            bytes[at + 17] = static_cast<BYTE>(g.year);
            bytes[at + 18] = static_cast<BYTE>(g.day);
        }
    }
    WriteFile(name, bytes);
}

std::vector<BYTE> SimMonitorStorage::SettingsImage() {
    std::vector<BYTE> image(kSettingsSize, 0);
    for (std::size_t i = 0; i < kKeptHead; ++i) image[i] = static_cast<BYTE>(0xA0 + i);
    std::fill(image.begin() + kKeptTail, image.end(), BYTE{0x5A});
    return image;
}

void SimMonitorStorage::WriteFile(const std::string& name, const std::vector<BYTE>& bytes) const {
    std::ofstream(volume_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
