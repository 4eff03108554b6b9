#include "PedoDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "Hooks.h"
#include "PedoBcd.h"
#include "Text.h"

namespace {

constexpr int kVendorId = 0x0C45;
constexpr int kProductId = 0x70C1;
constexpr DWORD kIoTimeout = 1000;
constexpr int kIoAttempts = 2;
constexpr int kPatientAttempts = 30;
// A day read is 34 exchanges: an honest device answering each just inside its 1000 ms
// time-out, with a few recovered time-outs, still ends inside this.
constexpr DWORD kDayReadAllowance = 45000;
const std::string kDayReadSpent = "the day read's " + std::to_string(kDayReadAllowance / 1000) + " s ran out";
// Replies dropped before the ID's answer at most: each failed attempt leaves one or two.
constexpr int kMostDropped = 16;

// Request: data bytes 0..4, index at 5, flag at 6, command code at 7. Reply: data, the
// index echoed at 5, the reply code at 7.
constexpr std::size_t kIndexByte = 5;
constexpr std::size_t kCodeByte = 7;
constexpr BYTE kCodeReadId = 5;
constexpr BYTE kCodeRead = 3;
constexpr BYTE kCodeSettings = 4;
constexpr BYTE kStartIndex = 'A';
constexpr BYTE kReplyRead = '#';
constexpr BYTE kReplySettings = '4';
// Block 3 holds today's record, block 4 the reference totals, block 4 + d the day d days back.
constexpr int kTodayBlock = 3;
constexpr int kReferenceBlock = 4;

PedoReport Request(int index, BYTE flag, BYTE code, const BYTE* data = nullptr) {
    PedoReport request{};
    if (data != nullptr) std::copy(data, data + kPedoBlockSize, request.begin());
    request[kIndexByte] = static_cast<BYTE>(index);
    request[6] = flag;
    request[kCodeByte] = code;
    return request;
}

PedoReport StartRequest() { return Request(kStartIndex, 1, kCodeRead); }
PedoReport IdRequest() { return Request(0, 0, kCodeReadId); }

bool StartAnswered(const PedoReport& reply) {
    return reply[kIndexByte] == kStartIndex && reply[kCodeByte] == kReplyRead;
}

// The ID's answer echoes index 0 without the code of any other command's reply (a block,
// day record, start or settings half), so none of them is taken for it.
bool IdAnswered(const PedoReport& reply) {
    return reply[kIndexByte] == 0 && reply[kCodeByte] != kReplyRead && reply[kCodeByte] != kReplySettings;
}

// A day record has no echo (its sixth byte takes the place): its code and its digits
// tell it from another reply (an ID, zeros, a raw block of a device out of day mode).
bool DayRecordFits(const PedoReport& reply) {
    return reply[kCodeByte] == kReplyRead && pedo::DayRecordDigits(reply.data());
}

// A raw block's echo. The proof's blocks are numbered by no pair of decimal digits, so no
// day record (whose sixth byte is decimal) can pass for their echo.
bool BlockEchoed(const PedoReport& reply, BYTE block) {
    return reply[kIndexByte] == block && reply[kCodeByte] == kReplyRead;
}

constexpr std::array<BYTE, 12> kProofBlocks{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};

// The blocks that follow the ID in proof n since the link was last shown in step: the
// first 144 proofs two blocks each, the next 12^3 three, and so on, so that no two proofs
// whose answers may still be waiting ask for the same run; a shorter run's echoes are
// followed by no echo of these blocks (a start, the ID or block 0 comes next), so it can
// never pass for a longer one's.
std::vector<BYTE> ProofBlocks(std::uint64_t n) {
    std::size_t length = 2;
    std::uint64_t runs = kProofBlocks.size() * kProofBlocks.size();
    while (n >= runs && length < 16) {
        n -= runs;
        runs *= kProofBlocks.size();
        ++length;
    }
    std::vector<BYTE> blocks;
    for (std::size_t i = 0; i < length; ++i) {
        blocks.push_back(kProofBlocks[n % kProofBlocks.size()]);
        n /= kProofBlocks.size();
    }
    return blocks;
}

int DaysBefore(int today, int days) {
    using namespace std::chrono;
    const year_month_day date{year{today / 10000}, month{static_cast<unsigned>((today / 100) % 100)},
                              day{static_cast<unsigned>(today % 100)}};
    const year_month_day earlier{sys_days{date} - std::chrono::days{days}};
    return static_cast<int>(earlier.year()) * 10000 + static_cast<int>(static_cast<unsigned>(earlier.month())) * 100 +
           static_cast<int>(static_cast<unsigned>(earlier.day()));
}

// Upper-case hexadecimal, two characters a byte, NUL after the last.
void PutHex(char* at, const BYTE* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) std::snprintf(at + 2 * i, 3, "%02X", bytes[i]);
}

}  // namespace

