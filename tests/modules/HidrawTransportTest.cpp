// The hidraw backend, the transport's real default, against prepared trees in a
// temporary folder and the simulated pedometer behind a pseudo-terminal.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "CHIDClass.h"
#include "HidReportDescriptor.h"
#include "HidTransport.h"
#include "Hooks.h"
#include "SimPedometerPty.h"
#include "StridexModule.h"
#include "TempDir.h"
#include "Text.h"

namespace {

// One input and one output report of 8 bytes, as the pedometer describes itself.
const std::vector<char> kEightBytes{0x75, 0x08, char(0x95), 0x08, char(0x81), 0x02, char(0x91), 0x02};
const std::string kPedometerIds = "HID_ID=0003:00000C45:000070C1\n";

TEST(HidReportDescriptorTest, LengthsAreTheLongestReportOfEachKindPlusTheIdByte) {
    // Report size 8, count 8: one input and one output report of 8 bytes.
    EXPECT_EQ(ReportLengthsOf({0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0x91, 0x02}).input, 9u);
    // Report 1: 4 input bytes; report 2: 12 input bits and 16 output bytes; a pushed state
    // comes back after the pop; the long item and a cut last item are passed over.
    const HidReportLengths lengths = ReportLengthsOf({
        0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02,  // id 1: 4 x 8 bits in
        0xA4, 0x85, 0x02, 0x75, 0x04, 0x95, 0x03, 0x81, 0x02,  // push; id 2: 3 x 4 bits in
        0x75, 0x08, 0x95, 0x10, 0x91, 0x02,  // id 2: 16 x 8 bits out
        0xB4, 0x81, 0x02,                     // pop: id 1 again, 4 more bytes in
        0xFE, 0x02, 0x10, 0xAA, 0xBB,         // long item
        0x96, 0x10,                           // report count with one of its two bytes
    });
    EXPECT_EQ(lengths.input, 9u);
    EXPECT_EQ(lengths.output, 17u);
    EXPECT_EQ(ReportLengthsOf({}).output, 0u);
}

class HidrawTransportTest : public ::testing::Test {
protected:
    HidrawTransportTest() {
        Hooks().sysfsRoot = dir_ / "sys";
        Hooks().devRoot = dir_ / "dev";
        Hooks().hidTransport = DefaultHooks().hidTransport;
    }

    void AddNode(const std::string& name, const std::string& uevent, const std::vector<char>& descriptor) {
        const auto device = dir_ / "sys" / "class" / "hidraw" / name / "device";
        std::filesystem::create_directories(device);
        if (!uevent.empty()) std::ofstream(device / "uevent") << uevent;
        std::ofstream(device / "report_descriptor", std::ios::binary)
            .write(descriptor.data(), static_cast<std::streamsize>(descriptor.size()));
    }

    TempDir dir_;
    HookScope hooks_;
};

TEST_F(HidrawTransportTest, EnumerationDescribesTheNodesWhoseUeventAndDescriptorRead) {
    AddNode("hidraw10", "DRIVER=hid-generic\nHID_ID=0003:00000C45:000070C2\n", kEightBytes);
    AddNode("hidraw2", kPedometerIds, kEightBytes);
    AddNode("hidraw3", "", kEightBytes);                                 // no uevent
    AddNode("hidraw4", "HID_NAME=no ids\n", kEightBytes);                 // no HID_ID line
    AddNode("hidraw5", kPedometerIds, {});                               // empty descriptor
    AddNode("mouse0", "HID_ID=0003:0000046D:0000C077\n", kEightBytes);   // not a hidraw node

    const auto devices = Hooks().hidTransport->Enumerate();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, (dir_ / "dev" / "hidraw2").string());
    EXPECT_EQ(devices[0].vendorId, 0x0C45);
    EXPECT_EQ(devices[0].productId, 0x70C1);
    EXPECT_EQ(devices[0].inputReportLength, 9u);
    EXPECT_EQ(devices[0].outputReportLength, 9u);
    EXPECT_EQ(devices[1].path, (dir_ / "dev" / "hidraw10").string());
    EXPECT_EQ(devices[1].productId, 0x70C2);

    EXPECT_EQ(Hooks().hidTransport->Open((dir_ / "dev" / "hidraw2").string()), kNoHidHandle);
}

TEST_F(HidrawTransportTest, ThePedometerBehindAPtyIsFoundAndReadOverHidraw) {
    auto device = std::make_shared<SimPedometer>();
    SimPedometerPty pty(device, dir_ / "pty");
    ASSERT_TRUE(pty.Started());
    Hooks().sysfsRoot = pty.SysfsRoot();
    Hooks().devRoot = pty.DevRoot();

    CHIDClass hid(0x70C1, 0x0C45, 8);
    ASSERT_TRUE(hid.FindDevice());
    EXPECT_EQ(hid.InputReportLength(), 9u);
    EXPECT_EQ(hid.OutputReportLength(), 9u);
    hid.CloseHandles();

    auto module = StridexModule::FreshCopy(dir_.Path());
    ASSERT_EQ(module->fn.InitModule(), 0);
    ASSERT_EQ(module->fn.ReadModuleOrigData(), 350);
    char* text = nullptr;
    ASSERT_EQ(module->fn.GetModuleOrigData(&text), 350);
    EXPECT_EQ(std::string(text), device->RawText());
    EXPECT_EQ(device->Requests().size(), 36u);

    std::filesystem::remove(pty.Node());
    EXPECT_FALSE(hid.FindDevice()) << "listed, but the node does not open";
    EXPECT_EQ(module->fn.ReadModuleOrigData(), -3);
}

// Listed as the pedometer, but /dev/zero answers every request with zeros and a FIFO
// hands back the request itself: neither read may give up without a word.
TEST_F(HidrawTransportTest, AReadOfANodeThatIsNoPedometerGivesUpWithOneLineNamingIt) {
    std::vector<std::wstring> lines;
    Hooks().debugOutput = [&lines](const std::wstring& line) { lines.push_back(line); };
    AddNode("hidraw0", kPedometerIds, kEightBytes);
    const auto node = dir_ / "dev" / "hidraw0";
    std::filesystem::create_directories(node.parent_path());
    auto module = StridexModule::FreshCopy(dir_.Path());
    ASSERT_EQ(module->fn.InitModule(), 0);

    std::filesystem::create_symlink("/dev/zero", node);
    EXPECT_EQ(module->fn.ReadModuleOrigData(), -4);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(node.wstring() + L": reply 0000000000000000 refused"), std::wstring::npos)
        << text::ToUtf8(lines[0]);

    lines.clear();
    std::filesystem::remove(node);
    ASSERT_EQ(mkfifo(node.c_str(), 0600), 0);
    EXPECT_EQ(module->fn.ReadModuleOrigData(), -3);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(node.wstring() + L" not opened: not a character device"), std::wstring::npos)
        << text::ToUtf8(lines[0]);
}

}  // namespace
