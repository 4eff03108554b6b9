// Waits on a condition with a generous time-out instead of sleeping for a fixed time.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "Window.h"

// What a test gives a condition that an honest run meets at once: a loaded machine running
// the sanitizers stretches a moment to seconds, and only a failing test waits it out.
inline constexpr std::chrono::milliseconds kGenerousWait{10000};

inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kGenerousWait) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// WaitFor on a thread whose windows others call into: what is sent or posted to them is
// served meanwhile, as a page call from another thread needs its window's thread to run it.
inline bool WaitServing(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kGenerousWait) {
    return WaitFor(
        [&condition] {
            DispatchPendingMessages();
            return condition();
        },
        timeout);
}

// One bound for all of a case's waits: a loaded machine may spend it on whichever step is
// slow, and a failing case still ends within it, before the test runner's own time-out.
class WaitBudget {
public:
    explicit WaitBudget(std::chrono::milliseconds whole) : end_(std::chrono::steady_clock::now() + whole) {}
    // What is left, less what the steps after this one keep; never below nothing.
    std::chrono::milliseconds Left(std::chrono::milliseconds kept = {}) const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
        return std::max(left - kept, std::chrono::milliseconds(0));
    }

private:
    const std::chrono::steady_clock::time_point end_;
};
