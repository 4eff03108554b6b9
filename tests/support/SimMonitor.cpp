#include "SimMonitor.h"

#include <algorithm>
#include <cctype>

#include "SimMonitorBytes.h"
#include "SimMonitorSerial.h"

namespace {

using simbytes::Append;
using simbytes::Be16;
using simbytes::Ng;
using simbytes::Ok;
using simbytes::Text;
using simbytes::Xor;

// The lengths of the settings frames the monitor accepts, and where each keeps its
// check byte: after L text bytes, after n pairs, or at a fixed place.
struct WriteFrame {
    std::size_t length;
    enum class Check { AfterText, AfterPairs, Fixed } check;
    std::size_t fixedAt;
};

const std::map<std::string, WriteFrame> kWriteFrames = {
    {"SPI", {19, WriteFrame::Check::AfterText, 0}},  {"SPF", {21, WriteFrame::Check::AfterText, 0}},
    {"SPS", {21, WriteFrame::Check::AfterText, 0}},  {"SDI", {18, WriteFrame::Check::Fixed, 17}},
    {"SIA", {11, WriteFrame::Check::Fixed, 10}},     {"SAT", {22, WriteFrame::Check::AfterPairs, 0}},
    {"SMT", {14, WriteFrame::Check::AfterPairs, 0}}, {"SFM", {14, WriteFrame::Check::AfterPairs, 0}},
    {"SCL", {11, WriteFrame::Check::Fixed, 10}},
};

// "OK", the filler, the data, and the XOR of everything after the filler.
std::vector<BYTE> Checked(std::vector<BYTE> data) {
    std::vector<BYTE> response{'O', 'K', SimMonitor::kFiller};
    Append(response, data);
    response.push_back(Xor(response, 3, response.size()));
    return response;
}

// "OK", the filler, a count L and L x unit bytes, one filler after them.
std::vector<BYTE> Counted(BYTE count, const std::vector<BYTE>& data) {
    std::vector<BYTE> response{'O', 'K', SimMonitor::kFiller, count};
    Append(response, data);
    response.push_back(SimMonitor::kFiller);
    return response;
}

std::vector<BYTE> PairBytes(const SimPairs& pairs) {
    std::vector<BYTE> bytes;
    for (const auto& [first, second] : pairs) {
        bytes.push_back(first);
        bytes.push_back(second);
    }
    return bytes;
}

// A three-letter command, or a text command of three letters and "00".
std::string NameOf(const std::vector<BYTE>& frame) {
    if (!frame.empty() && std::all_of(frame.begin(), frame.end(), [](BYTE b) { return b == 0; })) return "HANDSHAKE";
    std::string name;
    for (std::size_t i = 0; i < frame.size() && i < 5 && std::isprint(frame[i]); ++i)
        name += static_cast<char>(frame[i]);
    if (name.size() == 5 && name.compare(3, 2, "00") == 0) return name;
    return name.substr(0, 3);
}

// Whether a binary frame ends in the XOR of its bytes from byte 4.
bool FrameBccOk(const std::vector<BYTE>& frame) {
    return frame.size() > 4 && Xor(frame, 4, frame.size() - 1) == frame.back();
}

std::string TextOf(const std::vector<BYTE>& frame, std::size_t at, std::size_t length) {
    std::string text;
    for (std::size_t i = at; i < at + length && i < frame.size() && frame[i] != 0; ++i)
        text += static_cast<char>(frame[i]);
    return text;
}

SimPairs PairsOf(const std::vector<BYTE>& frame) {
    SimPairs pairs;
    for (std::size_t i = 0; i < frame[4]; ++i) pairs.emplace_back(frame[5 + 2 * i], frame[6 + 2 * i]);
    return pairs;
}

std::vector<BYTE> SummaryBlock(const SimSummary& s) {
    std::vector<BYTE> data = Be16(s.number);
    const BYTE systolic = s.systolic != 0 ? static_cast<BYTE>(s.systolic - 25) : 0;
    Append(data, {static_cast<BYTE>(s.year - 2000), static_cast<BYTE>(s.month), static_cast<BYTE>(s.day), systolic,
                  static_cast<BYTE>(s.diastolic), static_cast<BYTE>(s.pulse)});
    return Checked(data);
}

}  // namespace

void SimMonitor::SetState(const SimMonitorState& state) {
    std::lock_guard guard(lock_);
    state_ = state;
}

