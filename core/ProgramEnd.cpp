#include "ProgramEnd.h"

#include <chrono>

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
    while (m_nEnds == waitedFor) {
        if (m_over.wait_for(lock, kServeEvery, [&] { return m_nEnds != waitedFor; })) break;
        lock.unlock();
        DispatchPendingMessages();
        lock.lock();
    }
    return false;
}

void ProgramEnd::Over() {
    {
        std::lock_guard lock(m_lock);
        m_bEnding = false;
        m_owner = {};
        ++m_nEnds;
    }
    m_over.notify_all();
}
