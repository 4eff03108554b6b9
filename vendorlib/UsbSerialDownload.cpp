#include "UsbSerialDownload.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

#include "Bcc.h"
#include "UsbSerialLink.h"
#include "UsbSerialSettings.h"
#include "VepBytes.h"
#include "VepFileBytes.h"
#include "VepModel.h"
#include "VepReadingLedger.h"
#include "VepResult.h"
#include "VepState.h"
#include "VepWorkFile.h"

namespace {

constexpr std::size_t kWeekHeaderLength = 16;
constexpr std::size_t kProfileLength = 14;
constexpr std::size_t kCountLength = 8;
constexpr std::size_t kSummaryLength = 12;
// A weekly block is kept as 16 bytes whatever the model's record length: the decoding
// steps through the file in 16-byte blocks.
constexpr std::size_t kWeekBlock = 16;
constexpr int kWeeks = 8;
constexpr DWORD kRecordTimeout = 3000;
constexpr int kDownloadModeClock = 2;
constexpr int kDownloadModeClear = 4;

constexpr VepRetryPlan kCountPlan{3, true, 100, 0, "Retry-%d"};
constexpr VepRetryPlan kMorningPlan{3, true, 0, 0, "Retry-%d"};
constexpr VepRetryPlan kEveningPlan{3, true, 100, 0, "Retry-%d"};
constexpr VepRetryPlan kPartPlan{3, false, 5, 0, nullptr};

bool StartsWith(const VepResponse& response, const char* two) { return response[0] == two[0] && response[1] == two[1]; }

int SummaryValue(BYTE raw, bool systolic) { return systolic ? (raw != 0 ? raw + 25 : 0) : raw; }

// One summary from a morning and an evening block; slot 3 is the two added together.
str_sumbp_data Summary(const BYTE* morning, const BYTE* evening) {
    str_sumbp_data s{};
    FormatDate(s.date, sizeof(s.date), "%04d/%02d/%02d",
               VepDateTime{2000 + morning[5], morning[6], morning[7], 0, 0, 0});
    s.number = ((morning[3] << 8) | morning[4]) & 0x7FFF;
    std::int32_t* slots[] = {s.systolic, s.diastolic, s.pulse};
    for (int v = 0; v < 3; ++v) {
        slots[v][0] = SummaryValue(morning[8 + v], v == 0);
        slots[v][2] = SummaryValue(evening[8 + v], v == 0);
        slots[v][3] = slots[v][0] + slots[v][2];
    }
    s.valid[0] = morning[10] != 0 ? 1 : 0;
    s.valid[2] = evening[10] != 0 ? 1 : 0;
    s.valid[3] = s.valid[0] + s.valid[2];
    return s;
}

}  // namespace

UsbSerialDownload::UsbSerialDownload(UsbSerialLink& link, VepModel& model, VepState& state)
    : link_(link), model_(model), state_(state) {}

int UsbSerialDownload::Run(int kind) {
    return link_.RunJob([this, kind] {
        try {
            return Procedure(kind);
        } catch (const std::exception& e) {
            state_.trace.Line("exception:%s", e.what());
            return vep::kFileError;
        }
    });
}

int UsbSerialDownload::Procedure(int kind) {
    const int type = model_.Params().downloadType;
    if (kind == 0) return Readings();
    if (kind != 1 || type != 3) return vep::kOk;
    VepWorkFile file(kWeekFile);
    if (!file.IsOpen()) {
        state_.trace.Line("WriteFile Open Error!!");
        return vep::kFileError;
    }
    const int result = Weekly(file);
    if (result == vep::kOk) DecodeWeekly();
    return result;
}

int UsbSerialDownload::Readings() {
    const int type = model_.Params().downloadType;
    VepWorkFile file(type == 2 ? kWalkingFile : kReadingsFile);
    if (!file.IsOpen()) {
        state_.trace.Line("WriteFile Open Error!!");
        return vep::kFileError;
    }
    if (type == 2) return TypeTwo(file);
    if (type == 3 || type == 4) return TypeThree(file);
    return TypeOne(file);
}

int UsbSerialDownload::TypeOne(VepWorkFile& file) {
    int result = Profile(true);
    if (result != vep::kOk) return result;
    VepResponse counts{};
    if ((result = ReadCounts(counts)) != vep::kOk) return result;
    const int n = state_.ReadingsToFetch(Be16(counts, 3));
    state_.SetSize(n);
    state_.SetCount(0);
    if ((result = WriteHeader(file, n, 0, 0)) != vep::kOk) return result;
    const auto resvLength = static_cast<std::size_t>(model_.Params().resvLength);
    result = FetchReadings(file, n, true, [&](int k, VepResponse& record) {
        return link_.Command(VepFrame::Of("MES").Add(0).AddBe16(k), true, record, resvLength, true);
    });
    if (result != vep::kOk) return result;
    state_.SetCount(n);
    state_.abort = false;
    return vep::kOk;
}

