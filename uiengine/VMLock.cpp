#include "internal/VMLock.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "Window.h"

namespace uie::detail {
namespace {

// Who waits for which lock. One mutex for the waits on every VM lock: a waiter's check
// walks locks of several VMs at once.
struct Waits {
    std::mutex mutex;
    std::condition_variable released;
    std::unordered_map<DWORD, const VMLock*> waitingFor;
};

Waits& W() {
    static Waits waits;
    return waits;
}

}  // namespace

bool VMLock::Enter() {
    const DWORD me = GetCurrentThreadId();
    if (owner_.load() == me) {  // only this thread sets it to itself
        ++depth_;
        return true;
    }
    DWORD none = 0;
    if (waiters_.load() == 0 && owner_.compare_exchange_strong(none, me)) {
        depth_ = 1;
        return true;
    }
    Waits& w = W();
    std::unique_lock lock(w.mutex);
    ++waiters_;  // before the owner is read again: a leaving owner then sees it and wakes us
    for (;;) {
        none = 0;
        if (owner_.compare_exchange_strong(none, me)) break;
        // Follow the owners: the owner of this lock may wait for a lock whose owner waits...
        // Reaching this thread closes the circle. Each thread waits for one lock at most, so
        // the walk ends within as many steps as there are waiting threads; a waiting thread
        // holds the mutex to leave its wait, so the owners on the walk stay where they are.
        const VMLock* next = this;
        for (std::size_t steps = 0; next != nullptr && steps <= w.waitingFor.size(); ++steps) {
            const DWORD owner = next->owner_.load();
            if (owner == me) {
                --waiters_;
                return false;
            }
            auto it = w.waitingFor.find(owner);
            next = it != w.waitingFor.end() ? it->second : nullptr;
        }
        w.waitingFor[me] = this;
        w.released.wait(lock);
        w.waitingFor.erase(me);
    }
    --waiters_;
    depth_ = 1;
    return true;
}

void VMLock::Leave() {
    if (--depth_ != 0) return;
    owner_.store(0);
    if (waiters_.load() == 0) return;
    Waits& w = W();
    {
        // A waiter holds the mutex from its count to its wait: past this, it waits and is woken.
        std::lock_guard lock(w.mutex);
    }
    w.released.notify_all();
}

}  // namespace uie::detail
