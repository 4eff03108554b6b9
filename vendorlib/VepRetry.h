// How the links and procedures repeat an exchange and pause between steps.
#pragma once

#include <functional>

#include "WinTypes.h"

class VepState;

// How often an exchange is tried and what comes between the attempts.
struct VepRetryPlan {
    int tries = 3;
    bool abortTest = true;  // an abort seen before an attempt ends with 11 (the flag is cleared)
    DWORD pauseBefore = 0;  // before every attempt
    DWORD pauseAfterFailure = 0;
    const char* retryTrace = nullptr;  // a printf format taking the attempt number
    DWORD pauseBetween = 0;            // after a failure that another attempt follows
};

// A fixed pause of the protocol (DevicePause), so tests count them instead of waiting.
void VepPause(DWORD milliseconds);

// Tries exchange by plan; 0 at its first success, else the last attempt's code.
int VepRetry(const VepRetryPlan& plan, VepState& state, const std::function<int()>& exchange);
