#include "VepRecords.h"

#include <algorithm>

#include "VepBytes.h"
#include "VepFileBytes.h"
#include "VepModel.h"
#include "VepTrace.h"

namespace {

// n at offset 0 and the serial value at offset 4, both little-endian 16-bit.
constexpr std::size_t kCountOffset = 0;
constexpr std::size_t kSerialOffset = 4;
constexpr std::size_t kHeaderMinimum = 6;
constexpr double kMmHgPerTenthKpa = 76 * 0.009869232667160128;
constexpr int kMostSystolic = 320;
constexpr int kLeastImplausible = 255;  // diastolic and pulse
// No cuff reads a lower systolic pressure from a body: a 0 is an empty field or noise.
constexpr int kLeastSystolic = 20;

// True when the reading is a memo the model marks by its values, not a measurement.
bool ApplyMemoRules(VepReading& r, int memoType) {
    if (memoType == 1 && r.systolic == 0 && r.diastolic == 0 && r.pulse == 1) {
        r.pulse = 0;
        r.memo = 1;
        return true;
    }
    if (memoType == 2 && r.systolic == 25 && r.diastolic == 0 && r.pulse == 0) {
        r.systolic = 0;
        r.memo = 1;
        return true;
    }
    return false;
}

// A field the model places past the record would read 0, a value the monitor never sent.
bool Inside(const VepField& f, std::span<const BYTE> raw) {
    if (!f.Present()) return true;
    return f.offset >= 0 && static_cast<std::size_t>(f.offset) + static_cast<std::size_t>(f.size) <= raw.size();
}

bool FieldsInside(std::span<const BYTE> raw, const VepModelParams& m) {
    for (const VepField* f : {&m.systolic, &m.diastolic, &m.pulse, &m.year, &m.month, &m.day, &m.hour, &m.minute,
                              &m.second}) {
        if (!Inside(*f, raw)) return false;
    }
    return true;
}

int ToMmHg(int tenthsKpa) { return static_cast<int>(tenthsKpa * kMmHgPerTenthKpa + 0.5); }

// When the reading was taken; false when its fields name no moment that can exist (a
// month 13, an hour 25, a packed digit above 9). A month of 0 stands for now.
bool ReadingMoment(std::span<const BYTE> raw, const VepModelParams& model, VepDateTime& when) {
    const bool le = model.dataType != 0;
    const auto field = [&](const VepField& f) { return ReadField(f, raw, le); };
    const int month = field(model.month);
    if (month == 0) {
        when = LocalNow();
        return true;
    }
    for (const VepField* f : {&model.year, &model.month, &model.day, &model.hour, &model.minute, &model.second}) {
        if (!PackedDigitsValid(*f, raw, le)) return false;
    }
    const int second = model.second.Present() ? field(model.second) : 0;
    const VepDateTime read{field(model.year) + model.startYear, month, field(model.day), field(model.hour),
                           field(model.minute), second};
    if (!PossibleMoment(read)) return false;
    when = CarryMinute(read);
    return when.year <= 9999;
}

std::int8_t KindOf(std::int8_t number) {
    switch (number) {
        case 0: return 1;
        case 1: return 3;
        case 2: return 2;
        default: return 0;
    }
}

}  // namespace

std::size_t VepRecords::FileBound(const VepModelParams& model) {
    return VepRecordsFileBound(model.dataStart, model.recLength, kVepMostRecords);
}

int VepRecords::DecodeFile(const std::string& path, const VepModelParams& model, VepTrace& trace,
                           const std::function<bool()>& stop, const std::string& volume) {
    Clear();
    std::vector<BYTE> file;
    const int read = ReadVepFile(path, file, FileBound(model), trace, stop, volume);
    if (read != 0) {
        trace.Line("file open err: %s", path.c_str());
        return read;
    }
    return Decode(file, model, trace);
}

