// The program-wide script-call lock: native code holds it for one call of a page function,
// and nothing else takes it (page code runs on its own window's thread under its own VM).
// It is recursive, since a page function may call a native that calls a page again; its
// holder gives it up whenever it waits for another thread (YieldingLock.h), and a wait for it
// is bounded: past the bound the call is given up, with a log line naming the window whose
// page holds it.
#pragma once

#include <chrono>
#include <string>

#include "EngineSdk.h"
#include "YieldingLock.h"

class ScriptCallGuard {
public:
    static constexpr std::chrono::seconds kBound{5};

    // Takes the lock for a call into the page of `he`'s window.
    explicit ScriptCallGuard(HELEMENT he);
    ~ScriptCallGuard();
    ScriptCallGuard(const ScriptCallGuard&) = delete;
    ScriptCallGuard& operator=(const ScriptCallGuard&) = delete;

    // False when another thread held it past the bound (logged): the call is not to be made.
    bool held() const { return held_; }

    // The one lock; tests shorten its bound.
    static YieldingLock& Lock();
    // The name a window's page goes by in the lock's log lines, from its creation to its end.
    static void NameWindow(HWND hwnd, const std::wstring& name);
    static void ForgetWindow(HWND hwnd);

private:
    const bool held_;
};
