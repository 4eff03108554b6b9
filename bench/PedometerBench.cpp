// A full pedometer download: the largest history the device holds (today and 30 days,
// every one with data) read from the tests' simulated pedometer through the built module,
// converted, uploaded (0x1170) to the tests' loopback server and its success reply stored
// (31 day rows and the health elements). The baselines are the read and conversion
// without the upload, and the module's raw read alone through the same bound module,
// which also stands beside the module's day read (30 history rows).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "BenchSupport.h"
#include "Communication.h"
#include "Config.h"
#include "DefaultDatabase.h"
#include "HealthDevices.h"
#include "HealthElementSourceType.h"
#include "HealthElementType.h"
#include "HealthResources.h"
#include "Hooks.h"
#include "LoopbackPacketServer.h"
#include "MyDatabase.h"
#include "SimPedometer.h"
#include "SimPedometerTransport.h"
#include "Text.h"
#include "deviceManager.h"
#include "pedometerWin.h"

namespace {

constexpr int kSource = 122;
constexpr int kDays = 31;
constexpr int kUserNo = 10001;
constexpr int kPending = -99;  // no reply applied yet
// The user as the device has it (65 kg, 75 cm), so every download uploads.
constexpr const char* kInfo = "1|19800315|172|650|75|7|20240301|8000|-1|-1|30|20240301|20240307|56000|-1|-1|-1|7|14|0|-1|25|40|";

// A program folder with the built module in interface/ and a fresh user database.
class Folder {
public:
    Folder()
        : path_(std::filesystem::temp_directory_path() /
                ("quorv-pedometer-bench-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(path_ / "interface");
        std::filesystem::copy_file(STRIDEX_MODULE, path_ / "interface" / "stridex-4473.so");
        MakeDefaultDatabase(path_ / "user.db");
        g_Config.m_config.binDir = text::FromUtf8(path_.string());
        g_Config.m_config.userDBName = text::FromUtf8((path_ / "user.db").string());
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

private:
    std::filesystem::path path_;
};

std::shared_ptr<SimPedometer> FullDevice() {
    SimPedometerValues values;
    for (int d = 0; d < kDays; ++d) values.days[d] = {1000 + 97 * d, 20000 + 300 * d};
    values.referenceDuration = 7200;
    values.referenceSteps = 12000;
    values.referenceEnergy = 240000;
    auto device = std::make_shared<SimPedometer>();
    device->SetValues(values);
    return device;
}

// Everything a download reaches, as after a login: database, dictionaries, elements,
// the registered device, the pedometer object and the module bound to the simulated device.
struct Program {
    Program() {
        db.Init();
        g_pMyDatabase = &db;
        db.ExecSQL(L"update tHealthElement set userNo=" + std::to_wstring(kUserNo));
        g_pHealthElementType = &types;
        g_pHealthElementSourceType = &sources;
        g_pHealthResources = &resources;
        g_pDeviceManager = &devices;
        types.LoadFromDB();
        sources.LoadFromDB();
        resources.ReadHealthElementFromDB();
        devices.LoadFromDB();
        Hooks().hidTransport = std::make_shared<SimPedometerTransport>(device);
        source = sources.GetSourceType(kSource);
        resources.InitModuleInterface(source);
        g_pPedometer = &pedometer;
        server.OnCommand(COMMAND_PEDOMETER_ORIGDATA_UPLOAD, [](const PacketRequest&) {
            return PacketReply::Fields({"0", "ok", "0", "122", "123456789A", "0", kInfo, "", "1", "2", "3", "4", "5",
                                        "6", "7", "8", "9", "10", "11", "12"});
        });
        comm->SetSocketThreadCount(3);
        comm->SetServer(L"127.0.0.1", server.PortText(), 1, 3000);
        comm->m_nUserNo = kUserNo;
        g_pCommunication = comm.get();
        devices.UserDeviceProc(nullptr, kSource, L"123456789A");
        resources.WithElements([](HealthElementMap& elements) {
            elements.at(L"weight").valueNo = 650;
            elements.at(L"pedoStepLength").valueNo = 75;
        });
    }
    ~Program() {
        comm.reset();  // its workers end before what a reply reaches goes
        g_pCommunication = nullptr;
        g_pPedometer = nullptr;
        g_pDeviceManager = nullptr;
        g_pHealthResources = nullptr;
        g_pHealthElementSourceType = nullptr;
        g_pHealthElementType = nullptr;
        g_pMyDatabase = nullptr;
    }
    // One download from the read to the stored reply; false, with the benchmark failed,
    // when it did not succeed.
    bool Download(benchmark::State& state) {
        pedometer.m_uploadState.Set({true, kPending, L""});
        if (pedometer.PedoDataProc(source) != 0) {
            state.SkipWithError("the read or the upload's request failed");
            return false;
        }
        if (!bench::WaitFor(state, "the upload's reply", std::chrono::seconds(10), std::chrono::microseconds(100),
                            [this] { return pedometer.m_uploadState.Get().retCode != kPending; }))
            return false;
        if (pedometer.m_uploadState.Get().message == L"处理成功.") return true;
        state.SkipWithError("the upload was not accepted");
        return false;
    }
    // The days the last conversion left.
    int ConvertedDays() const { return pedometer.GetDeviceBussData().recordCount; }
    void ForgetConversion() {
        pedometer.WithData([](auto&, struDeviceBussData& buss, auto&, auto&) { buss = struDeviceBussData(); });
    }
    // The module's raw read alone; its length.
    int RawRead() {
        struModuleInterface* module = source->moduleInterface.load();
        std::lock_guard call(module->callLock);
        if (module->ReadModuleOrigData() < 0) return -1;
        char* text = nullptr;
        return module->GetModuleOrigData(&text);
    }

    // The module's day read, as the page's history asks it; the rows it gave.
    int DayRead() {
        struModuleInterface* module = source->moduleInterface.load();
        std::lock_guard call(module->callLock);
        char rows[4096];
        return module->ReadModuleHisData("pedoNumberOfSteps", nullptr, rows, sizeof(rows));
    }

    HookScope hooks;
    std::shared_ptr<SimPedometer> device = FullDevice();
    CMyDatabase db;
    CHealthElementType types;
    CHealthElementSourceType sources;
    CHealthResources resources;
    CDeviceManager devices;
    CPedometerWin pedometer;
    struHealthElementSourceTypeW* source = nullptr;
    LoopbackPacketServer server;
    std::unique_ptr<CCommunication> comm = std::make_unique<CCommunication>();
};

void BM_PedometerDownload(benchmark::State& state) {
    Folder folder;
    Program program;
    for (auto _ : state) {
        if (!program.Download(state)) break;
    }
    SqlRows rows;
    program.db.SelectTableWithReturn(L"select count(*) from tDeviceDataList_122", rows);
    if (rows.empty() || rows[0][0] != std::to_wstring(kDays)) state.SkipWithError("not 31 day rows");
    state.counters["days/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kDays),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PedometerDownload)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

// The read and the conversion into the 31 day records without the upload: the settings
// panel is open, so the read stops there.
void BM_ReadAndConvert(benchmark::State& state) {
    Folder folder;
    Program program;
    program.pedometer.SetSettingWinState(1);
    program.ForgetConversion();
    for (auto _ : state) {
        if (program.pedometer.PedoDataProc(program.source) != 350) {
            state.SkipWithError("read failed");
            break;
        }
    }
    if (program.ConvertedDays() != kDays) state.SkipWithError("the read was not converted into 31 days");
    state.counters["days/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kDays),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadAndConvert)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

// One of the module's reads, each iteration, until it fails to give `results`.
void TimeModuleRead(benchmark::State& state, int (Program::*read)(), int results, int days, const char* failed) {
    Folder folder;
    Program program;
    for (auto _ : state) {
        if ((program.*read)() != results) {
            state.SkipWithError(failed);
            break;
        }
    }
    state.counters["days/s"] = benchmark::Counter(static_cast<double>(state.iterations() * days),
                                                  benchmark::Counter::kIsRate);
}

void BM_RawModuleReadAlone(benchmark::State& state) {
    TimeModuleRead(state, &Program::RawRead, 350, kDays, "raw read failed");
}
BENCHMARK(BM_RawModuleReadAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

void BM_DayRecordRead(benchmark::State& state) {
    TimeModuleRead(state, &Program::DayRead, 30, 30, "day read failed");
}
BENCHMARK(BM_DayRecordRead)->Unit(benchmark::kMillisecond)->UseRealTime()->Apply(bench::Steady);

}  // namespace
