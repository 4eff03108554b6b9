// A full download of the largest store (700 readings) from the simulated monitor over
// the USB-serial link, decoded into the reading store: download types 1 and 3, and as
// the baseline type 3 with its fixed pauses counted but not waited. Reports readings
// per second and the share of the time spent in the link's waits: reads of input
// reports (timed in the simulated transport) and the protocol's fixed pauses.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "Hooks.h"
#include "SimMonitor.h"
#include "SimMonitorModel.h"
#include "SimMonitorTransport.h"
#include "TempDir.h"
#include "UsbSerialDownload.h"
#include "UsbSerialLink.h"
#include "VepModel.h"
#include "VepState.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadings = 700;

// A fresh folder with the model file, the monitor with a full store in the transport
// hook, the model loaded and its adapter found. The pauses go through a hook that
// sums them (and waits them when asked).
class DownloadSetup {
public:
    DownloadSetup(int downloadType, bool waitPauses) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir_.Path());
        std::filesystem::create_directories("System");
        std::ofstream("System/bpmdl.vpx") << ModelFile(ModelXml("SIMBP3", SimModel(downloadType)));
        SimMonitorState state;
        for (int i = 0; i < kReadings; ++i) {
            state.readings.push_back(
                {2013, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60, 110 + i % 50, 70 + i % 20, 60 + i % 30});
        }
        monitor_->SetState(state);
        Hooks().hidTransport = transport_;
        Hooks().devicePause = [this, waitPauses](DWORD ms) {
            const auto start = Clock::now();
            if (waitPauses) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            pauseTime_ += Clock::now() - start;
        };
        loaded_ = model_.Load("System/bpmdl.vpx", "SIMBP3", state_) == 0 && link_.Open() == 0;
    }
    ~DownloadSetup() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
    }
    DownloadSetup(const DownloadSetup&) = delete;
    DownloadSetup& operator=(const DownloadSetup&) = delete;

    bool Ready() const { return loaded_; }
    // The readings job: download, then decode.
    bool Run() {
        return UsbSerialDownload(link_, model_, state_).Run(0) == 0 &&
               state_.readings.DecodeFile("down.dat", model_.Params(), state_.trace) == 0 &&
               state_.readings.Count() == kReadings;
    }
    Clock::duration WaitTime() const { return transport_->ReadTime() + pauseTime_; }

private:
    TempDir dir_;
    std::filesystem::path previous_;
    HookScope hooks_;
    std::shared_ptr<SimMonitor> monitor_ = std::make_shared<SimMonitor>();
    std::shared_ptr<SimMonitorTransport> transport_ = std::make_shared<SimMonitorTransport>(monitor_);
    VepState state_;
    VepModel model_;
    UsbSerialLink link_{model_, state_};
    Clock::duration pauseTime_{0};
    bool loaded_ = false;
};

void Download(benchmark::State& state, int downloadType, bool waitPauses) {
    DownloadSetup setup(downloadType, waitPauses);
    if (!setup.Ready()) {
        state.SkipWithError("the simulated monitor did not open");
        return;
    }
    const auto waitsBefore = setup.WaitTime();
    const auto start = Clock::now();
    for (auto _ : state) {
        if (!setup.Run()) {
            state.SkipWithError("the download failed");
            return;
        }
    }
    const auto elapsed = Clock::now() - start;
    const double waited = std::chrono::duration<double>(setup.WaitTime() - waitsBefore).count();
    state.counters["readings/s"] =
        benchmark::Counter(double(kReadings) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["wait share"] = waited / std::chrono::duration<double>(elapsed).count();
}

}  // namespace

BENCHMARK_CAPTURE(Download, type1, 1, true)->Unit(benchmark::kMillisecond)->UseRealTime();
// 700 readings with a 100 ms pause before each: one run takes over a minute.
BENCHMARK_CAPTURE(Download, type3, 3, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(Download, type3_pauses_not_waited, 3, false)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
