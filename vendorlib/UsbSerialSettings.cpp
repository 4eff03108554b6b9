#include "UsbSerialSettings.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

#include "Bcc.h"
#include "UsbSerialLink.h"
#include "VepBytes.h"
#include "VepDate.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepState.h"

namespace {

using Block = VepSettingsBlock;
using Steps = std::initializer_list<std::pair<const char*, std::function<int()>>>;

constexpr int kReadSteps = 12;
constexpr int kWriteSteps = 11;
constexpr DWORD kStepPause = 100;
constexpr VepRetryPlan kStepPlan{3, true, 0, kStepPause, nullptr};
constexpr std::size_t kCountLength = 8;
constexpr std::size_t kClockLength = 10;
constexpr std::size_t kNewestLength = 17;
constexpr std::size_t kDoctorLength = 17;
constexpr std::size_t kCounted = 4;  // "OK", a byte and the length byte come first
constexpr std::size_t kDoctorIdLimit = 8;
constexpr std::size_t kPatientIdLimit = 13;
constexpr std::size_t kNameLimit = 15;

VepFrame& WithBcc(VepFrame& frame) { return frame.Add(FrameBcc(frame.bytes.data(), frame.length)); }

}  // namespace

UsbSerialSettings::UsbSerialSettings(UsbSerialLink& link, VepModel& model, VepState& state)
    : link_(link), model_(model), state_(state) {}

int UsbSerialSettings::ReadJob() {
    return link_.RunJob([this] {
        const int type = model_.Params().downloadType;
        return type == 3 || type == 4 ? Read(type == 3) : vep::kOk;
    });
}

int UsbSerialSettings::WriteJob() {
    return link_.RunJob([this] {
        const int type = model_.Params().downloadType;
        return type == 3 || type == 4 ? Write(type == 3) : vep::kOk;
    });
}

int UsbSerialSettings::ClearJob() {
    return link_.RunJob([this] {
        const int type = model_.Params().downloadType;
        if (type == 2) return Exchange(VepFrame::Of("CTD00"));
        return type == 3 || type == 4 ? MemoryClear() : vep::kOk;
    });
}

int UsbSerialSettings::ClockSetting() {
    return link_.Retry(kStepPlan, [this] { return ClockExchange(); });
}

int UsbSerialSettings::MemoryClear() {
    return link_.Retry(kStepPlan, [this] { return ClearExchange(); });
}

// The short read stops after the doctor's entry.
int UsbSerialSettings::Read(bool full) {
    Block& block = state_.settings;
    block.Clear();
    state_.SetSize(kReadSteps);
    stepRan_ = false;
    int result = Step("CNT00", [this] { return ReadCounts(); });
    if (result == vep::kOk && block.Int(Block::kValidCount) > 0) result = Step("GME", [this] { return ReadNewest(); });
    for (const auto& [name, exchange] : Steps{
             {"GPI00", [this] { return ReadText("GPI00", Block::kPatientId, kPatientIdLimit); }},
             {"GPF00", [this] { return ReadText("GPF00", Block::kPatientName1, kNameLimit); }},
             {"GPS00", [this] { return ReadText("GPS00", Block::kPatientName2, kNameLimit); }},
             {"GBI00", [this] { return ReadSerialText(); }},
             {"GCL00", [this] { return ReadClock(); }},
             {"GDI00", [this] { return ReadDoctor(); }},
         }) {
        if (result == vep::kOk) result = Step(name, exchange);
    }
    if (result != vep::kOk || !full) return result;
    int additional = 0;
    int night = 0;
    int nightInterval = 0;
    for (const auto& [name, exchange] : Steps{
             {"GIA00", [this] { return ReadInterval(); }},
             {"GAT00",
              [&] {
                  return ReadPairs("GAT00", Block::kAdditionalPairs, Block::kAdditionalCount, Block::kAdditionalFirst,
                                   Block::kAdditionalSecond, additional);
              }},
             {"GMT00",
              [&] {
                  return ReadPairs("GMT00", Block::kNightPairs, Block::kNightCount, Block::kNightFirst,
                                   Block::kNightSecond, night);
              }},
             {"GFM00",
              [&] {
                  return ReadPairs("GFM00", Block::kNightPairs, Block::kNightIntervalCount, Block::kNightIntervalFirst,
                                   Block::kNightIntervalSecond, nightInterval);
              }},
         }) {
        if (result == vep::kOk) result = Step(name, exchange);
    }
    if (result != vep::kOk) return result;
    block.SetByte(Block::kAdditionalFlag, additional != 0 || block.Byte(Block::kIntervalIndex) != 0 ? 1 : 0);
    block.SetByte(Block::kNightFlag, night != 0 || nightInterval != 0 ? 1 : 0);
    return vep::kOk;
}

