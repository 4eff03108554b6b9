// The library's process-wide state: what the caller set, the job control its polls
// read, the progress the links write, the blocks and stores the jobs fill. The values
// that the job thread and the caller's thread both touch are atomic; the blocks and
// stores are written by the job thread only while a job runs and read by the caller
// after the job ended.
#pragma once

#include <array>
#include <atomic>
#include <vector>

#include "VepRecords.h"
#include "VepSettingsBlock.h"
#include "VepTrace.h"
#include "Vepcom.h"
#include "WinTypes.h"

class VepState {
public:
    static constexpr std::size_t kDeviceInfoSize = 72;
    static constexpr std::size_t kSummaryCapacity = 72;
    // Where the links keep the monitor's answers in the device information.
    static constexpr std::size_t kSerialInfoOffset = 24;
    static constexpr std::size_t kSerialInfoLength = 16;
    static constexpr std::size_t kProfileInfoOffset = 40;
    static constexpr std::size_t kCountInfoOffset = 56;

    VepTrace trace;
    std::atomic<bool> abort{false};
    std::atomic<int> libraryMode{0};  // 0 blood pressure, 1 walking data
    std::atomic<int> connectMode{0};  // connection type of the current model
    std::atomic<int> comPort{0};
    std::atomic<int> downloadMode{0};  // bit value 2: set the clock, 4: clear the memory
    std::atomic<int> thMode{0};        // the connection type the job runs with
    std::atomic<int> thCnt{0};         // 1 while a job runs
    std::atomic<int> thStatus{0};      // the job's result code

    std::array<char, 32> modelName{};
    // The monitor's device information: serial number from 24, profile at 40..53,
    // counts at 56..63.
    std::array<BYTE, kDeviceInfoSize> deviceInfo{};
    VepSettingsBlock settings;
    VepRecords readings;
    std::vector<str_sumbp_data> weekData;
    std::vector<str_sumbp_data> monthData;

    // Size, count and progress all 0, as a job starts.
    void ResetProgress();
    void SetSize(int size);
    void SetCount(int count);
    int Size() const { return size_; }
    int Count() const { return count_; }
    // Percent: count x 100 / size, 100 when there is nothing to fetch, within 0..100.
    int Progress() const { return progress_; }

    // Of the count of readings a monitor reports, how many a download asks for: the
    // newest ones, as many as the store keeps (traced when that is fewer).
    int ReadingsToFetch(int count);

    // True when the abort flag was set; the flag is cleared as it is seen.
    bool TakeAbort() { return abort.exchange(false); }
    // 1 while a job runs; after it -1 when it failed, else 0.
    int Status() const;

    // Copies at most size bytes into the device information block from offset.
    void SetDeviceInfo(std::size_t offset, const BYTE* bytes, std::size_t size);

private:
    void UpdateProgress();

    std::atomic<int> size_{0};
    std::atomic<int> count_{0};
    std::atomic<int> progress_{0};
};