CPedoDevice::CPedoDevice() : hid_(kProductId, kVendorId, std::tuple_size_v<PedoReport>) {}

DWORD PedoBudget::Left(DWORD ms) const {
    if (allowance == 0) return ms;
    const DWORD used = GetTickCount() - start;  // ticks wrap: their difference does not
    return used >= allowance ? 0 : std::min(ms, allowance - used);
}

int CPedoDevice::Exchange(const PedoReport& request, PedoReport& reply, Relink relink, const PedoBudget& budget) {
    std::lock_guard guard(moduleLock_);
    const int sent = SendLocked(request, relink, budget);
    if (sent <= 0) return sent;
    return ReceiveLocked(reply, kIoAttempts, budget) ? static_cast<int>(reply.size()) : -2;
}

int CPedoDevice::SendLocked(const PedoReport& request, Relink relink, const PedoBudget& budget) {
    // A link a time-out closed is opened again: the device only answered late.
    if (!hid_.Found() && relink == Relink::Refused && !hid_.ClosedByTimeOut()) {
        NoteFault("the link was lost: the device is not searched for again");
        return kLinkLost;
    }
    if (!hid_.Found() && !hid_.FindDevice()) {
        NoteFault("no device found");
        return -1;
    }
    for (int i = 0; i < kIoAttempts; ++i) {
        const DWORD wait = budget.Left(kIoTimeout);
        if (wait == 0) {
            NoteFault(kDayReadSpent);
            return -1;
        }
        if (hid_.Write(request.data(), request.size(), wait) == 1) return 1;
    }
    NoteFault(hid_.LastFault());
    return -1;
}

bool CPedoDevice::ReceiveLocked(PedoReport& reply, int attempts, const PedoBudget& budget) {
    for (int i = 0; i < attempts; ++i) {
        const DWORD wait = budget.Left(kIoTimeout);
        if (wait == 0) {
            NoteFault(kDayReadSpent);
            return false;
        }
        if (hid_.Read(reply.data(), reply.size(), wait) == 1) return true;
    }
    NoteFault(hid_.LastFault());
    return false;
}

int CPedoDevice::ProveInStepLocked(Relink relink, const PedoBudget& budget, PedoReport& reply, Proof proof) {
    // The ID's answer is the same for every proof: after a fault one an earlier proof left
    // waiting could be taken for this one's, so the ID is followed by blocks named by this
    // proof's own number. Honest reads, with no fault, pay nothing more.
    const bool distinct = proof == Proof::Distinct && answersMayWait_;
    const std::vector<BYTE> blocks = distinct ? ProofBlocks(proofsInDoubt_++) : std::vector<BYTE>{};
    int sent = SendLocked(IdRequest(), relink, budget);
    for (std::size_t i = 0; sent > 0 && i < blocks.size(); ++i) {
        sent = SendLocked(Request(blocks[i], 1, kCodeRead), relink, budget);
    }
    if (sent <= 0) return sent;
    // The proof holds once the ID's answer and each block's echo come one after another.
    std::size_t matched = 0;
    PedoReport next{};
    for (int read = 0; read <= kMostDropped + static_cast<int>(blocks.size()); ++read) {
        // One attempt: a time-out closed the link, and a second read would only wait.
        if (!ReceiveLocked(next, 1, budget)) return -2;
        if (matched > 0 && matched <= blocks.size() && BlockEchoed(next, blocks[matched - 1])) {
            ++matched;
        } else if (IdAnswered(next)) {
            reply = next;
            matched = 1;
        } else {
            matched = 0;
            NoteRefused(next);
        }
        if (matched == blocks.size() + 1) {
            linkInDoubt_ = false;
            if (distinct) {
                answersMayWait_ = false;
                proofsInDoubt_ = 0;
            }
            return static_cast<int>(reply.size());
        }
    }
    NoteFault("more than " + std::to_string(kMostDropped) + " replies came before the proof's");
    return -2;
}