// The short write sends the identities and sets the clock.
int UsbSerialSettings::Write(bool full) {
    const Block& block = state_.settings;
    state_.SetSize(kWriteSteps);
    stepRan_ = false;
    int result = vep::kOk;
    for (const auto& [name, exchange] : Steps{
             {"GBI00", [this] { return ReadSerialText(); }},
             {"SPI", [this] { return WriteText("SPI", Block::kPatientId, kPatientIdLimit, 19, true); }},
             {"SPF", [this] { return WriteText("SPF", Block::kPatientName1, kNameLimit, 21, true); }},
             {"SPS", [this] { return WriteText("SPS", Block::kPatientName2, kNameLimit, 21, true); }},
             {"SDI", [this] { return WriteDoctor(); }},
         }) {
        if (result == vep::kOk) result = Step(name, exchange);
    }
    if (result != vep::kOk) return result;
    if (!full) return Step("SCL", [this] { return ClockExchange(); });
    const bool additional = block.Byte(Block::kAdditionalFlag) != 0;
    const bool night = block.Byte(Block::kNightFlag) != 0;
    for (const auto& [name, exchange] : Steps{
             {"SIA", [this] { return WriteBasic(); }},
             {"SAT",
              [&] {
                  return WritePairs("SAT", additional, Block::kAdditionalCount, Block::kAdditionalPairs,
                                    Block::kAdditionalFirst, Block::kAdditionalSecond, 22);
              }},
             {"SMT",
              [&] {
                  return WritePairs("SMT", night, Block::kNightCount, Block::kNightPairs, Block::kNightFirst,
                                    Block::kNightSecond, 14);
              }},
             {"SFM",
              [&] {
                  return WritePairs("SFM", night, Block::kNightIntervalCount, Block::kNightPairs,
                                    Block::kNightIntervalFirst, Block::kNightIntervalSecond, 14);
              }},
             {"SCL", [this] { return ClockExchange(); }},
             {"MCL00", [this] { return ClearExchange(); }},
         }) {
        if (result == vep::kOk) result = Step(name, exchange);
    }
    return result;
}

// Between two steps the monitor is given a pause and woken again; whether it answers
// that handshake shows in the next step.
int UsbSerialSettings::Step(const char* name, const std::function<int()>& exchange) {
    if (stepRan_) {
        link_.Pause(kStepPause);
        link_.Handshake();
    }
    stepRan_ = true;
    const int result = link_.Retry(kStepPlan, exchange);
    if (result != vep::kOk) {
        state_.trace.Line("%s err:%d", name, result);
        return result;
    }
    state_.SetCount(state_.Count() + 1);
    return vep::kOk;
}

int UsbSerialSettings::ReadCounts() {
    VepResponse response{};
    const int result = link_.Command(VepFrame::Of("CNT00"), false, response, kCountLength, true);
    if (result != vep::kOk) return result;
    state_.settings.SetInt(Block::kValidCount, Be16(response, 3));
    state_.settings.SetInt(Block::kTotalCount, Be16(response, 5));
    return vep::kOk;
}

