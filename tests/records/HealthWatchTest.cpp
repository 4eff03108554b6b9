#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FloatBarScope.h"
#include "HealthDevicesFixture.h"
#include "LogReader.h"
#include "Quorvix.h"
#include "SimPedometer.h"
#include "SimPedometerTransport.h"
#include "WaitFor.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

namespace {

// The pedometer's ids in the source dictionary, 0x0C45 and 0x70C1.
constexpr int kPedoVendor = 3141;
constexpr int kPedoProduct = 28865;

class HealthWatchTest : public HealthDevicesTest {
protected:
    HealthWatchTest() {
        Hooks().tickCount = [this] { return tick_.load(); };
        Hooks().localTime = [this](SYSTEMTIME& st) { st = now_; };
        now_ = SYSTEMTIME{2024, 6, 0, 15, 9, 0, 0, 0};
    }
    // Source 122 on the test module, its device present and the module bound.
    struHealthElementSourceTypeW& BoundPedometer() {
        usb_.AddDevice("1-1", "0c45", "70c1", "p1", {"usbhid"});
        struHealthElementSourceTypeW& source = UseModule(122, "full");
        EXPECT_EQ(resources_.BindPresentModules(), 0);
        EXPECT_NE(source.moduleInterface.load(), nullptr);
        return source;
    }

    std::atomic<DWORD> tick_{100000};
    SYSTEMTIME now_{};
};

TEST_F(HealthWatchTest, ListingSkipsHubsAndCompositeParentsAndKeepsOneRecordPerId) {
    usb_.AddDevice("usb1", "1d6b", "0002", "", {"hub"}, "09");
    usb_.AddDevice("1-2", "046d", "c52b", "", {"usbhid", "usbhid"});
    usb_.AddDevice("1-3", "", "70c1", "", {"usbhid"});  // no vendor id: never matches
    usb_.AddDevice("1-4", "0c45", "70c1", "", {"usbhid"});
    ASSERT_EQ(resources_.list_USB_devices(), 0);
    EXPECT_EQ(resources_.IsDevicePresent(0x0C45, 0x70C1), 1);  // "VID_" read through "Vid_"
    EXPECT_EQ(resources_.IsDevicePresent(0x046D, 0xC52B), 1);  // through its interfaces
    EXPECT_EQ(resources_.IsDevicePresent(0x1D6B, 0x0002), 2);
    EXPECT_EQ(resources_.IsDevicePresent(-1, 0x70C1), 2);

    const int before = CountLogLines(L"插入失败");
    ASSERT_EQ(resources_.list_USB_devices(), 0);  // every hardware ID again
    EXPECT_EQ(CountLogLines(L"插入失败") - before, 4);

    Hooks().sysfsRoot = dir_ / "none";
    EXPECT_EQ(resources_.list_USB_devices(), -1);
}

TEST_F(HealthWatchTest, PresentDevicesGetTheirModuleAndLinkState) {
    struHealthElementSourceTypeW& monitor = *sources_.GetSourceType(1002);
    monitor.vendorID = monitor.productID = -1;  // a source without USB ids
    monitor.linkState = 7;
    struHealthElementSourceTypeW& source = UseModule(122, "full");
    EXPECT_EQ(resources_.BindPresentModules(), 0);  // nothing plugged in
    EXPECT_EQ(source.linkState.load(), 2);
    EXPECT_EQ(source.moduleInterface.load(), nullptr);

    BoundPedometer();
    EXPECT_EQ(source.linkState.load(), 1);
    EXPECT_EQ(Element(L"pedoNumberOfSteps").sourceLinkState, 1);
    EXPECT_EQ(monitor.linkState.load(), 7);  // no ids: left alone
}

TEST_F(HealthWatchTest, DisplayRefreshKeepsItsCycle) {
    const struHealthElementSourceTypeW& source = BoundPedometer();
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.reDispCycle = 5; });
    Change(L"pedoStepLength", [](struHealthElementW& e) { e.reDispCycle = 0; });
    Change(L"pedoValidTime", [](struHealthElementW& e) { e.reDispCycle = 1; });  // the module writes no value

    resources_.RefashElementDisp();
    EXPECT_EQ(Element(L"pedoNumberOfSteps").value, L"21");
    EXPECT_EQ(Element(L"pedoValidTime").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(Count(source, "TestReadCount"), 2);
    tick_ += 4999;
    resources_.RefashElementDisp();
    EXPECT_EQ(Count(source, "TestReadCount"), 3);  // only the one-second element
    tick_ += 1;  // five seconds for the one, a millisecond since the last for the other
    resources_.RefashElementDisp();
    EXPECT_EQ(Count(source, "TestReadCount"), 4);
    EXPECT_EQ(Db(L"valueNo", L"pedoNumberOfSteps"), L"-29999");  // a display refresh stores nothing
}