SimMonitorState SimMonitor::State() const {
    std::lock_guard guard(lock_);
    return state_;
}

void SimMonitor::SetFault(const std::string& command, SimMonitorFault fault, int times) {
    std::lock_guard guard(lock_);
    faults_[command] = {fault, times};
}

void SimMonitor::SetRepeatDelay(std::chrono::milliseconds delay) {
    std::lock_guard guard(lock_);
    repeatDelay_ = delay;
}

void SimMonitor::OnCommand(const std::string& command, std::function<void()> action) {
    std::lock_guard guard(lock_);
    actions_[command] = std::move(action);
}

void SimMonitor::SetReply(const std::string& command, std::vector<BYTE> bytes) {
    std::lock_guard guard(lock_);
    replies_[command] = std::move(bytes);
}

void SimMonitor::Release() {
    {
        std::lock_guard guard(lock_);
        releasedUpTo_ = heldTickets_;
    }
    released_.notify_all();
}

bool SimMonitor::Holding() const {
    std::lock_guard guard(lock_);
    return releasedUpTo_ < heldTickets_;
}

bool SimMonitor::AwaitRelease(std::uint64_t ticket, std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    return released_.wait_for(guard, timeout, [&] { return releasedUpTo_ >= ticket; });
}

void SimMonitor::SetPlugged(bool plugged) {
    std::lock_guard guard(lock_);
    plugged_ = plugged;
}

bool SimMonitor::Plugged() const {
    std::lock_guard guard(lock_);
    return plugged_;
}

std::vector<SimFrame> SimMonitor::Frames() const {
    std::lock_guard guard(lock_);
    return frames_;
}

std::vector<std::string> SimMonitor::FrameNames() const {
    std::vector<std::string> names;
    for (const auto& frame : Frames()) names.push_back(frame.name);
    return names;
}

int SimMonitor::CountOf(const std::string& command) const {
    const auto names = FrameNames();
    return static_cast<int>(std::count(names.begin(), names.end(), command));
}

std::vector<BYTE> SimMonitor::WalkingPart(int day, int part) const {
    std::lock_guard guard(lock_);
    return WalkingPartLocked(day, part);
}

std::vector<BYTE> SimMonitor::ReadingRecord(std::size_t k) const {
    std::lock_guard guard(lock_);
    return ReadingRecordLocked(k);
}

std::vector<BYTE> SimMonitor::SerialReadingRecord(std::size_t k) const {
    std::lock_guard guard(lock_);
    return SimMonitorSerial::ReadingRecord(state_, k);
}

SimMonitorAnswer SimMonitor::Receive(const std::vector<BYTE>& frame) {
    return ReceiveAs(NameOf(frame), frame,
                     [this](const std::string& name, const std::vector<BYTE>& bytes) { return Answer(name, bytes); });
}

SimMonitorAnswer SimMonitor::ReceiveSerial(const std::vector<BYTE>& frame) {
    const std::string name = SimMonitorSerial::NameOf(frame);
    SimMonitorAnswer answer =
        ReceiveAs(name, frame, [this](const std::string& command, const std::vector<BYTE>& bytes) {
            return SimMonitorSerial::Answer(state_, command, bytes);
        });
    answer.afterPurge = SimMonitorSerial::AnswersAfterPurge(name);
    return answer;
}

SimMonitorAnswer SimMonitor::ReceiveAs(const std::string& name, const std::vector<BYTE>& frame,
                                       const Answering& answer) {
    std::function<void()> action;
    {
        std::lock_guard guard(lock_);
        frames_.push_back({name, frame, std::chrono::steady_clock::now()});
        if (const auto it = actions_.find(name); it != actions_.end()) action = it->second;
    }
    if (action) action();
    std::lock_guard guard(lock_);
    const auto reply = replies_.find(name);
    return Disturb(name, reply != replies_.end() ? reply->second : answer(name, frame));
}

std::vector<BYTE> SimMonitor::Answer(const std::string& name, const std::vector<BYTE>& frame) {
    if (name == "HANDSHAKE") return frame.size() >= state_.handshakeLength ? Ok() : std::vector<BYTE>{};
    if (name == "END" || name == "CTD00") return Ok();
    if (name == "MCL00") {
        state_.readings.clear();
        state_.totalCount = -1;
        return Ok();
    }
    if (kWriteFrames.count(name) != 0) return AnswerWrite(name, frame);
    return AnswerRead(name, frame);
}

