#include "internal/VMLock.h"

#include <condition_variable>
#include <mutex>
#include <unordered_map>

#include "Window.h"

namespace uie::detail {
namespace {

// Who waits for which lock. One mutex for every VM lock: entering and leaving are short,
// and a waiter's check walks locks of several VMs at once.
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
    Waits& w = W();
    const DWORD me = GetCurrentThreadId();
    std::unique_lock lock(w.mutex);
    if (owner_ == me) {
        ++depth_;
        return true;
    }
    while (owner_ != 0) {
        // Follow the owners: the owner of this lock may wait for a lock whose owner waits...
        // Reaching this thread closes the circle. Each thread waits for one lock at most, so
        // the walk ends within as many steps as there are waiting threads.
        const VMLock* next = this;
        for (std::size_t steps = 0; next != nullptr && steps <= w.waitingFor.size(); ++steps) {
            if (next->owner_ == me) return false;
            auto it = w.waitingFor.find(next->owner_);
            next = it != w.waitingFor.end() ? it->second : nullptr;
        }
        w.waitingFor[me] = this;
        w.released.wait(lock);
        w.waitingFor.erase(me);
    }
    owner_ = me;
    depth_ = 1;
    return true;
}

void VMLock::Leave() {
    Waits& w = W();
    {
        std::lock_guard lock(w.mutex);
        if (--depth_ != 0) return;
        owner_ = 0;
        if (w.waitingFor.empty()) return;
    }
    w.released.notify_all();
}

}  // namespace uie::detail