int VepRecords::Decode(std::span<const BYTE> file, const VepModelParams& model, VepTrace& trace) {
    Clear();
    const auto dataStart = static_cast<std::size_t>(std::max(0, model.dataStart));
    if (file.size() < kHeaderMinimum || file.size() < dataStart) {
        trace.Line("data file short: %zu bytes", file.size());
        return -1;
    }
    const int n = Le16(file.data() + kCountOffset);
    const int serial = Le16(file.data() + kSerialOffset);
    // A file holds what its count declares: more is not this format.
    const std::size_t declared = VepRecordsFileBound(model.dataStart, model.recLength, static_cast<std::size_t>(n));
    if (file.size() > declared) {
        trace.Line("data file of %zu bytes over its count %d", file.size(), n);
        return -1;
    }
    const auto recLength = static_cast<std::size_t>(std::max(0, model.recLength));
    const std::size_t present = recLength > 0 ? (file.size() - dataStart) / recLength : 0;
    const std::size_t slots = std::min(static_cast<std::size_t>(n), present);
    if (slots < static_cast<std::size_t>(n)) trace.Line("data count %d cut to %zu", n, slots);

    // The newest reading lies last: from it back, until the store is full.
    for (std::size_t i = slots; i-- > 0 && readings_.size() < kCapacity;) {
        const auto raw = file.subspan(dataStart + i * recLength, recLength);
        if (Erased(raw, model)) continue;
        if (!FieldsInside(raw, model)) {
            trace.Line("data %zu dropped: a field lies outside the record", i);
            continue;
        }
        VepDateTime when;
        if (!ReadingMoment(raw, model, when)) {
            trace.Line("data %zu dropped: no such date", i);
            continue;
        }
        bool memo = false;
        VepReading reading = DecodeOne(raw, model, memo);
        if (!memo && !Plausible(reading.systolic, reading.diastolic, reading.pulse)) {
            trace.Line("data %zu dropped: %d/%d/%d", i, reading.systolic, reading.diastolic, reading.pulse);
            continue;
        }
        reading.when = when;
        // Numbered by the raw count and slot, so neither a dropped reading nor one left
        // out of the store shifts the others' serials.
        if (model.dataSerial != 0 && serial != 0) reading.serial = serial - (n - 1 - static_cast<int>(i));
        readings_.push_back(reading);
    }
    std::reverse(readings_.begin(), readings_.end());
    count_ = static_cast<int>(readings_.size());
    return 0;
}

VepReading VepRecords::DecodeOne(std::span<const BYTE> raw, const VepModelParams& model, bool& memo) const {
    const bool le = model.dataType != 0;
    const auto field = [&](const VepField& f) { return ReadField(f, raw, le); };
    VepReading r;
    r.systolic = field(model.systolic);
    r.diastolic = field(model.diastolic);
    r.pulse = field(model.pulse);
    r.number = static_cast<std::int8_t>(field(model.number));
    r.count = static_cast<std::int8_t>(field(model.count));
    r.setCount = static_cast<std::int8_t>(field(model.setCount));
    r.memo = static_cast<std::int8_t>(field(model.memo));
    r.moveFlag = static_cast<std::int8_t>(field(model.moveFlag));
    r.irregularPulse = static_cast<std::int8_t>(field(model.irregularPulse));
    r.userKbn = field(model.userKbn);
    memo = ApplyMemoRules(r, model.memoType);
    if (field(model.unit) == 1) {
        r.systolic = ToMmHg(r.systolic);
        r.diastolic = ToMmHg(r.diastolic);
    }
    if (r.count != 0 && r.setCount == 0) r.setCount = 3;
    r.kind = model.bpkbnFlag != 0 ? KindOf(r.number) : 0;
    return r;
}

bool VepRecords::Plausible(int systolic, int diastolic, int pulse) {
    return systolic >= kLeastSystolic && BelowCeilings(systolic, diastolic, pulse);
}

bool VepRecords::BelowCeilings(int systolic, int diastolic, int pulse) {
    return systolic <= kMostSystolic && diastolic < kLeastImplausible && pulse < kLeastImplausible;
}

// Tested on the raw byte, before a packed decimal or a bit field could turn it into
// something else.
bool VepRecords::Erased(std::span<const BYTE> raw, const VepModelParams& model) {
    const VepField& month = model.month;
    if (!month.Present() || month.offset < 0 || static_cast<std::size_t>(month.offset) >= raw.size()) return false;
    return raw[static_cast<std::size_t>(month.offset)] == 0xFF;
}

bool VepRecords::RecordedMoment(std::span<const BYTE> raw, const VepModelParams& model, VepDateTime& when) {
    if (Erased(raw, model) || !FieldsInside(raw, model)) return false;
    if (ReadField(model.month, raw, model.dataType != 0) == 0) return false;
    return ReadingMoment(raw, model, when);
}

void VepRecords::Clear() {
    readings_.clear();
    count_ = 0;
    selected_ = 0;
}

bool VepRecords::Select(int index) {
    if (index < 0 || index >= Count()) return false;
    selected_ = index;
    return true;
}

bool VepRecords::CopySelected(str_bp_retdata& out) const {
    if (readings_.empty()) return false;
    ToRecord(readings_[static_cast<std::size_t>(selected_)], out);
    return true;
}

void VepRecords::ToRecord(const VepReading& r, str_bp_retdata& out) {
    out.systolic = r.systolic;
    out.diastolic = r.diastolic;
    out.pulse = r.pulse;
    out.number = r.number;
    out.count = r.count;
    out.setCount = r.setCount;
    out.memo = r.memo;
    out.moveFlag = r.moveFlag;
    out.irregularPulse = r.irregularPulse;
    out.kind = r.kind;
    out.serial = r.serial;
    FormatDate(out.date, sizeof(out.date), "%4d/%02d/%02d", r.when);
    FormatTime(out.time, sizeof(out.time), r.when);
    out.reserved68 = 0;
}