int UsbSerialSettings::ReadNewest() {
    VepResponse response{};
    const int result = Exchange(VepFrame::Of("GME").Add(0).Add(0).Add(0).Add(0).Add(0), response, kNewestLength, 0);
    if (result != vep::kOk) return result;
    const VepDateTime newest = FromDeviceBytes(response.data() + 3);
    state_.settings.SetDate(Block::kNewestDate, "%4d/%02d/%02d", newest);
    state_.settings.SetTime(Block::kNewestTime, newest);
    return vep::kOk;
}

int UsbSerialSettings::ReadText(const char* command, std::size_t offset, std::size_t limit) {
    VepResponse response{};
    const int result = Exchange(VepFrame::Of(command), response, kCounted, 1);
    if (result == vep::kOk) state_.settings.SetText(offset, response.data() + 4, response[3], limit);
    return result;
}

// The adapter's revision is kept beside the monitor's serial text.
int UsbSerialSettings::ReadSerialText() {
    const int result = ReadText("GBI00", Block::kSerialText, kNameLimit);
    if (result != vep::kOk) return result;
    const std::string& revision = link_.Revision();
    state_.settings.SetText(Block::kRevisionText, reinterpret_cast<const BYTE*>(revision.data()), revision.size(),
                            kNameLimit);
    return vep::kOk;
}

int UsbSerialSettings::ReadClock() {
    VepResponse response{};
    const int result = link_.Command(VepFrame::Of("GCL00"), false, response, kClockLength, true);
    if (result != vep::kOk) return result;
    const VepDateTime clock = FromDeviceBytes(response.data() + 3);
    state_.settings.SetDate(Block::kClockDate, "%04d/%02d/%02d", clock);
    state_.settings.SetTime(Block::kClockTime, clock);
    return vep::kOk;
}

int UsbSerialSettings::ReadDoctor() {
    VepResponse response{};
    const int result = Exchange(VepFrame::Of("GDI00"), response, kDoctorLength, 0);
    if (result != vep::kOk) return result;
    Block& block = state_.settings;
    block.SetText(Block::kDoctorId, response.data() + 4, response[3], kDoctorIdLimit);
    const std::uint32_t stamp = Le32(response.data() + 12);
    if (stamp == 0) {
        block.ClearField(Block::kEntryDate, Block::kDateField);
        block.ClearField(Block::kEntryTime, Block::kTimeField);
    } else {
        const VepDateTime entry = FromMinuteStamp(stamp);
        block.SetDate(Block::kEntryDate, "%d/%02d/%02d", entry);
        block.SetTime(Block::kEntryTime, entry);
    }
    return vep::kOk;
}

int UsbSerialSettings::ReadInterval() {
    VepResponse response{};
    const int result = link_.Command(VepFrame::Of("GIA00"), false, response, kClockLength, true);
    if (result != vep::kOk) return result;
    Block& block = state_.settings;
    const int index = Block::IntervalIndex(Be16(response, 7));
    for (std::size_t i = 0; i < 4; ++i)
        block.SetByte(Block::kBasicStartHour + i, index == 0 ? Block::kUnused : response[3 + i]);
    block.SetByte(Block::kIntervalIndex, static_cast<BYTE>(index));
    return vep::kOk;
}

int UsbSerialSettings::ReadPairs(const char* command, int most, std::size_t countOffset, std::size_t first,
                                 std::size_t second, int& count) {
    VepResponse response{};
    const int result = Exchange(VepFrame::Of(command), response, kCounted, 2);
    if (result != vep::kOk) return result;
    Block& block = state_.settings;
    count = std::min<int>(response[3], most);
    for (int i = 0; i < most; ++i) {
        const auto at = static_cast<std::size_t>(i);
        block.SetByte(first + at, i < count ? response[4 + 2 * at] : Block::kUnused);
        block.SetByte(second + at, i < count ? response[5 + 2 * at] : Block::kUnused);
    }
    block.SetInt(countOffset, count);
    return vep::kOk;
}

