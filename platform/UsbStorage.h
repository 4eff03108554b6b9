// USB mass-storage devices and the volumes mounted from them, as the Windows device
// setup and logical-drive calls would list them: block devices below the sysfs root
// whose device path runs through a USB bus, and the mounted volumes with their labels.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct StorageVolume {
    std::string device;  // as the mounts file names it
    std::string root;    // the mount folder followed by "/"
    std::string label;   // "" when the volume has none
};

// "<vendor> <model> USB Device" of each USB block device, the blanks that pad the
// sysfs texts trimmed; a device without a vendor or model text is left out.
std::vector<std::string> UsbStorageFriendlyNames();

// The volumes of the mounts file (hook mountsFile), labelled from <dev root>/disk/by-label;
// lines with fewer than two fields are skipped.
std::vector<StorageVolume> StorageVolumes();

// "\040"-style octal escapes of the mounts file decoded.
std::string DecodeMountField(std::string_view field);
// "\x20"-style hexadecimal escapes of the label links decoded.
std::string DecodeLabelName(std::string_view name);
