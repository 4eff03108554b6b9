// Page scripts: each document's scripts run at load with the VM's natives as globals and
// names of their own; native code calls the functions they define and gets their results;
// values cross both ways; failures are reported and leave the window working.
#include "PageCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <future>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "Config.h"
#include "DatabaseScriptObject.h"
#include "EngineWindow.h"
#include "Signals.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "internal/ThreadCall.h"

using namespace std::chrono_literals;
using uie::value;
namespace test = uie::test;

namespace {

struct Outcome {
    bool ok;
    value result;
    std::string written;  // to standard error
};

Outcome Call(HELEMENT he, const char* name, std::vector<value> args = {}) {
    value result(L"untouched");
    testing::internal::CaptureStderr();
    const BOOL ok = SciterCallScriptingFunction(he, name, args.data(), static_cast<UINT>(args.size()), &result);
    return {ok != FALSE, result, testing::internal::GetCapturedStderr()};
}

HELEMENT RootOf(HWND hwnd) {
    HELEMENT root = nullptr;
    SciterGetRootElement(hwnd, &root);
    return root;
}

// The native object "probe" the pages below use: it notes what it is told, keeps a
// function, adds, measures a text, and calls a page function of another window.
class Probe {
public:
    void Define(HVM vm) {
        auto def = std::make_shared<uie::NativeObjectDef>();
        def->methods = {
            {"Seen",
             [this](HVM, const uie::NativeArgs& a) {
                 std::lock_guard lock(lock_);
                 seen_.push_back(uie::ArgString(a, 0));
                 return value(static_cast<int>(seen_.size()));
             }},
            {"Keep",
             [this](HVM, const uie::NativeArgs& a) {
                 std::lock_guard lock(lock_);
                 kept_ = uie::ArgFunction(a, 0);
                 return value(true);
             }},
            {"Add", [](HVM, const uie::NativeArgs& a) { return value(uie::ArgInt(a, 0) + uie::ArgInt(a, 1)); }},
            {"Length",
             [](HVM, const uie::NativeArgs& a) { return value(static_cast<int>(uie::ArgString(a, 0).size())); }},
            {"CallOther",
             [this](HVM, const uie::NativeArgs& a) {
                 value r;
                 const value arg = uie::ArgPresent(a, 0);
                 const BOOL ok = SciterCallScriptingFunction(RootOf(other), "Count", &arg, 1, &r);
                 return ok ? r : value(L"refused");
             }},
            {"Close",
             [this](HVM, const uie::NativeArgs&) { return value(SendMessageW(other, WM_CLOSE, 0, 0) != 0); }},
            {"Rendezvous",
             [this](HVM, const uie::NativeArgs&) {
                 // Both threads hold their own VM here before either reaches for the other's.
                 meet->arrive_and_wait();
                 value r;
                 return value(SciterCallScriptingFunction(RootOf(other), "Count", nullptr, 0, &r) != FALSE);
             }},
        };
        def->properties = {{"name", [](HVM, const uie::NativeArgs&) { return value(L"probe"); }, {}}};
        def->constants = {{"LIMIT", value(7)}};
        ASSERT_TRUE(uie::DefineNativeObject(vm, "probe", def));
    }
    std::vector<std::wstring> Seen() {
        std::lock_guard lock(lock_);
        return seen_;
    }
    value TakeKept() {
        std::lock_guard lock(lock_);
        return std::exchange(kept_, value());
    }

    HWND other = nullptr;     // the window CallOther and Rendezvous reach
    std::latch* meet = nullptr;

private:
    std::mutex lock_;
    std::vector<std::wstring> seen_;
    value kept_;
};

// A native class whose instances count their finalizations and read items.
std::shared_ptr<uie::NativeClassDef> CounterClass(std::atomic<int>& finalized) {
    auto def = std::make_shared<uie::NativeClassDef>();
    def->name = "Counter";
    def->constructor = [&finalized](HVM, const uie::NativeArgs& args) {
        uie::SetInstanceData(args.self, &finalized);
        return value(uie::ArgInt(args, 0));
    };
    def->methods = {{"twice", [](HVM, const uie::NativeArgs& a) { return value(2 * uie::ArgInt(a, 0)); }}};
    def->properties = {{"kind", [](HVM, const uie::NativeArgs&) { return value(L"counter"); }, {}}};
    def->getItem = [](HVM, const uie::NativeArgs& a) { return value(L"item " + a[0].to_json()); };
    def->finalizer = [](void* data) {
        if (data != nullptr) ++*static_cast<std::atomic<int>*>(data);
    };
    return def;
}

// Calls into another thread's page given up sooner than the program's 5 s, for the cases that
// run one out.
struct ShortCrossThreadBound {
    ShortCrossThreadBound() { uie::detail::SetCrossThreadBound(std::chrono::milliseconds(300)); }
    ~ShortCrossThreadBound() { uie::detail::SetCrossThreadBound(std::chrono::milliseconds(5000)); }
};

class PageScriptsTest : public ::testing::Test {
protected:
    void SetUp() override { probe.Define(SciterGetVM(w.hwnd)); }
    void TearDown() override { test::PageHost::Reset(); }

