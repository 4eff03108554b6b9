// A sysfs tree of USB devices in a temporary folder, as bus/usb/devices shows them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

class FakeUsbTree {
public:
    explicit FakeUsbTree(std::filesystem::path root);

    const std::filesystem::path& Root() const { return root_; }
    // A device folder with its ids as sysfs writes them ("0c45"); an empty text leaves the
    // attribute out. Each driver in interfaces is one interface folder "name:1.n".
    void AddDevice(const std::string& name, const std::string& vendor, const std::string& product,
                   const std::string& serial, const std::vector<std::string>& interfaces,
                   const std::string& deviceClass = "00");
    void RemoveDevice(const std::string& name);

private:
    std::filesystem::path Bus() const { return root_ / "bus" / "usb" / "devices"; }
    const std::filesystem::path root_;
};
