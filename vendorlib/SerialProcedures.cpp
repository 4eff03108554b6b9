#include "SerialProcedures.h"

#include <algorithm>
#include <exception>

#include "SerialLink.h"
#include "SerialMemory.h"
#include "VepBytes.h"
#include "VepModel.h"
#include "VepReadingLedger.h"
#include "VepRecords.h"
#include "VepResult.h"
#include "VepSettingsBlock.h"
#include "VepState.h"
#include "VepWorkFile.h"

namespace {

using Settings = VepSettingsBlock;

constexpr std::size_t kCountLength = 8;
constexpr std::size_t kNewestLength = 15;
constexpr DWORD kCountPause = 300;
constexpr int kFullReadSize = 9;
constexpr int kShortReadSize = 3;
constexpr int kFullWriteSize = 8;
constexpr int kNightWriteSize = 2;
constexpr int kSerialWriteSize = 1;
constexpr int kModeClock = 2;
constexpr int kModeClear = 4;
constexpr int kModeShortRead = 1;
constexpr int kBlocks = 9;
constexpr int kShortReadBlocks[] = {2, 4};
constexpr int kWrittenBlocks[] = {0, 1, 2, 4, 6, 7};

// A big-endian 16-bit value of the reading; one outside the buffer reads as implausible.
int Be16Within(const VepResponse& reading, const VepField& field) {
    if (field.offset < 0 || static_cast<std::size_t>(field.offset) + 1 >= reading.size()) return 0xFFFF;
    return Be16(reading, static_cast<std::size_t>(field.offset));
}

}  // namespace

SerialProcedures::SerialProcedures(SerialLink& link, VepModel& model, VepState& state)
    : link_(link), model_(model), state_(state) {}

int SerialProcedures::ReadingsJob() {
    const int result = Guarded([this] {
        VepWorkFile file(kReadingsFile);
        if (!file.IsOpen()) {
            state_.trace.Line("WriteFile Open Error!!");
            return vep::kFileError;
        }
        return Readings(file);
    });
    link_.End();
    return result;
}

int SerialProcedures::InfoReadJob() {
    return Guarded([this] {
        VepWorkFile file(kInfoFile);
        if (!file.IsOpen()) {
            state_.trace.Line("WriteFile Open Error!!");
            return vep::kFileError;
        }
        return state_.downloadMode == kModeShortRead ? ShortRead() : FullRead(file);
    });
}

int SerialProcedures::InfoWriteJob() {
    const int mode = state_.downloadMode;
    const int result = Guarded([this, mode] {
        if (mode == 0) return FullWrite();
        return mode == 1 ? NightFlagWrite() : SerialTextWrite();
    });
    link_.End();
    return result;
}

int SerialProcedures::ClearJob() {
    return Guarded([this] { return MemoryClear(); });
}

// The stamp of the doctor's entry goes to block 4, the clock to the status block.
int SerialProcedures::ClockSetting() {
    const VepDateTime now = LocalNow();
    VepResponse block{};
    int result = ReadRaw(SerialMemory::kDoctorBlock, block);
    if (result != vep::kOk) return result;
    PutLe32(block.data() + SerialMemory::kStampByte, MinuteStamp(now));
    if ((result = WriteBlock(SerialMemory::kDoctorBlock, block.data())) != vep::kOk) return result;
    VepResponse status{};
    if ((result = ReadStatus(status)) != vep::kOk) return result;
    SerialMemory::SetStatusClock(status.data(), now);
    return WriteStatus(status.data());
}

int SerialProcedures::MemoryClear() {
    const int result = link_.Clear();
    if (result != vep::kOk) state_.trace.Line("clear err:%d", result);
    return result;
}

int SerialProcedures::Guarded(const std::function<int()>& procedure) {
    try {
        return procedure();
    } catch (const std::exception& e) {
        state_.trace.Line("exception:%s", e.what());
        return vep::kFileError;
    }
}

