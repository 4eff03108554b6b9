#include "ProgramEnd.h"

#include <chrono>

#include "ThreadWait.h"
#include "Window.h"

namespace {
// How often a waiting end serves its thread's messages.
constexpr std::chrono::milliseconds kServeEvery{20};
}  // namespace

bool ProgramEnd::Begin() {
    std::unique_lock lock(m_lock);
    if (!m_bEnding) {
        m_bEnding = true;
        m_owner = std::this_thread::get_id();
        return true;
    }
    if (m_owner == std::this_thread::get_id()) return false;
    const std::uint64_t waitedFor = m_nEnds;
    lock.unlock();
    const auto over = [&] {
        std::lock_guard again(m_lock);
        return m_nEnds != waitedFor;
    };
    // The end under way may post to this thread's windows as well as send.
    while (!threadwait::WaitForOtherThread(over, kServeEvery)) DispatchPendingMessages();
    return false;
}

void ProgramEnd::Over() {
    std::lock_guard lock(m_lock);
    m_bEnding = false;
    m_owner = {};
    ++m_nEnds;
}
