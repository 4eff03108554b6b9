// The main of the benchmark programs. Every figure names the build and the allocator
// settings it ran under, and a benchmark that fails its own check (or a bounded wait)
// fails the program, so that a brief run in CI catches it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The console table, and whether any run failed.
class CheckedReporter : public benchmark::ConsoleReporter {
public:
    CheckedReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) failed_ = failed_ || run.error_occurred;
        ConsoleReporter::ReportRuns(runs);
    }
    bool Failed() const { return failed_; }

private:
    bool failed_ = false;
};

// glibc keeps its mmap threshold at most 32 MiB on 64-bit and drops a larger setting
// without a word, so such a run measures the default threshold.
constexpr long long kMmapThresholdCap = 32LL << 20;

// The number after `key` in the variable's value; -1 when either is missing.
long long NumberAfter(const char* variable, std::string_view key) {
    const char* value = std::getenv(variable);
    const std::string_view text = value != nullptr ? value : "";
    const auto at = text.find(key);
    return at == std::string_view::npos ? -1 : std::atoll(value + at + key.size());
}

// The allocator settings of the environment, and whether glibc ignores the threshold.
std::string MallocSettings() {
    std::string settings;
    for (const char* name : {"MALLOC_MMAP_THRESHOLD_", "MALLOC_TRIM_THRESHOLD_", "MALLOC_TOP_PAD_",
                             "MALLOC_MMAP_MAX_", "MALLOC_ARENA_MAX", "GLIBC_TUNABLES"}) {
        if (const char* value = std::getenv(name)) settings += std::string(" ") + name + "=" + value;
    }
    if (settings.empty()) return "glibc defaults";
    if (NumberAfter("MALLOC_MMAP_THRESHOLD_", "") > kMmapThresholdCap ||
        NumberAfter("GLIBC_TUNABLES", "glibc.malloc.mmap_threshold=") > kMmapThresholdCap) {
        settings += " (an mmap threshold above 32 MiB is ignored: the default one applies)";
    }
    return settings.substr(1);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::AddCustomContext("build", QUORV_BENCH_BUILD);
    benchmark::AddCustomContext("malloc", MallocSettings());
    CheckedReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.Failed() ? 1 : 0;
}