// "XXX", 0, L, the text, its check byte; an empty text goes as one zero byte.
int UsbSerialSettings::WriteText(const char* command, std::size_t offset, std::size_t limit, std::size_t frameLength,
                                 bool atLeastOne) {
    const std::string text = state_.settings.Text(offset);
    std::size_t length = std::min(text.size(), limit);
    if (length == 0 && atLeastOne) length = 1;
    VepFrame frame = VepFrame::Of(command).Add(0).Add(static_cast<int>(length));
    for (std::size_t i = 0; i < length; ++i) frame.Add(i < text.size() ? text[i] : 0);
    return Exchange(WithBcc(frame).PadTo(frameLength));
}

// The entry is stamped with the present minute, which the block then shows.
int UsbSerialSettings::WriteDoctor() {
    const std::string id = state_.settings.Text(Block::kDoctorId);
    const std::size_t length = std::min(id.size(), kDoctorIdLimit);
    const VepDateTime now = LocalNow();
    const std::uint32_t stamp = MinuteStamp(now);
    VepFrame frame = VepFrame::Of("SDI").Add(0).Add(static_cast<int>(length));
    for (std::size_t i = 0; i < kDoctorIdLimit; ++i) frame.Add(i < length ? id[i] : 0);
    for (int shift = 0; shift < 32; shift += 8) frame.Add(static_cast<int>((stamp >> shift) & 0xFF));
    const int result = Exchange(WithBcc(frame));
    if (result != vep::kOk) return result;
    const VepDateTime entry = FromMinuteStamp(stamp);
    state_.settings.SetDate(Block::kEntryDate, "%d/%02d/%02d", entry);
    state_.settings.SetTime(Block::kEntryTime, entry);
    return vep::kOk;
}

// A window with a 0xFF byte is no window: all four bytes go as 0 with no interval.
int UsbSerialSettings::WriteBasic() {
    const Block& block = state_.settings;
    BYTE window[4];
    bool none = false;
    for (std::size_t i = 0; i < 4; ++i) {
        window[i] = block.Byte(Block::kBasicStartHour + i);
        none = none || window[i] == Block::kUnused;
    }
    const int index = none ? 0 : block.Byte(Block::kIntervalIndex);
    const int minutes = block.Byte(Block::kAdditionalFlag) != 0 ? Block::IntervalMinutes(index) : 0;
    VepFrame frame = VepFrame::Of("SIA").Add(0);
    for (BYTE b : window) frame.Add(none ? 0 : b);
    frame.AddBe16(minutes);
    return Exchange(WithBcc(frame));
}

int UsbSerialSettings::WritePairs(const char* command, bool on, std::size_t countOffset, int most, std::size_t first,
                                  std::size_t second, std::size_t frameLength) {
    const Block& block = state_.settings;
    const int count = on ? std::clamp<int>(block.Int(countOffset), 0, most) : 0;
    VepFrame frame = VepFrame::Of(command).Add(0).Add(count);
    for (int i = 0; i < count; ++i) {
        frame.Add(block.Byte(first + static_cast<std::size_t>(i)))
            .Add(block.Byte(second + static_cast<std::size_t>(i)));
    }
    return Exchange(WithBcc(frame).PadTo(frameLength));
}

int UsbSerialSettings::ClockExchange() {
    const VepDateTime now = LocalNow();
    VepFrame frame = VepFrame::Of("SCL").Add(0).Add(now.year - 2000).Add(now.month).Add(now.day);
    frame.Add(now.hour).Add(now.minute).Add(now.second);
    return Exchange(WithBcc(frame));
}

int UsbSerialSettings::ClearExchange() { return Exchange(VepFrame::Of("MCL00")); }

int UsbSerialSettings::Exchange(const VepFrame& frame, VepResponse& response, std::size_t expected, int unit) {
    return link_.VariableCommand(frame, response, expected, unit);
}

int UsbSerialSettings::Exchange(const VepFrame& frame) {
    VepResponse response{};
    return Exchange(frame, response, 2, 0);
}
