// The lock of one script VM. The thread that enters holds it until it leaves, and may
// enter again meanwhile (a page function that calls a native method that calls a page
// function). Threads that wait for one form a graph; a thread whose wait would close a
// circle in it (each thread waiting for a VM the next one holds) is refused at once
// instead of waiting for ever.
#pragma once

#include <atomic>

#include "WinTypes.h"

namespace uie::detail {

class VMLock {
public:
    VMLock() = default;
    VMLock(const VMLock&) = delete;
    VMLock& operator=(const VMLock&) = delete;

    // False, without having waited to the end, when the wait could never end.
    bool Enter();
    void Leave();

private:
    // A free lock is taken, and a lock without waiters left, without the mutex of the waits
    // (VMLock.cpp); waiting goes through it.
    std::atomic<DWORD> owner_{0};
    std::atomic<unsigned> waiters_{0};
    unsigned depth_ = 0;  // the owner's alone
};

}  // namespace uie::detail
