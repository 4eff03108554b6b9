// The simulated pedometer as a device of its own for the run command: its hidraw node and
// sysfs description below <root> (sys/ and dev/, for QUORV_SYSFS_ROOT and QUORV_DEV_ROOT),
// answering the program's reports on a pseudo-terminal. It says "plugged in" once the whole
// tree is there, and runs until Ctrl-C or SIGTERM.
//
//   quorv_sim_pedometer <root>
#include <exception>
#include <memory>

#include "FakeUsbTree.h"
#include "SimDeviceProgram.h"
#include "SimPedometer.h"
#include "SimPedometerPty.h"

namespace {

constexpr const char* kUsbName = "1-1";

// A week of walking, today first, with a step length and weight that match the demo
// user's profile.
SimPedometerValues DemoWeek() {
    SimPedometerValues values;
    values.id = {0x20, 0x26, 0x12, 0x09, 0x01};
    values.stepLengthCm = 75;
    values.weightKg = 65;
    values.referenceDuration = 5400;
    values.referenceSteps = 6120;
    values.referenceEnergy = 91800;
    const int steps[] = {6120, 8430, 10250, 4310, 7780, 9120, 5560};
    for (int d = 0; d < 7; ++d) values.days[static_cast<std::size_t>(d)] = {steps[d], steps[d] * 15};
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    SimDeviceProgram program("simulated pedometer", argc, argv);
    if (!program.ArgumentsOk()) return 2;
    auto device = std::make_shared<SimPedometer>();
    device->SetValues(DemoWeek());
    std::unique_ptr<SimPedometerPty> face;
    try {
        face = std::make_unique<SimPedometerPty>(device, program.Root());
        if (!face->Started()) return program.Fail("cannot open a pseudo-terminal for the hidraw node");
        FakeUsbTree(face->SysfsRoot()).AddDevice(kUsbName, "0c45", "70c1", "SIMPEDO1", {"usbhid"});
    } catch (const std::exception& e) {
        return program.Fail("cannot make its device tree below " + program.Root().string() + ": " + e.what());
    }
    program.Say("plugged in, USB 0c45:70c1, hidraw node " + face->Node().string());
    program.WaitToEnd();
    program.Say("stopped after " + std::to_string(device->Requests().size()) + " reports");
    return 0;
}
