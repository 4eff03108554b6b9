#include "BpDownload.h"

#include <algorithm>

#include "BpProgressWatch.h"
#include "Hooks.h"

namespace {

constexpr int kBloodPressureMode = 0;
constexpr DWORD kPollMs = 100;
// What the library reports for a job it aborted.
constexpr int kAborted = 11;
constexpr int kStatusFailed = -1;
constexpr int kStatusDone = 0;
constexpr int kStateRunning = 1;
constexpr int kStateFailed = 2;
constexpr int kStateFinished = 3;

}  // namespace

int CBpDownload::DownloadBpData(bool bound, std::size_t bufferSize) {
    if (!bound) {
        report_.Report(BpState::Failed, BpText::SystemNull, 0);
        return -1;
    }
    if (bufferSize < kMinBufferSize) {
        report_.Report(BpState::Failed, BpText::System, 0);
        return -2;
    }
    // An exchange, so two callers can never both pass.
    if (busy_.exchange(true)) {
        report_.Report(BpState::Failed, BpText::Busy, 0);
        return -3;
    }
    const int result = Run();
    busy_ = false;
    return result;
}

int CBpDownload::Run() {
    report_.Report(BpState::Running, BpText::Reading, 0);
    int result = OpenMonitor();
    if (result == 0) result = StartJob();
    if (result == 0) result = PollJob();
    if (result == 0) result = ReadReadings();
    return result;
}

int CBpDownload::OpenMonitor() {
    if (vep_.Init(kBloodPressureMode) != 0) return Fail(BpText::InitFailed, -3, false);
    // No model is named, so the library tries every model it knows.
    if (vep_.OpenDevice() != 0) return Fail(BpText::OpenFailed, -3, true);
    return 0;
}

int CBpDownload::StartJob() {
    downloadState_ = kStateRunning;
    report_.Report(BpState::Running, BpText::StartDownload, 0);
    const int started = vep_.StartDownload(0);
    report_.Report(BpState::Running, BpText::StartDownloadMore, 1);
    // The session is ended here too, or the monitor stays open and the next open fails.
    return started != 0 ? Fail(BpText::ReadFailed, -4, true) : 0;
}

// A job whose progress stands still for longer than an honest one's is held by its
// monitor: it is aborted.
int CBpDownload::PollJob() {
    int lastProgress = -1;
    CBpProgressWatch watch(GetTickCount());
    for (;;) {
        const int status = vep_.GetStatus();
        if (status == kStatusFailed) {
            const int code = vep_.GetErrStatus();
            // A failed job is never handed back as success, whatever code it left.
            return Fail(BpText::StatusFailed, code != 0 ? code : -1, true);
        }
        const int progress = vep_.GetDownloadStatus();
        if (progress != lastProgress) {
            lastProgress = progress;
            report_.Report(BpState::Running, BpText::Reading, progress);
        }
        if (status != kStatusDone && !watch.StillMoving(GetTickCount(), progress)) {
            vep_.Abort();
            return Fail(BpText::ReadFailed, kAborted, true);
        }
        DevicePause(kPollMs);
        if (status == kStatusDone) return 0;
    }
}

int CBpDownload::ReadReadings() {
    report_.Report(BpState::Running, BpText::AllDone, 100);
    const int n = vep_.GetDataCnt();
    if (n < 0) return Fail(BpText::ReadFailed, n, true);
    // The library holds no more than this; a larger count is cut to what fits.
    const auto count = std::min(static_cast<std::size_t>(n), kCapacity);
    for (std::size_t i = 0; i < count; ++i) {
        int result = vep_.SetDataCurrent(static_cast<int>(i));
        if (result == 0) result = vep_.GetBpData(&staging_[i]);
        if (result != 0) return Fail(BpText::ReadFailed, result, true);
    }
    vep_.End();
    downloadState_ = kStateFinished;
    Commit(count);
    report_.Report(BpState::Finished, BpText::Reading, 100);
    return 0;
}

int CBpDownload::Fail(BpText text, int code, bool endSession) {
    if (endSession) vep_.End();
    downloadState_ = kStateFailed;
    report_.Report(BpState::Failed, text, 0);
    return code;
}

void CBpDownload::Commit(std::size_t count) {
    std::lock_guard guard(recordsLock_);
    std::copy_n(staging_.begin(), count, records_.begin());
    count_ = count;
}

int CBpDownload::GetOrigData(char** out) {
    std::lock_guard guard(recordsLock_);
    *out = reinterpret_cast<char*>(records_.data());
    return static_cast<int>(count_ * sizeof(str_bp_retdata));
}
