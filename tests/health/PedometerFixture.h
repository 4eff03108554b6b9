// The pedometer on a fresh user database: the health elements and sources, the device
// manager, a fixed local clock, the loopback server behind the communication object,
// and a pedometer object (not a window until StartWindow). The simulated pedometer and
// the built module can be bound to source 122.
#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../records/HealthResourcesFixture.h"
#include "CommandIds.h"
#include "Config.h"
#include "HealthDevices.h"
#include "DeviceWindowPage.h"
#include "Hooks.h"
#include "SimPedometerTransport.h"
#include "deviceManager.h"
#include "pedometerWin.h"

class PedometerTest : public HealthResourcesTest {
protected:
    static constexpr int kSource = 122;

    PedometerTest() : savedBinDir_(g_Config.m_config.binDir) {
        Hooks().localTime = [this](SYSTEMTIME& st) { st = now_; };
        g_Config.m_config.binDir = text::FromUtf8(dir_.Path().string());
        g_pDeviceManager = &devices_;
        devices_.LoadFromDB();
        pedometer_ = std::make_unique<CPedometerWin>();
        g_pPedometer = pedometer_.get();
    }
    ~PedometerTest() override {
        EndWorkers();  // no reply reaches the pedometer any more
        g_pPedometer = nullptr;
        pedometer_.reset();
        g_pDeviceManager = nullptr;
        g_Config.m_config.binDir = savedBinDir_;
    }

    // Makes the window on the test thread, so its posted commands can be read back.
    void StartWindow() { StartBareWindow(*pedometer_, dir_ / "pedometer.htm"); }
    // The commands posted to the window since the last call, "8081:1" (id:lParam).
    std::vector<std::wstring> WindowCommands() { return TakeWindowCommands(pedometer_->GetHwnd()); }

    // The simulated pedometer behind the HID hook and the built module in interface/,
    // named by source 122, bound.
    std::shared_ptr<SimPedometer> BindSimPedometer() {
        auto device = std::make_shared<SimPedometer>();
        Hooks().hidTransport = std::make_shared<SimPedometerTransport>(device);
        std::filesystem::create_directories(dir_ / "interface");
        std::filesystem::copy_file(STRIDEX_MODULE_FOR_HEALTH, dir_ / "interface" / "stridex-4473.so");
        EXPECT_GE(resources_.InitModuleInterface(sources_.GetSourceType(kSource)), 0);
        return device;
    }

    HookScope hooks_;
    const std::wstring savedBinDir_;
    SYSTEMTIME now_{2024, 3, 5, 1, 9, 30, 0, 0};  // 2024-03-01 09:30, the day after a leap day
    CDeviceManager devices_;
    std::unique_ptr<CPedometerWin> pedometer_;
};