// A loop that ran to its end gives 0 even when its last reading drew "NO": the
// readings written before it are still to be decoded.
int SerialProcedures::Readings(VepWorkFile& file) {
    int valid = 0;
    int total = 0;
    int result = ReadCounts(valid, total);
    if (result != vep::kOk) return result;
    // Reading 0 is the newest.
    const int n = state_.ReadingsToFetch(std::min(valid, total));
    state_.SetSize(n);
    state_.SetCount(0);
    const auto header = VepWorkFile::ReadingsHeader(n, 0, 0, nullptr);
    if (!file.Write(header.data(), header.size())) return vep::kFileError;
    const auto recLength =
        std::min(static_cast<std::size_t>(std::max(0, model_.Params().recLength)), VepResponse{}.size());
    int written = 0;
    // The answer carries no number: one of another reading shows by what it is.
    const auto resvLength = static_cast<std::size_t>(std::max(0, model_.Params().resvLength));
    const std::size_t answerLength = SerialLink::SecondAnswerLength(resvLength);
    // A proof's answer that came twice, or a short answer, must not be dropped as an
    // implausible reading: it is asked again in step.
    VepReadingLedger ledger(model_.Params(), answerLength, SerialLink::WellFormed, vep::kException,
                            [&](const VepResponse& answer) { return !link_.NoReading(answer, answerLength); });
    const auto prove = [this](std::vector<BYTE>& dropped) { return link_.Prove(dropped); };
    for (int k = n - 1; k >= 0; --k) {
        if (state_.TakeAbort()) return vep::kAborted;
        VepResponse reading{};
        const auto ask = [&](VepResponse& answer) { return ReadReading(k, answer); };
        if ((result = ledger.Fetch(k, ask, prove, reading, state_.trace)) != vep::kOk) return result;
        if (Plausible(reading)) {
            if (!file.Write(reading.data(), recLength)) return vep::kFileError;
            ++written;
            state_.trace.Line("%d:ok", k);
        }
        state_.SetCount(n - k);
    }
    state_.SetCount(n);
    if (written < n) {
        state_.SetSize(written);
        BYTE count[2];
        PutLe16(count, written);
        if (!file.WriteAt(0, count, sizeof(count))) return vep::kFileError;
    }
    const int mode = state_.downloadMode;
    result = vep::kOk;
    if ((mode & (kModeClock | kModeClear)) == (kModeClock | kModeClear)) result = ClockSetting();
    if (mode & kModeClear) result = MemoryClear();
    return result;
}

// "MES", 0, the number and its check byte. A reading the monitor refuses three times is
// read as erased memory, which the plausibility test leaves out.
int SerialProcedures::ReadReading(int number, VepResponse& reading) {
    const VepFrame frame = VepFrame::Of("MES").Add(0).AddBe16(number).Add((number >> 8) ^ (number & 0xFF));
    const auto length = static_cast<std::size_t>(std::max(0, model_.Params().resvLength));
    const int result = link_.Retry(
        [&] { return link_.TextSecond(frame, reading, length, SerialLink::kReadingOkReads); }, false,
        SerialLink::kReadingOkReads);
    if (result == vep::kAnsweredNo) {
        state_.trace.Line("%d:ext read error", number);
        reading.fill(0xFF);
        return vep::kOk;
    }
    if (result != vep::kOk) state_.trace.Line("get data NG!!");
    return result;
}

bool SerialProcedures::Plausible(const VepResponse& reading) const {
    const VepModelParams& p = model_.Params();
    return VepRecords::BelowCeilings(Be16Within(reading, p.systolic), Be16Within(reading, p.diastolic),
                                     Be16Within(reading, p.pulse));
}

int SerialProcedures::ReadCounts(int& valid, int& total) {
    VepResponse counts{};
    const int result = link_.Retry([&] { return link_.Text(VepFrame::Of("CNT00"), counts, kCountLength); });
    if (result != vep::kOk) {
        state_.trace.Line("get cnt err!!");
        return result;
    }
    valid = Be16(counts, 3);
    total = Be16(counts, 5);
    return vep::kOk;
}

// "info.dat" gets the status answer and the nine block answers, 32 bytes each.
int SerialProcedures::FullRead(VepWorkFile& file) {
    Settings& settings = state_.settings;
    settings.Clear();
    state_.SetSize(kFullReadSize);
    state_.SetCount(0);
    int valid = 0;
    int total = 0;
    int result = ReadCounts(valid, total);
    if (result != vep::kOk) return result;
    settings.SetInt(Settings::kValidCount, std::min(valid, total));
    settings.SetInt(Settings::kTotalCount, total);
    VepPause(kCountPause);
    if (std::min(valid, total) > 0 && (result = ReadNewest()) != vep::kOk) return result;
    VepResponse status{};
    if ((result = ReadStatus(status)) != vep::kOk) return result;
    const VepDateTime clock = SerialMemory::DecodeStatus(status.data(), settings);
    if (!file.Write(status.data(), status.size())) return vep::kFileError;
    state_.SetCount(1);
    std::uint32_t stamp = 0;
    for (int number = 0; number < kBlocks; ++number) {
        VepResponse block{};
        if ((result = ReadBlock(number, &file, block)) != vep::kOk) return result;
        if (number == SerialMemory::kDoctorBlock) stamp = Le32(block.data() + SerialMemory::kStampByte);
    }
    // The clock gives no year: it is the entry's, or the next one when the clock's month
    // comes before the entry's. Without an entry, this year.
    const VepDateTime entry = stamp != 0 ? FromMinuteStamp(stamp) : LocalNow();
    const int year = stamp != 0 && clock.month < entry.month ? entry.year + 1 : entry.year;
    settings.SetDate(Settings::kClockDate, "%04d/%02d/%02d", {year, clock.month, clock.day, 0, 0, 0});
    state_.SetCount(kFullReadSize);
    state_.abort = false;
    return vep::kOk;
}

int SerialProcedures::ShortRead() {
    state_.SetSize(kShortReadSize);
    state_.SetCount(0);
    VepResponse status{};
    int result = ReadStatus(status);
    if (result != vep::kOk) return result;
    SerialMemory::DecodeStatus(status.data(), state_.settings);
    Step();
    for (const int number : kShortReadBlocks) {
        VepResponse block{};
        if ((result = ReadBlock(number, nullptr, block)) != vep::kOk) return result;
    }
    return vep::kOk;
}

