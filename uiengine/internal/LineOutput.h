// Lines for standard error, each written whole and in the order they were given. A line
// is written at once, unless lines come in a burst (more than kBurstLines in one tick of
// the coarse clock, a few milliseconds) or another write is under way: then it is
// gathered, and what is gathered is written in one piece by a thread of this class
// kGatherMs later, since every write is a system call, which costs more than the page call
// it traces. What is gathered is also written when the process exits normally, when a
// window goes, before a fatal error, and when the program ends the process at once
// (ForExit, AtOnce).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace uie::detail {

class LineOutput {
public:
    static LineOutput& Instance();

    // `line` ends with its '\n'.
    void Write(std::string_view line);
    void Flush();
    // Flush, and every later line is written at once: the process is about to end.
    void FlushForExit();
    // For an end of the process at once, from a signal handler too: writes what is gathered
    // with write(2), waiting at most kAtOnceWaitMs for a thread that is adding to it or
    // writing (one stuck on a full pipe must not hold the end).
    void FlushAtOnce();
    // A buffer of the calling thread to make a line in, so that a line costs no allocation;
    // emptied, and a buffer grown large by a long line given back.
    static std::string& Buffer();

private:
    static constexpr int kBurstLines = 16;
    static constexpr int kGatherMs = 2;
    static constexpr std::size_t kMaxGathered = std::size_t{1} << 20;  // written at once past this
    static constexpr std::size_t kKeptBufferBytes = 4096;
    static constexpr int kAtOnceWaitMs = 250;

    LineOutput() = default;
    void Run();
    void Gather(std::string_view line, std::unique_lock<std::mutex>& lock);
    // Writes what is gathered; writing_ is taken before mutex_ is left, so that a line
    // gathered or written later waits for it.
    void WriteGathered(std::unique_lock<std::mutex>& lock);
    static void Put(std::string_view text);
    // One try of FlushAtOnce: false when another thread holds what it needs.
    bool TryWriteGathered();

    std::mutex mutex_;    // what is gathered and the counts
    std::mutex writing_;  // held through each write, taken under mutex_: writes keep the order
    std::condition_variable armed_;
    std::string gathered_;
    std::string spare_;  // a written piece's buffer, for the next to gather in
    std::int64_t tick_ = 0;
    int linesThisTick_ = 0;
    bool writerArmed_ = false;
    bool exiting_ = false;  // from the exit flush on, every line is written at once
    std::thread writer_;
};

}  // namespace uie::detail
