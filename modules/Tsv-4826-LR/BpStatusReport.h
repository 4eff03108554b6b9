// The download's reports to the caller's status callback: a state, one of the module's
// texts (in the system code page, GBK, as the caller reads them), "-1" twice, a percent.
#pragma once

#include <atomic>
#include <string>

#include "ModuleInterface.h"

enum class BpState { Running, Failed, Finished };

// The texts themselves are in BpStatusReport.cpp, in this order.
enum class BpText {
    SystemNull,
    System,
    Busy,
    Reading,
    InitFailed,
    OpenFailed,
    StartDownload,
    StartDownloadMore,
    ReadFailed,
    StatusFailed,
    AllDone,
};

class CBpStatusReport {
public:
    // Null: no reports.
    void SetCallback(DataProcStatusCallBack callback) { callback_ = callback; }
    // Calls the callback, when one is set, on the calling thread.
    void Report(BpState state, BpText text, int percent) const;

    // The text as the callback receives it.
    static const std::string& Text(BpText text);

private:
    std::atomic<DataProcStatusCallBack> callback_{nullptr};
};