std::vector<BYTE> SimMonitor::AnswerRead(const std::string& name, const std::vector<BYTE>& frame) {
    const SimMonitorState& s = state_;
    const int valid = static_cast<int>(s.readings.size());
    if (name == "VER00") {
        std::string text = s.name + " " + s.revision;
        text.resize(11, ' ');
        return Checked(Text(text));
    }
    if (name == "PRF00") return Checked({s.profile.begin(), s.profile.end()});
    if (name == "CNT00") {
        std::vector<BYTE> data = Be16(valid);
        const std::vector<BYTE> total = Be16(s.totalCount >= 0 ? s.totalCount : valid);
        Append(data, total);
        return Checked(data);
    }
    if (name == "SRL00") {
        std::vector<BYTE> response{'O', 'K', kFiller, static_cast<BYTE>(s.serialText.size())};
        Append(response, Text(s.serialText));
        response.push_back(Xor(response, 3, response.size()));
        return response;
    }
    if (name == "GPI00") return Counted(static_cast<BYTE>(s.patientId.size()), Text(s.patientId));
    if (name == "GPF00") return Counted(static_cast<BYTE>(s.patientName1.size()), Text(s.patientName1));
    if (name == "GPS00") return Counted(static_cast<BYTE>(s.patientName2.size()), Text(s.patientName2));
    if (name == "GBI00") return Counted(static_cast<BYTE>(s.serialText.size()), Text(s.serialText));
    if (name == "GAT00") return Counted(static_cast<BYTE>(s.additional.size()), PairBytes(s.additional));
    if (name == "GMT00") return Counted(static_cast<BYTE>(s.night.size()), PairBytes(s.night));
    if (name == "GFM00") return Counted(static_cast<BYTE>(s.nightInterval.size()), PairBytes(s.nightInterval));
    if (name == "GCL00") {
        return Checked({static_cast<BYTE>(s.clock[0] - 2000), static_cast<BYTE>(s.clock[1]),
                        static_cast<BYTE>(s.clock[2]), static_cast<BYTE>(s.clock[3]), static_cast<BYTE>(s.clock[4]),
                        static_cast<BYTE>(s.clock[5])});
    }
    if (name == "GIA00") {
        std::vector<BYTE> data{s.basic.begin(), s.basic.end()};
        const std::vector<BYTE> minutes = Be16(s.intervalMinutes);
        Append(data, minutes);
        return Checked(data);
    }
    if (name == "GDI00") {
        std::vector<BYTE> data{static_cast<BYTE>(std::min<std::size_t>(s.doctorId.size(), 8))};
        std::string id = s.doctorId;
        id.resize(8, '\0');
        Append(data, Text(id));
        for (int shift = 0; shift < 32; shift += 8) data.push_back(static_cast<BYTE>(s.doctorStamp >> shift));
        return Checked(data);
    }
    // Binary frames: "XXX", 0, arguments, check byte.
    if (!FrameBccOk(frame)) return Ng();
    if (name == "MES" || name == "GME") {
        const std::size_t k = static_cast<std::size_t>((frame[frame.size() - 3] << 8) | frame[frame.size() - 2]);
        return k < s.readings.size() ? ReadingRecordLocked(k) : Ng();
    }
    if (name == "GDC") {
        std::vector<BYTE> data = Be16(s.serialValue);
        const std::vector<BYTE> count = Be16(valid);
        Append(data, count);
        return Checked(data);
    }
    if (name == "GMA" || name == "GEA") {
        const std::size_t week = frame[5];
        if (name == "GMA" && week == 0 && !s.clockSet) return Ng();
        if (week >= s.mornings.size()) return Ng();
        return SummaryBlock(name == "GMA" ? s.mornings[week] : s.evenings[week]);
    }
    if (name == "GTD") return WalkingPartLocked((frame[4] << 8) | frame[5], frame[6]);
    return {};
}

