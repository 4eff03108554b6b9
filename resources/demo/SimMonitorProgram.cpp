// The simulated blood-pressure monitor as a device of its own for the run command: its
// serial face on a pseudo-terminal, reached as <root>/dev/ttyBP0 (for QUORV_COMPORTS).
// With --model-file it also writes the monitor's model entry where the monitor library
// reads its models, unless a file is there; with --usb it shows its USB adapter
// (vendor:product, hex) below <root>/sys. It says "plugged in" once all of it is there, and
// runs until Ctrl-C or SIGTERM. To try a monitor at its edges: --readings keeps that many
// readings instead of the demo's, ten minutes apart back from now (--newest: from that
// time, in seconds since 1970, so that runs share readings), their values by their time;
// --same-minute yes gives the oldest of them the time of the one after it, as two
// measurements of one minute on a model without seconds; --clock no makes it a monitor
// without a clock (every reading's month 0, dated at the download); --answer-ms is how
// long it takes to answer a command (100 ms by default).
//
//   quorv_sim_monitor <root> [--model-file <file>] [--usb <vid:pid>] [--readings <n>]
//                     [--newest <seconds>] [--same-minute yes|no] [--clock yes|no]
//                     [--answer-ms <ms>]
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FakeUsbTree.h"
#include "SimDeviceProgram.h"
#include "SimMonitor.h"
#include "SimMonitorModel.h"
#include "SimMonitorPty.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kModelName = "SIMSER";
constexpr const char* kUsbName = "1-2";

SimReading ReadingAt(std::time_t when, int systolic, int diastolic, int pulse) {
    std::tm t{};
    localtime_r(&when, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, systolic, diastolic, pulse};
}

// Mornings and evenings of the last three days, the newest first, as the monitor keeps them.
SimMonitorState DemoState(std::time_t now) {
    SimMonitorState state;
    state.name = kModelName;
    std::tm today{};
    localtime_r(&now, &today);
    today.tm_hour = 7;
    today.tm_min = 20;
    today.tm_sec = 0;
    const std::time_t morning = std::mktime(&today);
    const int hours = 3600;
    const struct {
        std::time_t at;
        int systolic, diastolic, pulse;
    } kept[] = {
        {morning, 128, 84, 72},
        {morning - 11 * hours, 135, 88, 76},
        {morning - 24 * hours, 124, 82, 70},
        {morning - 35 * hours, 142, 91, 78},
        {morning - 48 * hours, 118, 78, 68},
    };
    for (const auto& r : kept)
        if (r.at <= now) state.readings.push_back(ReadingAt(r.at, r.systolic, r.diastolic, r.pulse));
    state.clock = {today.tm_year + 1900, today.tm_mon + 1, today.tm_mday, 7, 20, 0};
    return state;
}

constexpr int kSpacing = 600;

// n readings kSpacing apart, the newest at newest; their values vary within a day's range
// by their time, so that a reading keeps them when newer ones come. With sameMinute the
// oldest is taken in the minute of the one after it.
std::vector<SimReading> SpacedReadings(std::time_t newest, int n, bool dated, bool sameMinute) {
    std::vector<SimReading> readings;
    for (int i = 0; i < n; ++i) {
        const std::time_t at = newest - static_cast<std::time_t>(i) * kSpacing;
        const long slot = static_cast<long>(at / kSpacing);
        SimReading r = ReadingAt(at, 110 + slot % 40, 70 + slot % 20, 60 + slot % 30);
        if (sameMinute && n >= 2 && i == n - 1) r = ReadingAt(at + kSpacing, 131, 81, 71);
        if (!dated) r.month = 0;
        readings.push_back(r);
    }
    return readings;
}

// Seconds since 1970 from text, up to the year 2100; nothing for anything else.
std::optional<std::time_t> Seconds(const std::string& text) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 4102444800LL) return std::nullopt;
    return static_cast<std::time_t>(value);
}

// A whole number of at least least from text; nothing for anything else.
std::optional<int> WholeNumber(const std::string& text, int least) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < least || value > 100000) return std::nullopt;
    return static_cast<int>(value);
}

void WriteModelFile(const fs::path& file) {
    if (fs::exists(file)) return;  // the library's own models stay
    fs::create_directories(file.parent_path());
    std::ofstream(file) << ModelFile(ModelXml(kModelName, SimSerialModel(), "SERIAL"));
}

}  // namespace

int main(int argc, char** argv) {
    SimDeviceProgram program("simulated monitor", argc, argv,
                             {"--model-file", "--usb", "--readings", "--newest", "--same-minute", "--clock",
                              "--answer-ms"});
    if (!program.ArgumentsOk()) return 2;
    const auto usbIds = program.Option("--usb");
    if (usbIds && (usbIds->size() != 9 || (*usbIds)[4] != ':'))
        return program.Fail("--usb wants vendor:product as four hex digits each");
    const auto readings = program.Option("--readings");
    const auto count = readings ? WholeNumber(*readings, 0) : std::nullopt;
    const std::string clock = program.Option("--clock").value_or("yes");
    const auto answerMs = WholeNumber(program.Option("--answer-ms").value_or("100"), 1);
    const auto newestText = program.Option("--newest");
    const auto newest = newestText ? Seconds(*newestText) : std::optional<std::time_t>(std::time(nullptr));
    const std::string sameMinute = program.Option("--same-minute").value_or("no");
    if ((readings && !count) || (clock != "yes" && clock != "no") || (sameMinute != "yes" && sameMinute != "no") ||
        !answerMs || !newest)
        return program.Fail("--readings wants a count, --newest seconds since 1970, --same-minute and --clock yes or "
                            "no, --answer-ms milliseconds");
    const std::time_t now = std::time(nullptr);
    SimMonitorState state = DemoState(now);
    if (count) state.readings = SpacedReadings(*newest, *count, clock == "yes", sameMinute == "yes");
    auto monitor = std::make_shared<SimMonitor>();
    monitor->SetState(state);
    SimMonitorPty line(monitor, std::chrono::milliseconds(*answerMs));
    if (!line.Started()) return program.Fail("cannot open a pseudo-terminal for its serial line");
    const fs::path port = program.Root() / "dev" / "ttyBP0";
    try {
        if (const auto model = program.Option("--model-file")) WriteModelFile(*model);
        fs::create_directories(port.parent_path());
        fs::create_symlink(line.SlavePath(), port);
        if (usbIds)
            FakeUsbTree(program.Root() / "sys").AddDevice(kUsbName, usbIds->substr(0, 4), usbIds->substr(5), "SIMBP0001",
                                                          {"cdc_acm"});
    } catch (const std::exception& e) {
        return program.Fail("cannot make its device tree below " + program.Root().string() + ": " + e.what());
    }
    program.Say("plugged in at " + port.string() + " (" + line.SlavePath() + ")" + (usbIds ? ", USB " + *usbIds : "") +
                ", " + std::to_string(monitor->State().readings.size()) + " readings");
    program.WaitToEnd();
    program.Say("stopped after " + std::to_string(monitor->Frames().size()) + " frames");
    return 0;
}
