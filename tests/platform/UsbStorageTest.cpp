#include "UsbStorage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "Hooks.h"
#include "SimMonitor.h"
#include "SimMonitorStorage.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

class UsbStorageTest : public ::testing::Test {
protected:
    TempDir dir_;
    HookScope hooks_;
    std::shared_ptr<SimMonitor> monitor_ = std::make_shared<SimMonitor>();
};

TEST_F(UsbStorageTest, ListsTheUsbDeviceWithTrimmedNamesAndSkipsOthers) {
    SimMonitorStorage storage(dir_.Path(), monitor_);
    storage.Point(Hooks());
    // A disk on no USB bus, and a USB disk without a model text.
    fs::create_directories(dir_ / "sys/devices/pci0000:00/ata1/block/sda/device");
    std::ofstream(dir_ / "sys/devices/pci0000:00/ata1/block/sda/device/vendor") << "ATA\n";
    std::ofstream(dir_ / "sys/devices/pci0000:00/ata1/block/sda/device/model") << "DISK\n";
    fs::create_directory_symlink(dir_ / "sys/devices/pci0000:00/ata1/block/sda", dir_ / "sys/block/sda");
    fs::create_directories(dir_ / "sys/devices/usb2/2-1/block/sdy/device");
    std::ofstream(dir_ / "sys/devices/usb2/2-1/block/sdy/device/vendor") << "ACME\n";
    fs::create_directory_symlink(dir_ / "sys/devices/usb2/2-1/block/sdy", dir_ / "sys/block/sdy");

    EXPECT_EQ(UsbStorageFriendlyNames(), std::vector<std::string>{"SIM SIMUMS USB Device"});
}

TEST_F(UsbStorageTest, VolumesDecodeEscapesAndCarryTheirLabels) {
    SimMonitorStorage storage(dir_.Path(), monitor_, "my vol", "SIM UMS");
    storage.Point(Hooks());
    // The label link escapes its blank as udev does.
    fs::rename(dir_ / "dev/disk/by-label/SIM UMS", dir_ / "dev/disk/by-label/SIM\\x20UMS");

    const auto volumes = StorageVolumes();
    ASSERT_EQ(volumes.size(), 2u);  // the line without a mount folder is skipped
    EXPECT_EQ(volumes[0].root, "/proc/");
    EXPECT_EQ(volumes[0].label, "");
    EXPECT_EQ(volumes[1].root, (dir_ / "my vol").string() + "/");
    EXPECT_EQ(volumes[1].label, "SIM UMS");
}

TEST_F(UsbStorageTest, EscapesDecodeOnlyWhenComplete) {
    EXPECT_EQ(DecodeMountField("a\\040b\\011c"), "a b\tc");
    EXPECT_EQ(DecodeMountField("end\\04"), "end\\04");
    EXPECT_EQ(DecodeLabelName("A\\x20B\\x2"), "A B\\x2");
}

TEST_F(UsbStorageTest, MissingTreesListNothing) {
    Hooks().sysfsRoot = dir_ / "none";
    Hooks().mountsFile = dir_ / "none";
    EXPECT_TRUE(UsbStorageFriendlyNames().empty());
    EXPECT_TRUE(StorageVolumes().empty());
}

TEST(UsbStorageDefaultTest, TheRealMountsListTheRootFolder) {
    HookScope hooks;
    Hooks() = DefaultHooks();
    if (std::getenv("QUORV_MOUNTS") != nullptr) GTEST_SKIP() << "QUORV_MOUNTS points elsewhere";
    EXPECT_EQ(Hooks().mountsFile, "/proc/self/mounts");
    bool root = false;
    for (const auto& volume : StorageVolumes()) root = root || volume.root == "/";
    EXPECT_TRUE(root);
}

}  // namespace
