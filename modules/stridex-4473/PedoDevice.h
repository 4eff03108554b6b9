// The pedometer's commands over its HID link: the device ID, the 35 raw data blocks, the
// day records and the settings block, each request and reply an 8-byte report. Every
// exchange (device search, write, read) runs under the module lock; the texts handed out
// by pointer are written under a lock of their own. A call that gives up on the device
// tells why in one debug-output line: the program cannot see inside the module.
//
// The link stays open from one exchange to the next: the device is searched for when
// none is open (a failed read or write closes it), not at every exchange. A day-record
// read whose link a failed transfer lost after its start fails: the device found again
// may be another, or the same one out of its day-record mode. One that a time-out
// closed is opened again, as the device never left.
//
// A day record carries nothing of its request, so a day reply is taken only on a link
// shown to be in step: the ID's answer, which no block, day or start reply looks like,
// with every reply before it dropped, then the start's. After any fault the ID's answer,
// the same for every proof, is followed by the echoes of raw blocks that no other proof
// since asked for in that run, so a proof an earlier read left waiting is never taken for
// this one's. The read does so first and again after every time-out or refused reply; a
// late answer is then dropped, never taken for the next block's. The read as a whole is
// bounded: a device that keeps failing it cannot hold the caller for 30 attempts of every
// block. A raw read's ID is read the same way (the ID alone: a raw block and a settings
// half echo their number), and a settings write after a failure first shows the link in
// step, so an answer an earlier call left waiting is never taken for the ID, a block or a
// half's.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "CHIDClass.h"
#include "PedoHistory.h"
#include "PedoSettings.h"

constexpr int kPedoBlocks = 35;
constexpr int kPedoBlockSize = 5;
constexpr int kPedoRawSize = kPedoBlocks * kPedoBlockSize;
constexpr int kPedoTextLength = kPedoRawSize * 2;
constexpr int kPedoIdSize = 5;
constexpr int kPedoIdTextLength = kPedoIdSize * 2;

using PedoReport = std::array<BYTE, 8>;

// What is left of a read bounded as a whole, on the tick count; the default is unbounded.
struct PedoBudget {
    DWORD start = 0;
    DWORD allowance = 0;  // milliseconds; 0 for no bound
    // ms, or what is left of the allowance when that is less: 0 once it is spent.
    DWORD Left(DWORD ms) const;
};

class CPedoDevice {
public:
    CPedoDevice();

    // Reads the ID into the ID text ("0000000000" when the device does not answer); 10.
    int ReadId();
    // Reads the ID and all blocks: 350, -3 no device, -4 a block failed (the blocks read
    // before it stay). The result is kept as the raw-data length.
    int ReadOrigData();
    // ReadOrigData, then its text without the NUL into buffer when it fits in size bytes:
    // the text's length, the failed read's result, or -1 when it does not fit.
    int ReadOrigDataInto(void* buffer, int size);
    // The day records into history, dated from today (yyyymmdd): 30, or -2 when the device
    // did not answer a request 30 times or the read's time ran out. The caller holds the
    // history's lock.
    int ReadDayRecords(CPedoHistory& history, int today);
    // Writes the settings from an option text and the local time, reading the raw data
    // first when none was read: 0, -2 first half refused, -4 second half refused, or a
    // failed raw read's result.
    int WriteOptions(const char* options);

    const char* OrigText() const { return origText_; }
    int OrigLength() const { return origLength_.load(); }
    const char* IdText() const { return idText_; }
    int IdLength() const { return idLength_.load(); }

private:
    // Whether an exchange may search for the device when no link is open.
    enum class Relink { Allowed, Refused };
    // Exchange's result when the link was lost and could not be searched for again.
    static constexpr int kLinkLost = -3;

    // One request and its reply, searching for the device when no link is open and relink
    // allows it: 8, -1 no device or the write failed twice, -2 the read failed twice,
    // kLinkLost no open link with relink Refused (unless a time-out closed it). No wait
    // of it outlasts the budget.
    int Exchange(const PedoReport& request, PedoReport& reply, Relink relink = Relink::Allowed,
                 const PedoBudget& budget = {});
    // Exchange's two halves, under the module lock: 1 sent, or Exchange's failures.
    int SendLocked(const PedoReport& request, Relink relink, const PedoBudget& budget);
    bool ReceiveLocked(PedoReport& reply, int attempts, const PedoBudget& budget);
    // Plain: the ID alone, enough where the replies after it echo their own requests (a
    // raw block, a settings half). Distinct: the day read's, whose replies carry nothing.
    enum class Proof { Plain, Distinct };
    // The ID request (with, for a distinct proof after a fault, raw blocks named by the
    // proof's number), then its answer into reply with every reply before it dropped: 8
    // once the link is in step, Exchange's failures otherwise.
    int ProveInStepLocked(Relink relink, const PedoBudget& budget, PedoReport& reply, Proof proof = Proof::Plain);
    // ProveInStepLocked under the module lock, its result left to the exchanges after it.
    void ProveInStep();
    // ProveInStepLocked, then the start: 8 in step and in day-record mode, else a failure.
    int EnterDayMode(Relink relink, const PedoBudget& budget);
    // The read-day-record request on a link in step, entering day mode first when it is
    // not; a failure leaves it out of step.
    int AskDayRecord(int block, bool& inStep, const PedoBudget& budget, PedoReport& reply);
    // Up to 30 attempts of ask until one succeeds; false after 30, when the link was lost
    // or when the budget is spent.
    template <typename Ask>
    bool Patiently(const PedoBudget& budget, Ask ask);
    // 8 when the reply echoes the request's index, else -9.
    int EchoedExchange(const PedoReport& request, PedoReport& reply);
    // One echoed exchange whose reply must also carry code; true on success.
    bool CheckedExchange(const PedoReport& request, BYTE code, PedoReport& reply);
    bool Present();
    // What the last failed exchange brought, for the line of a call that gives up.
    void NoteFault(std::string fault);
    void NoteRefused(const PedoReport& reply);
    // Writes the line naming step, the node and the last fault; returns result.
    int GiveUp(const std::string& step, int result);
    // False when the device did not give its ID (it then reads as zeros); the link is in
    // step after it.
    bool ReadIdLocked();
    int ReadOrigDataLocked();
    int ReadBlocksLocked();
    int WriteSettings(const std::array<BYTE, kPedoSettingsSize>& block);

    CHIDClass hid_;
    std::mutex moduleLock_;
    // Taken by the readers and writers of the raw data and the ID, never inside an exchange.
    std::mutex dataLock_;
    std::array<BYTE, kPedoRawSize> raw_{};
    char origText_[512] = {};
    std::atomic<int> origLength_{-1};
    std::array<BYTE, kPedoIdSize> id_{};
    char idText_[kPedoIdTextLength + 1] = {};
    std::atomic<int> idLength_{0};
    // Set by every fault noted, cleared when the link is shown in step.
    std::atomic<bool> linkInDoubt_{false};
    // Set by every fault noted, cleared only by a distinct proof: a plain one may have
    // taken an ID answer left waiting. Proofs since, under the module lock.
    std::atomic<bool> answersMayWait_{false};
    std::uint64_t proofsInDoubt_ = 0;
    std::mutex faultLock_;  // taken last, held only to copy the text
    std::string fault_;
};
