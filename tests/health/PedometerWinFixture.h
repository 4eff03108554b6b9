// The pedometer window on the test thread with its page: the simulated pedometer plugged
// in (USB tree and HID hook), the built module in interface/, a user whose registered
// device, weight and step length match the device, page calls recorded, and the
// loopback server answering the upload (0x1170) and the ranking (0x1180).
#pragma once

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "DeviceWindowPage.h"
#include "EngineTest.h"
#include "FakeUsbTree.h"
#include "LoopbackPacketServer.h"
#include "PedometerFixture.h"
#include "SimPedometer.h"
#include "WaitFor.h"

class PedometerWinTest : public PedometerTest, protected DeviceWindowPage {
protected:
    static constexpr const char* kDeviceID = "123456789A";
    static constexpr int kWeight = 650;     // the simulated device's 65 kg
    static constexpr int kStepLength = 75;  // and its 75 cm

    PedometerWinTest() : usb_(dir_ / "sys") {
        uie::test::PageHost::Reset();
        Hooks().tickCount = [this] { return clock_.load(); };
        Hooks().sysfsRoot = usb_.Root();
        usb_.AddDevice("1-1", "0c45", "70c1", "p1", {"usbhid"});
        Hooks().hidTransport = link_;
        Hooks().longSleep = [](DWORD) {};  // the module waits out a time-out on a closed link
        std::filesystem::create_directories(dir_ / "interface");
        std::filesystem::copy_file(STRIDEX_MODULE_FOR_HEALTH, dir_ / "interface" / "stridex-4473.so");
        server_.OnCommand(0x1170, [](const PacketRequest&) { return PacketReply::Fields({"-1", "refused"}); });
        EXPECT_EQ(devices_.UserDeviceProc(nullptr, kSource, text::FromUtf8(kDeviceID)), 0);
        Change(L"weight", [](struHealthElementW& e) { e.valueNo = kWeight; });
        Change(L"pedoStepLength", [](struHealthElementW& e) { e.valueNo = kStepLength; });
    }
    ~PedometerWinTest() override {
        // A read still running may be queueing its upload: it ends before the workers go.
        EXPECT_TRUE(WaitFor([this] { return !pedometer_->IsReadBusy(); }));
        Pump();
    }

    // The window on the test thread with a page that declares the window's functions.
    void StartPage() {
        OpenPage(pedometer_.get(), dir_ / "pedometer.htm",
                 "function PageInit(flag) {}\nfunction RefreshPedoData(mode) {}\nfunction DeviceData() {}\n"
                 "function OpenSettingsWin(flag) {}\nfunction BandPedoRankInfo() {}\n");
    }
    bool ReadEnded() {
        return PumpUntil([this] { return !pedometer_->IsReadBusy(); });
    }
    // The upload requests the server received so far, each as its fields.
    std::vector<std::vector<std::string>> Uploads() const {
        std::vector<std::vector<std::string>> out;
        for (const PacketRequest& r : server_.Requests())
            if (r.commandId == 0x1170) out.push_back(r.fields);
        return out;
    }
    std::size_t RankRequests() const {
        std::size_t n = 0;
        for (const PacketRequest& r : server_.Requests()) n += r.commandId == 0x1180 ? 1 : 0;
        return n;
    }
    struHealthElementSourceTypeW* Source() { return sources_.GetSourceType(kSource); }
    struUploadState State() const { return pedometer_->m_uploadState.Get(); }

    uie::test::Recording recording_;
    std::atomic<DWORD> clock_{5000000};
    FakeUsbTree usb_;
    std::shared_ptr<SimPedometer> device_ = std::make_shared<SimPedometer>();
    std::shared_ptr<SimPedometerTransport> link_ = std::make_shared<SimPedometerTransport>(device_);
};