TEST_F(HealthWatchTest, IndoorReadingsTellTheSurroundingsPopup) {
    BoundPedometer();
    FloatBarScope bar(dir_.Path());
    for (const wchar_t* id : {L"devHumidity", L"pedoNumberOfSteps"})
        Change(id, [](struHealthElementW& e) { e.sourceNo = 122, e.reDispCycle = 1; });
    resources_.RefashElementDisp();
    EXPECT_EQ(Element(L"devHumidity").value, L"21");
    EXPECT_EQ(bar.SurroundCommands(), std::vector<WORD>{0x8069});  // once: the step count tells nobody
}

TEST_F(HealthWatchTest, RefreshSkipsAModuleThatADeviceReadHolds) {
    struHealthElementSourceTypeW& source = BoundPedometer();
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.reDispCycle = 1; });
    {
        std::lock_guard download(source.moduleInterface.load()->callLock);
        resources_.RefashElementDisp();
    }
    EXPECT_EQ(Count(source, "TestReadCount"), 0);
    EXPECT_EQ(Element(L"pedoNumberOfSteps").valueNo, CHealthResources::kNoValue);
    tick_ += 1000;
    resources_.RefashElementDisp();
    EXPECT_EQ(Count(source, "TestReadCount"), 1);

    source.linkState = 2;  // unplugged: its module is not asked
    tick_ += 1000;
    resources_.RefashElementDisp();
    EXPECT_EQ(Count(source, "TestReadCount"), 1);
}

TEST_F(HealthWatchTest, ReReadingStoresTheModulesValueAndTime) {
    BoundPedometer();
    Change(L"pedoNumberOfSteps", [](struHealthElementW& e) { e.changeCycle = 60; });
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"pedoNumberOfSteps").valueNo, 22);
    EXPECT_EQ(Db(L"valueNo", L"pedoNumberOfSteps"), L"22");
    EXPECT_EQ(Db(L"valueGeneratedTime", L"pedoNumberOfSteps"), L"2024-06-15 08:30:00.000");
    EXPECT_EQ(HistoryRows(L"pedoNumberOfSteps"), 1);
    resources_.RefashElementChange();  // not due again
    EXPECT_EQ(HistoryRows(L"pedoNumberOfSteps"), 1);
}

TEST_F(HealthWatchTest, ValuesExpireOnceAfterTheirValidity) {
    const auto setWeight = [this](const wchar_t* generated) {
        Change(L"weight", [generated](struHealthElementW& e) {
            e.valueNo = 700, e.valueValidity = 30, e.valueGeneratedTime = generated;
        });
    };
    setWeight(L"2024-06-15 08:30:00.000");
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, 700);  // exactly 30 minutes: still valid

    now_.wMinute = 1;
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(Db(L"valueNo", L"weight"), L"-29999");
    EXPECT_EQ(HistoryRows(L"weight"), 1);
    now_.wHour = 11;
    resources_.RefashElementChange();
    EXPECT_EQ(HistoryRows(L"weight"), 1);  // no value has nothing left to expire

    setWeight(L"");
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, 700);  // no time, no expiry
}

