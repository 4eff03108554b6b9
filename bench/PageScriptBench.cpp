// Page scripts: a page function called from native code whose body calls a native method
// and hands its result back, against the same call answered by a registered C++ handler
// that calls the same native; and the main page's load with its six frames and their
// scripts, against the same pages with their scripts removed. Each call also writes its
// trace line, as the program's do: standard error goes to /dev/null here.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>

#include "EngineSdk.h"
#include "EngineTest.h"
#include "Text.h"
#include "Window.h"

namespace fs = std::filesystem;
using uie::value;

namespace {

LRESULT BenchWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    BOOL handled = FALSE;
    const LRESULT r = SciterProcND(hwnd, msg, wParam, lParam, &handled);
    return handled ? r : DefWindowProcW(hwnd, msg, wParam, lParam);
}

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

    bool Load(const fs::path& page) { return SciterLoadFile(hwnd, text::FromUtf8(page.string()).c_str()) != FALSE; }
    HELEMENT Root() const {
        HELEMENT root = nullptr;
        SciterGetRootElement(hwnd, &root);
        return root;
    }

    static value Add(HVM, const uie::NativeArgs& args) { return value(uie::ArgInt(args, 0) + uie::ArgInt(args, 1)); }

    HWND hwnd = nullptr;
};

// A copy of the content pages, with or without their scripts, removed with the object.
class ContentCopy {
public:
    explicit ContentCopy(bool scripts)
        : dir_(fs::temp_directory_path() / ("quorv-page-bench-" + std::to_string(std::random_device{}()))) {
        const std::regex script(R"(<script[\s\S]*?</script>)");
        for (const auto& entry : fs::recursive_directory_iterator(QUORV_CONTENT_DIR)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".htm") continue;
            const fs::path to = dir_ / fs::relative(entry.path(), QUORV_CONTENT_DIR);
            fs::create_directories(to.parent_path());
            std::ifstream in(entry.path(), std::ios::binary);
            std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::ofstream(to, std::ios::binary) << (scripts ? page : std::regex_replace(page, script, ""));
        }
    }
    ~ContentCopy() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    ContentCopy(const ContentCopy&) = delete;
    ContentCopy& operator=(const ContentCopy&) = delete;

    fs::path MainPage() const { return dir_ / "quorvix.htm"; }

private:
    fs::path dir_;
};

void CallPage(benchmark::State& state, bool handler) {
    BenchWindow w;
    const fs::path page = fs::temp_directory_path() / ("quorv-call-bench-" + std::to_string(std::random_device{}()) + ".htm");
    std::ofstream(page) << "<script>function Sum(a, b) { return bench.Add(a, b); }</script>";
    if (!w.Load(page)) state.SkipWithError("the page did not load");
    fs::remove(page);
    if (handler) {
        uie::test::PageHost::Register(w.hwnd, "Sum", [](const uie::test::PageCall& call) {
            return BenchWindow::Add(call.vm, uie::NativeArgs{value(), call.args});
        });
    }
    const HELEMENT root = w.Root();
    const value args[] = {value(20), value(22)};
    for (auto _ : state) {
        value r;
        if (!SciterCallScriptingFunction(root, "Sum", args, 2, &r) || r != value(42)) {
            state.SkipWithError("the call failed");
            break;
        }
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
    uie::test::PageHost::Reset();
}

void BM_PageFunctionCall(benchmark::State& state) { CallPage(state, false); }
void BM_RegisteredHandlerCall(benchmark::State& state) { CallPage(state, true); }

void LoadMainPage(benchmark::State& state, bool scripts) {
    const ContentCopy content(scripts);
    BenchWindow w;
    for (auto _ : state) {
        if (!w.Load(content.MainPage())) {
            state.SkipWithError("the main page did not load");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_MainPageLoad(benchmark::State& state) { LoadMainPage(state, true); }
void BM_MainPageLoadWithoutScripts(benchmark::State& state) { LoadMainPage(state, false); }

BENCHMARK(BM_PageFunctionCall);
BENCHMARK(BM_RegisteredHandlerCall);
BENCHMARK(BM_MainPageLoad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MainPageLoadWithoutScripts)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // The trace line of every page call would flood the terminal.
    if (std::freopen("/dev/null", "w", stderr) == nullptr) return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