// A settings frame of the wrong length or check byte is answered "NG" and not kept.
std::vector<BYTE> SimMonitor::AnswerWrite(const std::string& name, const std::vector<BYTE>& frame) {
    const WriteFrame& shape = kWriteFrames.at(name);
    if (frame.size() != shape.length) return Ng();
    std::size_t checkAt = shape.fixedAt;
    if (shape.check == WriteFrame::Check::AfterText) checkAt = 5 + frame[4];
    if (shape.check == WriteFrame::Check::AfterPairs) checkAt = 5 + 2 * std::size_t{frame[4]};
    if (checkAt >= frame.size() || Xor(frame, 4, checkAt) != frame[checkAt]) return Ng();
    SimMonitorState& s = state_;
    if (name == "SPI") s.patientId = TextOf(frame, 5, frame[4]);
    if (name == "SPF") s.patientName1 = TextOf(frame, 5, frame[4]);
    if (name == "SPS") s.patientName2 = TextOf(frame, 5, frame[4]);
    if (name == "SDI") {
        s.doctorId = TextOf(frame, 5, frame[4]);
        s.doctorStamp = frame[13] | (frame[14] << 8) | (frame[15] << 16) | (std::uint32_t{frame[16]} << 24);
    }
    if (name == "SIA") {
        std::copy_n(frame.begin() + 4, 4, s.basic.begin());
        s.intervalMinutes = (frame[8] << 8) | frame[9];
    }
    if (name == "SAT") s.additional = PairsOf(frame);
    if (name == "SMT") s.night = PairsOf(frame);
    if (name == "SFM") s.nightInterval = PairsOf(frame);
    if (name == "SCL") {
        s.clock = {2000 + frame[4], frame[5], frame[6], frame[7], frame[8], frame[9]};
        s.clockSet = true;
    }
    return Ok();
}

SimMonitorAnswer SimMonitor::Disturb(const std::string& name, std::vector<BYTE> bytes) {
    SimMonitorAnswer answer{std::move(bytes)};
    const auto it = faults_.find(name);
    if (it == faults_.end() || it->second.times == 0) return answer;
    if (it->second.times > 0) --it->second.times;
    switch (it->second.kind) {
        case SimMonitorFault::No: answer.bytes = simbytes::No(); break;
        case SimMonitorFault::Ng: answer.bytes = Ng(); break;
        case SimMonitorFault::WrongBcc:
            if (!answer.bytes.empty()) answer.bytes.back() ^= 0xFF;
            break;
        case SimMonitorFault::Silent: answer.bytes.clear(); break;
        case SimMonitorFault::BadCount: answer.badCount = true; break;
        case SimMonitorFault::Hold: answer.holdTicket = ++heldTickets_; break;
        case SimMonitorFault::Twice:
            answer.twice = true;
            answer.repeatAfter = repeatDelay_;
            break;
        case SimMonitorFault::Late: answer.late = true; break;
    }
    return answer;
}

// "OK", the filler, the date and time at 3..8, systolic (2 bytes, big-endian),
// diastolic, pulse, three more bytes; cut or zero-filled to the response length, whose
// last byte is the check byte.
std::vector<BYTE> SimMonitor::ReadingRecordLocked(std::size_t k) const {
    const SimReading& r = state_.readings.at(k);
    std::vector<BYTE> response{'O',
                               'K',
                               kFiller,
                               static_cast<BYTE>(r.year - 2000),
                               static_cast<BYTE>(r.month),
                               static_cast<BYTE>(r.day),
                               static_cast<BYTE>(r.hour),
                               static_cast<BYTE>(r.minute),
                               static_cast<BYTE>(r.second),
                               static_cast<BYTE>(r.systolic >> 8),
                               static_cast<BYTE>(r.systolic & 0xFF),
                               static_cast<BYTE>(r.diastolic),
                               static_cast<BYTE>(r.pulse)};
    Append(response, {r.extra.begin(), r.extra.end()});
    const std::size_t length = std::max<std::size_t>(state_.resvLength, 4);
    response.resize(length - 1, 0);
    response.push_back(Xor(response, 3, response.size()));
    return response;
}

// Day i, part p: bytes 3.. count up from i x 16 + p x 4, so every part differs.
std::vector<BYTE> SimMonitor::WalkingPartLocked(int day, int part) const {
    if (day >= state_.walkingDays || part < 1 || part > 4) return Ng();
    const std::size_t length = std::max<std::size_t>(part == 4 ? state_.resvLength2 : state_.resvLength, 4);
    std::vector<BYTE> response{'O', 'K', kFiller};
    for (std::size_t i = 3; i + 1 < length; ++i) response.push_back(static_cast<BYTE>(day * 16 + part * 4 + i));
    response.push_back(Xor(response, 3, response.size()));
    return response;
}
