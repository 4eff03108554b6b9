#include "SerialLink.h"

#include <algorithm>
#include <array>
#include <exception>

#include "Bcc.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepState.h"
#include "Window.h"

namespace {

constexpr int kParityNone = 1;
constexpr int kOneStopBit = 1;
// The line set-up's limits, and the shorter ones once the monitor answers.
constexpr SerialTimeouts kSetupTimeouts{56, 1, 56, 1, 56};
constexpr SerialTimeouts kAwakeTimeouts{15, 1, 15, 1, 15};

constexpr std::size_t kWakeBytes = 14;
constexpr int kWakeAttempts = 3;
constexpr DWORD kWakePause = 200;
constexpr std::size_t kQueryLength = 15;  // the answers to "VER00" and "SRL00"
constexpr int kDataReads = 20;
constexpr int kEchoReads = 60;
constexpr int kWriteOkReads = 50;
constexpr std::size_t kMostAfterOkSecond = 15;
constexpr DWORD kClearPause = 3000;
constexpr int kNoByte = -1;
constexpr BYTE kEmptyRead = 0xCF;

constexpr VepRetryPlan kCommandPlan{3, false, 0, 0, "retry:%d", 100};
constexpr VepRetryPlan kAbortableCommandPlan{3, true, 0, 0, "retry:%d", 100};

}  // namespace

SerialLink::SerialLink(VepModel& model, VepState& state) : model_(model), state_(state) {}

int SerialLink::SearchPorts() {
    ports_.clear();
    const int set = state_.comPort;
    if (set != 0) {
        CheckPort(set);
    } else {
        for (int number = 1; number <= SerialPort::kPorts; ++number) CheckPort(number);
    }
    return static_cast<int>(ports_.size());
}

int SerialLink::Open() {
    Close();
    version_ = {};
    versionAnswer_ = {};
    try {
        SearchPorts();
        int result = OpenListed();
        if (result != vep::kOk) return result;
        VepResponse response{};
        if ((result = DeviceQuery("VER00", "ver err!!", response)) != vep::kOk) return result;
        version_ = VepVersion::Split(response.data());
        versionAnswer_ = VepKnownAnswer(response, kQueryLength);
        if (!version_.MatchesModel(model_)) {
            state_.trace.Line("device name mismatch:%s", version_.name.c_str());
            End();
            return vep::kNotUsable;
        }
        if ((result = DeviceQuery("SRL00", "srl err!!", response)) != vep::kOk) return result;
        state_.SetDeviceInfo(VepState::kSerialInfoOffset, response.data(),
                             std::min(kQueryLength, VepState::kSerialInfoLength));
        return vep::kOk;
    } catch (const std::exception& e) {
        state_.trace.Line("exception:%s", e.what());
        Close();
        return vep::kException;
    }
}

void SerialLink::End() {
    if (awake_) EndCommand();
    Close();
}

void SerialLink::Close() {
    port_.Close();
    awake_ = false;
}

int SerialLink::Text(const VepFrame& frame, VepResponse& response, std::size_t expected, int okReads) {
    response.fill(0);
    if (expected < 2 || expected > response.size() || !Send(frame, echoBack_)) return vep::kException;
    port_.PurgeInput();
    if (WaitOk(okReads) != Wait::Ok) return vep::kException;
    response[0] = 'O';
    response[1] = 'K';
    if (!ReadBytes(response.data() + 2, expected - 2, kDataReads, false)) return vep::kException;
    return XorOf(response.data(), 2, expected) == 0 ? vep::kOk : vep::kBccError;
}

int SerialLink::TextSecond(const VepFrame& frame, VepResponse& response, std::size_t expected, int okReads) {
    response.fill(0);
    if (expected < 2 || !Send(frame, echoBack_)) return vep::kException;
    port_.PurgeInput();
    const Wait wait = WaitOk(okReads);
    if (wait == Wait::No) return vep::kAnsweredNo;
    if (wait != Wait::Ok) return vep::kException;
    response[0] = 'O';
    response[1] = 'K';
    const std::size_t rest = std::min(expected - 2, kMostAfterOkSecond);
    ReadBytes(response.data() + 2, rest, static_cast<int>(rest), true);
    return XorOf(response.data(), 2, 2 + rest) == 0 ? vep::kOk : vep::kBccError;
}

std::size_t SerialLink::SecondAnswerLength(std::size_t expected) {
    return expected < 2 ? 0 : 2 + std::min(expected - 2, kMostAfterOkSecond);
}

bool SerialLink::WellFormed(const VepResponse& answer, std::size_t length) {
    return length > 2 && length <= answer.size() && answer[0] == 'O' && answer[1] == 'K' &&
           XorOf(answer.data(), 2, length) == 0;
}

