#include "PedoDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

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

int CPedoDevice::ProveInStepLocked(Relink relink, const PedoBudget& budget, PedoReport& reply) {
    const int sent = SendLocked(IdRequest(), relink, budget);
    if (sent <= 0) return sent;
    for (int dropped = 0; dropped <= kMostDropped; ++dropped) {
        // One attempt: a time-out closed the link, and a second read would only wait.
        if (!ReceiveLocked(reply, 1, budget)) return -2;
        if (IdAnswered(reply)) {
            linkInDoubt_ = false;
            return static_cast<int>(reply.size());
        }
        NoteRefused(reply);
    }
    NoteFault("more than " + std::to_string(kMostDropped) + " replies came before the ID's");
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
    const int proved = ProveInStepLocked(relink, budget, reply);
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
