#include "YieldingLock.h"

#include <utility>
#include <vector>

#include "Window.h"

namespace {

// A yielding lock the thread has taken.
struct Held {
    YieldingLock* lock;
    std::wstring label;
    unsigned depth;
    bool owned;    // false while yielded, or after a resumption that ran out
    bool yielded;  // given up by the innermost wait further in, to be taken again after it
};

// The thread's locks, oldest first. Entries below `t_base` belong to waits further out
// (a YieldScope); a use inside the wait (a send being served) takes the lock afresh.
thread_local std::vector<Held> t_held;
thread_local std::size_t t_base = 0;

Held* Find(const YieldingLock* lock) {
    for (std::size_t i = t_held.size(); i > t_base; --i) {
        if (t_held[i - 1].lock == lock) return &t_held[i - 1];
    }
    return nullptr;
}

}  // namespace

bool YieldingLock::Lock(std::wstring_view label) {
    if (Held* held = Find(this)) {
        if (!held->owned && !Acquire(label)) return false;
        held->owned = true;
        ++held->depth;
        return true;
    }
    if (!Acquire(label)) return false;
    t_held.push_back(Held{this, std::wstring(label), 1, true, false});
    return true;
}

void YieldingLock::Unlock() {
    Held* held = Find(this);
    if (held == nullptr || --held->depth != 0) return;
    if (held->owned) Release();
    t_held.erase(t_held.begin() + (held - t_held.data()));
}

bool YieldingLock::HeldByThisThread() const {
    const Held* held = Find(this);
    return held != nullptr && held->owned;
}

void YieldingLock::SetBound(std::chrono::milliseconds bound) {
    std::lock_guard lock(mutex_);
    bound_ = bound;
}

bool YieldingLock::Acquire(std::wstring_view label) {
    const DWORD me = GetCurrentThreadId();
    std::unique_lock lock(mutex_);
    // The bound runs from the present hold's start, whoever took it while this thread waited.
    while (owner_ != 0) {
        const auto deadline = heldSince_ + bound_;
        if (std::chrono::steady_clock::now() >= deadline) break;
        freed_.wait_until(lock, deadline);
    }
    if (owner_ == 0) {
        owner_ = me;
        heldSince_ = std::chrono::steady_clock::now();
        holder_.assign(label);  // keeps its room: no allocation once the names have been seen
        return true;
    }
    const std::wstring holder = holder_;
    lock.unlock();
    if (timedOut_) timedOut_(std::wstring(label), holder);
    return false;
}

void YieldingLock::Release() {
    {
        std::lock_guard lock(mutex_);
        owner_ = 0;
        holder_.clear();
    }
    freed_.notify_one();
}

YieldScope::YieldScope() : outerBase_(t_base) {
    for (std::size_t i = t_base; i < t_held.size(); ++i) {
        Held& held = t_held[i];
        if (!held.owned) continue;
        held.lock->Release();
        held.owned = false;
        held.yielded = true;
    }
    t_base = t_held.size();
}

YieldScope::~YieldScope() {
    // What a use inside the wait left (nothing, when its locks and unlocks pair) is dropped.
    while (t_held.size() > t_base) {
        if (t_held.back().owned) t_held.back().lock->Release();
        t_held.pop_back();
    }
    t_base = outerBase_;
    for (std::size_t i = t_base; i < t_held.size(); ++i) {
        Held& held = t_held[i];
        if (!std::exchange(held.yielded, false)) continue;
        held.owned = held.lock->Acquire(held.label);
    }
}
