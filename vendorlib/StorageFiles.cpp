#include "StorageFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "SmallFile.h"
#include "VepBytes.h"
#include "VepFileBytes.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepSettingsBlock.h"
#include "VepState.h"

namespace {

constexpr std::size_t kGroupLength = 20;
constexpr int kGroups = 4;
constexpr std::size_t kKeptHead = 24;
constexpr std::size_t kKeptTail = 1686;
constexpr std::size_t kNightEntries = 24;
constexpr std::size_t kSchedule = 54;
constexpr std::size_t kAdditionalEntries = 918;
constexpr std::size_t kEntryLength = 6;
constexpr std::size_t kPatientId = 966;
constexpr std::size_t kPatientIdLength = 14;
constexpr std::size_t kPatientName1 = 1206;
constexpr std::size_t kPatientName2 = 1223;
constexpr std::size_t kNameLength = 16;
constexpr std::size_t kDoctorId = 1446;
constexpr std::size_t kDoctorIdLength = 10;
constexpr const char* kDateFormat = "%4d/%02d/%02d";

int Signed16(std::span<const BYTE> image, std::size_t offset) {
    return static_cast<std::int16_t>(Le16(image.data() + offset));
}

struct Entry {
    int enable, first, second;
};

Entry EntryAt(std::span<const BYTE> image, std::size_t table, std::size_t index) {
    const std::size_t at = table + index * kEntryLength;
    return {Signed16(image, at), Signed16(image, at + 2), Signed16(image, at + 4)};
}

void PutEntry(std::vector<BYTE>& image, std::size_t table, std::size_t index, Entry entry) {
    BYTE* at = image.data() + table + index * kEntryLength;
    PutLe16(at, entry.enable);
    PutLe16(at + 2, entry.first);
    PutLe16(at + 4, entry.second);
}

// Flag at flagOffset, the pairs at first/second, the enabled count at countOffset.
void ParsePairs(std::span<const BYTE> image, std::size_t table, int entries, VepSettingsBlock& settings,
                std::size_t flagOffset, std::size_t first, std::size_t second, std::size_t countOffset) {
    int enabled = 0;
    for (int i = 0; i < entries; ++i) {
        const Entry e = EntryAt(image, table, static_cast<std::size_t>(i));
        if (e.enable != 0) ++enabled;
        settings.SetByte(first + static_cast<std::size_t>(i), static_cast<BYTE>(e.first));
        settings.SetByte(second + static_cast<std::size_t>(i), static_cast<BYTE>(e.second));
    }
    settings.SetByte(flagOffset, enabled > 0 ? 1 : 0);
    settings.SetInt(countOffset, enabled);
}

void BuildPairs(std::vector<BYTE>& image, std::size_t table, int entries, const VepSettingsBlock& settings,
                std::size_t flagOffset, std::size_t first, std::size_t second) {
    const int enable = settings.Byte(flagOffset) == 1 ? 1 : 0;
    for (int i = 0; i < entries; ++i) {
        const auto at = static_cast<std::size_t>(i);
        PutEntry(image, table, at, {enable, settings.Byte(first + at), settings.Byte(second + at)});
    }
}

int MinuteOf(const Entry& e) { return e.first * 60 + e.second; }

// From the times alone: a write enables the entries only while additional measurement
// is on, and a schedule must read back the same with it off.
void ParseSchedule(std::span<const BYTE> image, VepSettingsBlock& settings) {
    const Entry start = EntryAt(image, kSchedule, 0);
    const int interval = MinuteOf(EntryAt(image, kSchedule, 1)) - MinuteOf(start);
    Entry end = start;
    int index = 0;
    // An interval of 0 or less is no schedule.
    if (interval > 0) {
        for (std::size_t i = 1; i < StorageFiles::kScheduleEntries; ++i) {
            const Entry next = EntryAt(image, kSchedule, i);
            if (MinuteOf(next) - MinuteOf(end) != interval) break;
            end = next;
        }
        index = VepSettingsBlock::IntervalIndex(interval);
    }
    const std::size_t at = VepSettingsBlock::kBasicStartHour;
    settings.SetByte(at, static_cast<BYTE>(start.first));
    settings.SetByte(at + 1, static_cast<BYTE>(start.second));
    settings.SetByte(at + 2, static_cast<BYTE>(end.first));
    settings.SetByte(at + 3, static_cast<BYTE>(end.second));
    settings.SetByte(VepSettingsBlock::kIntervalIndex, static_cast<BYTE>(index));
}

void BuildSchedule(std::vector<BYTE>& image, const VepSettingsBlock& settings) {
    const std::size_t at = VepSettingsBlock::kBasicStartHour;
    const int start = settings.Byte(at) * 60 + settings.Byte(at + 1);
    const int end = settings.Byte(at + 2) * 60 + settings.Byte(at + 3);
    const int step = VepSettingsBlock::IntervalMinutes(settings.Byte(VepSettingsBlock::kIntervalIndex));
    // Index 0 has no step, a window hour of 0xFF no window; the table ends at its last entry.
    const bool window =
        settings.Byte(at) != VepSettingsBlock::kUnused && settings.Byte(at + 2) != VepSettingsBlock::kUnused;
    if (step <= 0 || !window) return;
    const int enable = settings.Byte(VepSettingsBlock::kAdditionalFlag);
    std::size_t entry = 0;
    for (int minute = start; minute <= end && entry < StorageFiles::kScheduleEntries; minute += step) {
        PutEntry(image, kSchedule, entry++, {enable, minute / 60, minute % 60});
    }
}

void ParseText(std::span<const BYTE> image, std::size_t from, std::size_t length, VepSettingsBlock& settings,
               std::size_t field) {
    const BYTE* text = image.data() + from;
    const std::size_t size = strnlen(reinterpret_cast<const char*>(text), length);
    settings.SetText(field, text, size, length);
}

void PutText(std::vector<BYTE>& image, std::size_t at, std::size_t length, const std::string& text) {
    std::copy_n(text.begin(), std::min(length, text.size()), image.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

StorageFiles::StorageFiles(VepModel& model, VepState& state) : model_(model), state_(state) {}

void StorageFiles::DecodeSummaries(std::span<const BYTE> file, std::vector<str_sumbp_data>& store) {
    store.clear();
    if (file.size() < 2) return;
    const std::size_t n = std::min(
        {static_cast<std::size_t>(Le16(file.data())), (file.size() - 2) / kSummaryLength, VepState::kSummaryCapacity});
    for (std::size_t i = 0; i < n; ++i) {
        const BYTE* record = file.data() + 2 + i * kSummaryLength;
        if (record[17] == 0 && record[kGroupLength + 17] == 0 && record[2 * kGroupLength + 17] == 0) continue;
        str_sumbp_data s{};
        for (int j = 0; j < kGroups; ++j) {
            const BYTE* group = record + static_cast<std::size_t>(j) * kGroupLength;
            s.systolic[j] = static_cast<std::int32_t>(Le32(group));
            s.diastolic[j] = static_cast<std::int32_t>(Le32(group + 4));
            s.pulse[j] = static_cast<std::int32_t>(Le32(group + 8));
            s.valid[j] = static_cast<std::int32_t>(Le32(group + 12));
            if (group[17] != 0)
                FormatDate(s.date, sizeof(s.date), "%04d/%02d/%02d",
                           VepDateTime{2000 + group[17], group[16], group[18], 0, 0, 0});
        }
        store.push_back(s);
    }
}

void StorageFiles::ParseSettings(std::span<const BYTE> image, VepSettingsBlock& settings, const VepDateTime& now) {
    ParseText(image, kPatientName1, kNameLength, settings, VepSettingsBlock::kPatientName1);
    ParseText(image, kPatientName2, kNameLength, settings, VepSettingsBlock::kPatientName2);
    ParseText(image, kPatientId, kPatientIdLength, settings, VepSettingsBlock::kPatientId);
    ParseText(image, kDoctorId, kDoctorIdLength, settings, VepSettingsBlock::kDoctorId);
    settings.SetDate(VepSettingsBlock::kClockDate, kDateFormat, now);
    settings.SetTime(VepSettingsBlock::kClockTime, now);
    settings.SetDate(VepSettingsBlock::kEntryDate, kDateFormat, now);
    settings.SetTime(VepSettingsBlock::kEntryTime, now);
    ParsePairs(image, kNightEntries, VepSettingsBlock::kNightPairs, settings, VepSettingsBlock::kNightFlag,
               VepSettingsBlock::kNightFirst, VepSettingsBlock::kNightSecond, VepSettingsBlock::kNightCount);
    ParsePairs(image, kAdditionalEntries, VepSettingsBlock::kAdditionalPairs, settings,
               VepSettingsBlock::kAdditionalFlag, VepSettingsBlock::kAdditionalFirst,
               VepSettingsBlock::kAdditionalSecond, VepSettingsBlock::kAdditionalCount);
    ParseSchedule(image, settings);
}

std::vector<BYTE> StorageFiles::BuildSettings(std::span<const BYTE> old, const VepSettingsBlock& settings) {
    std::vector<BYTE> image(kSettingsSize, 0);
    std::copy_n(old.begin(), kKeptHead, image.begin());
    std::copy(old.begin() + kKeptTail, old.begin() + kSettingsSize, image.begin() + kKeptTail);
    BuildPairs(image, kNightEntries, VepSettingsBlock::kNightPairs, settings, VepSettingsBlock::kNightFlag,
               VepSettingsBlock::kNightFirst, VepSettingsBlock::kNightSecond);
    BuildPairs(image, kAdditionalEntries, VepSettingsBlock::kAdditionalPairs, settings,
               VepSettingsBlock::kAdditionalFlag, VepSettingsBlock::kAdditionalFirst,
               VepSettingsBlock::kAdditionalSecond);
    BuildSchedule(image, settings);
    PutText(image, kPatientId, kPatientIdLength, settings.Text(VepSettingsBlock::kPatientId));
    // Each name in the slot the read takes it from.
    PutText(image, kPatientName1, kNameLength, settings.Text(VepSettingsBlock::kPatientName1));
    PutText(image, kPatientName2, kNameLength, settings.Text(VepSettingsBlock::kPatientName2));
    PutText(image, kDoctorId, kDoctorIdLength, settings.Text(VepSettingsBlock::kDoctorId));
    return image;
}

bool StorageFiles::NoLinkOnTheWay(const std::string& root, const std::string& name, VepTrace& trace) {
    std::filesystem::path at = root;
    for (const auto& folder : std::filesystem::path(name).relative_path().parent_path()) {
        at /= folder;
        std::error_code ec;
        // A folder that is not there is left to the read, which finds no file.
        if (std::filesystem::is_symlink(std::filesystem::symlink_status(at, ec))) {
            trace.Line("link on the way to a file of the volume: %s", at.c_str());
            return false;
        }
    }
    return true;
}

int StorageFiles::ReadDriveFile(const std::string& root, const std::string& name, std::vector<BYTE>& bytes,
                                std::size_t limit, VepState& state) {
    if (!NoLinkOnTheWay(root, name, state.trace)) {
        bytes.clear();
        return vep::kFailed;
    }
    return ReadVepFile(root + name, bytes, limit, state.trace, [&state] { return state.TakeAbort(); }, root);
}

int StorageFiles::Load(std::vector<BYTE>& image) {
    const VepModelParams& p = model_.Params();
    const std::string path = p.filePath + p.fileName2;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) {
        state_.trace.Line("ums info file empty :%s", path.c_str());
        return 1;
    }
    const int read = ReadDriveFile(p.filePath, p.fileName2, image, kSettingsSize + kVepFileSlack, state_);
    if (read != vep::kOk || image.size() < kSettingsSize) {
        state_.trace.Line("ums info file err :%s", path.c_str());
        return read == vep::kAborted ? read : vep::kFailed;
    }
    return vep::kOk;
}

int StorageFiles::ReadJob() {
    std::vector<BYTE> image;
    const int result = Load(image);
    if (result != vep::kOk) return result;
    ParseSettings(image, state_.settings, LocalNow());
    return vep::kOk;
}

int StorageFiles::WriteJob() {
    std::vector<BYTE> image;
    const int result = Load(image);
    if (result != vep::kOk) return result;
    const std::vector<BYTE> next = BuildSettings(image, state_.settings);
    const VepModelParams& p = model_.Params();
    const std::string path = p.filePath + p.fileName2;
    if (!NoLinkOnTheWay(p.filePath, p.fileName2, state_.trace) ||
        !OverwriteVolumeFile(path, p.filePath, next.data(), next.size())) {
        state_.trace.Line("ums info write err :%s", path.c_str());
        return 1;
    }
    return vep::kOk;
}
