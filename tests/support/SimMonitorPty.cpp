#include "SimMonitorPty.h"

#include <algorithm>

#include "SimMonitorSerial.h"

namespace {
constexpr DWORD kPollMs = 5;
}  // namespace

SimMonitorPty::SimMonitorPty(std::shared_ptr<SimMonitor> monitor, std::chrono::milliseconds replyDelay)
    : monitor_(std::move(monitor)), replyDelay_(replyDelay) {
    if (line_.IsOpen()) thread_ = std::thread([this] { Serve(); });
}

SimMonitorPty::~SimMonitorPty() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool SimMonitorPty::AwaitTaken(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(takenLock_);
    const std::uint64_t ticket = ++asked_;
    return taken_.wait_for(lock, timeout, [&] { return takenUpTo_ >= ticket; });
}

void SimMonitorPty::Serve() {
    std::vector<BYTE> pending;
    auto lastByte = std::chrono::steady_clock::now();
    while (!stop_) {
        std::uint64_t asked = 0;
        {
            std::lock_guard lock(takenLock_);
            asked = asked_;
        }
        BYTE chunk[64];
        const int got = line_.Read(chunk, sizeof(chunk), kPollMs);
        if (got > 0) {
            if (monitor_->State().echoBack) line_.Write(chunk, static_cast<std::size_t>(got));
            pending.insert(pending.end(), chunk, chunk + got);
            lastByte = std::chrono::steady_clock::now();
        } else if (got < 0) {
            pending.clear();  // the host closed the port: what it began is gone
            Pause(std::chrono::milliseconds(2));
        }
        TakeFrames(pending, got <= 0 && std::chrono::steady_clock::now() - lastByte >= replyDelay_);
        SendRepeats();
        // Nothing came after the tickets were asked, and nothing waits to be framed.
        if (got <= 0 && pending.empty() && repeats_.empty()) {
            std::lock_guard lock(takenLock_);
            takenUpTo_ = asked;
            taken_.notify_all();
        }
    }
}

void SimMonitorPty::TakeFrames(std::vector<BYTE>& pending, bool quiet) {
    for (;;) {
        const std::size_t length = SimMonitorSerial::FrameLength(pending, quiet);
        if (length == 0 || pending.size() < length) return;
        const std::vector<BYTE> frame(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
        Answer(frame, quiet);  // a frame the quiet ended has had its reply delay
    }
}

void SimMonitorPty::Answer(const std::vector<BYTE>& frame, bool delayed) {
    const SimMonitorAnswer answer = monitor_->ReceiveSerial(frame);
    if (answer.bytes.empty()) return;
    if (answer.afterPurge && !delayed && !Pause(replyDelay_)) return;
    line_.Write(answer.bytes.data(), answer.bytes.size());
    if (!answer.twice) return;
    // Kept in the order they fall due, whatever their delays.
    const auto due = std::chrono::steady_clock::now() + answer.repeatAfter;
    const auto at = std::find_if(repeats_.begin(), repeats_.end(), [&](const auto& r) { return r.first > due; });
    repeats_.emplace(at, due, answer.bytes);
}

bool SimMonitorPty::Pause(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    while (!stop_ && std::chrono::steady_clock::now() < end) {
        SendRepeats();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return !stop_;
}

void SimMonitorPty::SendRepeats() {
    const auto now = std::chrono::steady_clock::now();
    while (!repeats_.empty() && repeats_.front().first <= now) {
        line_.Write(repeats_.front().second.data(), repeats_.front().second.size());
        repeats_.erase(repeats_.begin());
    }
}
