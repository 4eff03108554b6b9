#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <string>

#include "SimMonitorStorage.h"
#include "StorageFiles.h"
#include "StorageLink.h"
#include "VepBytes.h"
#include "VepFixture.h"

namespace {

class StorageTest : public VepFixture {
protected:
    void LoadStorageModel(const ModelParams& params = SimStorageModel()) {
        WriteModels(ModelXml("SIMUMS", params, "USB-STORAGE"));
        ASSERT_EQ(model_.Load(kModelFile, "SIMUMS", state_), 0);
    }
    void OpenStorage() {
        storage_.Point(Hooks());
        LoadStorageModel();
        ASSERT_EQ(link_.Open(), 0);
    }

    StorageLink link_{model_, state_};
    SimMonitorStorage storage_{dir_.Path(), monitor_};
};

TEST_F(StorageTest, OpensTheLabelledVolumeOfTheNamedDevice) {
    OpenStorage();
    EXPECT_EQ(model_.Params().filePath, (dir_ / "vol").string() + "/");
    EXPECT_EQ(link_.DeviceName(), "SIMUMS");
}

TEST_F(StorageTest, RefusesWithoutDeviceLabelOrModelId) {
    {
        TempDir other;
        SimMonitorStorage noDevice(other.Path(), monitor_, "vol", "SIMUMS", false);
        noDevice.Point(Hooks());
        LoadStorageModel();
        EXPECT_EQ(link_.Open(), 1);
    }
    {
        TempDir other;
        SimMonitorStorage otherLabel(other.Path(), monitor_, "vol", "OTHER");
        otherLabel.Point(Hooks());
        EXPECT_EQ(link_.Open(), 1);
    }
    storage_.Point(Hooks());
    ModelParams params = SimStorageModel();
    params["model_id"] = "";
    LoadStorageModel(params);
    EXPECT_EQ(link_.Open(), 1);
}

TEST_F(StorageTest, FindsAMountFolderWithABlank) {
    TempDir other;
    SimMonitorStorage spaced(other.Path(), monitor_, "my vol");
    spaced.Point(Hooks());
    LoadStorageModel();
    ASSERT_EQ(link_.Open(), 0);
    EXPECT_EQ(model_.Params().filePath, spaced.Root());
}

TEST_F(StorageTest, ReadingsDownloadSetsTheSizeAndMissingOrEmptyFilesFail) {
    OpenStorage();
    SimMonitorState state;
    state.readings = {{2013, 3, 5, 8, 0, 0, 121, 81, 61}, {2013, 3, 4, 7, 0, 0, 122, 82, 62}};
    monitor_->SetState(state);
    EXPECT_EQ(link_.Download(0), -1);
    storage_.WriteReadings();
    EXPECT_EQ(link_.Download(0), 0);
    EXPECT_EQ(state_.Size(), 2);
    storage_.WriteFile(SimMonitorStorage::kReadingsFile, {});
    EXPECT_EQ(link_.Download(0), -1);
}

TEST_F(StorageTest, SummariesSkipUndatedRecordsAndFillTheirSlots) {
    OpenStorage();
    std::array<SimSummaryGroup, 4> dated{};
    for (int j = 0; j < 4; ++j) dated[static_cast<std::size_t>(j)] = {100 + j, 70 + j, 60 + j, 1, 0, 0, 0};
    dated[1] = {101, 71, 61, 1, 3, 13, 4};
    dated[2] = {102, 72, 62, 1, 3, 13, 5};
    std::array<SimSummaryGroup, 4> onlyGroupThree{};
    onlyGroupThree[3] = {130, 80, 70, 1, 3, 13, 6};
    // The count says four, the file holds three: only what is there is read.
    storage_.WriteSummaries(SimMonitorStorage::kMonthFile, {dated, onlyGroupThree, dated}, 4);
    ASSERT_EQ(link_.Download(2), 0);
    ASSERT_EQ(state_.monthData.size(), 2u);
    const str_sumbp_data& s = state_.monthData[0];
    EXPECT_STREQ(s.date, "2013/03/05");
    EXPECT_EQ(s.number, 0);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(s.systolic[j], 100 + j);
        EXPECT_EQ(s.diastolic[j], 70 + j);
        EXPECT_EQ(s.pulse[j], 60 + j);
        EXPECT_EQ(s.valid[j], 1);
    }
    EXPECT_TRUE(state_.weekData.empty());
}

TEST(StorageSummaryTest, CountIsBoundedByTheStore) {
    std::vector<BYTE> file(2 + 80 * 80, 0);
    PutLe16(file.data(), 80);
    for (std::size_t r = 0; r < 80; ++r) file[2 + r * 80 + 17] = 13;
    std::vector<str_sumbp_data> store;
    StorageFiles::DecodeSummaries(file, store);
    EXPECT_EQ(store.size(), 72u);
}