int UsbSerialDownload::TypeTwo(VepWorkFile& file) {
    int result = SerialNumber();
    if (result == vep::kOk) result = Profile(false);
    VepResponse counts{};
    if (result == vep::kOk) result = ReadCounts(counts);
    if (result != vep::kOk) return result;
    const int n = std::min(Be16(counts, 3), Be16(counts, 5));
    state_.SetSize(4 * n);
    state_.SetCount(0);
    if ((result = WriteHeader(file, n, n, 0)) != vep::kOk) return result;
    const VepModelParams& p = model_.Params();
    const auto partLength = static_cast<std::size_t>(p.recLength / 4);
    for (int i = 0; i < n; ++i) {
        for (int part = 1; part <= 4; ++part) {
            if (state_.TakeAbort()) return vep::kAborted;
            const auto length = static_cast<std::size_t>(part == 4 ? p.resvLength2 : p.resvLength);
            VepResponse response{};
            result = link_.Retry(kPartPlan, [&] {
                return link_.Command(VepFrame::Of("GTD").Add(0).AddBe16(i).Add(part), true, response, length, true);
            });
            if (result != vep::kOk) return result;
            if ((result = WriteRecord(file, response, partLength)) != vep::kOk) return result;
            state_.SetCount(state_.Count() + 1);
        }
    }
    state_.SetSize(n);
    state_.SetCount(n);
    return vep::kOk;
}

int UsbSerialDownload::TypeThree(VepWorkFile& file) {
    int result = Profile(true);
    if (result != vep::kOk) return result;
    int user = model_.UserSelector();
    // A single-user monitor keeps its readings under user 2.
    if (user == 0 && profile_[6] == '0' && profile_[7] == '2') {
        user = 2;
        model_.SetUserSelector(user);
    }
    if (model_.Params().sumData == 1 && (result = ClockCheck(user)) != vep::kOk) return result;
    int serial = 0;
    int n = 0;
    if ((result = DataCount(user, serial, n)) != vep::kOk) return result;
    // The serial value is the newest reading's, and reading 0 the newest: it stays right.
    n = state_.ReadingsToFetch(n);
    state_.SetSize(n);
    state_.SetCount(0);
    if ((result = WriteHeader(file, n, 0, serial)) != vep::kOk) return result;
    const auto resvLength = static_cast<std::size_t>(model_.Params().resvLength);
    result = FetchReadings(file, n, false, [&](int k, VepResponse& record) {
        return link_.Retry(kCountPlan, [&] {
            return link_.Command(VepFrame::Of("GME").Add(0).Add(user).AddBe16(k), true, record, resvLength, true,
                                 kRecordTimeout);
        }, kRecordTimeout);
    });
    if (result != vep::kOk) return result;
    UsbSerialSettings settings(link_, model_, state_);
    const int mode = state_.downloadMode;
    result = vep::kOk;
    if (mode & kDownloadModeClock) result = settings.ClockSetting();
    if (mode & kDownloadModeClear) result = settings.MemoryClear();
    state_.SetCount(n);
    state_.abort = false;
    return result;
}

int UsbSerialDownload::Weekly(VepWorkFile& file) {
    state_.SetSize(kWeeks);
    state_.SetCount(0);
    std::array<BYTE, kWeekHeaderLength> header{};
    PutLe16(header.data(), kWeeks);
    if (!file.Write(header.data(), header.size())) return vep::kFileError;
    const int user = model_.UserSelector();
    for (int week = kWeeks - 1; week >= 0; --week) {
        for (const char* command : {"GMA", "GEA"}) {
            const bool morning = command[1] == 'M';
            VepResponse block{};
            const int result = link_.Retry(morning ? kMorningPlan : kEveningPlan, [&] {
                return link_.Command(VepFrame::Of(command).Add(0).Add(user).Add(week).Add(0).Add(0), true, block,
                                     kSummaryLength, true);
            });
            if (result != vep::kOk) return result;
            if (!file.Write(block.data(), kWeekBlock)) return vep::kFileError;
        }
        state_.SetCount(kWeeks - week);
    }
    state_.SetCount(kWeeks);
    state_.abort = false;
    return vep::kOk;
}

int UsbSerialDownload::DecodeWeekly() {
    std::vector<BYTE> file;
    ReadVepFile(kWeekFile, file, kWeekHeaderLength + kWeeks * 2 * kWeekBlock + kVepFileSlack, state_.trace);
    state_.weekData.clear();
    if (file.size() < 2) {
        state_.trace.Line("week file error");
        return vep::kFailed;
    }
    const int count = Le16(file.data());
    state_.SetSize(count);
    const std::size_t pairs =
        file.size() > kWeekHeaderLength ? (file.size() - kWeekHeaderLength) / (2 * kWeekBlock) : 0;
    const std::size_t n = std::min({static_cast<std::size_t>(count), pairs, VepState::kSummaryCapacity});
    for (std::size_t i = 0; i < n; ++i) {
        const BYTE* morning = file.data() + kWeekHeaderLength + i * 2 * kWeekBlock;
        if (morning[6] == 0) continue;  // month 0: no data that week
        state_.weekData.push_back(Summary(morning, morning + kWeekBlock));
    }
    return vep::kOk;
}

