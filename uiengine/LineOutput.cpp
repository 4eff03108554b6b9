#include "internal/LineOutput.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>

namespace uie::detail {
namespace {

// Milliseconds of the coarse monotonic clock, which moves in ticks of a few: reading it
// costs a few nanoseconds, the precise clock ten times more.
std::int64_t CoarseMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

LineOutput& LineOutput::Instance() {
    // Never destroyed (its storage is static, its destructor never runs): threads and the
    // destructors of other statics may write up to the end.
    alignas(LineOutput) static unsigned char storage[sizeof(LineOutput)];
    static LineOutput& instance = *::new (storage) LineOutput();
    static const bool flushAtExit = std::atexit([] { Instance().FlushForExit(); }) == 0;
    (void)flushAtExit;
    return instance;
}

std::string& LineOutput::Buffer() {
    thread_local std::string t_buffer;
    if (t_buffer.capacity() > kKeptBufferBytes) std::string().swap(t_buffer);
    t_buffer.clear();
    return t_buffer;
}

void LineOutput::Write(std::string_view line) {
    std::unique_lock lock(mutex_);
    if (!gathered_.empty()) {  // a burst goes on: joins what is gathered, whatever the time
        Gather(line, lock);
        return;
    }
    const std::int64_t tick = CoarseMs();
    if (tick != tick_) {
        tick_ = tick;
        linesThisTick_ = 0;
    }
    if (++linesThisTick_ <= kBurstLines || exiting_) {
        std::unique_lock write(writing_, std::defer_lock);
        if (exiting_) {
            write.lock();
        } else {
            write.try_lock();  // else the writer is at work: the line joins what it writes next
        }
        if (write.owns_lock()) {
            lock.unlock();
            Put(line);
            return;
        }
    }
    Gather(line, lock);
}

void LineOutput::Flush() {
    std::unique_lock lock(mutex_);
    WriteGathered(lock);
}

void LineOutput::FlushForExit() {
    std::unique_lock lock(mutex_);
    exiting_ = true;
    WriteGathered(lock);
}

bool LineOutput::TryWriteGathered() {
    if (!mutex_.try_lock()) return false;
    const bool free = writing_.try_lock();
    if (free) {
        for (std::size_t at = 0; at < gathered_.size();) {
            const ssize_t n = ::write(STDERR_FILENO, gathered_.data() + at, gathered_.size() - at);
            if (n <= 0) break;
            at += static_cast<std::size_t>(n);
        }
        gathered_.clear();
        writing_.unlock();
    }
    mutex_.unlock();
    return free;
}

void LineOutput::FlushAtOnce() {
    for (int waited = 0; !TryWriteGathered() && waited < kAtOnceWaitMs; ++waited) {
        timespec pause{0, 1'000'000};
        nanosleep(&pause, nullptr);
    }
}

void LineOutput::Gather(std::string_view line, std::unique_lock<std::mutex>& lock) {
    gathered_ += line;
    if (gathered_.size() >= kMaxGathered) {
        WriteGathered(lock);
        return;
    }
    if (writerArmed_) return;
    if (!writer_.joinable()) {
        try {
            writer_ = std::thread(&LineOutput::Run, this);
        } catch (const std::system_error&) {  // no thread to spare: written now after all
            WriteGathered(lock);
            return;
        }
    }
    writerArmed_ = true;
    lock.unlock();
    armed_.notify_one();
}

void LineOutput::WriteGathered(std::unique_lock<std::mutex>& lock) {
    if (gathered_.empty()) return;
    std::string piece = std::move(gathered_);
    gathered_ = std::move(spare_);  // the room of an earlier piece, so gathering rarely allocates
    gathered_.clear();
    writing_.lock();
    lock.unlock();
    Put(piece);
    writing_.unlock();
    lock.lock();
    piece.clear();
    spare_ = std::move(piece);
}

void LineOutput::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        armed_.wait(lock, [this] { return writerArmed_; });
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(kGatherMs));
        lock.lock();
        writerArmed_ = false;
        WriteGathered(lock);
    }
}

void LineOutput::Put(std::string_view text) {
    if (text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace uie::detail
