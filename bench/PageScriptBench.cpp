// Page scripts: a page function called from native code whose body calls a native method
// and hands its result back, against the same call answered by a registered C++ handler
// that calls the same native; and the main page's load with its six frames and their
// scripts, against the same pages with their scripts removed, warm (the window and its
// script heap made, the scripts compiled before) and first (a new window, scripts it has
// never met). Each call also writes its trace line, as the program's do: here into
// /dev/null.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "EngineSdk.h"
#include "EngineTest.h"
#include "Text.h"
#include "Window.h"

namespace fs = std::filesystem;
using uie::value;

namespace {

// The engine writes each page call's line to `stderr`, which glibc lets a program point
// elsewhere; the benchmark library's own lines (the build and allocator settings among
// them) and the sanitizers' reports still reach the real standard error. Done once, before
// the first page call starts the engine's writer thread.
void DropTraceLines() {
    static const bool dropped = [] {
        FILE* const devNull = std::fopen("/dev/null", "w");
        if (devNull != nullptr) stderr = devNull;
        return devNull != nullptr;
    }();
    (void)dropped;
}

LRESULT BenchWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    BOOL handled = FALSE;
    const LRESULT r = SciterProcND(hwnd, msg, wParam, lParam, &handled);
    return handled ? r : DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A copy of the content pages, with or without their scripts, removed with the object; the
// engine reads them from there as it reads any page file. Write(n) puts the number n in front
// of every script's text, so that a new one gives scripts the engine has never compiled.
class ContentCopy {
public:
    explicit ContentCopy(bool scripts)
        : dir_(fs::temp_directory_path() / ("quorv-page-bench-" + std::to_string(std::random_device{}()))) {
        const std::regex script(R"(<script[\s\S]*?</script>)");
        for (const auto& entry : fs::recursive_directory_iterator(QUORV_CONTENT_DIR)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".htm") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            pages_.emplace_back(dir_ / fs::relative(entry.path(), QUORV_CONTENT_DIR),
                                scripts ? page : std::regex_replace(page, script, ""));
            fs::create_directories(pages_.back().first.parent_path());
        }
        Write(0);
    }
    ~ContentCopy() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    ContentCopy(const ContentCopy&) = delete;
    ContentCopy& operator=(const ContentCopy&) = delete;

    std::wstring MainPage() const { return text::FromUtf8((dir_ / "quorvix.htm").string()); }

    void Write(unsigned generation) const {
        static constexpr std::string_view kOpen = "<script>";
        const std::string stamp = "/*" + std::to_string(generation) + "*/";
        for (const auto& [file, page] : pages_) {
            std::ofstream out(file, std::ios::binary);
            std::size_t from = 0;
            for (std::size_t at; (at = page.find(kOpen, from)) != std::string::npos; from = at) {
                at += kOpen.size();
                out << std::string_view(page).substr(from, at - from) << stamp;
            }
            out << std::string_view(page).substr(from);
        }
    }

private:
    fs::path dir_;
    std::vector<std::pair<fs::path, std::string>> pages_;
};

// A headless page window of the calling thread, with the natives the pages use.
class BenchWindow {
public:
    BenchWindow() {
        static const ATOM cls = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = BenchWindowProc;
            wc.lpszClassName = L"PageScriptBench";
            return RegisterClassExW(&wc);
        }();
        (void)cls;
        hwnd = CreateWindowExW(0, L"PageScriptBench", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        auto bench = std::make_shared<uie::NativeObjectDef>();
        bench->methods = {{"Add", Add}};
        uie::DefineNativeObject(SciterGetVM(hwnd), "bench", bench);
        // What the main page reports once loaded; the program's own object does more.
        auto share = std::make_shared<uie::NativeObjectDef>();
        share->methods = {{"SetLoadPageState", [](HVM, const uie::NativeArgs&) { return value(0); }}};
        uie::DefineNativeObject(SciterGetVM(hwnd), "share", share);
    }
    ~BenchWindow() { DestroyWindow(hwnd); }
    BenchWindow(const BenchWindow&) = delete;
    BenchWindow& operator=(const BenchWindow&) = delete;

    bool Load(const std::wstring& page) { return SciterLoadFile(hwnd, page.c_str()) != FALSE; }
    HELEMENT Root() const {
        HELEMENT root = nullptr;
        SciterGetRootElement(hwnd, &root);
        return root;
    }

    static value Add(HVM, const uie::NativeArgs& args) { return value(uie::ArgInt(args, 0) + uie::ArgInt(args, 1)); }

    HWND hwnd = nullptr;
};

