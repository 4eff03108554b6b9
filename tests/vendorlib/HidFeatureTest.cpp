// Feature reports on the HID transport: their length from the report descriptor, the
// hidraw backend against a terminal that is no HID device, the default of transports
// that have none, and the real pause hook.
#include <gtest/gtest.h>

#include <chrono>

#include "HidReportDescriptor.h"
#include "HidTransport.h"
#include "Hooks.h"
#include "SimPedometerPty.h"
#include "SimPedometerTransport.h"
#include "TempDir.h"

namespace {

TEST(HidFeatureTest, TheFeatureLengthIsTheLongestFeatureReportPlusTheIdByte) {
    const HidReportLengths lengths = ReportLengthsOf({
        0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0x91, 0x02,  // 8 bytes in and out
        0x95, 0x02, 0xB1, 0x02,                          // 2 feature bytes
        0x85, 0x03, 0x95, 0x05, 0xB1, 0x02,              // report 3: 5 feature bytes
    });
    EXPECT_EQ(lengths.input, 9u);
    EXPECT_EQ(lengths.output, 9u);
    EXPECT_EQ(lengths.feature, 6u);
    EXPECT_EQ(ReportLengthsOf({0x75, 0x08, 0x95, 0x08, 0x81, 0x02}).feature, 0u);
}

TEST(HidFeatureTest, HidrawRefusesAFeatureReportToANodeThatIsNoHidDevice) {
    TempDir dir;
    HookScope hooks;
    SimPedometerPty pty(std::make_shared<SimPedometer>(), dir / "pty");
    ASSERT_TRUE(pty.Started());
    Hooks().sysfsRoot = pty.SysfsRoot();
    Hooks().devRoot = pty.DevRoot();
    const auto transport = DefaultHooks().hidTransport;
    const auto devices = transport->Enumerate();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].featureReportLength, 0u);
    const HidHandle handle = transport->Open(devices[0].path);
    ASSERT_NE(handle, kNoHidHandle);
    const BYTE report[3] = {0, 1, 0};
    EXPECT_EQ(transport->SetFeature(handle, report, sizeof(report)).status, HidStatus::Failed);
    EXPECT_EQ(transport->SetFeature(kNoHidHandle, report, sizeof(report)).status, HidStatus::Failed);
    transport->Close(handle);
}

TEST(HidFeatureTest, ATransportWithoutFeatureReportsFailsThem) {
    SimPedometerTransport pedometer(std::make_shared<SimPedometer>());
    const HidHandle handle = pedometer.Open(SimPedometerTransport::kDevicePath);
    const BYTE report[3] = {0, 1, 0};
    EXPECT_EQ(pedometer.SetFeature(handle, report, sizeof(report)).status, HidStatus::Failed);
    pedometer.Close(handle);
}

TEST(HidFeatureTest, TheRealDevicePauseWaits) {
    const auto start = std::chrono::steady_clock::now();
    DefaultHooks().devicePause(5);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5));
}

}  // namespace
