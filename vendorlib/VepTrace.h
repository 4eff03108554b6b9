// The library's debug trace: while debug mode is on, each line is appended to
// "debug.txt" in the current folder. Safe from the job thread and the caller's.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

#include "WinTypes.h"

class VepTrace {
public:
    void SetEnabled(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }

    // One line from a printf format, cut to 1023 characters.
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // "CMD : " and each byte as "%02X ".
    void Frame(const BYTE* frame, std::size_t length);

private:
    void Append(const char* text);

    std::atomic<bool> enabled_{false};
    std::mutex lock_;
};