    bool Load(const std::string& page) {
        w.serve[L"/page.htm"] = page;
        return w.Load("page.htm");
    }
    // The engine's report lines that hold `text`.
    int Reported(const std::wstring& text) const {
        int n = 0;
        for (const std::wstring& line : w.Output()) n += line.find(text) != std::wstring::npos ? 1 : 0;
        return n;
    }

    EngineWindow w;
    Probe probe;
};

TEST_F(PageScriptsTest, EachDocumentRunsItsScriptsInOrderAndKeepsItsOwnNames) {
    w.serve[L"/first.tis"] = "probe.Seen('file'); function FromFile(a, b) { return [a, b]; }";
    w.serve[L"/frame.htm"] =
        "<script>probe.Seen('frame ' + typeof MainOnly); function FrameOnly(n) { return n + 1; }</script>"
        "<p id=framed>in the frame</p>";
    ASSERT_TRUE(Load(R"(<html><head>
<script src="first.tis"></script>
<script type="text/tiscript">probe.Seen("inline " + typeof FromFile); function MainOnly() { return "main"; }</script>
</head><body><iframe id="frame" src="frame.htm"></iframe>
<script>probe.Seen("last " + typeof MainOnly + " " + probe.name + " " + probe.LIMIT);</script></body></html>)"));
    // A frame's scripts run once it has loaded, before the page's own, which then find it.
    EXPECT_EQ(probe.Seen(), (std::vector<std::wstring>{L"frame undefined", L"file", L"inline function",
                                                         L"last function probe 7"}));

    const Outcome main = Call(w.Root(), "MainOnly");
    EXPECT_TRUE(main.ok);
    EXPECT_EQ(main.result, value(L"main"));
    EXPECT_EQ(main.written, "[page.htm] MainOnly()\n");
    EXPECT_EQ(Call(w.Root(), "FromFile", {value(1), value(L"x")}).result,
              value::make_array({value(1), value(L"x")}));

    HELEMENT frame = nullptr;  // the root of the frame's document
    ASSERT_EQ(SciterGetNthChild(w.Find("#frame"), 0, &frame), DOM_OK);
    EXPECT_EQ(Call(frame, "FrameOnly", {value(1)}).result, value(2));
    const Outcome missing = Call(frame, "MainOnly");
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.result.is_undefined());
    EXPECT_EQ(missing.written, "");
    EXPECT_EQ(w.Output().back(), L"[frame.htm] MainOnly: no such function");
    EXPECT_FALSE(Call(w.Root(), "FrameOnly").ok);

    // A test's handler runs in place of the script's function, in its document only.
    ASSERT_TRUE(test::PageHost::Register(w.hwnd, "MainOnly", [](const test::PageCall&) { return value(7); }));
    const Outcome handled = Call(w.Root(), "MainOnly");
    EXPECT_EQ(handled.result, value(7));
    EXPECT_EQ(handled.written, "");
}

TEST_F(PageScriptsTest, ValuesOfEveryKindCrossBothWaysUnchanged) {
    ASSERT_TRUE(Load(R"(<script>
function Echo() { return Array.prototype.slice.call(arguments); }
function Seen(u, n, b, i, f, s, a, m, bytes, sym) {
  return [typeof u, n === null, typeof b, typeof i, typeof f, s.length, s.charCodeAt(1).toString(16),
          a[2][0], Object.keys(m).join(","), bytes.length + ":" + bytes[2], typeof sym];
}
function Made() { return { clef: String.fromCharCode(0xD834, 0xDD1E), whole: 3.0, half: 0.5, big: 4294967296, neg: -0 }; }
</script>)"));
    value map = value::make_map();
    map.set_item(value(L"z"), value(1));
    map.set_item(value(L"a"), value::make_array({value(true), value::null()}));
    const std::vector<value> args{value(),
                                  value::null(),
                                  value(true),
                                  value(-42),
                                  value(2.5),
                                  value(L"a\U0001D11Eb"),
                                  value::make_array({value(1), value(L"x"), value::make_array({value(2)})}),
                                  map,
                                  value::from_bytes({1, 2, 3}),
                                  value::symbol(L"field")};
    const Outcome echoed = Call(w.Root(), "Echo", args);
    ASSERT_TRUE(echoed.ok);
    EXPECT_EQ(echoed.result, value::make_array(args));

    const Outcome seen = Call(w.Root(), "Seen", args);
    EXPECT_EQ(seen.result.to_json(), LR"(["undefined",true,"boolean","number","number",4,"d834",2,"z,a","3:3","symbol"])");

    // Whole numbers in int range come back as ints, others as floats; the pair as one character.
    const value made = Call(w.Root(), "Made").result;
    EXPECT_EQ(made.get_item(value(L"clef")), value(L"\U0001D11E"));
    EXPECT_EQ(made.get_item(value(L"whole")), value(3));
    EXPECT_EQ(made.get_item(value(L"half")), value(0.5));
    EXPECT_EQ(made.get_item(value(L"big")), value(4294967296.0));
    EXPECT_TRUE(made.get_item(value(L"neg")).is_float());
}

TEST_F(PageScriptsTest, NativesWorkFromScriptAsFromTests) {
    std::atomic<int> finalized{0};
    ASSERT_TRUE(uie::DefineNativeClass(SciterGetVM(w.hwnd), CounterClass(finalized)));
    ASSERT_TRUE(Load(R"(<script>
function Natives() {
  var out = [probe.name, probe.Add(2, 3)];
  try { probe.name = "other"; } catch (e) { out.push(e.name + ": " + e.message); }
  try { probe.Add(1, "2"); } catch (e) { out.push(e.message); }
  var c = new Counter(5);
  out.push(c.twice(4), c.kind, c[3], c.other, c instanceof Counter);
  try { new Counter("x"); } catch (e) { out.push(e.message); }
  return out;
}
function Keep(n) { var c = new Counter(1); probe.Keep(function (k) { return c.twice(k) + n; }); }
function Collect() { Duktape.gc(); }
</script>)"));
    EXPECT_EQ(Call(w.Root(), "Natives").result.to_json(),
              LR"(["probe",5,"TypeError: probe.name is read-only","parameter 2, expecting integer",8,"counter","item 3","item \"other\"",true,"parameter 1, expecting integer"])");
    EXPECT_EQ(uie::LastScriptError(SciterGetVM(w.hwnd)), L"parameter 1, expecting integer");
    // Both counters of Natives went with the call's end: the script dropped them.
    EXPECT_EQ(finalized, 2);

    // A script function handed over is called later from another thread (it runs on its
    // window's thread), and its closure (and the instance it holds) goes with the last copy
    // of the function value.
    ASSERT_TRUE(Call(w.Root(), "Keep", {value(100)}).ok);
    value kept = probe.TakeKept();
    ASSERT_TRUE(kept.is_function());
    auto called = std::async(std::launch::async, [&kept] {
        const value arg(21);
        return uie::CallFunctionRef(kept, std::span(&arg, 1));
    });
    ASSERT_TRUE(WaitServing([&] { return called.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(called.get(), value(142));
    EXPECT_EQ(finalized, 2);
    kept = value();
    Call(w.Root(), "Collect");  // a function's own prototype refers back to it: collected, not counted down
    EXPECT_EQ(finalized, 3);
}

TEST_F(PageScriptsTest, FailuresAreReportedOnceAndTheWindowKeepsWorking) {
    ASSERT_TRUE(Load(R"(<html><head>
<script>var broken = (;</script>
<script>
  throw new Error("at load");
</script>
<script>
function Works(n) { return n * 2; }
function Throws() { throw new TypeError("in a call"); }
function WrongArgs() { return probe.Add(1, "2"); }
function Deep(n) { return Deep(n + 1) + 1; }
function DeepNative() { return [0].map(DeepNative); }
function Huge() { return probe.Length("x".repeat(10 * 1024 * 1024)); }
</script></head></html>)"));
    EXPECT_EQ(Reported(L"[page.htm] script: SyntaxError: "), 1);
    EXPECT_EQ(Reported(L"(page.htm:2)"), 1);
    EXPECT_EQ(Reported(L"[page.htm] script: Error: at load (page.htm:4)"), 1);

    const struct {
        const char* name;
        const wchar_t* line;
    } failing[] = {
        {"Throws", L"[page.htm] Throws: TypeError: in a call (page.htm:8)"},
        {"WrongArgs", L"[page.htm] WrongArgs: Error: parameter 2, expecting integer (page.htm:9)"},
        {"Deep", L"[page.htm] Deep: RangeError: "},
        {"DeepNative", L"[page.htm] DeepNative: RangeError: "},
        {"Huge", L"[page.htm] Huge: RangeError: text too long for native code"},
        {"Absent", L"[page.htm] Absent: no such function"},
    };
    for (const auto& f : failing) {
        SCOPED_TRACE(f.name);
        const std::size_t before = w.Output().size();
        const Outcome out = Call(w.Root(), f.name);
        EXPECT_FALSE(out.ok);
        EXPECT_TRUE(out.result.is_undefined());
        ASSERT_EQ(w.Output().size(), before + 1);
        EXPECT_EQ(w.Output().back().rfind(f.line, 0), 0u) << w.Output().back();
        EXPECT_EQ(Call(w.Root(), "Works", {value(21)}).result, value(42));
    }
}

// Each document's code has its own global as `this` and `globalThis`, in calls from native
// code as at load: what one page writes through them never reaches another page of the VM.
TEST_F(PageScriptsTest, ThisAndGlobalThisAreEachDocumentsOwn) {
    const std::string page = R"(<script>
function Write(v) { this.viaThis = v; globalThis.viaGlobal = v; (function () { this.viaPlain = v; })(); }
function Read() { return [typeof viaThis, typeof viaGlobal, typeof viaPlain, this === globalThis]; }
</script>)";
    EngineWindow other;  // of this thread too: the same VM
    other.serve[L"/page.htm"] = page;
    ASSERT_TRUE(other.Load("page.htm"));
    ASSERT_TRUE(Load(page));
    ASSERT_TRUE(Call(w.Root(), "Write", {value(1)}).ok);
    EXPECT_EQ(Call(w.Root(), "Read").result.to_json(), LR"(["number","number","number",true])");
    EXPECT_EQ(Call(other.Root(), "Read").result.to_json(), LR"(["undefined","undefined","undefined",true])");
}

// A page call reaches only a function of the document's own: a builtin it inherits runs nothing.
TEST_F(PageScriptsTest, OnlyTheDocumentsOwnFunctionsAnswerPageCalls) {
    // Functions put where every document of the VM inherits them are no document's own.
    ASSERT_TRUE(Load(R"(<script>
function Own() { return 1; }
Object.prototype.Planted = function () { probe.Seen('planted'); };
Object.getPrototypeOf(globalThis).Rooted = function () { probe.Seen('rooted'); };
</script>)"));
    EXPECT_FALSE(Call(w.Root(), "eval", {value(L"probe.Seen('ran')")}).ok);
    EXPECT_EQ(Reported(L"[page.htm] eval: no such function"), 1);
    for (const char* name : {"Planted", "Rooted"}) EXPECT_FALSE(Call(w.Root(), name, {}).ok) << name;
    EXPECT_TRUE(probe.Seen().empty());
    EXPECT_TRUE(Call(w.Root(), "Own", {}).ok);
}

// A name that answered once is refused once it means an inherited function, another one or
// the same one moved to where every document inherits it, as a name never called is.
TEST_F(PageScriptsTest, ANameThatAnsweredOnceIsRefusedOnceItMeansAnInheritedFunction) {
    ASSERT_TRUE(Load(R"(<script>
globalThis.Later = function () { probe.Seen('own'); };
globalThis.Moving = function () { probe.Seen('moving'); };
function Plant() {
  delete globalThis.Later;
  Object.getPrototypeOf(globalThis).Later = function () { probe.Seen('rooted'); };
  var moving = globalThis.Moving;
  delete globalThis.Moving;
  Object.prototype.Moving = moving;
}
</script>)"));
    EXPECT_TRUE(Call(w.Root(), "Later", {}).ok);
    EXPECT_TRUE(Call(w.Root(), "Moving", {}).ok);
    EXPECT_TRUE(Call(w.Root(), "Plant", {}).ok);
    EXPECT_FALSE(Call(w.Root(), "Later", {}).ok);
    EXPECT_FALSE(Call(w.Root(), "Moving", {}).ok);
    EXPECT_EQ(probe.Seen(), std::vector<std::wstring>({L"own", L"moving"}));
}

// Timers waiting are bounded per document: one page at its bound leaves setTimeout to the
// other documents of its thread.
TEST_F(PageScriptsTest, ADocumentAtItsTimerBoundLeavesTheOthersTheirs) {
    w.serve[L"/frame.htm"] = "<script>function Arm() { return setTimeout(function () {}, 100000) > 0; }</script>";
    ASSERT_TRUE(Load(R"(<iframe id="frame" src="frame.htm"></iframe><script>
function Fill() {
  var n = 0;
  try { for (;;) { setTimeout(function () {}, 100000); ++n; } } catch (e) { return n; }
}
</script>)"));
    EXPECT_EQ(Call(w.Root(), "Fill").result, value(256));
    HELEMENT frame = nullptr;
    ASSERT_EQ(SciterGetNthChild(w.Find("#frame"), 0, &frame), DOM_OK);
    EXPECT_EQ(Call(frame, "Arm").result, value(true));
}

// A closed window's document, cycles and all, is collected as the window goes when its
// thread keeps its VM for other windows.
TEST_F(PageScriptsTest, AClosedWindowsDocumentIsCollectedAsItGoes) {
    ASSERT_TRUE(Load("<p>the window that keeps the thread's VM</p>"));
    {
        EngineWindow closing;
        closing.serve[L"/closing.htm"] = R"(<script>
var held = { all: [] };
held.self = held;
for (var i = 0; i < 20000; ++i) held.all.push({ i: i });
Duktape.fin(held, function () { probe.Seen('collected'); });
</script>)";
        ASSERT_TRUE(closing.Load("closing.htm"));
    }
    EXPECT_EQ(probe.Seen(), std::vector<std::wstring>({L"collected"}));
}

// Arrays and maps nested as deep as the bound cross both ways; one level more is refused.
TEST_F(PageScriptsTest, ValuesNestedToTheBoundCrossBothWays) {
    ASSERT_TRUE(Load(R"(<script>
function Echo(v) { return v; }
function Nest(depth, map) { var v = 0; for (var i = 0; i < depth; ++i) v = map ? { k: v } : [v]; return v; }
</script>)"));
    auto nested = [](int depth, bool map) {
        value v(0);
        for (int i = 0; i < depth; ++i) {
            value outer = map ? value::make_map() : value::make_array({v});
            if (map) outer.set_item(value(L"k"), v);
            v = std::move(outer);
        }
        return v;
    };
    for (const bool map : {false, true}) {
        SCOPED_TRACE(map ? "map" : "array");
        const value deepest = nested(256, map);
        EXPECT_EQ(Call(w.Root(), "Echo", {deepest}).result, deepest);
        EXPECT_EQ(Call(w.Root(), "Nest", {value(256), value(map)}).result, deepest);
        EXPECT_FALSE(Call(w.Root(), "Echo", {nested(257, map)}).ok);
        EXPECT_FALSE(Call(w.Root(), "Nest", {value(257), value(map)}).ok);
    }
    EXPECT_EQ(Reported(L"nested too deep"), 4);
}

// A call from another thread while the window loads its page again runs on the window's
// thread after the load, so it reaches the function the new page defines.
TEST(PageReloadTest, ACallRacingAReloadReachesTheNewPagesFunction) {
    struct Reloading : EngineWindow {
        UINT on_attach_behavior(uie::AttachBehaviorNotice* n) override {
            if (duringLoad) duringLoad();
            return EngineWindow::on_attach_behavior(n);
        }
        std::function<void()> duringLoad;
    };
    Reloading w;
    w.serve[L"/page.htm"] = "<script>function Version() { return 1; }</script>";
    ASSERT_TRUE(w.Load("page.htm"));
    w.serve[L"/page.htm"] = R"(<div behavior="any"></div><script>function Version() { return 2; }</script>)";
    std::future<value> called;
    // The new page is in the window, its scripts not run yet: the call comes now.
    w.duringLoad = [&] {
        called = std::async(std::launch::async, [&w] {
            value r;
            return SciterCallScriptingFunction(w.Root(), "Version", nullptr, 0, &r) ? r : value(L"failed");
        });
        called.wait_for(200ms);  // it may wait for the load; the load goes on either way
    };
    testing::internal::CaptureStderr();
    ASSERT_TRUE(w.Load("page.htm"));
    ASSERT_TRUE(WaitServing([&] { return called.wait_for(0s) == std::future_status::ready; }));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(called.get(), value(2));
}

// A script met before runs from the compiled form kept of it: each document still gets
// names of its own, a failure still names its line, and a changed script runs as it is now.
TEST_F(PageScriptsTest, ScriptsLoadedAgainRunAsTheyAreNowInEachDocument) {
    w.serve[L"/counter.htm"] =
        "<script>var n = 0;\nfunction Count() { return ++n; }\nprobe.Seen('counter');\nthrow new Error('late');</script>";
    const std::string page = R"(<iframe id="a" src="counter.htm"></iframe><iframe id="b" src="counter.htm"></iframe>
<script>function Version() { return 1; }</script>)";
    ASSERT_TRUE(Load(page));
    ASSERT_TRUE(Load(page));
    HELEMENT a = nullptr;
    HELEMENT b = nullptr;
    ASSERT_EQ(SciterGetNthChild(w.Find("#a"), 0, &a), DOM_OK);
    ASSERT_EQ(SciterGetNthChild(w.Find("#b"), 0, &b), DOM_OK);
    EXPECT_EQ(Call(a, "Count").result, value(1));
    EXPECT_EQ(Call(a, "Count").result, value(2));
    EXPECT_EQ(Call(b, "Count").result, value(1)) << "each frame has its own n";
    EXPECT_EQ(probe.Seen().size(), 4u);
    EXPECT_EQ(Reported(L"[counter.htm] script: Error: late (counter.htm:4)"), 4);
    EXPECT_EQ(Call(w.Root(), "Version").result, value(1));

    std::string changed = page;
    changed.replace(changed.find("return 1"), 8, "return 2");
    ASSERT_TRUE(Load(changed));
    EXPECT_EQ(Call(w.Root(), "Version").result, value(2));

    // A script that loads a page meanwhile: both keep their own names.
    EngineWindow other;
    other.serve[L"/nested.htm"] = "<script>function Nested() { return typeof Version; }</script>";
    auto opener = std::make_shared<uie::NativeObjectDef>();
    opener->methods = {{"Open", [&other](HVM, const uie::NativeArgs&) { return value(other.Load("nested.htm")); }}};
    ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(w.hwnd), "opener", opener));
    ASSERT_TRUE(Load("<script>var opened = opener.Open(); function After() { return opened; }</script>"));
    EXPECT_EQ(Call(w.Root(), "After").result, value(true));
    EXPECT_EQ(Call(other.Root(), "Nested").result, value(L"undefined"));
}

// Calls faster than each line can be written have their lines gathered: every one still
// comes out, in order, at the latest when the window goes.
TEST(PageCallLinesTest, ABurstOfCallsWritesEveryLineInOrder) {
    constexpr int kCalls = 300;
    std::string expected;
    testing::internal::CaptureStderr();
    {
        EngineWindow w;
        w.serve[L"/burst.htm"] = "<script>function Note(i) { return i; }</script>";
        ASSERT_TRUE(w.Load("burst.htm"));
        for (int i = 0; i < kCalls; ++i) {
            const value arg(i);
            SciterCallScriptingFunction(w.Root(), "Note", &arg, 1, nullptr);
            expected += "[burst.htm] Note(" + std::to_string(i) + ")\n";
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);
}

// A process that ends at once (a crash, a second signal to end) runs no exit handler: the
// lines still gathered come out through the flush made for such an end.
TEST(PageCallLinesTest, LinesGatheredWhenTheProcessEndsAtOnceComeOut) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            EngineWindow w;
            w.serve[L"/burst.htm"] = "<script>function Note(i) { return i; }</script>";
            w.Load("burst.htm");
            InstallCrashHandler([](int) { uie::FlushPageCallLines(); });
            for (int i = 0; i < 800; ++i) {
                const value arg(i);
                SciterCallScriptingFunction(w.Root(), "Note", &arg, 1, nullptr);
            }
            std::abort();
        },
        testing::ExitedWithCode(128 + SIGABRT), testing::HasSubstr("[burst.htm] Note(799)\n"));
}

// Nor is such an end held for ever by a thread whose write of a line cannot go on (standard
// error a full pipe that nobody reads). An end that is held after all is ended by an alarm,
// so the case fails instead of waiting for it.
TEST(PageCallLinesTest, AnEndAtOnceIsNotHeldByALineStuckOnAFullPipe) {
    constexpr unsigned kLimitSeconds = 10;  // its two waits of 3 s and the flush's quarter of a second
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(kLimitSeconds);
            int fds[2];
            if (pipe(fds) != 0 || dup2(fds[1], STDERR_FILENO) < 0) std::_Exit(1);
            const int flags = fcntl(STDERR_FILENO, F_GETFL);
            fcntl(STDERR_FILENO, F_SETFL, flags | O_NONBLOCK);
            const char fill[4096] = {};
            while (write(STDERR_FILENO, fill, sizeof fill) > 0) {
            }
            fcntl(STDERR_FILENO, F_SETFL, flags);
            std::atomic<pid_t> tid{0};
            std::thread([&tid] {
                EngineWindow w;
                w.serve[L"/stuck.htm"] = "<script>function Note(i) { return i; }</script>";
                w.Load("stuck.htm");
                tid = gettid();
                const value arg(1);
                SciterCallScriptingFunction(w.Root(), "Note", &arg, 1, nullptr);  // never returns
            }).detach();
            // Its thread waits in write(2) on standard error.
            const bool stuck = WaitFor([&tid] {
                if (tid == 0) return false;
                std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
                std::string number, fd;
                return static_cast<bool>(syscall >> number >> fd) && number == "1" && fd == "0x2";
            });
            if (!stuck) std::_Exit(2);
            std::atomic<bool> gathered{false};
            std::thread([&gathered] {  // a line that meanwhile waits to be written
                EngineWindow w;
                w.serve[L"/later.htm"] = "<script>function Note(i) { return i; }</script>";
                w.Load("later.htm");
                const value arg(2);
                SciterCallScriptingFunction(w.Root(), "Note", &arg, 1, nullptr);
                gathered = true;
                for (;;) pause();  // a window that goes writes out what is gathered: it stays
            }).detach();
            if (!WaitFor([&gathered] { return gathered.load(); })) std::_Exit(3);
            uie::FlushPageCallLines();
            std::_Exit(7);
        },
        testing::ExitedWithCode(7), "");
}

TEST_F(PageScriptsTest, APageOpensTheUserDatabaseThroughQuorvDbAndWalksItsRows) {
    TempDir dir;
    const std::filesystem::path file = dir / "user.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "create table t (n int, label text); insert into t values (1, 'a'), (2, 'b'), (3, '𝄞');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::wstring saved = std::exchange(g_Config.m_config.userDBName, text::FromUtf8(file.string()));
    ASSERT_TRUE(RegisterDatabaseScriptObject(SciterGetVM(w.hwnd)));
    ASSERT_TRUE(Load(R"(<script>
function Rows(from) {
  var db = DB.open(quorvDb._userDBName);
  var rs = db.exec("select n, label from t where n >= ?1 order by n", from);
  var rows = [];
  do { rows.push([rs[0], rs["label"], rs.length]); } while (rs.next());
  var valid = rs.valid;
  db.close();
  return [rows, valid];
}
</script>)"));
    EXPECT_EQ(Call(w.Root(), "Rows", {value(2)}).result.to_json(), LR"([[[2,"b",2],[3,"𝄞",2]],false])");
    g_Config.m_config.userDBName = saved;
}

// Timers of a page run its functions later on the window's own thread; a cleared one never.
TEST(PageTimersTest, TimeoutsRunOnTheWindowsThreadUnlessCleared) {
    Probe probe;
    ThreadWindow window("timers.htm", {}, [&probe](EngineWindow& w) {
        probe.Define(SciterGetVM(w.hwnd));
        w.serve[L"/timers.htm"] = R"(<script>
function Arm() {
  var cleared = setTimeout(function () { probe.Seen("cleared"); }, 10);
  setTimeout(function () { probe.Seen("fired " + this.Arm.name); }, 40);
  clearTimeout(cleared);
  return typeof cleared;
}
</script>)";
    });
    EXPECT_EQ(Call(RootOf(window.hwnd), "Arm").result, value(L"number"));
    ASSERT_TRUE(WaitFor([&] { return !probe.Seen().empty(); }));
    EXPECT_EQ(probe.Seen(), std::vector<std::wstring>{L"fired Arm"});
}

// Two UI threads call into their own and each other's pages, also from inside a native
// method of a page (the cross-page call), while both VMs are in use.
TEST(PageScriptThreadsTest, UIThreadsCallTheirOwnAndEachOthersPages) {
    constexpr char kPage[] = R"(<script>
function Count(n) { return probe.Add(n, 1); }
function Across(n) { return probe.CallOther(n); }
</script>)";
    Probe probeA;
    Probe probeB;
    auto with = [&kPage](Probe& probe) {
        return [&probe, &kPage](EngineWindow& w) {
            probe.Define(SciterGetVM(w.hwnd));
            w.serve[L"/threads.htm"] = kPage;
        };
    };
    ThreadWindow a("threads.htm", {}, with(probeA));
    ThreadWindow b("threads.htm", {}, with(probeB));
    probeA.other = b.hwnd;
    probeB.other = a.hwnd;
    constexpr int kRounds = 200;
    std::atomic<int> wrong{0};
    auto run = [&](HWND own, HWND other, const char* across) {
        test::RunInPage(own, [&] {
            for (int i = 0; i < kRounds; ++i) {
                value r;
                const value arg(i);
                for (HWND target : {own, other}) {
                    if (!SciterCallScriptingFunction(RootOf(target), "Count", &arg, 1, &r) || r != value(i + 1)) ++wrong;
                }
                if (!SciterCallScriptingFunction(RootOf(own), across, &arg, 1, &r) || r != value(i + 1)) ++wrong;
            }
        });
    };
    testing::internal::CaptureStderr();
    {
        // Only A calls across: B's page is then entered from A's thread inside A's VM.
        std::jthread fromA([&] { run(a.hwnd, b.hwnd, "Across"); });
        std::jthread fromB([&] { run(b.hwnd, a.hwnd, "Count"); });
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(wrong, 0);
}

// A page waiting in another thread's page, which closes the waiting page's window meanwhile:
// the close is served inside the wait, and the window, its document and its heap end only
// once the waiting page code has returned (AddressSanitizer watches the heap).
TEST(PageScriptThreadsTest, AWindowClosedInsideItsOwnPagesWaitEndsOnceItsPageCodeReturns) {
    Probe probeA;
    Probe probeB;
    auto with = [](Probe& probe, const char* page) {
        return [&probe, page](EngineWindow& w) {
            probe.Define(SciterGetVM(w.hwnd));
            w.serve[L"/closing.htm"] = page;
        };
    };
    ThreadWindow a("closing.htm", {}, with(probeA, R"(<script>
function Across() { var r = probe.CallOther(1); return "after " + r + " " + probe.Add(2, 3); }
</script>)"));
    ThreadWindow b("closing.htm", {}, with(probeB, "<script>function Count(n) { probe.Close(); return n; }</script>"));
    probeA.other = b.hwnd;
    probeB.other = a.hwnd;
    const std::size_t heaps = test::LiveScriptHeaps();
    const Outcome across = Call(RootOf(a.hwnd), "Across");
    EXPECT_EQ(across.result, value(L"after 1 5"));
    EXPECT_FALSE(IsWindow(a.hwnd));
    EXPECT_TRUE(WaitFor([&] { return test::LiveScriptHeaps() == heaps - 1; }));
}

// A call into a window whose page runs away is given up once: later calls into its thread fail
// at once, reported once, and none of them runs late; once the thread serves its queue again
// its page is called as before.
TEST(PageScriptThreadsTest, AThreadThatLetACallRunOutIsRefusedAtOnceUntilItServesAgain) {
    const ShortCrossThreadBound shortened;
    std::atomic<bool> holding{false};
    std::atomic<bool> letGo{false};
    std::atomic<int> counted{0};
    auto hold = std::make_shared<uie::NativeObjectDef>();
    hold->methods = {{"Hold",
                      [&](HVM, const uie::NativeArgs&) {
                          holding = true;
                          WaitFor([&] { return letGo.load(); }, 60s);
                          return value();
                      }},
                     {"Counted", [&](HVM, const uie::NativeArgs&) { return value(++counted); }}};
    ThreadWindow window("runaway.htm", {}, [&hold](EngineWindow& w) {
        ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(w.hwnd), "hold", hold));
        w.serve[L"/runaway.htm"] = R"(<script>
function Arm() { setTimeout(function () { hold.Hold(); }, 0); }
function Count() { return hold.Counted(); }
</script>)";
    });
    ASSERT_TRUE(Call(RootOf(window.hwnd), "Arm").ok);
    ASSERT_TRUE(WaitFor([&] { return holding.load(); }));
    int answered = 0;
    for (int i = 0; i < 3; ++i) answered += Call(RootOf(window.hwnd), "Count").ok ? 1 : 0;
    letGo = true;
    EXPECT_EQ(answered, 0);
    auto reported = [&window](const wchar_t* text) {
        int n = 0;
        for (const std::wstring& line : window.window->Output()) n += line.find(text) != std::wstring::npos ? 1 : 0;
        return n;
    };
    EXPECT_EQ(reported(L"given up after"), 1);
    EXPECT_EQ(reported(L"calls into it fail at once until it serves its queue again"), 1);
    EXPECT_TRUE(WaitFor([&] { return Call(RootOf(window.hwnd), "Count").ok; }));
    EXPECT_EQ(counted, 1);
}