// A settings image with schedule entries (hour, minute) from entry 0, all enabled.
std::vector<BYTE> WithSchedule(std::vector<BYTE> image, const std::vector<std::pair<int, int>>& times) {
    for (std::size_t i = 0; i < times.size(); ++i) {
        BYTE* at = image.data() + 54 + 6 * i;
        PutLe16(at, 1);
        PutLe16(at + 2, times[i].first);
        PutLe16(at + 4, times[i].second);
    }
    return image;
}

TEST(StorageSettingsTest, ScheduleReadsTheEvenlySpacedRun) {
    VepSettingsBlock settings;
    const VepDateTime now{2013, 3, 5, 8, 9, 10};
    StorageFiles::ParseSettings(WithSchedule(SimMonitorStorage::SettingsImage(), {{8, 0}, {8, 30}, {9, 0}, {10, 0}}),
                                settings, now);
    const auto& b = settings.Bytes();
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour], 8);
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour + 1], 0);
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour + 2], 9);
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour + 3], 0);
    EXPECT_EQ(b[VepSettingsBlock::kIntervalIndex], 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + VepSettingsBlock::kClockDate), "2013/03/05");

    StorageFiles::ParseSettings(WithSchedule(SimMonitorStorage::SettingsImage(), {{7, 15}}), settings, now);
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour + 2], 7);
    EXPECT_EQ(b[VepSettingsBlock::kBasicStartHour + 3], 15);
    EXPECT_EQ(b[VepSettingsBlock::kIntervalIndex], 0);
}

TEST(StorageSettingsTest, ReadTakesFlagsCountsAndBoundedNames) {
    std::vector<BYTE> image = SimMonitorStorage::SettingsImage();
    PutLe16(image.data() + 24 + 6 * 2, 1);  // night entry 2
    PutLe16(image.data() + 24 + 6 * 2 + 2, 23);
    PutLe16(image.data() + 918, 1);  // additional entries 0 and 5
    PutLe16(image.data() + 918 + 30, 1);
    std::memset(image.data() + 1206, 'N', 16);  // a name that fills its field
    std::memcpy(image.data() + 966, "PATIENT-ID-14X", 14);
    VepSettingsBlock settings;
    StorageFiles::ParseSettings(image, settings, VepDateTime{2013, 3, 5, 8, 9, 10});
    EXPECT_EQ(settings.Byte(VepSettingsBlock::kNightFlag), 1);
    EXPECT_EQ(settings.Byte(VepSettingsBlock::kNightFirst + 2), 23);
    EXPECT_EQ(settings.Int(VepSettingsBlock::kNightCount), 1);
    EXPECT_EQ(settings.Byte(VepSettingsBlock::kAdditionalFlag), 1);
    EXPECT_EQ(settings.Int(VepSettingsBlock::kAdditionalCount), 2);
    EXPECT_EQ(settings.Text(VepSettingsBlock::kPatientName1), std::string(15, 'N'));
    EXPECT_EQ(settings.Text(VepSettingsBlock::kPatientId), "PATIENT-ID-14X");
}

TEST(StorageSettingsTest, WriteKeepsDeviceAreasAndBoundsTheSchedule) {
    const std::vector<BYTE> old = WithSchedule(SimMonitorStorage::SettingsImage(), {{1, 0}, {2, 0}});
    VepSettingsBlock settings;
    const BYTE overnight[] = {22, 0, 6, 0};
    std::copy(std::begin(overnight), std::end(overnight), settings.Bytes().begin() + VepSettingsBlock::kBasicStartHour);
    settings.SetByte(VepSettingsBlock::kIntervalIndex, 4);
    const std::string name1(15, 'N');
    settings.SetText(VepSettingsBlock::kPatientName1, reinterpret_cast<const BYTE*>(name1.data()), name1.size(), 15);
    settings.SetText(VepSettingsBlock::kPatientName2, reinterpret_cast<const BYTE*>("XYZ"), 3, 15);
    std::vector<BYTE> image = StorageFiles::BuildSettings(old, settings);
    ASSERT_EQ(image.size(), 1926u);
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + 24, image.begin()));
    EXPECT_TRUE(std::equal(old.begin() + 1686, old.end(), image.begin() + 1686));
    EXPECT_TRUE(std::all_of(image.begin() + 54, image.begin() + 918, [](BYTE b) { return b == 0; }));
    VepSettingsBlock back;
    StorageFiles::ParseSettings(image, back, VepDateTime{2013, 3, 5, 8, 9, 10});
    EXPECT_EQ(back.Text(VepSettingsBlock::kPatientName1), name1);
    EXPECT_EQ(back.Text(VepSettingsBlock::kPatientName2), "XYZ");

    // A window to 25:00 at 10 minutes needs more entries than the table has.
    const BYTE day[] = {0, 0, 25, 0};
    std::copy(std::begin(day), std::end(day), settings.Bytes().begin() + VepSettingsBlock::kBasicStartHour);
    settings.SetByte(VepSettingsBlock::kIntervalIndex, 1);
    settings.SetByte(VepSettingsBlock::kAdditionalFlag, 1);
    image = StorageFiles::BuildSettings(old, settings);
    EXPECT_EQ(Le16(image.data() + 54 + 6 * 143 + 2), 23);
    EXPECT_EQ(Le16(image.data() + 54 + 6 * 143 + 4), 50);
    EXPECT_EQ(Le16(image.data() + 918 + 2), 0);  // the first additional entry, not 24:00

    // Index 0 has no interval, a window hour of 0xFF no window: no schedule at all.
    settings.SetByte(VepSettingsBlock::kIntervalIndex, 0);
    image = StorageFiles::BuildSettings(old, settings);
    EXPECT_TRUE(std::all_of(image.begin() + 54, image.begin() + 918, [](BYTE b) { return b == 0; }));
    settings.SetByte(VepSettingsBlock::kIntervalIndex, 4);
    for (const std::array<BYTE, 4>& window : {std::array<BYTE, 4>{0xFF, 0xFF, 0xFF, 0xFF}, {8, 0, 0xFF, 0xFF}}) {
        std::copy(window.begin(), window.end(), settings.Bytes().begin() + VepSettingsBlock::kBasicStartHour);
        image = StorageFiles::BuildSettings(old, settings);
        EXPECT_TRUE(std::all_of(image.begin() + 54, image.begin() + 918, [](BYTE b) { return b == 0; }));
    }
}

