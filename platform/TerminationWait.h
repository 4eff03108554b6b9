// For a program whose main thread only waits to be told to end (Ctrl-C or SIGTERM): the
// watcher's threads share the wait's state, so none of them ever touches what main has
// left behind once it returns.
#pragma once

#include <memory>

class TerminationWait {
public:
    // Starts the termination watcher (Signals.h): call it before any other thread starts.
    TerminationWait();
    // Returns once the first signal has come.
    void Wait();

private:
    struct State;
    std::shared_ptr<State> state_;
};