TEST_F(HealthWatchTest, AnExpiryThatCannotBeStoredIsTriedAgainOnlyAfterItsCycle) {
    Change(L"weight", [](struHealthElementW& e) {
        e.valueNo = 700, e.valueValidity = 30, e.changeCycle = 60, e.valueGeneratedTime = L"2024-06-15 08:00:00.000";
    });
    Exec(L"alter table tHealthElementDataList rename to tHealthElementDataListAway;");
    Commands();
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, 700);
    EXPECT_TRUE(Commands().empty()) << "nothing changed, nothing to show";
    Exec(L"alter table tHealthElementDataListAway rename to tHealthElementDataList;");
    tick_ += 59'000;
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, 700) << "tried again within its cycle";
    tick_ += 1'000;
    resources_.RefashElementChange();
    EXPECT_EQ(Element(L"weight").valueNo, CHealthResources::kNoValue);
    EXPECT_EQ(HistoryRows(L"weight"), 1);
}

TEST_F(HealthWatchTest, WatchEndsOnItsOwnOnceTheRunStateTurnsToFour) {
    const std::wstring exitLine = L"CHealthResources::RunHealthResourcesWatch exit...";
    int exits = CountLogLines(exitLine);
    for (const bool pageReady : {false, true}) {
        g_Config.SetLoadPageState(L"healthElement", pageReady ? 1 : 0);
        EXPECT_EQ(resources_.StartWatch(), 1);
        // The whole list goes out once the page's element panel is loaded, not before.
        EXPECT_EQ(WaitFor([this] { return !Lists().empty(); }, pageReady ? kGenerousWait : std::chrono::milliseconds(150)),
                  pageReady);
        // Not stopped: the watch sees the run state itself, waiting or running.
        g_nRunState = 4;
        EXPECT_TRUE(WaitFor([&] { return CountLogLines(exitLine) == exits + 1; }))
            << pageReady;
        resources_.StopWatch();
        g_nRunState = 1;
        exits = CountLogLines(exitLine);
    }
    g_Config.SetLoadPageState(L"healthElement", 0);
}

TEST_F(HealthWatchTest, SimulatedPedometerGetsTheRealModuleBound) {
    auto device = std::make_shared<SimPedometer>();
    Hooks().hidTransport = std::make_shared<SimPedometerTransport>(device);
    std::filesystem::copy_file(STRIDEX_MODULE_FOR_RECORDS, dir_ / "interface" / "stridex-4473.so");
    usb_.AddDevice("1-1", "0c45", "70c1", "", {"usbhid"});
    struHealthElementSourceTypeW& source = *sources_.GetSourceType(122);
    ASSERT_EQ(source.interfaceName, L"stridex-4473.dll");
    ASSERT_EQ(source.vendorID, kPedoVendor);
    ASSERT_EQ(source.productID, kPedoProduct);
    EXPECT_EQ(resources_.BindPresentModules(), 0);
    ASSERT_NE(source.moduleInterface.load(), nullptr);
    EXPECT_EQ(source.moduleInterface.load()->GetModuleState(), kModuleStateReady);
}

// The main window's device events reach these resources' device handling; the windows'
// handlers are recorded.
class DeviceEventResources : public CHealthResources {
public:
    int DevChangeProc(int vendorID, int productID, int arrived) override {
        calls.push_back({vendorID, productID, arrived});
        return ApplyDeviceChange(vendorID, productID, arrived);
    }
    std::vector<std::vector<int>> calls;  // the main window's thread only
};

class RecordingPedometer : public CPedometerWin {
public:
    int DevChangeProc(const struHealthElementSourceTypeW* source, int start) override {
        calls.push_back({source->sourceNo, start});
        return 0;
    }
    std::vector<std::vector<int>> calls;
};

