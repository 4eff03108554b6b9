// The stop event of a worker thread: set once to end the worker, waited on with a
// time-out between the worker's turns.
#pragma once

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "ThreadWait.h"
#include "WinTypes.h"

class StopSignal {
public:
    void Reset();
    void Set();
    // True as soon as the signal is set, else false after ms.
    bool Wait(DWORD ms);

    // Clears the signal and runs `work` on `thread`; false (after logging "CreateThread
    // fail!!!" as `who`) when no thread can be made.
    template <class F>
    bool Start(std::thread& thread, F&& work, const wchar_t* who) {
        Reset();
        try {
            thread = std::thread(std::forward<F>(work));
        } catch (const std::system_error&) {
            LogStartFailure(who);
            return false;
        }
        return true;
    }

    // Sets the signal and waits for the worker on `thread` to end, if one was started.
    void Stop(std::thread& thread) {
        Set();
        threadwait::Join(thread);
    }

private:
    static void LogStartFailure(const wchar_t* who);

    std::mutex lock_;
    std::condition_variable changed_;
    bool set_ = false;
};
