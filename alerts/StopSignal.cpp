#include "StopSignal.h"

#include <chrono>

#include "CxLog.h"

void StopSignal::Reset() {
    std::lock_guard lock(lock_);
    set_ = false;
}

void StopSignal::Set() {
    {
        std::lock_guard lock(lock_);
        set_ = true;
    }
    changed_.notify_all();
}

bool StopSignal::Wait(DWORD ms) {
    std::unique_lock lock(lock_);
    return threadwait::WaitFor(changed_, lock, std::chrono::milliseconds(ms), [this] { return set_; });
}

void StopSignal::LogStartFailure(const wchar_t* who) { LOGF(LOG_ERROR, who, L"CreateThread fail!!!"); }
