// A full download from the simulated monitor over the USB-serial link, decoded into the
// reading store: download types 1 and 3, each beside the same download with its fixed
// pauses counted but not waited as the baseline. Type 1 reads the largest store (700
// readings); type 3 waits 100 ms before each reading, so its waited download reads 50
// (five seconds), and its baseline both 50 and 700. Reports readings per second and the
// share of the time spent in the link's waits: reads of input reports (timed in the
// simulated transport) and the protocol's fixed pauses.
//
// And the serial-port download of 700 readings from the simulated monitor on a
// pseudo-terminal, which answers each request 100 ms after it, as an honest monitor does:
// one iteration takes over a minute, so it is run alone and its figure set beside the same
// run of another build of the library (--benchmark_filter=serial).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "BenchSupport.h"
#include "CurrentFolder.h"
#include "Hooks.h"
#include "SerialLink.h"
#include "SerialProcedures.h"
#include "SimMonitor.h"
#include "SimMonitorModel.h"
#include "SimMonitorPty.h"
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
constexpr int kBriefSerialStore = 10;

// Readings a minute apart or more, of values of their own, [0] the newest.
SimMonitorState Readings(int count) {
    SimMonitorState state;
    for (int i = count; i-- > 0;) {
        state.readings.push_back(
            {2013 + i / 672, 1 + i / 56 % 12, 1 + i / 2 % 28, i % 2 * 12, i % 60, 0, 110 + i % 50, 70 + i % 20,
             60 + i % 30});
    }
    return state;
}

// A fresh current folder holding the model file, left again at the end.
class ModelFolder {
public:
    explicit ModelFolder(const std::string& modelXml) {
        std::filesystem::create_directories("System");
        std::ofstream("System/bpmdl.vpx") << ModelFile(modelXml);
    }

private:
    TempDir dir_;
    CurrentFolder current_{dir_.Path()};
};

// A fresh folder with the model file, the monitor with `readings` stored in the
// transport hook, the model loaded and its adapter found. The pauses go through a hook
// that sums them (and waits them when asked).
class DownloadSetup {
public:
    DownloadSetup(int downloadType, bool waitPauses, int readings)
        : folder_(ModelXml("SIMBP3", SimModel(downloadType))), readings_(readings) {
        monitor_->SetState(Readings(readings));
        Hooks().hidTransport = transport_;
        Hooks().devicePause = [this, waitPauses](DWORD ms) {
            const auto start = Clock::now();
            if (waitPauses) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            pauseTime_ += Clock::now() - start;
        };
        loaded_ = model_.Load("System/bpmdl.vpx", "SIMBP3", state_) == 0 && link_.Open() == 0;
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
    ModelFolder folder_;
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

// The monitor on COM3, the serial model loaded. Only the work is timed: the model search's
// open (port search, wake-up, version) is made anew before each download.
class SerialSetup {
public:
    explicit SerialSetup(int readings) : folder_(ModelXml("SIMSER", SimSerialModel(), "SERIAL")), readings_(readings) {
        SimMonitorState state = Readings(readings);
        state.name = "SIMSER";
        monitor_->SetState(state);
        for (auto& path : Hooks().serialPorts) path.clear();
        Hooks().serialPorts[2] = line_.SlavePath();
        state_.comPort = 3;
        loaded_ = line_.Started() && model_.Load("System/bpmdl.vpx", "SIMSER", state_) == 0;
    }

    bool Ready() const { return loaded_; }
    bool Open() { return link_.Open() == 0; }
    bool Run() {
        return SerialProcedures(link_, model_, state_).ReadingsJob() == 0 &&
               state_.readings.DecodeFile("down.dat", model_.Params(), state_.trace) == 0 &&
               state_.readings.Count() == readings_;
    }

private:
    ModelFolder folder_;
    int readings_;
    HookScope hooks_;
    std::shared_ptr<SimMonitor> monitor_ = std::make_shared<SimMonitor>();
    SimMonitorPty line_{monitor_};
    VepState state_;
    VepModel model_;
    SerialLink link_{model_, state_};
    bool loaded_ = false;
};

void SerialDownload(benchmark::State& state) {
    const int readings = bench::Brief() ? kBriefSerialStore : static_cast<int>(state.range(0));
    SerialSetup setup(readings);
    if (!setup.Ready()) {
        state.SkipWithError("the simulated monitor's line did not open");
        return;
    }
    for (auto _ : state) {
        if (!setup.Open()) {
            state.SkipWithError("the simulated monitor did not open");
            return;
        }
        const auto start = Clock::now();
        const bool done = setup.Run();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        if (!done) {
            state.SkipWithError("the download failed");
            return;
        }
    }
    state.counters["readings/s"] =
        benchmark::Counter(double(readings) * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(Download, type1, 1, true)->Arg(kLargestStore)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Apply(bench::Steady);
BENCHMARK_CAPTURE(Download, type1_pauses_not_waited, 1, false)
    ->Arg(kLargestStore)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(bench::Steady);
// 700 readings would wait 70 s: every wait of a benchmark stays short.
BENCHMARK_CAPTURE(Download, type3, 3, true)->Arg(kWaitedStore)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Apply(bench::Steady);
BENCHMARK_CAPTURE(Download, type3_pauses_not_waited, 3, false)
    ->Arg(kWaitedStore)
    ->Arg(kLargestStore)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply(bench::Steady);
// Over a minute a download: one iteration, the brief run ten readings.
BENCHMARK(SerialDownload)
    ->Name("serial")
    ->Arg(kLargestStore)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
