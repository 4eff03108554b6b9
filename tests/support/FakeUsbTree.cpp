#include "FakeUsbTree.h"

#include <fstream>
#include <utility>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& text) {
    if (!text.empty()) std::ofstream(file) << text << "\n";
}

}  // namespace

FakeUsbTree::FakeUsbTree(fs::path root) : root_(std::move(root)) { fs::create_directories(Bus()); }

void FakeUsbTree::AddDevice(const std::string& name, const std::string& vendor, const std::string& product,
                            const std::string& serial, const std::vector<std::string>& interfaces,
                            const std::string& deviceClass) {
    const fs::path device = Bus() / name;
    fs::create_directories(device);
    Write(device / "idVendor", vendor);
    Write(device / "idProduct", product);
    Write(device / "bcdDevice", "0100");
    Write(device / "serial", serial);
    Write(device / "bDeviceClass", deviceClass);
    Write(device / "bNumInterfaces", std::to_string(interfaces.size()));
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        const fs::path folder = Bus() / (name + ":1." + std::to_string(i));
        fs::create_directories(folder);
        Write(folder / "bInterfaceNumber", "0" + std::to_string(i));
        // The driver link points into the drivers' folder, as in sysfs.
        if (!interfaces[i].empty()) fs::create_directory_symlink(root_ / "bus" / "usb" / "drivers" / interfaces[i],
                                                                 folder / "driver");
    }
}

void FakeUsbTree::RemoveDevice(const std::string& name) {
    std::vector<fs::path> gone;
    for (const auto& entry : fs::directory_iterator(Bus())) {
        const std::string folder = entry.path().filename().string();
        if (folder == name || folder.rfind(name + ":", 0) == 0) gone.push_back(entry.path());
    }
    for (const fs::path& folder : gone) fs::remove_all(folder);
}