bool SerialLink::NoReading(const VepResponse& answer, std::size_t length) const {
    const auto end = answer.begin() + static_cast<std::ptrdiff_t>(std::min(length, answer.size()));
    return versionAnswer_.Begins(answer) ||
           (end - answer.begin() > 2 && std::find(answer.begin() + 2, end, kEmptyRead) != end);
}

int SerialLink::Status(VepResponse& response) { return Echoed(VepFrame::Of("STAT0"), response, true); }

int SerialLink::ReadBlock(int block, VepResponse& response) {
    return Echoed(VepFrame::Of("RD").Add(0).Add(block).Add('0'), response, true);
}

int SerialLink::WriteBlock(int block, const BYTE* data) {
    VepFrame frame = VepFrame::Of("WR").Add(0).Add(block).Add(block ^ XorOf(data, 0, kBlockLength));
    for (std::size_t i = 0; i < kBlockLength; ++i) frame.Add(data[i]);
    if (!Send(frame, false) || !ReadEcho(frame.length, kEchoReads)) return vep::kAnsweredNo;
    return WaitOk(kWriteOkReads) == Wait::Ok ? vep::kOk : vep::kAnsweredNo;
}

int SerialLink::WriteStatus(const BYTE* status) {
    VepFrame frame = VepFrame::Of("PROG").Add(XorOf(status, 0, kBlockLength));
    for (std::size_t i = 0; i < kBlockLength; ++i) frame.Add(status[i]);
    VepResponse response{};
    return Echoed(frame, response, false);
}

int SerialLink::Clear() {
    const VepFrame frame = VepFrame::Of("CLEAR");
    if (!Send(frame, false) || !ReadEcho(frame.length, kEchoReads)) return vep::kException;
    // The monitor erases its memory before it answers.
    VepPause(kClearPause);
    VepResponse response{};
    return ReadBytes(response.data(), kBlockResponse, kDataReads, false) ? vep::kOk : vep::kException;
}

int SerialLink::EndCommand() {
    VepResponse response{};
    return Text(VepFrame::Of("END").Add(0xFF).Add(0xFF), response, 2);
}

// An attempt that got no answer or a broken one leaves the line out of step: the rest of
// that answer, or a late one, would be taken for the next. A plain "NO" leaves nothing.
int SerialLink::Retry(const std::function<int()>& exchange, bool abortTest, int okReads) {
    bool outOfStep = false;
    return VepRetry(abortTest ? kAbortableCommandPlan : kCommandPlan, state_, [&] {
        if (outOfStep && !LetQuiet(okReads)) return vep::kException;
        const int result = exchange();
        outOfStep = result != vep::kOk && result != vep::kAnsweredNo;
        return result;
    });
}

// Each listed port in turn until one wakes the monitor. An abort stops the search: the
// user does not want the next port tried either. When no port wakes, a port that opened
// but whose monitor did not answer tells more than "no port": its code (4) is given.
int SerialLink::OpenListed() {
    int result = vep::kNoPort;
    for (const int number : ports_) {
        state_.trace.Line("ComPort:COM%d", number);
        if (!port_.Open(number)) {
            state_.trace.Line("Com Open Error");
            continue;
        }
        port_.SetTimeouts(kSetupTimeouts);
        if (!port_.Setup(kParityNone, kOneStopBit)) {
            state_.trace.Line("ComSetup:NG");
            Close();
            continue;
        }
        state_.trace.Line("ComSetup:OK");
        result = WakeUp();
        if (result == vep::kOk) {
            awake_ = true;
            return result;
        }
        if (result == vep::kAborted) {
            EndCommand();
            Close();
            return result;
        }
        Close();
    }
    return result;
}

bool SerialLink::CheckPort(int number) {
    SerialPort probe;
    const bool usable = probe.Open(number) && probe.HasProperties();
    state_.trace.Line("PortCheck-%d:%s", number, usable ? "OK" : "NG");
    if (usable) ports_.push_back(number);
    return usable;
}

// The abort flag is left set, so the model search that called the open stops too.
int SerialLink::WakeUp() {
    const BYTE zero = 0;
    for (int attempt = 1; attempt <= kWakeAttempts; ++attempt) {
        if (state_.abort) return vep::kAborted;
        port_.PurgeInput();
        for (std::size_t i = 0; i < kWakeBytes; ++i) {
            if (port_.Write(&zero, 1) != 1) break;
            if (echoBack_) ReadEcho(1, 1);
        }
        port_.PurgeInput();
        const Wait wait = WaitOk(kOkReads, true);
        if (wait == Wait::Ok) {
            port_.SetTimeouts(kAwakeTimeouts);
            return vep::kOk;
        }
        if (wait == Wait::Aborted) return vep::kAborted;
        state_.trace.Line("wake up retry:%d", attempt);
        if (attempt < kWakeAttempts) VepPause(kWakePause);
    }
    return vep::kException;
}