TEST_F(StorageTest, SettingsJobsRefuseEmptyAndShortFilesAndRoundTrip) {
    OpenStorage();
    StorageFiles files(model_, state_);
    storage_.WriteFile(SimMonitorStorage::kSettingsFile, {});
    EXPECT_EQ(files.ReadJob(), 1);
    storage_.WriteFile(SimMonitorStorage::kSettingsFile, std::vector<BYTE>(1925, 0));
    EXPECT_EQ(files.ReadJob(), -1);
    EXPECT_EQ(files.WriteJob(), -1);

    // The schedule survives a read and a write with the additional-measurement flag off and on.
    const std::vector<BYTE> old = WithSchedule(SimMonitorStorage::SettingsImage(), {{8, 0}, {8, 30}, {9, 0}});
    storage_.WriteFile(SimMonitorStorage::kSettingsFile, old);
    for (const BYTE flag : {0, 1, 0, 0}) {
        ASSERT_EQ(files.ReadJob(), 0);
        const BYTE* schedule = state_.settings.Bytes().data() + VepSettingsBlock::kBasicStartHour;
        EXPECT_EQ(std::vector<BYTE>(schedule, schedule + 5), (std::vector<BYTE>{8, 0, 9, 0, 4})) << int{flag};
        state_.settings.SetByte(VepSettingsBlock::kAdditionalFlag, flag);
        ASSERT_EQ(files.WriteJob(), 0);
    }
    const std::string written = ReadFileBytes(storage_.File(SimMonitorStorage::kSettingsFile));
    ASSERT_EQ(written.size(), 1926u);
    EXPECT_EQ(Le16(reinterpret_cast<const BYTE*>(written.data()) + 54 + 12 + 2), 9);
    EXPECT_TRUE(std::equal(old.begin() + 1686, old.end(), written.begin() + 1686));
}

// A drive anyone can plug in may name, through a link, any file of the user's: only a
// regular file of the drive itself is written.
TEST_F(StorageTest, TheSettingsAreWrittenOnlyIntoARegularFileOfTheDrive) {
    OpenStorage();
    StorageFiles files(model_, state_);
    const std::filesystem::path settings = storage_.File(SimMonitorStorage::kSettingsFile);
    const std::filesystem::path elsewhere = dir_ / "users-own-file";
    storage_.WriteFile(SimMonitorStorage::kSettingsFile, SimMonitorStorage::SettingsImage());
    std::filesystem::rename(settings, elsewhere);
    std::filesystem::create_symlink(elsewhere, settings);
    const std::string before = ReadFileBytes(elsewhere);
    EXPECT_EQ(files.WriteJob(), -1);  // not even read
    EXPECT_EQ(ReadFileBytes(elsewhere), before);
    EXPECT_NE(Trace().find("ums info file err"), std::string::npos);
}

// On the same file system as the drive, a link in a folder on the way to its file passes
// every check of the file itself: no link on the way is followed.
TEST_F(StorageTest, AFolderOnTheWayToAFileOfTheDriveIsNoLink) {
    storage_.Point(Hooks());
    ModelParams params = SimStorageModel();
    params["file_name"] = std::string("SUB/") + SimMonitorStorage::kReadingsFile;
    LoadStorageModel(params);
    ASSERT_EQ(link_.Open(), 0);
    storage_.WriteReadings();
    const std::filesystem::path sub = storage_.File("SUB");
    const std::filesystem::path elsewhere = dir_ / "users-own-folder";
    std::filesystem::create_directory(sub);
    std::filesystem::copy_file(storage_.File(SimMonitorStorage::kReadingsFile), sub / SimMonitorStorage::kReadingsFile);
    EXPECT_EQ(link_.Download(0), 0);
    std::filesystem::rename(sub, elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, sub);
    EXPECT_EQ(link_.Download(0), -1);
    EXPECT_NE(Trace().find("link on the way"), std::string::npos);
}

}  // namespace
