#include "TerminationWait.h"

#include <condition_variable>
#include <mutex>

#include "Signals.h"

struct TerminationWait::State {
    std::mutex lock;
    std::condition_variable told;
    bool ended = false;
};

TerminationWait::TerminationWait() : state_(std::make_shared<State>()) {
    StartTerminationWatcher([state = state_] {
        {
            std::lock_guard guard(state->lock);
            state->ended = true;
        }
        state->told.notify_all();
    });
}

void TerminationWait::Wait() {
    std::unique_lock guard(state_->lock);
    state_->told.wait(guard, [this] { return state_->ended; });
}
