// The reading store: the readings of the last download, decoded from the work file by
// the model's field layout, handed out one at a time as 72-byte records. The count is
// atomic, for the caller's polls while a job may refill the store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "VepDate.h"
#include "Vepcom.h"
#include "WinTypes.h"

struct VepModelParams;
class VepTrace;

// A reading as the store keeps it; the small fields are the monitor's signed bytes.
struct VepReading {
    int systolic = 0;
    int diastolic = 0;
    int pulse = 0;
    std::int8_t number = 0;
    std::int8_t count = 0;
    std::int8_t setCount = 0;
    std::int8_t memo = 0;
    std::int8_t moveFlag = 0;
    std::int8_t irregularPulse = 0;
    std::int8_t kind = 0;
    int serial = 0;
    int userKbn = 0;
    VepDateTime when;
};

class VepRecords {
public:
    static constexpr std::size_t kCapacity = 700;

    // The most a readings file may hold: its header and as many readings as its count can
    // declare, with slack. The store keeps the newest kCapacity of them.
    static std::size_t FileBound(const VepModelParams& model);

    // Refills the store from the readings file at path; the store is emptied first, so
    // a failed decode never hands out the previous readings. The newest readings are
    // kept when there are more than the store holds. 0; -1 (traced) when the file is
    // missing, not a regular file, larger than FileBound or than its own count declares,
    // or too short for its header, or of a volume (volume not empty) not its own; 11 when
    // stop ended the read.
    int DecodeFile(const std::string& path, const VepModelParams& model, VepTrace& trace,
                   const std::function<bool()>& stop = {}, const std::string& volume = {});
    // A reading whose date or time cannot exist, or whose pressures or pulse no body
    // gives, is dropped (traced), as an erased one is.
    int Decode(std::span<const BYTE> file, const VepModelParams& model, VepTrace& trace);
    void Clear();

    int Count() const { return count_; }
    // Selects a reading; an index outside the store is refused (false) and the
    // selection kept.
    bool Select(int index);
    int Selected() const { return selected_; }
    // The selected reading as the caller's record; false when the store is empty.
    bool CopySelected(str_bp_retdata& out) const;

    static void ToRecord(const VepReading& reading, str_bp_retdata& out);
    // Systolic from 20 up to 320 mmHg, diastolic and pulse below 255: beyond them a
    // monitor sent erased memory or noise, whatever its link. A memo the model marks by
    // its values is no measurement and is kept.
    static bool Plausible(int systolic, int diastolic, int pulse);
    // The upper bounds alone: what a download may test before the memo rules are applied.
    static bool BelowCeilings(int systolic, int diastolic, int pulse);
    // Whether a raw reading is a slot of erased memory: its month byte reads 0xFF.
    static bool Erased(std::span<const BYTE> raw, const VepModelParams& model);
    // The moment a raw reading was taken; false when it names none (erased memory, a
    // monitor without a clock, a field past the record, a moment that cannot exist).
    static bool RecordedMoment(std::span<const BYTE> raw, const VepModelParams& model, VepDateTime& when);

private:
    // Everything but the moment, which the decoding checks first.
    // memo: the model's memo rules made it a memo.
    VepReading DecodeOne(std::span<const BYTE> raw, const VepModelParams& model, bool& memo) const;

    std::vector<VepReading> readings_;
    std::atomic<int> count_{0};
    int selected_ = 0;
};