class RecordingMonitor : public CBloodPressureWin {
public:
    int DevChangeProc(const struHealthElementSourceTypeW* source, int start) override {
        calls.push_back({source->sourceNo, start});
        return 0;
    }
    std::vector<std::vector<int>> calls;
};

class DeviceEventTest : public HealthWatchTest {
protected:
    DeviceEventTest() {
        events_.ReadHealthElementFromDB();
        g_pHealthResources = &events_;
        pedometer_.m_cs.ownThread = false;
        pedometer_.m_cs.page = text::FromUtf8((dir_ / "main.htm").string());
        pedometer_.Start();
        g_pPedometer = &pedometer_;
        monitor_.m_cs.ownThread = false;
        monitor_.m_cs.page = pedometer_.m_cs.page;
        monitor_.Start();
        g_pBloodPressure = &monitor_;
    }
    ~DeviceEventTest() override {
        g_pBloodPressure = nullptr;
        g_pPedometer = nullptr;
        g_pHealthResources = &resources_;
    }
    // Serves what other threads send to the main window until done holds.
    bool Serve(const std::function<bool()>& done) {
        return WaitFor([&done] {
            MSG msg;
            PeekMessageW(&msg, nullptr, WM_APP + 1, WM_APP + 1, PM_NOREMOVE);
            return done();
        });
    }

    DeviceEventResources events_;
    RecordingPedometer pedometer_;
    RecordingMonitor monitor_;
};

TEST_F(DeviceEventTest, PluggingThePedometerInAndOutReachesTheMainWindow) {
    usb_.AddDevice("1-5", "1234", "5678", "other", {"usbhid"});
    ASSERT_EQ(events_.RegisterDeviceNotify(), 1);
    usb_.AddDevice("1-1", "0c45", "70c1", "p1", {"usbhid"});
    ASSERT_TRUE(Serve([this] { return events_.calls.size() == 1; }));
    EXPECT_EQ(events_.calls[0], (std::vector<int>{0x0C45, 0x70C1, 1}));
    const struHealthElementSourceTypeW& source = *sources_.GetSourceType(122);
    EXPECT_EQ(source.linkState.load(), 1);
    EXPECT_EQ(events_.FindElement(L"pedoNumberOfSteps")->sourceLinkState, 1);
    EXPECT_FALSE(events_.PopElementListMsg().is_undefined());  // the source's elements
    EXPECT_EQ(pedometer_.calls, (std::vector<std::vector<int>>{{122, 1}}));

    usb_.RemoveDevice("1-1");
    ASSERT_TRUE(Serve([this] { return events_.calls.size() == 2; }));
    EXPECT_EQ(events_.calls[1], (std::vector<int>{0x0C45, 0x70C1, 0}));
    EXPECT_EQ(source.linkState.load(), 2);
    EXPECT_EQ(events_.FindElement(L"pedoNumberOfSteps")->sourceLinkState, 2);
    EXPECT_EQ(pedometer_.calls.size(), 1u);  // removal opens and starts nothing

    EXPECT_EQ(events_.ApplyDeviceChange(0x1234, 0x5678, 1), 0);  // no source has these ids
}

TEST_F(DeviceEventTest, AMonitorArrivingStartsItsWindowsRead) {
    struHealthElementSourceTypeW& source = *sources_.GetSourceType(1002);
    source.vendorID = 0x1234;
    source.productID = 0x5678;
    EXPECT_EQ(events_.ApplyDeviceChange(0x1234, 0x5678, 0), 1);
    EXPECT_EQ(source.linkState.load(), 2);
    EXPECT_TRUE(monitor_.calls.empty());
    EXPECT_EQ(events_.ApplyDeviceChange(0x1234, 0x5678, 1), 1);
    EXPECT_EQ(source.linkState.load(), 1);
    EXPECT_EQ(monitor_.calls, (std::vector<std::vector<int>>{{1002, 1}}));
    EXPECT_TRUE(pedometer_.calls.empty());
}

}  // namespace
