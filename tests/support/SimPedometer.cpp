#include "SimPedometer.h"

#include <algorithm>
#include <cstdio>

#include "stridex-4473/PedoBcd.h"

namespace {

constexpr int kBlocks = 35;
constexpr int kBlockSize = 5;

SimReport Reply(const BYTE* data, std::size_t count, BYTE index, BYTE code) {
    SimReport reply{};
    std::copy_n(data, std::min<std::size_t>(count, kBlockSize), reply.begin());
    reply[5] = index;
    reply[7] = code;
    return reply;
}

}  // namespace

SimPedometer::SimPedometer() { SetValues(SimPedometerValues{}); }

void SimPedometer::SetValues(const SimPedometerValues& values) {
    std::lock_guard guard(lock_);
    values_ = values;
    head_.fill(0);
    pedo::PutRawBody(head_.data(), values.metric, values.stepLengthCm, values.weightKg);
}

SimPedometerValues SimPedometer::Values() const {
    std::lock_guard guard(lock_);
    return values_;
}

SimRawData SimPedometer::RawBytes() const {
    std::lock_guard guard(lock_);
    return RawBytesLocked();
}

SimRawData SimPedometer::RawBytesLocked() const {
    SimRawData raw{};
    std::copy(head_.begin(), head_.end(), raw.begin());
    auto block = [&raw](int b) { return raw.data() + b * kBlockSize; };
    pedo::PutRawNumbers(block(2), 0, values_.referenceDuration / 60);
    pedo::PutRawNumbers(block(3), values_.days[0].steps, values_.days[0].energy / 100);
    pedo::PutRawNumbers(block(4), values_.referenceSteps, values_.referenceEnergy / 100);
    for (int d = 1; d <= 30; ++d) pedo::PutRawNumbers(block(4 + d), values_.days[d].steps, values_.days[d].energy / 100);
    return raw;
}

std::string SimPedometer::RawText() const {
    std::string text;
    for (BYTE b : RawBytes()) {
        char pair[3];
        std::snprintf(pair, sizeof(pair), "%02X", b);
        text += pair;
    }
    return text;
}

void SimPedometer::FaultAt(std::size_t request, SimFault fault, BYTE code) {
    std::lock_guard guard(lock_);
    faults_[request] = {fault, code};
}

void SimPedometer::AnswerLate(int block, DWORD delayMs) {
    std::lock_guard guard(lock_);
    late_[block] = delayMs;
}

void SimPedometer::AnswerEverySecond(bool on) {
    std::lock_guard guard(lock_);
    everySecondFrom_.reset();
    if (on) everySecondFrom_ = requests_.size();
}

void SimPedometer::SetPlugged(bool plugged) {
    std::lock_guard guard(lock_);
    plugged_ = plugged;
}

bool SimPedometer::Plugged() const {
    std::lock_guard guard(lock_);
    return plugged_;
}

std::vector<SimReport> SimPedometer::Requests() const {
    std::lock_guard guard(lock_);
    return requests_;
}

std::optional<SimSettings> SimPedometer::LastSettings() const {
    std::lock_guard guard(lock_);
    return lastSettings_;
}

SimAnswer SimPedometer::Receive(const SimReport& request) {
    std::lock_guard guard(lock_);
    requests_.push_back(request);
    const std::size_t number = requests_.size() - 1;
    SimAnswer answer = Delay(Disturb({SimAnswer::Link::Reply, Answer(request)}, number), request);
    if (everySecondFrom_ && (number - *everySecondFrom_) % 2 == 1) answer.link = SimAnswer::Link::Silent;
    return answer;
}

SimAnswer SimPedometer::Delay(SimAnswer answer, const SimReport& request) {
    const auto late = request[7] == 3 ? late_.find(request[5]) : late_.end();
    if (late == late_.end() || answer.link != SimAnswer::Link::Reply) return answer;
    answer.delayMs = late->second;
    late_.erase(late);
    return answer;
}

// The command table: index at byte 5, flag at 6, code at 7.
SimReport SimPedometer::Answer(const SimReport& request) {
    const BYTE index = request[5];
    const BYTE code = request[7];
    if (code == 5 && index == 0) {  // read ID
        dayRecords_ = false;
        return Reply(values_.id.data(), values_.id.size(), 0, 5);
    }
    if (code == 3 && index == 'A') {  // start
        dayRecords_ = true;
        return Reply(nullptr, 0, 'A', '#');
    }
    if (code == 3 && index < kBlocks) return dayRecords_ ? DayRecordReply(index) : BlockReply(index);
    if (code == 4 && index <= 1) return SettingsReply(request);
    return SimReport{};
}

SimReport SimPedometer::BlockReply(int block) const {
    const SimRawData raw = RawBytesLocked();
    return Reply(raw.data() + block * kBlockSize, kBlockSize, static_cast<BYTE>(block), '#');
}

// Block 3 is today, block 4 the reference totals, block 4 + d the day d days before.
SimReport SimPedometer::DayRecordReply(int block) const {
    SimDay day;
    if (block == 3) day = values_.days[0];
    if (block == 4) day = {values_.referenceSteps, values_.referenceEnergy};
    if (block > 4) day = values_.days[static_cast<std::size_t>(block - 4)];
    // Six record bytes: the sixth takes the place of the echo.
    SimReport reply{};
    pedo::EncodeDayRecord(reply.data(), {day.steps, day.energy});
    reply[7] = '#';
    return reply;
}

// After both halves the settings block stands in blocks 0 and 1, as the device keeps it.
SimReport SimPedometer::SettingsReply(const SimReport& request) {
    const BYTE half = request[5];
    if (half == 0) {
        firstHalf_.emplace();
        std::copy_n(request.begin(), kBlockSize, firstHalf_->begin());
    } else if (firstHalf_) {
        SimSettings settings{};
        std::copy(firstHalf_->begin(), firstHalf_->end(), settings.begin());
        std::copy_n(request.begin(), kBlockSize, settings.begin() + kBlockSize);
        head_ = settings;
        lastSettings_ = settings;
        firstHalf_.reset();
    }
    return Reply(nullptr, 0, half, '4');
}

SimAnswer SimPedometer::Disturb(SimAnswer answer, std::size_t number) {
    const auto fault = faults_.find(number);
    if (fault == faults_.end()) return answer;
    switch (fault->second.first) {
    case SimFault::WrongEcho: answer.reply[5] = static_cast<BYTE>(answer.reply[5] ^ 0xFF); break;
    case SimFault::WrongCode: answer.reply[7] = fault->second.second; break;
    case SimFault::TimeOut: answer.link = SimAnswer::Link::Silent; break;
    case SimFault::IoError: answer.link = SimAnswer::Link::IoError; break;
    case SimFault::Unplug:
        plugged_ = false;
        answer.link = SimAnswer::Link::IoError;
        break;
    case SimFault::Bounce:
        dayRecords_ = false;
        answer.link = SimAnswer::Link::IoError;
        break;
    case SimFault::Zeros: answer.reply.fill(0); break;
    case SimFault::NotDecimal: std::fill_n(answer.reply.begin(), 5, BYTE{0xAB}); break;
    }
    return answer;
}