// A window whose page function Sum(a, b) calls the native bench.Add, or, with `handler`,
// whose Sum is a registered C++ handler calling the same native.
class SumWindow {
public:
    explicit SumWindow(bool handler) {
        const fs::path page =
            fs::temp_directory_path() / ("quorv-call-bench-" + std::to_string(std::random_device{}()) + ".htm");
        std::ofstream(page) << "<script>function Sum(a, b) { return bench.Add(a, b); }</script>";
        loaded_ = w_.Load(text::FromUtf8(page.string()));
        fs::remove(page);
        if (handler) {
            uie::test::PageHost::Register(w_.hwnd, "Sum", [](const uie::test::PageCall& call) {
                return BenchWindow::Add(call.vm, uie::NativeArgs{value(), call.args});
            });
        }
        root_ = w_.Root();
    }
    SumWindow(const SumWindow&) = delete;
    SumWindow& operator=(const SumWindow&) = delete;

    bool loaded() const { return loaded_; }
    // `calls` calls of Sum(20, 22): their seconds, or a negative number when one failed.
    double Timed(int calls) const {
        static const value args[] = {value(20), value(22)};
        const auto from = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) {
            value r;
            if (!SciterCallScriptingFunction(root_, "Sum", args, 2, &r) || r != value(42)) return -1;
            benchmark::DoNotOptimize(r);
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    }

private:
    BenchWindow w_;
    HELEMENT root_ = nullptr;
    bool loaded_ = false;
};

// The page function's call beside the handler's, in batches taking turns: the time is a
// batch of page calls', `page_ns` and `handler_ns` one call's of each.
void BM_PageFunctionCall(benchmark::State& state) {
    DropTraceLines();
    constexpr int kBatch = 64;
    const SumWindow page(false);
    const SumWindow handler(true);
    if (!page.loaded() || !handler.loaded()) state.SkipWithError("the page did not load");
    const bench::Turns turns = bench::InTurns(
        state, [&page] { return page.Timed(kBatch); }, [&handler] { return handler.Timed(kBatch); },
        "the call failed");
    state.counters["page_ns"] = benchmark::Counter(turns.measured * 1e9 / kBatch, benchmark::Counter::kAvgIterations);
    state.counters["handler_ns"] =
        benchmark::Counter(turns.baseline * 1e9 / kBatch, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations() * kBatch);
    uie::test::PageHost::Reset();
}

// The main page's load with scripts and the same pages without, in turns: the time is the
// load with scripts, `plain_us` the one without.
class PairedLoads {
    using Clock = std::chrono::steady_clock;

public:
    PairedLoads() : scripted_(true), plain_(false) {}

    // Warm: each window loads its page again and again, its scripts compiled before.
    void Warm(benchmark::State& state) {
        BenchWindow scripted;
        BenchWindow plain;
        if (!scripted.Load(scripted_.MainPage()) || !plain.Load(plain_.MainPage())) {
            state.SkipWithError("the main page did not load");
            return;
        }
        Run(state, [&](const ContentCopy& content, Clock::time_point&) {
            return (&content == &scripted_ ? scripted : plain).Load(content.MainPage());
        });
    }

    // First: each load in a new window (so a new script heap), with scripts never compiled;
    // ending the window before and writing the pages are not timed.
    void First(benchmark::State& state) {
        unsigned generation = 0;
        std::optional<BenchWindow> scripted;
        std::optional<BenchWindow> plain;
        Run(state, [&](const ContentCopy& content, Clock::time_point& from) {
            std::optional<BenchWindow>& w = &content == &scripted_ ? scripted : plain;
            w.reset();
            content.Write(&content == &scripted_ ? ++generation : generation);
            from = Clock::now();
            w.emplace();
            return w->Load(content.MainPage());
        });
    }

private:
    // One timed load: its seconds, or a negative number when the page did not load. `load`
    // may start the clock later, past what it does first.
    template <typename Load>
    static double Timed(const ContentCopy& content, Load& load) {
        Clock::time_point from = Clock::now();
        if (!load(content, from)) return -1;
        return std::chrono::duration<double>(Clock::now() - from).count();
    }

    template <typename Load>
    void Run(benchmark::State& state, Load load) {
        const bench::Turns turns = bench::InTurns(
            state, [&] { return Timed(scripted_, load); }, [&] { return Timed(plain_, load); },
            "the main page did not load");
        state.counters["plain_us"] = benchmark::Counter(turns.baseline * 1e6, benchmark::Counter::kAvgIterations);
        state.SetItemsProcessed(state.iterations());
    }

    const ContentCopy scripted_;
    const ContentCopy plain_;
};

void BM_MainPageLoad(benchmark::State& state) {
    DropTraceLines();
    PairedLoads().Warm(state);
}
void BM_MainPageFirstLoad(benchmark::State& state) {
    DropTraceLines();
    PairedLoads().First(state);
}

BENCHMARK(BM_PageFunctionCall)->UseManualTime()->Unit(benchmark::kMicrosecond)->Apply(bench::Steady);
BENCHMARK(BM_MainPageLoad)->UseManualTime()->Unit(benchmark::kMicrosecond)->Apply(bench::Steady);
BENCHMARK(BM_MainPageFirstLoad)->UseManualTime()->Unit(benchmark::kMicrosecond)->Apply(bench::Steady);

}  // namespace
