#include "UsbSerialLink.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>

#include "Bcc.h"
#include "VepModel.h"
#include "VepResult.h"
#include "VepSpecialModels.h"
#include "VepState.h"

namespace {

constexpr int kMaxDevices = 128;
constexpr std::size_t kShortHandshake = 12;
constexpr std::size_t kLongHandshake = 30;
constexpr int kHandshakeAttempts = 5;
constexpr int kSpecialHandshakeAttempts = 6;
constexpr DWORD kHandshakePause = 120;
constexpr int kVersionAttempts = 3;
constexpr std::size_t kVersionLength = 15;
constexpr std::size_t kProfileLength = 14;
// More reports than a few answers fill: the link does not go quiet.
constexpr std::size_t kMostUnaskedReports = 32;
constexpr std::size_t kMostUnaskedBytes = kMostUnaskedReports * HidChannel::kDataPerReport;

BYTE SpeedCode(int speed) {
    switch (speed) {
        case 9600: return 1;
        case 4800: return 2;
        case 2400: return 3;
        case 1200: return 4;
        case 300: return 5;
        default: return static_cast<BYTE>(speed & 0xFF);
    }
}

}  // namespace

UsbSerialLink::UsbSerialLink(VepModel& model, VepState& state) : model_(model), state_(state) {}

int UsbSerialLink::Open() {
    channel_.Close();
    adapter_ = -1;
    version_ = {};
    versionAnswer_ = {};
    const int vendorId = model_.DeviceHex("hid_vender_id");
    const int productId = model_.DeviceHex("hid_product_id");
    int result = vep::kNoAdapter;
    try {
        const int index = FindAdapter(vendorId, productId);
        if (index < 0) {
            state_.trace.Line("adapter not found %04X:%04X", vendorId, productId);
        } else if (!channel_.Usable()) {
            state_.trace.Line("adapter not usable");
            result = vep::kNotUsable;
        } else if (!version_.MatchesModel(model_)) {
            state_.trace.Line("device name mismatch:%s", version_.name.c_str());
            result = vep::kNotUsable;
        } else {
            // Only a device of this model may serve the jobs that follow.
            adapter_ = index;
            result = vep::kOk;
        }
    } catch (const std::exception& e) {
        state_.trace.Line("exception:%s", e.what());
        result = vep::kException;
    }
    channel_.Close();
    return result;
}

int UsbSerialLink::RunJob(const std::function<int()>& procedure) {
    if (adapter_ < 0) return vep::kFailed;
    int result = vep::kOk;
    try {
        result = OpenAdapter(adapter_, model_.DeviceHex("hid_vender_id"), model_.DeviceHex("hid_product_id"));
        if (result == vep::kOk) result = VersionQuery();
        if (result == vep::kOk) {
            result = procedure();
            EndCommand();
        }
    } catch (const std::exception& e) {
        state_.trace.Line("exception:%s", e.what());
        result = vep::kException;
    }
    channel_.Close();
    return result;
}

int UsbSerialLink::Command(VepFrame frame, bool appendBcc, VepResponse& response, std::size_t length, bool responseBcc,
                           DWORD milliseconds) {
    if (appendBcc) frame.Add(FrameBcc(frame.bytes.data(), frame.length));
    response.fill(0);
    if (length > response.size()) return vep::kNotOk;
    int result = SendFrame(frame);
    if (result == vep::kOk) result = ReadOk(response, milliseconds);
    if (result != vep::kOk || length <= 2) return result;
    result = channel_.Read(response.data() + 2, length - 2, milliseconds);
    if (result != vep::kOk) {
        state_.trace.Line("Command Error");
        return result;
    }
    if (responseBcc && !ResponseBccOk(response.data(), length)) {
        state_.trace.Line("BCC Error!!");
        return vep::kBccError;
    }
    return vep::kOk;
}

int UsbSerialLink::VariableCommand(const VepFrame& frame, VepResponse& response, std::size_t expected, int unit,
                                   int oversize, DWORD milliseconds) {
    response.fill(0);
    if (expected > response.size()) return oversize;
    int result = SendFrame(frame);
    if (result == vep::kOk) result = ReadOk(response, milliseconds);
    if (result != vep::kOk || expected <= 2) return result;
    if (unit <= 0) return channel_.Read(response.data() + 2, expected - 2, milliseconds);
    if (channel_.Read(response.data() + 2, 2, milliseconds) != vep::kOk) return vep::kNotOk;
    const std::size_t rest = static_cast<std::size_t>(response[3]) * static_cast<std::size_t>(unit) + 1;
    if (4 + rest > response.size()) {
        state_.trace.Line("Command Error2");
        return oversize;
    }
    return channel_.Read(response.data() + 4, rest, milliseconds);
}

// A late or broken answer left on the link would be taken for the next one's: the
// retry's, and after it every reading's, each the one before's. A refusal leaves none.
// A failed attempt's answer may still come once its wait is out, even while the next
// attempt is answered (by it, as they ask the same): it is waited out after a success too.
int UsbSerialLink::Retry(const VepRetryPlan& plan, const std::function<int()>& exchange, DWORD quietMs) {
    bool outOfStep = false;
    bool failedBefore = false;
    const auto waitOut = [&] {
        if (channel_.DropUntilQuiet(quietMs, kMostUnaskedReports)) return true;
        state_.trace.Line("link not quiet");
        return false;
    };
    return VepRetry(plan, state_, [&] {
        if (outOfStep && !waitOut()) return vep::kReadFailed;
        const int result = exchange();
        outOfStep = result == vep::kTimedOut || result == vep::kReadFailed || result == vep::kBccError;
        failedBefore = failedBefore || outOfStep;
        if (result == vep::kOk && failedBefore && !waitOut()) return vep::kReadFailed;
        return result;
    });
}

