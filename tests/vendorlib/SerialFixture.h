// The monitor library's serial link against the simulated monitor on a pseudo-terminal:
// everything VepFixture sets up, a COM table in which only COM3 exists (the monitor's
// line), the "SIMSER" model, and long sleeps recorded instead of waited.
#pragma once

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "SerialLink.h"
#include "SimMonitorPty.h"
#include "VepFixture.h"
#include "WaitFor.h"
#include "Window.h"

class SerialFixture : public VepFixture {
protected:
    static constexpr int kMonitorPort = 3;

    SerialFixture() {
        for (auto& path : Hooks().serialPorts) path.clear();
        Hooks().serialPorts[kMonitorPort - 1] = line_.SlavePath();
        Hooks().longSleep = [this](DWORD ms) {
            std::lock_guard guard(sleepLock_);
            longSleeps_.push_back(ms);
        };
        SimMonitorState state;
        state.name = "SIMSER";
        monitor_->SetState(state);
    }

    void SetMonitor(const std::function<void(SimMonitorState&)>& change) {
        SimMonitorState state = monitor_->State();
        change(state);
        monitor_->SetState(state);
    }
    void LoadSerialModel(const ModelParams& params = SimSerialModel()) {
        WriteModels(ModelXml("SIMSER", params, "SERIAL"));
        ASSERT_EQ(model_.Load(kModelFile, "SIMSER", state_), 0);
    }
    // The monitor found, woken and identified; the frames of the open are marked.
    void OpenSerialMonitor() {
        ASSERT_TRUE(line_.Started());
        LoadSerialModel();
        ASSERT_EQ(serial_.Open(), 0);
        MarkFrames();
    }

    // The monitor's frames once it holds at least `atLeast` of them (the test's expectation:
    // a loaded line may deliver the host's last bytes late) and has taken everything the
    // host wrote: a host that gave up on an answer (a time-out, a refusal, the end command)
    // does not wait for that.
    std::vector<SimFrame> TakenFrames(std::size_t atLeast = 0) const {
        WaitFor([&] { return monitor_->Frames().size() >= atLeast; });
        EXPECT_TRUE(line_.AwaitTaken()) << "the monitor still reads";
        return monitor_->Frames();
    }
    std::vector<std::string> TakenNames(std::size_t atLeast = 0) const {
        std::vector<std::string> names;
        for (const SimFrame& frame : TakenFrames(atLeast)) names.push_back(frame.name);
        return names;
    }
    // The frames since the mark, once there are at least `atLeast` of them.
    std::vector<SimFrame> FramesSinceMark(std::size_t atLeast = 0) const {
        std::vector<SimFrame> frames = TakenFrames(FramesAtMark() + atLeast);
        frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(std::min(FramesAtMark(), frames.size())));
        return frames;
    }
    // The frames since the mark, a block command with its block number ("RD 4"), once there
    // are at least as many as `expected` holds; checked against it.
    void ExpectCommands(const std::vector<std::string>& expected) const {
        std::vector<std::string> commands;
        for (const SimFrame& frame : FramesSinceMark(expected.size())) {
            const bool block = (frame.name == "RD" || frame.name == "WR") && frame.bytes.size() > 3;
            commands.push_back(block ? frame.name + " " + std::to_string(frame.bytes[3]) : frame.name);
        }
        EXPECT_EQ(commands, expected);
    }
    // The names from the wake-up the monitor answered, the last one, on: on a loaded line the
    // host may have sent one again when the answer came late.
    static std::vector<std::string> FromWakeUp(const std::vector<std::string>& names) {
        const auto last = std::find(names.rbegin(), names.rend(), "HANDSHAKE");
        return {last == names.rend() ? names.begin() : std::prev(last.base()), names.end()};
    }
    // How many `name` frames the monitor has taken, once it has at least `atLeast`.
    int TakenCount(const std::string& name, int atLeast) const {
        WaitFor([&] { return monitor_->CountOf(name) >= atLeast; });
        const auto names = TakenNames();
        return static_cast<int>(std::count(names.begin(), names.end(), name));
    }
    // The last `name` frame, once there is one.
    std::vector<BYTE> LastFrame(const std::string& name) const {
        WaitFor([&] { return monitor_->CountOf(name) > 0; });
        const auto frames = TakenFrames();
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            if (it->name == name) return it->bytes;
        }
        return {};
    }
    // A window of the test's thread: the link serves its messages while it waits.
    static HWND CallerWindow(const wchar_t* className, WNDPROC proc) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.lpszClassName = className;
        RegisterClassExW(&wc);
        return CreateWindowExW(0, className, L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    std::vector<DWORD> LongSleeps() {
        std::lock_guard guard(sleepLock_);
        return longSleeps_;
    }

    SimMonitorPty line_{monitor_};
    SerialLink serial_{model_, state_};

private:
    std::mutex sleepLock_;
    std::vector<DWORD> longSleeps_;
};
