// The library's main road as its one caller walks it, through a table of exports so
// that the same steps run against the library linked in, the shared library loaded
// by the platform loader, and in a child process.
#pragma once

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "DynamicLibrary.h"
#include "Vepcom.h"

struct VepExports {
    int (*Init)(int);
    int (*End)();
    int (*OpenDevice)();
    int (*StartDownload)(int);
    int (*GetStatus)();
    int (*GetErrStatus)();
    int (*GetDataCnt)();
    int (*SetDataCurrent)(int);
    int (*GetBpData)(str_bp_retdata*);
    int (*GetConnectDeviceName)(char*);

    // Null members when an export is missing.
    static VepExports From(HMODULE library) {
        auto bind = [library](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(GetProcAddress(library, name));
        };
        VepExports e{};
        bind(e.Init, "Vep_Init");
        bind(e.End, "Vep_End");
        bind(e.OpenDevice, "Vep_OpenDevice");
        bind(e.StartDownload, "Vep_StartDownload");
        bind(e.GetStatus, "Vep_GetStatus");
        bind(e.GetErrStatus, "Vep_GetErrStatus");
        bind(e.GetDataCnt, "Vep_GetDataCnt");
        bind(e.SetDataCurrent, "Vep_SetDataCurrent");
        bind(e.GetBpData, "Vep_GetBpData");
        bind(e.GetConnectDeviceName, "Vep_GetConnectDeviceName");
        return e;
    }
};

struct VepRunResult {
    int open = -1;
    std::string model;
    std::vector<int> polls;  // the last three polls after the job ended
    int error = 0;
    std::vector<str_bp_retdata> readings;
};

// Init in blood-pressure mode, the model search, the readings job polled to its end
// (at most timeout), every reading, End.
inline VepRunResult RunDownload(const VepExports& vep,
                                std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    VepRunResult run;
    vep.Init(0);
    run.open = vep.OpenDevice();
    char model[32] = {};
    vep.GetConnectDeviceName(model);
    run.model = std::string(model, strnlen(model, sizeof(model)));
    if (run.open == 0 && vep.StartDownload(0) == 0) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (vep.GetStatus() == 1 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        for (int i = 0; i < 3; ++i) run.polls.push_back(vep.GetStatus());
        run.error = vep.GetErrStatus();
        const int n = run.polls.back() == 0 ? vep.GetDataCnt() : 0;
        for (int i = 0; i < n; ++i) {
            str_bp_retdata reading{};
            if (vep.SetDataCurrent(i) != 0 || vep.GetBpData(&reading) != 0) break;
            run.readings.push_back(reading);
        }
    }
    vep.End();
    return run;
}
