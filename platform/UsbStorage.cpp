#include "UsbStorage.h"

#include <filesystem>
#include <map>
#include <sstream>

#include "Hooks.h"
#include "SmallFile.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kAttributeBytes = 256;
constexpr std::size_t kMountsBytes = 1 << 20;  // thousands of mounts

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The first line of a sysfs attribute, trimmed; "" when it cannot be read.
std::string Attribute(const fs::path& file) {
    return Trimmed(FirstLineOf(file, kAttributeBytes));
}

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    return ec ? path.string() : resolved.string();
}

// Each label link resolved once per listing, as the device it names to the label's text
// (the first link wins): resolving them again for every mounts line took seconds on a
// machine with thousands of mounts.
std::map<std::string, std::string> LabelsByDevice() {
    std::map<std::string, std::string> labels;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Hooks().devRoot / "disk" / "by-label", ec)) {
        labels.emplace(Canonical(entry.path()), DecodeLabelName(entry.path().filename().string()));
    }
    return labels;
}

}  // namespace

std::string DecodeMountField(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
            IsOctal(field[i + 3])) {
            text.push_back(
                static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            text.push_back(field[i]);
        }
    }
    return text;
}

std::string DecodeLabelName(std::string_view name) {
    std::string text;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && HexValue(name[i + 2]) >= 0 &&
            HexValue(name[i + 3]) >= 0) {
            text.push_back(static_cast<char>(HexValue(name[i + 2]) * 16 + HexValue(name[i + 3])));
            i += 3;
        } else {
            text.push_back(name[i]);
        }
    }
    return text;
}

std::vector<std::string> UsbStorageFriendlyNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Hooks().sysfsRoot / "block", ec)) {
        if (Canonical(entry.path()).find("usb") == std::string::npos) continue;
        const std::string vendor = Attribute(entry.path() / "device" / "vendor");
        const std::string model = Attribute(entry.path() / "device" / "model");
        if (vendor.empty() || model.empty()) continue;
        names.push_back(vendor + " " + model + " USB Device");
    }
    return names;
}

std::vector<StorageVolume> StorageVolumes() {
    std::vector<StorageVolume> volumes;
    const auto labels = LabelsByDevice();
    std::istringstream in(ReadSmallFile(Hooks().mountsFile, kMountsBytes));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, folder;
        if (!(fields >> device >> folder)) continue;
        StorageVolume volume{DecodeMountField(device), DecodeMountField(folder), ""};
        if (volume.root.empty() || volume.root.back() != '/') volume.root += "/";
        const auto label = labels.find(Canonical(volume.device));
        if (label != labels.end()) volume.label = label->second;
        volumes.push_back(std::move(volume));
    }
    return volumes;
}