int UsbSerialDownload::Profile(bool noProfileOk) {
    const int result = link_.Command(VepFrame::Of("PRF00"), false, profile_, kProfileLength, true);
    const bool noProfile = result == vep::kNotOk && StartsWith(profile_, "NO");
    if (result != vep::kOk && !(noProfile && noProfileOk)) {
        state_.trace.Line(noProfileOk ? "cmd profile err" : "cmd PRF err");
        return result;
    }
    state_.SetDeviceInfo(VepState::kProfileInfoOffset, profile_.data(), kProfileLength);
    return vep::kOk;
}

int UsbSerialDownload::ReadCounts(VepResponse& counts) {
    const int result = link_.Command(VepFrame::Of("CNT00"), false, counts, kCountLength, true);
    if (result != vep::kOk) {
        state_.trace.Line("cmd datacount err");
        return result;
    }
    state_.SetDeviceInfo(VepState::kCountInfoOffset, counts.data(), kCountLength);
    return vep::kOk;
}

// "OK", a byte, a length L and L bytes ending in their check byte; a length the
// response buffer cannot hold is refused as a check failure.
int UsbSerialDownload::SerialNumber() {
    VepResponse response{};
    int result = link_.VariableCommand(VepFrame::Of("SRL00"), response, 3, 1, vep::kBccError);
    const std::size_t length = static_cast<std::size_t>(response[3]) + 5;
    if (result == vep::kOk && !ResponseBccOk(response.data(), length)) result = vep::kBccError;
    if (result != vep::kOk) {
        state_.trace.Line("cmd SRL err");
        return result;
    }
    state_.SetDeviceInfo(VepState::kSerialInfoOffset, response.data(), std::min(length, VepState::kSerialInfoLength));
    return vep::kOk;
}

int UsbSerialDownload::ClockCheck(int user) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (state_.TakeAbort()) return vep::kAborted;
        VepResponse response{};
        const int result = link_.Command(VepFrame::Of("GMA").Add(0).Add(user).Add(0).Add(0).Add(0), true, response,
                                         kSummaryLength, true);
        if (result == vep::kOk) return vep::kOk;
        if (result == vep::kNotOk && StartsWith(response, "NG")) return vep::kClockNotSet;
    }
    return vep::kTimedOut;
}

int UsbSerialDownload::DataCount(int user, int& serial, int& count) {
    state_.trace.Line("new cnt cmd");
    VepResponse response{};
    const int result = link_.Retry(kCountPlan, [&] {
        return link_.Command(VepFrame::Of("GDC").Add(0).Add(user).Add(0).Add(0), true, response, kCountLength, true);
    });
    if (result != vep::kOk) {
        state_.trace.Line("cmd datacount err");
        return result;
    }
    serial = Be16(response, 3);
    count = Be16(response, 5);
    return vep::kOk;
}

int UsbSerialDownload::WriteHeader(VepWorkFile& file, int count, int second, int serial) {
    const auto header = VepWorkFile::ReadingsHeader(count, second, serial, profile_.data());
    return file.Write(header.data(), header.size()) ? vep::kOk : vep::kFileError;
}

int UsbSerialDownload::FetchReadings(VepWorkFile& file, int n, bool abortable,
                                     const std::function<int(int index, VepResponse& record)>& fetch) {
    const auto recLength = static_cast<std::size_t>(model_.Params().recLength);
    // The answer carries no number: one of another reading shows by what it is.
    VepReadingLedger ledger(model_.Params(), static_cast<std::size_t>(std::max(0, model_.Params().resvLength)),
                            UsbSerialLink::WellFormed, vep::kReadFailed);
    const auto prove = [this](std::vector<BYTE>& dropped) { return link_.Prove(dropped); };
    for (int k = n - 1; k >= 0; --k) {
        if (abortable && state_.TakeAbort()) return vep::kAborted;
        VepResponse record{};
        const auto ask = [&](VepResponse& answer) { return fetch(k, answer); };
        int result = ledger.Fetch(k, ask, prove, record, state_.trace);
        if (result != vep::kOk) {
            state_.trace.Line("GetData :%d", k);
            return result;
        }
        if ((result = WriteRecord(file, record, recLength)) != vep::kOk) return result;
        state_.SetCount(n - k);
    }
    return vep::kOk;
}

int UsbSerialDownload::WriteRecord(VepWorkFile& file, const VepResponse& response, std::size_t length) {
    return file.Write(response.data(), std::min(length, response.size())) ? vep::kOk : vep::kFileError;
}
