// The simulated monitor as a USB-storage volume: a folder <base>/<volume>/ holding the
// monitor's files, a fake sysfs tree with its USB block device (vendor "SIM", model
// "SIMUMS"), a mounts file that mounts the folder, and a by-label folder naming it.
//
//   SimMonitorStorage storage(dir.Path(), monitor);
//   storage.Point(Hooks());                 // sysfsRoot, devRoot, mountsFile
//   storage.WriteReadings();                // the monitor's readings, as a download leaves them
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SimMonitorModel.h"
#include "WinTypes.h"

class SimMonitor;
struct PlatformHooks;

// One group of a summary record: values, then month, year - 2000 (0: no date) and day.
struct SimSummaryGroup {
    int systolic = 0;
    int diastolic = 0;
    int pulse = 0;
    int valid = 0;
    int month = 0;
    int year = 0;
    int day = 0;
};

class SimMonitorStorage {
public:
    static constexpr const char* kReadingsFile = "BPDATA.DAT";
    static constexpr const char* kSettingsFile = "SETTING.DAT";
    static constexpr const char* kWeekFile = "WEEK.DAT";
    static constexpr const char* kMonthFile = "MONTH.DAT";
    static constexpr std::size_t kSettingsSize = 1926;

    // volume: the mount folder's name below base (a blank in it is escaped in the
    // mounts file); label: the volume's label ("" none); device: whether sysfs lists it.
    SimMonitorStorage(const std::filesystem::path& base, std::shared_ptr<SimMonitor> monitor,
                      const std::string& volume = "vol", const std::string& label = "SIMUMS", bool device = true);

    void Point(PlatformHooks& hooks) const;
    // The volume's root as the library keeps it: the mount folder and "/".
    std::string Root() const { return volume_.string() + "/"; }
    std::filesystem::path File(const std::string& name) const { return volume_ / name; }

    // The readings file in the layout of SimStorageModel: the count, the serial value at
    // 4, the records from 256 on, the oldest first.
    void WriteReadings() const;
    // A summary file of these records (four groups each); count: -1 the number of records.
    void WriteSummaries(const std::string& name, const std::vector<std::array<SimSummaryGroup, 4>>& records,
                        int count = -1) const;
    // A settings file with its two device areas filled recognisably (0..23: 0xA0 + i,
    // 1686..1925: 0x5A) and the rest as given from 24 on.
    static std::vector<BYTE> SettingsImage();
    void WriteFile(const std::string& name, const std::vector<BYTE>& bytes) const;

private:
    std::filesystem::path base_;
    std::shared_ptr<SimMonitor> monitor_;
    std::filesystem::path volume_;
};

// The simulated monitor as a "USB-STORAGE" model: the readings of SimModel on the volume.
inline ModelParams SimStorageModel() {
    ModelParams params = SimModel(1);
    params["model_id"] = "SIMUMS";
    params["file_name"] = SimMonitorStorage::kReadingsFile;
    params["file_name2"] = SimMonitorStorage::kSettingsFile;
    params["file_name3"] = SimMonitorStorage::kWeekFile;
    params["file_name4"] = SimMonitorStorage::kMonthFile;
    params["sumdata"] = "1";
    return params;
}
