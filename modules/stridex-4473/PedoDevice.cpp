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

bool StartAnswered(const PedoReport& reply) {
    return reply[kIndexByte] == kStartIndex && reply[kCodeByte] == kReplyRead;
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

int CPedoDevice::Exchange(const PedoReport& request, PedoReport& reply, Relink relink) {
    std::lock_guard guard(moduleLock_);
    // A link a time-out closed is opened again: the device only answered late.
    if (!hid_.Found() && relink == Relink::Refused && !hid_.ClosedByTimeOut()) {
        NoteFault("the link was lost: the device is not searched for again");
        return kLinkLost;
    }
    if (!hid_.Found() && !hid_.FindDevice()) {
        NoteFault("no device found");
        return -1;
    }
    bool sent = false;
    for (int i = 0; i < kIoAttempts && !sent; ++i) sent = hid_.Write(request.data(), request.size(), kIoTimeout) == 1;
    if (!sent) {
        NoteFault(hid_.LastFault());
        return -1;
    }
    bool received = false;
    for (int i = 0; i < kIoAttempts && !received; ++i) {
        received = hid_.Read(reply.data(), reply.size(), kIoTimeout) == 1;
    }
    if (!received) NoteFault(hid_.LastFault());
    return received ? static_cast<int>(reply.size()) : -2;
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

bool CPedoDevice::PatientExchange(const PedoReport& request, PedoReport& reply, Relink relink,
                                  bool (*fits)(const PedoReport& reply)) {
    for (int i = 0; i < kPatientAttempts; ++i) {
        const int result = Exchange(request, reply, relink);
        if (result == kLinkLost) return false;
        if (result > 0 && fits(reply)) return true;
        if (result > 0) NoteRefused(reply);
        Sleep(10);
    }
    return false;
}

bool CPedoDevice::Present() {
    std::lock_guard guard(moduleLock_);
    return hid_.FindDevice();
}

int CPedoDevice::ReadId() {
    std::lock_guard guard(dataLock_);
    return ReadIdLocked() ? kPedoIdTextLength : GiveUp("the ID", kPedoIdTextLength);
}

bool CPedoDevice::ReadIdLocked() {
    PedoReport reply{};
    const bool answered = EchoedExchange(Request(0, 0, kCodeReadId), reply) > 0;
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
    PedoReport reply{};
    if (!PatientExchange(StartRequest(), reply, Relink::Allowed, StartAnswered)) {
        return GiveUp("the day records' start", -2);
    }
    for (int block = kTodayBlock; block < kPedoBlocks; ++block) {
        if (!PatientExchange(Request(block, 1, kCodeRead), reply, Relink::Refused, DayRecordFits)) {
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
