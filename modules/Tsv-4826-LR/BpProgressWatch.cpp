#include "BpProgressWatch.h"

bool CBpProgressWatch::StillMoving(DWORD now, int progress) {
    if (progress != progress_) {
        progress_ = progress;
        since_ = now;
        return true;
    }
    // Ticks wrap: compared by their unsigned difference.
    return now - since_ <= kMostStillMs;
}
