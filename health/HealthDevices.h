// What the health resources keep of the USB devices: a bound device module (the loaded
// library and its entry points, in the source's module slot once the module initialised,
// for the rest of the run) and the listed devices.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DynamicLibrary.h"
#include "HealthResources.h"
#include "ModuleInterface.h"
#include "UsbDevices.h"

struct struModuleInterface {
    std::wstring path;
    HMODULE handle = nullptr;
    // Entry points in the module record's order; the fourth slot is never bound.
    InitModuleProc InitModule = nullptr;
    StartWorkProc StartWork = nullptr;
    StopWorkProc StopWork = nullptr;
    void* reserved = nullptr;
    GetElementAttributeProc GetElementAttribute = nullptr;
    GetModuleStateProc GetModuleState = nullptr;
    ReadModuleDataProc ReadModuleData = nullptr;
    ReadModuleHisDataProc ReadModuleHisData = nullptr;
    ReadModuleOrigDataProc ReadModuleOrigData = nullptr;
    ReadModuleOrigDataToBufProc ReadModuleOrigDataToBuf = nullptr;
    GetModuleOrigDataProc GetModuleOrigData = nullptr;
    SetModuleDataProcStatusCallBackFuncProc SetModuleDataProcStatusCallBackFunc = nullptr;  // optional
    GetModuleDataProcStatusProc GetModuleDataProcStatus = nullptr;                          // optional
    ReadModuleIDProc ReadModuleID = nullptr;
    GetModuleIDProc GetModuleID = nullptr;
    SetModuleDevOptionProc SetModuleDevOption = nullptr;
    CloseModuleProc CloseModule = nullptr;
    // Held around every export call: a module's day table is not safe across threads.
    std::mutex callLock;

    struModuleInterface() = default;
    struModuleInterface(const struModuleInterface&) = delete;
    struModuleInterface& operator=(const struModuleInterface&) = delete;
    // Unloads the library it still holds (a failed binding, or the owner going away).
    ~struModuleInterface();
};

// One value reading of ReadModuleData, each text read bounded.
struct ModuleReading {
    std::string value;
    std::string time;
};

// One listed USB device; ids are kNoUsbId until its hardware ID yielded them.
struct struUsbDeviceW {
    static constexpr int kNoUsbId = -1;
    int vendorID = kNoUsbId;
    int productID = kNoUsbId;
    bool flag1 = false;
    bool flag2 = false;
    std::wstring service;
    std::wstring hardwareID;
};

// What the health resources keep for their devices; lives in their last member, so
// the watch is joined before anything else of them goes.
struct CHealthResources::DeviceState {
    std::vector<std::unique_ptr<struModuleInterface>> modules;  // under m_bindLock
    mutable std::mutex usbLock;
    std::map<std::wstring, struUsbDeviceW> usbDevices;  // by hardware ID
    std::mutex threadLock;
    std::thread watch;
    std::atomic<bool> running{false};
    std::atomic<bool> stop{false};
    std::atomic<HDEVNOTIFY> notify{nullptr};

    ~DeviceState();
};
