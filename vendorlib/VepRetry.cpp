#include "VepRetry.h"

#include "Hooks.h"
#include "VepResult.h"
#include "VepState.h"

void VepPause(DWORD milliseconds) { DevicePause(milliseconds); }

int VepRetry(const VepRetryPlan& plan, VepState& state, const std::function<int()>& exchange) {
    int result = vep::kFailed;
    for (int attempt = 1; attempt <= plan.tries; ++attempt) {
        if (plan.abortTest && state.TakeAbort()) return vep::kAborted;
        if (plan.pauseBefore > 0) VepPause(plan.pauseBefore);
        result = exchange();
        if (result == vep::kOk) return result;
        if (plan.retryTrace != nullptr) state.trace.Line(plan.retryTrace, attempt);
        if (plan.pauseAfterFailure > 0) VepPause(plan.pauseAfterFailure);
        if (plan.pauseBetween > 0 && attempt < plan.tries) VepPause(plan.pauseBetween);
    }
    return result;
}
