// The blood-pressure window on the test thread with its page, in a program folder that is
// the current directory: the built module and the monitor library in interface/, our
// simulated monitor's model in System/, the monitor behind the HID hook holding two
// readings, page calls recorded, and the loopback server behind the communication object.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BloodPressureFixture.h"
#include "Config.h"
#include "CurrentFolder.h"
#include "DeviceWindowPage.h"
#include "EngineTest.h"
#include "HealthDevices.h"
#include "LoopbackPacketServer.h"
#include "SimMonitor.h"
#include "SimMonitorModel.h"
#include "SimMonitorTransport.h"
#include "WaitFor.h"

class BloodPressureWinTest : public BloodPressureTest, protected DeviceWindowPage {
protected:
    static constexpr const char* kMonitorPages = "GME";  // one reply per reading

    BloodPressureWinTest() : savedBinDir_(g_Config.m_config.binDir) {
        uie::test::PageHost::Reset();
        g_Config.m_config.binDir = text::FromUtf8(dir_.Path().string());
        std::filesystem::create_directories(dir_ / "interface");
        std::filesystem::copy_file(TSV_MODULE_FOR_HEALTH, dir_ / "interface" / "Tsv-4826-LR.so");
        std::filesystem::copy_file(VEPCOM_FOR_HEALTH, dir_ / "interface" / "Vepcom.so");
        std::filesystem::create_directories(dir_ / "System");
        std::ofstream(dir_ / "System" / "bpmdl.vpx") << ModelFile(ModelXml("SIMBP3", SimModel()));
        SimMonitorState state = monitor_->State();
        state.readings = {{2013, 3, 4, 21, 30, 5, 131, 85, 66}, {2013, 3, 4, 7, 15, 0, 125, 82, 70}};
        monitor_->SetState(state);
        Hooks().hidTransport = transport_;
        Hooks().devicePause = [](DWORD) {};
        Hooks().longSleep = [](DWORD) {};
    }
    ~BloodPressureWinTest() override {
        // A download still held ends before the window and the module go.
        EXPECT_TRUE(WaitFor([this] {
            monitor_->Release();
            return !bp_->IsReadBusy();
        }));
        Pump();
        g_Config.m_config.binDir = savedBinDir_;
    }

    // The window on the test thread with a page that declares the window's functions.
    void StartPage() {
        OpenPage(bp_.get(), dir_ / "bp.htm",
                 "function DevDataLoad(sourceNo) {}\nfunction RefreshBpData(mode) {}\n"
                 "function DataLoadSet(status) {}\n");
    }
    bool ReadEnded() {
        return PumpUntil([this] { return !bp_->IsReadBusy(); });
    }
    // A download that waits at the monitor's first reading until Release.
    void HoldDownload() { monitor_->SetFault(kMonitorPages, SimMonitorFault::Hold, 1); }
    bool DownloadHeld() {
        return WaitFor([this] { return monitor_->Holding(); });
    }
    struHealthElementSourceTypeW* Source() { return sources_.GetSourceType(kSource); }
    // The load status as "state msg total processed precent".
    std::wstring Load() const {
        const struBpLoadStatus s = bp_->GetLoadStatus();
        return std::to_wstring(s.state) + L" " + s.msg + L" " + std::to_wstring(s.total) + L" " +
               std::to_wstring(s.processed) + L" " + std::to_wstring(s.precent);
    }
    // A read's end shown to the page: "code message".
    std::wstring Outcome() const {
        const struUploadState s = State();
        EXPECT_FALSE(s.busy);
        return std::to_wstring(s.retCode) + L" " + s.message;
    }

    const std::wstring savedBinDir_;
    CurrentFolder folder_{dir_.Path()};
    uie::test::Recording recording_;
    std::shared_ptr<SimMonitor> monitor_ = std::make_shared<SimMonitor>();
    std::shared_ptr<SimMonitorTransport> transport_ = std::make_shared<SimMonitorTransport>(monitor_);
};
