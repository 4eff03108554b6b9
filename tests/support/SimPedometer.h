// A simulated pedometer: the device's side of its command table. Tests state values (the
// ID, the days, the reference totals, unit, step length and weight) and the device
// answers in its bytes. Faces put it behind a link: SimPedometerTransport in the HID
// transport hook, SimPedometerPty behind a hidraw-like node for the hidraw backend.
//
//   auto device = std::make_shared<SimPedometer>();
//   SimPedometerValues values;
//   values.days[0] = {5230, 45600};
//   device->SetValues(values);
//   device->FaultAt(8, SimFault::WrongCode, '4');   // the ninth request: block 7 of a raw read
//   device->AnswerLate(6, 2600);                     // block 6's next reply, 2.6 s late
//
// A block request that follows a start request is answered as a day record, one that
// follows a read-ID request as a raw data block.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "WinTypes.h"

using SimReport = std::array<BYTE, 8>;
using SimRawData = std::array<BYTE, 175>;
using SimSettings = std::array<BYTE, 10>;

struct SimDay {
    int steps = 0;
    int energy = 0;  // a raw block holds energy / 100, a day record the whole figure
};

struct SimPedometerValues {
    std::array<BYTE, 5> id{0x12, 0x34, 0x56, 0x78, 0x9A};
    bool metric = true;
    int stepLengthCm = 75;
    int weightKg = 65;
    int referenceDuration = 0;  // seconds
    int referenceSteps = 0;
    int referenceEnergy = 0;
    std::array<SimDay, 31> days{};  // [0] today, [d] d days before
};

enum class SimFault {
    WrongEcho,  // the reply's index byte differs from the request's
    WrongCode,  // the reply code is the fault's code
    TimeOut,    // no reply; the link reports the time-out at once
    IoError,    // the request's write fails
    Unplug,     // the device goes away: this write fails and searches no longer find it
    Bounce,     // the device drops off the bus for this request (its write fails) and is
                // back for the next search, out of its day-record mode
    Zeros,      // the reply is eight zero bytes
    NotDecimal, // the reply's data bytes read 0xAB, its index and code kept
};

// What the link does with one request. A late reply keeps the device busy: the replies to
// later requests come after it, in order.
struct SimAnswer {
    enum class Link { Reply, Silent, IoError };
    Link link = Link::Reply;
    SimReport reply{};
    DWORD delayMs = 0;
};

class SimPedometer {
public:
    SimPedometer();

    void SetValues(const SimPedometerValues& values);
    SimPedometerValues Values() const;
    // The 35 raw blocks as a raw read would get them now, and as upper-case hex.
    SimRawData RawBytes() const;
    std::string RawText() const;

    // A fault for the request of that number (0-based, counted over the device's life).
    void FaultAt(std::size_t request, SimFault fault, BYTE code = 0);
    // The next reply to a request for block (raw or day record) comes delayMs late.
    void AnswerLate(int block, DWORD delayMs);
    // From the next request on, only every second one is answered (the first is); false
    // answers every request again.
    void AnswerEverySecond(bool on);
    void SetPlugged(bool plugged);
    bool Plugged() const;

    // Every request received, in order.
    std::vector<SimReport> Requests() const;
    // The settings block of the last complete settings write.
    std::optional<SimSettings> LastSettings() const;

    SimAnswer Receive(const SimReport& request);

private:
    SimReport Answer(const SimReport& request);
    SimReport BlockReply(int block) const;
    SimReport DayRecordReply(int block) const;
    SimReport SettingsReply(const SimReport& request);
    SimAnswer Disturb(SimAnswer answer, std::size_t number);
    SimAnswer Delay(SimAnswer answer, const SimReport& request);
    SimRawData RawBytesLocked() const;

    mutable std::mutex lock_;
    SimPedometerValues values_;
    // Blocks 0 and 1: from the values, or the settings block last written.
    SimSettings head_{};
    bool dayRecords_ = false;
    std::optional<std::array<BYTE, 5>> firstHalf_;
    std::optional<SimSettings> lastSettings_;
    std::map<std::size_t, std::pair<SimFault, BYTE>> faults_;
    std::map<int, DWORD> late_;  // block -> the delay of its next reply
    std::optional<std::size_t> everySecondFrom_;  // the first request of the every-second spell
    std::vector<SimReport> requests_;
    bool plugged_ = true;
};
