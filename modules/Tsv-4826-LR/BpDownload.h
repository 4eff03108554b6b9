// The one real job of the blood-pressure module: a synchronous download of the monitor's
// stored readings through the monitor library, reported step by step to the caller's
// callback. The readings are read into a staging store and handed out only when every
// one of them was read, so a failed download leaves the previous readings whole.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

#include "BpStatusReport.h"
#include "VepInterface.h"
#include "VepRecords.h"

class CBpDownload {
public:
    // As many readings as the library can hand out.
    static constexpr std::size_t kCapacity = VepRecords::kCapacity;
    // Below this the caller's buffer is refused.
    static constexpr std::size_t kMinBufferSize = 350;

    explicit CBpDownload(const struVepInterface& vep) : vep_(vep) {}

    void SetCallback(DataProcStatusCallBack callback) { report_.SetCallback(callback); }

    // The whole download: 0; -1 when the library is not bound (bound false), -2 for a buffer below 350
    // bytes, -3 busy or the monitor could not be initialised or opened, -4 the download
    // did not start, the library's error code when its job failed, 11 when the job's
    // progress stood still longer than an honest one's (CBpProgressWatch) and it was
    // aborted, or the failing result of a reading. The readings and their count change
    // only on success.
    int DownloadBpData(bool bound, std::size_t bufferSize);

    // *out = the readings of the last successful download; their size in bytes.
    int GetOrigData(char** out);

private:
    int Run();
    int OpenMonitor();
    int StartJob();
    int PollJob();
    int ReadReadings();
    // Ends the library's session (when asked), reports the failure and passes its code on.
    int Fail(BpText text, int code, bool endSession);
    void Commit(std::size_t count);

    const struVepInterface& vep_;
    CBpStatusReport report_;
    std::atomic<bool> busy_{false};
    std::atomic<int> downloadState_{0};  // 1 running, 2 failed, 3 finished

    std::array<str_bp_retdata, kCapacity> staging_{};  // only the busy download writes it
    std::mutex recordsLock_;
    std::array<str_bp_retdata, kCapacity> records_{};
    std::size_t count_ = 0;
};
