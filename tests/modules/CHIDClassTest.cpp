// The pedometer's HID link against the simulated pedometer in the transport hook.
#include "CHIDClass.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "Hooks.h"
#include "SimPedometerFixture.h"
#include "Text.h"

namespace {

constexpr SimReport kReadId{0, 0, 0, 0, 0, 0, 0, 5};

class CHIDClassTest : public SimPedometerFixture {
protected:
    CHIDClass hid_{0x70C1, 0x0C45, 8};
};

TEST_F(CHIDClassTest, OpensOnlyTheDeviceWithBothIds) {
    link_->SetDecoy(true);
    ASSERT_TRUE(hid_.FindDevice());
    EXPECT_TRUE(hid_.Found());
    EXPECT_EQ(link_->OpenedPaths(), std::vector<std::string>{SimPedometerTransport::kDevicePath});
    EXPECT_EQ(hid_.InputReportLength(), 9u);
    EXPECT_EQ(hid_.OutputReportLength(), 9u);

    // Each search closes what the last one opened.
    ASSERT_TRUE(hid_.FindDevice());
    EXPECT_EQ(link_->OpenHandles(), 1);
    EXPECT_EQ(link_->Closes(), 1);

    CHIDClass other(0x70C1, 0x0C46, 8);
    EXPECT_FALSE(other.FindDevice());
    EXPECT_EQ(link_->Opens(), 2);
}

TEST_F(CHIDClassTest, ReportsTravelAfterTheIdByteAndAreCutToTheCallersLength) {
    ASSERT_TRUE(hid_.FindDevice());
    const BYTE partial[3] = {0, 0, 0};
    ASSERT_EQ(hid_.Write(partial, 3, 1000), 1);
    EXPECT_EQ(device_->Requests().back(), (SimReport{0, 0, 0, 0, 0, 0, 0, 0})) << "zero-padded";
    std::array<BYTE, 10> reply;
    ASSERT_EQ(hid_.Read(reply.data(), 8, 1000), 1);  // the device's answer to no command

    ASSERT_EQ(hid_.Write(kReadId.data(), 8, 1000), 1);
    reply.fill(0xEE);
    ASSERT_EQ(hid_.Read(reply.data(), 4, 1000), 1);
    EXPECT_EQ(reply, (std::array<BYTE, 10>{0x12, 0x34, 0x56, 0x78, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

    ASSERT_EQ(hid_.Write(kReadId.data(), 8, 1000), 1);
    reply.fill(0xEE);
    ASSERT_EQ(hid_.Read(reply.data(), 10, 1000), 1);
    EXPECT_EQ(reply, (std::array<BYTE, 10>{0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 5, 0, 0}));
}

TEST_F(CHIDClassTest, AFailureClosesEverythingAndTheClosedLinkWaitsOutItsTimeOut) {
    ASSERT_TRUE(hid_.FindDevice());
    device_->FaultAt(0, SimFault::TimeOut);
    ASSERT_EQ(hid_.Write(kReadId.data(), 8, 1000), 1);
    std::array<BYTE, 8> reply;
    reply.fill(0xEE);
    EXPECT_EQ(hid_.Read(reply.data(), 8, 1000), 0);
    EXPECT_EQ(reply, (std::array<BYTE, 8>{})) << "a failed read leaves zeros, never stale bytes";
    EXPECT_FALSE(hid_.Found());
    EXPECT_EQ(link_->OpenHandles(), 0);
    EXPECT_TRUE(LongSleeps().empty());

    EXPECT_EQ(hid_.Write(kReadId.data(), 8, 1000), 0);
    EXPECT_EQ(hid_.Read(reply.data(), 8, 1000), 0);
    EXPECT_EQ(LongSleeps(), (std::vector<DWORD>{1000, 1000}));
    EXPECT_EQ(device_->Requests().size(), 1u) << "no I/O while closed";

    ASSERT_TRUE(hid_.FindDevice());
    EXPECT_EQ(link_->Opens(), 2);
    device_->FaultAt(1, SimFault::IoError);
    EXPECT_EQ(hid_.Write(kReadId.data(), 8, 1000), 0);
    EXPECT_FALSE(hid_.Found());
}

TEST_F(CHIDClassTest, ShortReportsFail) {
    ASSERT_TRUE(hid_.FindDevice());
    ASSERT_EQ(hid_.Write(kReadId.data(), 8, 1000), 1);
    link_->SetReportLengths(5, 5);  // the device now answers with fewer bytes than it described
    std::array<BYTE, 8> reply{};
    EXPECT_EQ(hid_.Read(reply.data(), 8, 1000), 0);
    EXPECT_FALSE(hid_.Found());
}

TEST_F(CHIDClassTest, BuffersFollowTheReportLengthsAndUnusableDevicesAreNotFound) {
    link_->SetReportLengths(65, 33);
    ASSERT_TRUE(hid_.FindDevice());
    EXPECT_EQ(hid_.InputReportLength(), 65u);
    EXPECT_EQ(hid_.OutputReportLength(), 33u);
    ASSERT_EQ(hid_.Write(kReadId.data(), 8, 1000), 1);
    std::array<BYTE, 8> reply{};
    ASSERT_EQ(hid_.Read(reply.data(), 8, 1000), 1);
    EXPECT_EQ(reply[0], 0x12);

    // Reports too short for the 8 data bytes would read their missing bytes as zeros.
    std::vector<std::wstring> lines;
    Hooks().debugOutput = [&lines](const std::wstring& line) { lines.push_back(line); };
    for (const auto& [input, output] : {std::pair{1, 9}, std::pair{3, 3}, std::pair{9, 8}}) {
        link_->SetReportLengths(input, output);
        EXPECT_FALSE(hid_.FindDevice()) << input << "/" << output;
        EXPECT_FALSE(hid_.FindDevice()) << "a search again tells of the same device once";
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"HID device " + text::FromUtf8(SimPedometerTransport::kDevicePath) +
                            L" refused: reports of 3 and 3 bytes cannot carry an id and 8 data bytes");
    link_->SetReportLengths(9, 9);
    link_->SetOpenFails(true);
    EXPECT_FALSE(hid_.FindDevice());
    link_->SetOpenFails(false);
    ASSERT_TRUE(hid_.FindDevice());
    device_->SetPlugged(false);
    EXPECT_FALSE(hid_.FindDevice()) << "a search that finds nothing clears the found flag";
    EXPECT_FALSE(hid_.Found());
    EXPECT_EQ(link_->OpenHandles(), 0);
}

}  // namespace