// A page call that runs past its caller's bound and then ends leaves its thread answering:
// the call after it is answered.
TEST(PageScriptThreadsTest, AThreadThatFinishesACallPastTheBoundIsCalledAgain) {
    const ShortCrossThreadBound shortened;
    std::atomic<bool> letGo{false};
    auto slow = std::make_shared<uie::NativeObjectDef>();
    slow->methods = {{"Work", [&letGo](HVM, const uie::NativeArgs&) {
                          WaitFor([&letGo] { return letGo.load(); }, 30s);
                          return value(1);
                      }}};
    ThreadWindow window("slow.htm", {}, [&slow](EngineWindow& w) {
        ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(w.hwnd), "slow", slow));
        w.serve[L"/slow.htm"] = "<script>function Work() { return slow.Work(); } function Count() { return 1; }</script>";
    });
    EXPECT_FALSE(Call(RootOf(window.hwnd), "Work").ok);
    letGo = true;
    EXPECT_TRUE(WaitFor([&] { return Call(RootOf(window.hwnd), "Count").ok; }));
}

// A UI thread's heap ends with the thread's last window: the native instances its pages still
// held are finalized, and the heaps alive stay as many however many windows come and go.
TEST(PageScriptThreadsTest, AThreadsHeapEndsWithItsLastWindow) {
    constexpr int kWindows = 20;
    std::atomic<int> finalized{0};
    const std::size_t heaps = test::LiveScriptHeaps();
    for (int i = 0; i < kWindows; ++i) {
        ThreadWindow window("kept.htm", {}, [&finalized](EngineWindow& w) {
            ASSERT_TRUE(uie::DefineNativeClass(SciterGetVM(w.hwnd), CounterClass(finalized)));
            w.serve[L"/kept.htm"] = "<script>var kept = new Counter(1);</script>";
        });
    }
    EXPECT_EQ(finalized, kWindows);
    EXPECT_EQ(test::LiveScriptHeaps(), heaps);
}