void CPedoDevice::ProveInStep() {
    std::lock_guard guard(moduleLock_);
    PedoReport reply{};
    ProveInStepLocked(Relink::Allowed, {}, reply);
}

// Under one hold of the lock, so that no other exchange comes between the proof and the start.
int CPedoDevice::EnterDayMode(Relink relink, const PedoBudget& budget) {
    std::lock_guard guard(moduleLock_);
    PedoReport reply{};
    const int proved = ProveInStepLocked(relink, budget, reply, Proof::Distinct);
    if (proved <= 0) return proved;
    const int sent = SendLocked(StartRequest(), relink, budget);
    if (sent <= 0) return sent;
    if (!ReceiveLocked(reply, kIoAttempts, budget)) return -2;
    if (StartAnswered(reply)) return static_cast<int>(reply.size());
    NoteRefused(reply);
    return -2;
}

int CPedoDevice::AskDayRecord(int block, bool& inStep, const PedoBudget& budget, PedoReport& reply) {
    if (!inStep) {
        const int entered = EnterDayMode(Relink::Refused, budget);
        if (entered <= 0) return entered;
        inStep = true;
    }
    const int result = Exchange(Request(block, 1, kCodeRead), reply, Relink::Refused, budget);
    if (result > 0 && DayRecordFits(reply)) return result;
    if (result > 0) NoteRefused(reply);
    inStep = false;
    return result > 0 ? -2 : result;
}

template <typename Ask>
bool CPedoDevice::Patiently(const PedoBudget& budget, Ask ask) {
    for (int i = 0; i < kPatientAttempts; ++i) {
        // The exchanges look at the clock before each wait; a failed one, before its retry.
        if (i > 0 && budget.Left(1) == 0) {
            NoteFault(kDayReadSpent);
            return false;
        }
        const int result = ask();
        if (result > 0) return true;
        if (result == kLinkLost) return false;
        Sleep(10);
    }
    return false;
}

int CPedoDevice::EchoedExchange(const PedoReport& request, PedoReport& reply) {
    const bool answered = Exchange(request, reply) == static_cast<int>(reply.size());
    if (answered && reply[kIndexByte] == request[kIndexByte]) return static_cast<int>(reply.size());
    if (answered) NoteRefused(reply);
    Sleep(10);
    return -9;
}

bool CPedoDevice::CheckedExchange(const PedoReport& request, BYTE code, PedoReport& reply) {
    const bool echoed = EchoedExchange(request, reply) > 0;
    if (echoed && reply[kCodeByte] == code) return true;
    if (echoed) NoteRefused(reply);
    Sleep(50);
    return false;
}

void CPedoDevice::NoteFault(std::string fault) {
    linkInDoubt_ = true;
    answersMayWait_ = true;
    std::lock_guard guard(faultLock_);
    fault_ = std::move(fault);
}

void CPedoDevice::NoteRefused(const PedoReport& reply) {
    char hex[2 * std::tuple_size_v<PedoReport> + 1];
    PutHex(hex, reply.data(), reply.size());
    NoteFault(std::string("reply ") + hex + " refused");
}

int CPedoDevice::GiveUp(const std::string& step, int result) {
    const std::string node = hid_.Node();
    std::string line = "stridex-4473: gave up on " + step;
    if (!node.empty()) line += " from " + node;
    {
        std::lock_guard guard(faultLock_);
        line += ": " + fault_;
    }
    OutputDebugStringW(text::FromUtf8(line).c_str());
    return result;
}

bool CPedoDevice::Present() {
    std::lock_guard guard(moduleLock_);
    return hid_.FindDevice();
}

int CPedoDevice::ReadId() {
    std::lock_guard guard(dataLock_);
    return ReadIdLocked() ? kPedoIdTextLength : GiveUp("the ID", kPedoIdTextLength);
}

