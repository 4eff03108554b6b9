// A recursive lock that its holder gives up whenever it waits for another thread through
// this layer (a send to another thread's window, a sleep, a wait that names a
// YieldScope), and takes again after, as deep as before. So no thread ever waits for
// another while it holds one, and two threads can never wait for each other through it.
// A wait for it is bounded by the hold it waits for: once the holder has had it past the
// bound, the caller learns who holds it and goes on without it, at once. So a holder that
// never lets go costs another thread one bound in all, not one at every wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "WinTypes.h"

class YieldingLock {
public:
    // Told (any thread) when a wait ran out: what the waiter wanted it for, and who held it.
    using TimedOut = std::function<void(const std::wstring& wanted, const std::wstring& holder)>;

    YieldingLock(std::chrono::milliseconds bound, TimedOut report) : bound_(bound), timedOut_(std::move(report)) {}
    YieldingLock(const YieldingLock&) = delete;
    YieldingLock& operator=(const YieldingLock&) = delete;

    // Taken (or taken once more) for `label`, which names the holder to those who wait.
    // False when another thread kept it past the bound: nothing more is held then.
    bool Lock(std::wstring_view label);
    void Unlock();
    bool HeldByThisThread() const;

    void SetBound(std::chrono::milliseconds bound);

private:
    friend class YieldScope;
    // Waits until it is free, then takes it; false once the present hold is past the bound.
    bool Acquire(std::wstring_view label);
    void Release();

    mutable std::mutex mutex_;
    std::condition_variable freed_;
    DWORD owner_ = 0;
    std::wstring holder_;  // the owner's label
    std::chrono::steady_clock::time_point heldSince_;
    std::chrono::milliseconds bound_;
    const TimedOut timedOut_;
};

// While it lives, the calling thread holds none of the yielding locks it had taken; each is
// taken again, as deep, when it goes. A resumption past the bound goes on without the lock
// (reported), so a thread that never lets go cannot hold this one for good either.
class YieldScope {
public:
    YieldScope();
    ~YieldScope();
    YieldScope(const YieldScope&) = delete;
    YieldScope& operator=(const YieldScope&) = delete;

private:
    const std::size_t outerBase_;  // where the thread's locks of the waits further out end
};
