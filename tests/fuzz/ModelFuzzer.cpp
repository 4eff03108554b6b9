// The monitor library's model-file loader over arbitrary file contents: the model list,
// the first models loaded by their names, and a loaded model's layout put to the
// decoding of a fixed readings file and walking file, as a download's would be. No
// device is reached. A model either loads with numbers the library can use, or is
// refused and leaves nothing loaded.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "VepDate.h"
#include "VepModel.h"
#include "VepRecords.h"
#include "VepState.h"
#include "WalkingData.h"

namespace {

constexpr const char* kFile = "System/bpmdl.vpx";
constexpr int kModelsTried = 4;
constexpr int kResponseBuffer = 32;
constexpr VepDateTime kToday{2013, 3, 5, 8, 9, 10};

void WriteFile(const std::uint8_t* data, std::size_t size) {
    std::ofstream out(kFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A header counting 40 records and a serial value, then bytes that take every value, so
// that any field layout reads something, month 0xFF and minute 60 included.
const std::vector<BYTE>& DownloadedFile() {
    static const std::vector<BYTE> file = [] {
        std::vector<BYTE> bytes(2048);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 37 + 11);
        const BYTE header[] = {40, 0, 0, 0, 0x34, 0x12};
        std::memcpy(bytes.data(), header, sizeof(header));
        return bytes;
    }();
    return file;
}

bool Terminated(const char* field, std::size_t size) { return std::memchr(field, '\0', size) != nullptr; }

void Decode(const VepModelParams& p, VepTrace& trace) {
    VepRecords readings;
    readings.Decode(DownloadedFile(), p, trace);
    fuzz::Require(readings.Count() <= static_cast<int>(VepRecords::kCapacity), "more readings than the store holds");
    for (int i = 0; i < readings.Count(); ++i) {
        str_bp_retdata out{};
        fuzz::Require(readings.Select(i) && readings.CopySelected(out), "a counted reading that is not handed out");
        fuzz::Require(Terminated(out.date, sizeof(out.date)) && Terminated(out.time, sizeof(out.time)),
                      "a reading's date or time without its terminator");
    }
    WalkingData walking;
    walking.Decode(DownloadedFile(), p, kToday);
    fuzz::Require(walking.Count() <= static_cast<int>(WalkingData::kCapacity), "more days than the store holds");
}

void Load(const std::string& name, VepState& state) {
    VepModel model;
    if (model.Load(kFile, name, state) != 0) {
        fuzz::Require(!model.Loaded() && model.DeviceParam("connect").empty(), "a refused model left loaded");
        return;
    }
    const VepModelParams& p = model.Params();
    fuzz::Require(model.Loaded(), "a loaded model that says it is not");
    fuzz::Require(p.resvLength >= 0 && p.resvLength <= kResponseBuffer && p.resvLength2 >= 0 &&
                      p.resvLength2 <= kResponseBuffer && p.recLength >= 0,
                  "a loaded model whose lengths overrun the response buffer");
    Decode(p, state.trace);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::EnterWorkDir(argc, argv);
    std::filesystem::create_directories("System");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteFile(data, size);
    VepState state;
    std::string names, connections;
    if (VepModel::List(kFile, -1, names, connections, state) != 0) {
        fuzz::Require(names.empty() && connections.empty(), "a refused list that still names models");
        return 0;
    }
    for (int index = 0; index < kModelsTried; ++index) {
        std::string name, connect;
        if (VepModel::List(kFile, index, name, connect, state) != 0) break;
        Load(name, state);
    }
    return 0;
}
