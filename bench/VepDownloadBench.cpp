// A full download from the simulated monitor over the USB-serial link, decoded into the
// reading store: download types 1 and 3, each beside the same download with its fixed
// pauses counted but not waited as the baseline. Type 1 reads the largest store (700
// readings); type 3 waits 100 ms before each reading, so its waited download reads 50
// (five seconds), and its baseline both 50 and 700. Reports readings per second and the
// share of the time spent in the link's waits: reads of input reports (timed in the
// simulated transport) and the protocol's fixed pauses.
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

constexpr int kLargestStore = 700;
constexpr int kWaitedStore = 50;

// A fresh folder with the model file, the monitor with `readings` stored in the
// transport hook, the model loaded and its adapter found. The pauses go through a hook
// that sums them (and waits them when asked).
class DownloadSetup {
public:
    DownloadSetup(int downloadType, bool waitPauses, int readings)
        : previous_(std::filesystem::current_path()), readings_(readings) {
        std::filesystem::current_path(dir_.Path());
        std::filesystem::create_directories("System");
        std::ofstream("System/bpmdl.vpx") << ModelFile(ModelXml("SIMBP3", SimModel(downloadType)));
        SimMonitorState state;
        for (int i = 0; i < readings; ++i) {
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
               state_.readings.Count() == readings_;
    }
    Clock::duration WaitTime() const { return transport_->ReadTime() + pauseTime_; }

private:
    TempDir dir_;
    std::filesystem::path previous_;
    int readings_;
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
    const int readings = static_cast<int>(state.range(0));
    DownloadSetup setup(downloadType, waitPauses, readings);
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
        benchmark::Counter(double(readings) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["wait share"] = waited / std::chrono::duration<double>(elapsed).count();
}

}  // namespace

BENCHMARK_CAPTURE(Download, type1, 1, true)->Arg(kLargestStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Download, type1_pauses_not_waited, 1, false)
    ->Arg(kLargestStore)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// 700 readings would wait 70 s: every wait of a benchmark stays short.
BENCHMARK_CAPTURE(Download, type3, 3, true)->Arg(kWaitedStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Download, type3_pauses_not_waited, 3, false)
    ->Arg(kWaitedStore)
    ->Arg(kLargestStore)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
