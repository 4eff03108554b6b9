// The stop event of a worker thread: set once to end the worker, waited on with a
// time-out between the worker's turns.
#pragma once

#include <condition_variable>
#include <mutex>

#include "WinTypes.h"

class StopSignal {
public:
    void Reset();
    void Set();
    // True as soon as the signal is set, else false after ms.
    bool Wait(DWORD ms);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};