bool UsbSerialLink::Prove(std::vector<BYTE>& dropped) {
    dropped = channel_.TakeKept();
    if (!versionAnswer_.Known() || SendFrame(VepFrame::Of("VER00")) != vep::kOk) return false;
    versionAnswer_.Restart();
    const std::size_t most = dropped.size() + kMostUnaskedBytes + versionAnswer_.Length();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * kReplyTimeout);
    while (dropped.size() < most) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        BYTE byte = 0;
        if (left.count() <= 0 || channel_.Read(&byte, 1, static_cast<DWORD>(left.count())) != vep::kOk) break;
        dropped.push_back(byte);
        if (versionAnswer_.Feed(byte)) {
            dropped.resize(dropped.size() - versionAnswer_.Length());
            return true;
        }
    }
    state_.trace.Line("link not in step: no known answer");
    return false;
}

bool UsbSerialLink::WellFormed(const VepResponse& answer, std::size_t length) {
    return length <= answer.size() && answer[0] == 'O' && answer[1] == 'K' && ResponseBccOk(answer.data(), length);
}

int UsbSerialLink::Handshake() {
    const VepSpecialModel* special = FindSpecialModel(model_.DeviceParam("model_id"));
    const bool shortBlock = special != nullptr && special->shortHandshake;
    const std::size_t size = shortBlock || model_.Params().setupMode == 0 ? kShortHandshake : kLongHandshake;
    const int attempts = shortBlock ? kSpecialHandshakeAttempts : kHandshakeAttempts;
    const VepFrame zeros = VepFrame{}.PadTo(size);
    channel_.Forget();
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const int written = channel_.Write(zeros.bytes.data(), zeros.length);
        if (written != vep::kOk) return written;
        VepResponse reply{};
        if (channel_.Read(reply.data(), 2, kReplyTimeout) == vep::kOk && reply[0] == 'O' && reply[1] == 'K') {
            return vep::kOk;
        }
        state_.trace.Line("SETUP Retry:%d", attempt);
        if (attempt < attempts) Pause(kHandshakePause);
    }
    return vep::kNotOk;
}

int UsbSerialLink::EndCommand() {
    VepResponse response{};
    return Command(VepFrame::Of("END").Add(0xFF).Add(0xFF), false, response, 2, false);
}

void UsbSerialLink::Pause(DWORD milliseconds) { VepPause(milliseconds); }

// The adapter is the first device of the model's ids that opens; when its reports can
// carry the protocol, its name and profile are asked at once.
int UsbSerialLink::FindAdapter(int vendorId, int productId) {
    for (int index = 0; index < kMaxDevices; ++index) {
        const int opened = channel_.OpenIndex(index, vendorId, productId);
        if (opened < 0) break;
        if (opened == 0) continue;
        if (channel_.Usable() && VersionQuery() == vep::kOk) {
            VepResponse profile{};
            if (Command(VepFrame::Of("PRF00"), false, profile, kProfileLength, true) == vep::kOk) {
                state_.SetDeviceInfo(VepState::kProfileInfoOffset, profile.data(), kProfileLength);
            }
        }
        return index;
    }
    return -1;
}

int UsbSerialLink::OpenAdapter(int index, int vendorId, int productId) {
    if (channel_.OpenIndex(index, vendorId, productId) == 1 && channel_.Usable()) return vep::kOk;
    state_.trace.Line("adapter open error");
    channel_.Close();
    return vep::kNotUsable;
}

int UsbSerialLink::VersionQuery() {
    const int speed = SetSpeed();
    if (speed != vep::kOk) return speed;
    if (Handshake() != vep::kOk) return vep::kNotUsable;
    int result = vep::kFailed;
    for (int attempt = 1; attempt <= kVersionAttempts; ++attempt) {
        VepResponse response{};
        result = Command(VepFrame::Of("VER00"), false, response, kVersionLength, true);
        if (result == vep::kOk) {
            version_ = VepVersion::Split(response.data());
            versionAnswer_ = VepKnownAnswer(response, kVersionLength);
            return result;
        }
        state_.trace.Line("VER Retry:%d", attempt);
    }
    EndCommand();
    return result;
}

int UsbSerialLink::SetSpeed() {
    const int speed = static_cast<int>(std::strtol(model_.DeviceParam("sir_speed").c_str(), nullptr, 10));
    return channel_.SetFeature(SpeedCode(speed), 0);
}

int UsbSerialLink::SendFrame(const VepFrame& frame) {
    state_.trace.Frame(frame.bytes.data(), frame.length);
    if (model_.Params().setupMode == 1) channel_.Forget();
    return channel_.Write(frame.bytes.data(), frame.length);
}

int UsbSerialLink::ReadOk(VepResponse& response, DWORD milliseconds) {
    const int result = channel_.Read(response.data(), 2, milliseconds);
    if (result != vep::kOk) {
        state_.trace.Line("Command Error");
        return result;
    }
    if (response[0] == 'O' && response[1] == 'K') return vep::kOk;
    state_.trace.Line("not OK <%c%c>", response[0], response[1]);
    return vep::kNotOk;
}
