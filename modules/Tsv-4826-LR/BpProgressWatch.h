// Whether a download still moves. The library reports its progress in percent only, so a
// step of one percent stands for up to a hundredth of the readings a download asks for,
// at most seven of the store's 700. A download is given, for each step, the time its
// readings take when every one of them uses the whole wait its link allows, retries
// included, and before the first step and after the last the time of the steps without
// readings (the handshake, the version and the counts; the clock setting and the memory
// clear). So an honest monitor, however slow within its link's waits and however often
// a reading of it needs a retry that then succeeds, is never cut off, and the whole
// download is bounded by its readings times their allowance.
#pragma once

#include "VepRecords.h"
#include "WinTypes.h"

class CBpProgressWatch {
public:
    // One attempt at a reading: the 3000 ms answer wait of the longest request and the
    // 100 ms pause before it.
    static constexpr DWORD kAttemptMs = 3100;
    static constexpr DWORD kAttempts = 3;
    // After an attempt that failed, its answer may still come: the link waits as long as
    // an answer is waited for before the next attempt, and once more after the success.
    static constexpr DWORD kWaitOutMs = 3000;
    // The longest a reading takes and still succeeds: every attempt, the last two after
    // a failure's wait-out, and the wait-out after the success.
    static constexpr DWORD kReadingAllowanceMs = kAttempts * kAttemptMs + kAttempts * kWaitOutMs;
    static constexpr DWORD kReadingsPerStep = (VepRecords::kCapacity + 99) / 100;
    // The steps without readings, a retry each included.
    static constexpr DWORD kStepsAllowanceMs = 15000;
    static constexpr DWORD kMostStillMs = kReadingsPerStep * kReadingAllowanceMs + kStepsAllowanceMs;

    explicit CBpProgressWatch(DWORD now) : since_(now) {}

    // The progress polled at tick now; false once it has stood still for more than
    // kMostStillMs.
    bool StillMoving(DWORD now, int progress);

private:
    DWORD since_;
    int progress_ = -1;
};