// The ID's answer is the proof a raw read starts from: what a late answer to an earlier
// read left waiting is dropped, and a block's answer is never taken for the ID.
bool CPedoDevice::ReadIdLocked() {
    PedoReport reply{};
    bool answered = false;
    {
        std::lock_guard guard(moduleLock_);
        answered = ProveInStepLocked(Relink::Allowed, {}, reply) > 0;
    }
    if (!answered) Sleep(10);
    if (answered) {
        std::copy_n(reply.begin(), kPedoIdSize, id_.begin());
    } else {
        id_.fill(0);
    }
    PutHex(idText_, id_.data(), id_.size());
    idLength_ = kPedoIdTextLength;
    return answered;
}

int CPedoDevice::ReadOrigData() {
    std::lock_guard guard(dataLock_);
    return ReadOrigDataLocked();
}

int CPedoDevice::ReadOrigDataInto(void* buffer, int size) {
    std::lock_guard guard(dataLock_);
    const int length = ReadOrigDataLocked();
    if (length < 0) return length;
    if (length > size) return -1;
    std::memcpy(buffer, origText_, static_cast<std::size_t>(length));
    return length;
}

int CPedoDevice::ReadOrigDataLocked() {
    const int result = Present() ? ReadBlocksLocked() : -3;
    origLength_ = result;
    return result;
}

int CPedoDevice::ReadBlocksLocked() {
    ReadIdLocked();
    PedoReport reply{};
    for (int block = 0; block < kPedoBlocks; ++block) {
        if (!CheckedExchange(Request(block, 1, kCodeRead), kReplyRead, reply)) {
            return GiveUp("raw block " + std::to_string(block), -4);
        }
        BYTE* at = raw_.data() + block * kPedoBlockSize;
        std::copy_n(reply.begin(), kPedoBlockSize, at);
        PutHex(origText_ + block * kPedoBlockSize * 2, at, kPedoBlockSize);
    }
    origText_[kPedoTextLength] = '\0';
    return kPedoTextLength;
}

int CPedoDevice::ReadDayRecords(CPedoHistory& history, int today) {
    history.Clear(GetTickCount());
    const PedoBudget budget{GetTickCount(), kDayReadAllowance};
    if (!Patiently(budget, [&] { return EnterDayMode(Relink::Allowed, budget); })) {
        return GiveUp("the day records' start", -2);
    }
    bool inStep = true;
    PedoReport reply{};
    for (int block = kTodayBlock; block < kPedoBlocks; ++block) {
        if (!Patiently(budget, [&] { return AskDayRecord(block, inStep, budget, reply); })) {
            return GiveUp("day block " + std::to_string(block), -2);
        }
        if (block == kReferenceBlock) continue;
        const int daysBack = block == kTodayBlock ? 0 : block - kReferenceBlock;
        const pedo::DayRecord record = pedo::DecodeDayRecord(reply.data());
        history.Enter({GetTickCount(), DaysBefore(today, daysBack), record.steps, record.calories, -1});
    }
    return CPedoHistory::kRows;
}

int CPedoDevice::WriteOptions(const char* options) {
    std::array<BYTE, kPedoSettingsSize> block{};
    {
        std::lock_guard guard(dataLock_);
        if (origLength_ <= 0) {
            const int read = ReadOrigDataLocked();
            if (read <= 0) return read;
        }
        SYSTEMTIME now{};
        GetLocalTime(&now);
        const bool metric = (origText_[0] & 1) != 0;
        block = BuildSettingsBlock(ParsePedoOptions(options, metric), metric, raw_.data(), now.wHour, now.wMinute);
    }
    return WriteSettings(block);
}

int CPedoDevice::WriteSettings(const std::array<BYTE, kPedoSettingsSize>& block) {
    // After a failure an answer may still be on its way: it must not be taken for a half's.
    if (linkInDoubt_) ProveInStep();
    PedoReport reply{};
    CheckedExchange(StartRequest(), kReplyRead, reply);  // opens the sequence; its answer does not matter
    if (!CheckedExchange(Request(0, 1, kCodeSettings, block.data()), kReplySettings, reply)) {
        return GiveUp("the settings' first half", -2);
    }
    if (!CheckedExchange(Request(1, 1, kCodeSettings, block.data() + kPedoBlockSize), kReplySettings, reply)) {
        return GiveUp("the settings' second half", -4);
    }
    return 0;
}
