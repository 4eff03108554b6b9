// Waits on a condition with a short time-out instead of sleeping for a fixed time.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "Window.h"

inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// WaitFor on a thread whose windows others call into: what is sent or posted to them is
// served meanwhile, as a page call from another thread needs its window's thread to run it.
inline bool WaitServing(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    return WaitFor(
        [&condition] {
            DispatchPendingMessages();
            return condition();
        },
        timeout);
}
