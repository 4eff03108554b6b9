// The monitor library against the simulated monitor: a fresh current folder holding our
// test models in "System/bpmdl.vpx", the monitor's adapter in the HID transport hook,
// a fixed clock (Tuesday 5 March 2013, 08:09:10), pauses recorded instead of waited,
// and the trace on (it lands in "debug.txt" there).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CurrentFolder.h"
#include "Hooks.h"
#include "SimMonitor.h"
#include "SimMonitorModel.h"
#include "SimMonitorTransport.h"
#include "TempDir.h"
#include "UsbSerialLink.h"
#include "VepModel.h"
#include "VepState.h"

class VepFixture : public ::testing::Test {
protected:
    static constexpr SYSTEMTIME kClock{2013, 3, 2, 5, 8, 9, 10, 0};
    static constexpr const char* kModelFile = "System/bpmdl.vpx";

    VepFixture() {
        Hooks().localTime = [](SYSTEMTIME& st) { st = kClock; };
        Hooks().devicePause = [this](DWORD ms) {
            std::lock_guard guard(pauseLock_);
            pauses_.push_back(ms);
        };
        Hooks().hidTransport = transport_;
        state_.trace.SetEnabled(true);
        std::filesystem::create_directories("System");
    }

    void WriteModels(const std::string& models) { std::ofstream(kModelFile) << ModelFile(models); }
    // Our model file with the one model "SIMBP3", loaded.
    void LoadSimModel(const ModelParams& params = SimModel()) {
        WriteModels(ModelXml("SIMBP3", params));
        ASSERT_EQ(model_.Load(kModelFile, "SIMBP3", state_), 0);
    }
    // The loaded model's adapter found and checked, as a job needs it.
    void OpenSimMonitor(const ModelParams& params = SimModel()) {
        LoadSimModel(params);
        ASSERT_EQ(link_.Open(), 0);
    }

    std::vector<DWORD> Pauses() {
        std::lock_guard guard(pauseLock_);
        return pauses_;
    }
    std::string Trace() const { return ReadFileBytes(dir_ / "debug.txt"); }
    std::vector<BYTE> FileBytes(const std::string& name) const {
        const std::string bytes = ReadFileBytes(dir_ / name);
        return {bytes.begin(), bytes.end()};
    }
    // The names of the frames the monitor received since the last open.
    std::vector<std::string> JobFrames() const {
        std::vector<std::string> names = monitor_->FrameNames();
        return {names.begin() + static_cast<std::ptrdiff_t>(std::min(framesAtOpen_, names.size())), names.end()};
    }
    std::string LastJobFrame() const {
        const auto names = JobFrames();
        return names.empty() ? "" : names.back();
    }
    // Marks the frames and the pauses so far: what comes after is the job's.
    void MarkFrames() {
        framesAtOpen_ = monitor_->Frames().size();
        pausesAtMark_ = Pauses().size();
    }
    std::size_t FramesAtMark() const { return framesAtOpen_; }
    std::vector<DWORD> PausesSinceMark() {
        std::vector<DWORD> pauses = Pauses();
        pauses.erase(pauses.begin(), pauses.begin() + static_cast<std::ptrdiff_t>(std::min(pausesAtMark_, pauses.size())));
        return pauses;
    }

    TempDir dir_;
    CurrentFolder folder_{dir_.Path()};
    HookScope hooks_;
    std::shared_ptr<SimMonitor> monitor_ = std::make_shared<SimMonitor>();
    std::shared_ptr<SimMonitorTransport> transport_ = std::make_shared<SimMonitorTransport>(monitor_);
    VepState state_;
    VepModel model_;
    UsbSerialLink link_{model_, state_};

private:
    std::mutex pauseLock_;
    std::vector<DWORD> pauses_;
    std::size_t framesAtOpen_ = 0;
    std::size_t pausesAtMark_ = 0;
};