// "MES", 0, 0, 0: the newest reading's date and time at 3..8.
int SerialProcedures::ReadNewest() {
    VepResponse response{};
    const VepFrame frame = VepFrame::Of("MES").Add(0).Add(0).Add(0);
    const int result =
        link_.Retry([&] { return link_.TextSecond(frame, response, kNewestLength, SerialLink::kReadingOkReads); });
    if (result != vep::kOk) {
        state_.trace.Line("get data NG!!");
        return result;
    }
    const VepDateTime newest = CarryMinute(FromDeviceBytes(response.data() + 3));
    state_.settings.SetDate(Settings::kNewestDate, "%4d/%02d/%02d", newest);
    state_.settings.SetTime(Settings::kNewestTime, newest);
    return vep::kOk;
}

int SerialProcedures::ReadStatus(VepResponse& status) {
    const int result = link_.Retry([&] { return link_.Status(status); });
    if (result != vep::kOk) state_.trace.Line("get Status err!!");
    return result;
}

// The block's 16 bytes and check byte at the start of response; an abort seen before an
// attempt ends the procedure.
int SerialProcedures::ReadRaw(int number, VepResponse& response) {
    const int result = link_.Retry([&] { return link_.ReadBlock(number, response); }, true);
    if (result != vep::kOk) state_.trace.Line("get err!!");
    return result;
}

// Read, kept in "info.dat" (its whole 32-byte answer) when a file is given, decoded
// into the settings block.
int SerialProcedures::ReadBlock(int number, VepWorkFile* file, VepResponse& response) {
    const int result = ReadRaw(number, response);
    if (result != vep::kOk) return result;
    if (file != nullptr && !file->Write(response.data(), response.size())) return vep::kFileError;
    SerialMemory::DecodeBlock(number, response.data(), state_.settings);
    Step();
    return vep::kOk;
}

int SerialProcedures::FullWrite() {
    Settings& settings = state_.settings;
    state_.SetSize(kFullWriteSize);
    state_.SetCount(0);
    VepResponse status{};
    int result = ReadStatus(status);
    if (result != vep::kOk) return result;
    settings.SetByte(Settings::kSerialPortByte, status[SerialMemory::kKeptStatusByte]);
    VepResponse serial{};
    if ((result = ReadBlock(SerialMemory::kSerialTextBlock, nullptr, serial)) != vep::kOk) {
        state_.trace.Line("Serial read err!!");
        return result;
    }
    const VepDateTime now = LocalNow();
    const SerialMemory::Block encoded = SerialMemory::EncodeStatus(settings, now);
    if ((result = WriteStatus(encoded.data())) != vep::kOk) return result;
    state_.SetCount(1);
    const std::uint32_t stamp = MinuteStamp(now);
    for (const int number : kWrittenBlocks) {
        if (state_.TakeAbort()) return vep::kAborted;
        if (number == SerialMemory::kDoctorBlock) {
            const VepDateTime entry = FromMinuteStamp(stamp);
            settings.SetDate(Settings::kEntryDate, "%d/%02d/%02d", entry);
            settings.SetTime(Settings::kEntryTime, entry);
        }
        const SerialMemory::Block block = SerialMemory::EncodeBlock(number, settings, stamp);
        if ((result = WriteBlock(number, block.data())) != vep::kOk) return result;
        Step();
    }
    result = MemoryClear();
    state_.SetCount(kFullWriteSize);
    return result;
}

int SerialProcedures::NightFlagWrite() {
    state_.SetSize(kNightWriteSize);
    state_.SetCount(0);
    VepResponse block{};
    int result = ReadRaw(SerialMemory::kNightFlagBlock, block);
    if (result != vep::kOk) return result;
    Step();
    block[SerialMemory::kNightFlagByte] = state_.settings.Byte(Settings::kNightFlag);
    if ((result = WriteBlock(SerialMemory::kNightFlagBlock, block.data())) != vep::kOk) return result;
    Step();
    return vep::kOk;
}

int SerialProcedures::SerialTextWrite() {
    state_.SetSize(kSerialWriteSize);
    state_.SetCount(0);
    const SerialMemory::Block block = SerialMemory::EncodeBlock(SerialMemory::kSerialTextBlock, state_.settings, 0);
    const int result = WriteBlock(SerialMemory::kSerialTextBlock, block.data());
    if (result == vep::kOk) Step();
    return result;
}

int SerialProcedures::WriteBlock(int number, const BYTE* data) {
    const int result = link_.Retry([&] { return link_.WriteBlock(number, data); });
    if (result != vep::kOk) state_.trace.Line("wr err!!");
    return result;
}

int SerialProcedures::WriteStatus(const BYTE* status) {
    const int result = link_.Retry([&] { return link_.WriteStatus(status); });
    if (result != vep::kOk) state_.trace.Line("prog write err!!");
    return result;
}

void SerialProcedures::Step() { state_.SetCount(state_.Count() + 1); }
