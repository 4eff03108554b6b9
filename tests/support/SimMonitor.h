// A simulated blood-pressure monitor behind its USB-serial adapter: the monitor's side
// of the command protocol, with state the tests set (readings, counts, profile, clock,
// settings, weekly summaries, walking days), a timed log of every frame it received,
// and faults per command. Faces put it behind a link: SimMonitorTransport as the HID
// transport, SimMonitorPty as a serial port (its personality is SimMonitorSerial).
//
//   auto monitor = std::make_shared<SimMonitor>();
//   SimMonitorState state;
//   state.readings.push_back({2013, 3, 5, 8, 9, 10, 120, 80, 65});
//   monitor->SetState(state);
//   monitor->SetFault("GME", SimMonitorFault::Ng, 2);        // the first two "GME" fail
//   monitor->OnCommand("MES", [&] { state.abort = true; });  // as the frame arrives
//
// Responses carry 0x30 in byte 2 and end in the XOR of bytes 3 to the one before the
// last; "NO" and "NG" are two bytes with nothing after them.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "WinTypes.h"

struct SimReading {
    int year = 2013;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int systolic = 120;
    int diastolic = 80;
    int pulse = 70;
    std::array<BYTE, 3> extra{};  // bytes 13..15 of the record: number, memo and flags
};

// One weekly summary block; month 0 marks a week without data.
struct SimSummary {
    int number = 0;
    int year = 2013;
    int month = 0;
    int day = 0;
    int systolic = 0;  // 0: no value
    int diastolic = 0;
    int pulse = 0;
};

using SimPairs = std::vector<std::pair<BYTE, BYTE>>;

struct SimMonitorState {
    std::string name = "SIMBP3";  // reported by "VER00"
    std::string revision = "1.02";
    std::array<BYTE, 10> profile{'P', 'R', 'O', '0', '1', 'A', 'B', 'C', 'D', 'E'};  // response bytes 3..12
    std::vector<SimReading> readings;                                                // [0] the newest
    int totalCount = -1;                                                             // -1: the number of readings
    int serialValue = 0;                                                             // "GDC"'s serial value
    std::string serialText = "SN0001";
    std::array<int, 6> clock{2013, 3, 5, 8, 9, 10};  // year, month, day, hour, minute, second
    bool clockSet = true;                            // false: the clock check's "GMA" answers "NG"
    std::string patientId = "PID01";
    std::string patientName1 = "TARO";
    std::string patientName2 = "YAMADA";
    std::string doctorId = "DOC1";
    std::uint32_t doctorStamp = 0;
    std::array<BYTE, 4> basic{7, 0, 21, 30};  // start hour, minute, end hour, minute
    int intervalMinutes = 30;
    SimPairs additional;
    SimPairs night;
    SimPairs nightInterval;
    std::array<SimSummary, 8> mornings{};  // by week index
    std::array<SimSummary, 8> evenings{};
    int walkingDays = 0;
    std::size_t resvLength = 17;   // response length of a reading and of walking parts 1..3
    std::size_t resvLength2 = 17;  // of walking part 4
    std::size_t handshakeLength = 12;
    // The serial personality: memory blocks 0..8, the status block, and a line that
    // echoes every byte it receives.
    std::array<std::array<BYTE, 16>, 9> blocks{};
    std::array<BYTE, 16> status{};
    bool echoBack = false;
};

enum class SimMonitorFault {
    No,        // "NO"
    Ng,        // "NG"
    WrongBcc,  // the full response with its last byte wrong
    Silent,    // no response
    BadCount,  // the first input report's count byte is 8
    Hold,      // the response waits until Release()
    Twice,     // the response, and the same again the repeat delay later
    Late,      // the response comes once two reads of the host's timed out: as it asks again (the USB face only)
};

struct SimFrame {
    std::string name;  // "VER00", "MES", "HANDSHAKE" ...
    std::vector<BYTE> bytes;
    std::chrono::steady_clock::time_point at;
};

struct SimMonitorAnswer {
    std::vector<BYTE> bytes;  // empty: silence
    bool badCount = false;
    std::uint64_t holdTicket = 0;  // non-zero: released by Release()
    bool afterPurge = false;       // sent only after the host purged its input
    bool twice = false;            // sent once more repeatAfter later
    std::chrono::milliseconds repeatAfter{0};
    bool late = false;             // there only once two reads have timed out
};

class SimMonitor {
public:
    static constexpr BYTE kFiller = 0x30;
    static constexpr std::chrono::milliseconds kRepeatDelay{40};

    void SetState(const SimMonitorState& state);
    SimMonitorState State() const;

    // A fault for the next times frames of command (-1: every one).
    void SetFault(const std::string& command, SimMonitorFault fault, int times = -1);
    // How long after its first sending an answer of the Twice fault comes again.
    void SetRepeatDelay(std::chrono::milliseconds delay);
    // Runs action as a frame of command arrives, before the answer.
    void OnCommand(const std::string& command, std::function<void()> action);
    // Answers command with these bytes instead.
    void SetReply(const std::string& command, std::vector<BYTE> bytes);
    // Lets every response held so far go; Holding() tells whether one waits.
    void Release();
    bool Holding() const;
    bool AwaitRelease(std::uint64_t ticket, std::chrono::milliseconds timeout);

    void SetPlugged(bool plugged);
    bool Plugged() const;

    std::vector<SimFrame> Frames() const;
    std::vector<std::string> FrameNames() const;
    int CountOf(const std::string& command) const;

    // The response to "GTD" for day i, part p (1..4), as the monitor sends it.
    std::vector<BYTE> WalkingPart(int day, int part) const;
    // The response to "MES"/"GME" for reading k (0 the newest).
    std::vector<BYTE> ReadingRecord(std::size_t k) const;

    // The serial personality's record for reading k, as "MES" gets it.
    std::vector<BYTE> SerialReadingRecord(std::size_t k) const;

    SimMonitorAnswer Receive(const std::vector<BYTE>& frame);
    SimMonitorAnswer ReceiveSerial(const std::vector<BYTE>& frame);

private:
    using Answering = std::function<std::vector<BYTE>(const std::string& name, const std::vector<BYTE>& frame)>;

    SimMonitorAnswer ReceiveAs(const std::string& name, const std::vector<BYTE>& frame, const Answering& answer);
    std::vector<BYTE> Answer(const std::string& name, const std::vector<BYTE>& frame);
    std::vector<BYTE> AnswerRead(const std::string& name, const std::vector<BYTE>& frame);
    std::vector<BYTE> AnswerWrite(const std::string& name, const std::vector<BYTE>& frame);
    SimMonitorAnswer Disturb(const std::string& name, std::vector<BYTE> bytes);
    std::vector<BYTE> ReadingRecordLocked(std::size_t k) const;
    std::vector<BYTE> WalkingPartLocked(int day, int part) const;

    struct Fault {
        SimMonitorFault kind;
        int times;
    };

    mutable std::mutex lock_;
    std::condition_variable released_;
    SimMonitorState state_;
    std::map<std::string, Fault> faults_;
    std::map<std::string, std::function<void()>> actions_;
    std::map<std::string, std::vector<BYTE>> replies_;
    std::vector<SimFrame> frames_;
    std::uint64_t heldTickets_ = 0;
    std::uint64_t releasedUpTo_ = 0;
    bool plugged_ = true;
    std::chrono::milliseconds repeatDelay_ = kRepeatDelay;
};