// "VER00" or "SRL00", 15 bytes; after three failures the session ends.
int SerialLink::DeviceQuery(const char* command, const char* failure, VepResponse& response) {
    const int result = Retry([&] { return Text(VepFrame::Of(command), response, kQueryLength); });
    if (result != vep::kOk) {
        state_.trace.Line("%s", failure);
        End();
    }
    return result;
}

// Input that came before the command is dropped, once the line went quiet; output is
// not, so the command goes out.
bool SerialLink::Send(const VepFrame& frame, bool echoBack) {
    if (!LetQuiet(1)) return false;
    port_.PurgeInput();
    return Write(frame, echoBack);
}

bool SerialLink::Write(const VepFrame& frame, bool echoBack) {
    state_.trace.Frame(frame.bytes.data(), frame.length);
    if (!echoBack) return port_.Write(frame.bytes.data(), frame.length) == static_cast<int>(frame.length);
    for (std::size_t i = 0; i < frame.length; ++i) {
        if (port_.Write(frame.bytes.data() + i, 1) != 1) return false;
        ReadEcho(1, 1);
    }
    return true;
}

bool SerialLink::LetQuiet(int emptyReads) {
    std::size_t dropped = 0;
    int empty = 0;
    while (empty < emptyReads) {
        if (ReadByte() != kNoByte) {
            empty = 0;
            if (++dropped > kMostUnasked) {
                state_.trace.Line("line not quiet: over %zu bytes unasked", kMostUnasked);
                return false;
            }
        } else {
            ++empty;
        }
    }
    if (dropped > 0) state_.trace.Line("%zu bytes unasked dropped", dropped);
    return true;
}

// Nothing is purged: what came after the last answer is counted, not lost unseen.
bool SerialLink::Prove(std::vector<BYTE>& dropped) {
    dropped.clear();
    if (!versionAnswer_.Known() || !Write(VepFrame::Of("VER00"), echoBack_)) return false;
    versionAnswer_.Restart();
    for (int empty = 0; empty < kReadingOkReads && dropped.size() <= kMostUnasked + versionAnswer_.Length();) {
        const int byte = ReadByte();
        if (byte == kNoByte) {
            ++empty;
            continue;
        }
        dropped.push_back(static_cast<BYTE>(byte));
        if (versionAnswer_.Feed(static_cast<BYTE>(byte))) {
            dropped.resize(dropped.size() - versionAnswer_.Length());
            return true;
        }
    }
    state_.trace.Line("line not in step: no known answer in %zu bytes", dropped.size());
    return false;
}

bool SerialLink::ReadEcho(std::size_t length, int reads) {
    std::array<BYTE, sizeof(VepFrame::bytes)> echo{};
    return ReadBytes(echo.data(), std::min(length, echo.size()), reads, false);
}

SerialLink::Wait SerialLink::WaitOk(int reads, bool abortable) {
    int previous = kNoByte;
    for (int i = 0; i < reads; ++i) {
        if (abortable && state_.abort) return Wait::Aborted;
        const int byte = ReadByte();
        if (byte == kNoByte || byte == kEmptyRead) continue;
        if (previous == 'O' && byte == 'K') return Wait::Ok;
        if (previous == 'N' && byte == 'O') return Wait::No;
        previous = byte;
    }
    return Wait::Nothing;
}

bool SerialLink::ReadBytes(BYTE* out, std::size_t length, int reads, bool keepEmpty) {
    std::size_t got = 0;
    for (int i = 0; i < reads && got < length; ++i) {
        const int byte = ReadByte();
        if (byte != kNoByte) {
            out[got++] = static_cast<BYTE>(byte);
        } else if (keepEmpty) {
            out[got++] = kEmptyRead;
        }
    }
    return got == length;
}

int SerialLink::Echoed(const VepFrame& frame, VepResponse& response, bool checked) {
    response.fill(0);
    if (!Send(frame, false) || !ReadEcho(frame.length, kEchoReads)) return vep::kException;
    if (!ReadBytes(response.data(), kBlockResponse, kDataReads, false)) return vep::kException;
    return !checked || XorOf(response.data(), 0, kBlockResponse) == 0 ? vep::kOk : vep::kBccError;
}

int SerialLink::ReadByte() {
    DispatchPendingMessages();
    BYTE byte = 0;
    return port_.Read(&byte, 1) == 1 ? byte : kNoByte;
}
