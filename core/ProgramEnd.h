// The one end of a run. The program ends by several paths (its last window, a signal, a
// failed loading step, the server's order, a refused re-login), at times two at once on
// different threads: the first goes on and every later one waits for it, so the process
// ends once, with the status of the end that began first.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>

class ProgramEnd {
public:
    // True for the end that goes on. A later end on another thread waits until that one
    // is over (in the program the process ends meanwhile), serving its own thread's
    // messages so that the end under way can still reach that thread's windows; then
    // false. On the thread whose end is under way: false at once.
    bool Begin();
    // The end ran through without ending the process: only when a test's exit hook returns.
    void Over();

private:
    std::mutex m_lock;
    bool m_bEnding = false;
    std::thread::id m_owner;
    std::uint64_t m_nEnds = 0;  // ends that are over
};