// A page's finalizers run at its heap's end as page code: while one runs, a report of what
// the closing window's thread runs names them.
TEST(PageScriptThreadsTest, FinalizersAtAHeapsEndAreWhatItsThreadRuns) {
    std::atomic<bool> holding{false};
    std::atomic<bool> letGo{false};
    auto hold = std::make_shared<uie::NativeObjectDef>();
    hold->methods = {{"Hold", [&](HVM, const uie::NativeArgs&) {
                          holding = true;
                          WaitFor([&] { return letGo.load(); }, 20s);
                          return value();
                      }}};
    ThreadWindow window("fin.htm", {}, [&hold](EngineWindow& w) {
        ASSERT_TRUE(uie::DefineNativeObject(SciterGetVM(w.hwnd), "hold", hold));
        w.serve[L"/fin.htm"] = "<script>var kept = {}; Duktape.fin(kept, function () { hold.Hold(); });</script>";
    });
    PostMessageW(window.hwnd, WM_CLOSE, 0, 0);  // its last window: the heap ends
    ASSERT_TRUE(WaitFor([&] { return holding.load(); }));
    EXPECT_EQ(uie::RunningScript(window.hwnd), L"the finalizers of its pages");
    letGo = true;
}

// Two windows' threads, each inside its own page's native method, reach for each other's
// page at once: each call runs on its page's thread, which serves it while it waits for its
// own, so both are answered.
TEST(PageScriptThreadsTest, TwoThreadsReachingForEachOthersPageAtOnceAreBothAnswered) {
    constexpr char kPage[] = R"(<script>
function Hold() { return probe.Rendezvous(); }
function Count() { return 1; }
</script>)";
    std::latch meet(2);
    Probe probeA;
    Probe probeB;
    auto with = [&kPage, &meet](Probe& probe) {
        return [&probe, &kPage, &meet](EngineWindow& w) {
            probe.meet = &meet;
            probe.Define(SciterGetVM(w.hwnd));
            w.serve[L"/circle.htm"] = kPage;
        };
    };
    ThreadWindow a("circle.htm", {}, with(probeA));
    ThreadWindow b("circle.htm", {}, with(probeB));
    probeA.other = b.hwnd;
    probeB.other = a.hwnd;
    value reachedA;
    value reachedB;
    testing::internal::CaptureStderr();
    {
        std::jthread t1([&] { SciterCallScriptingFunction(RootOf(a.hwnd), "Hold", nullptr, 0, &reachedA); });
        std::jthread t2([&] { SciterCallScriptingFunction(RootOf(b.hwnd), "Hold", nullptr, 0, &reachedB); });
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(reachedA, value(true));
    EXPECT_EQ(reachedB, value(true));
}

}  // namespace
