// Page code of windows on different threads, through the built program in the demo run
// (scripts/demo_run.sh): pages of the test's copy of the program folder are changed so that
// a window on a thread of its own keeps reaching into the main window's thread, never ends,
// trades page calls with the main page or works for seconds, while the main window's page is
// called all along.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Hooks.h"
#include "LogReader.h"
#include "ProgramCopy.h"
#include "Text.h"
#include "WaitFor.h"

namespace fs = std::filesystem;

namespace {

// The shipped pages, which the build stores scrambled in the program folder.
const fs::path kShippedPages = fs::path(QUORV_DEMO_RUN).parent_path().parent_path() / "resources" / "content";

// The main page calls itself through a native every 10 ms: each time a page call made by the
// main window's thread under its page's script-call lock, and this line on the program's output when
// it is answered. Every tenth tick of its timer, answered or not, is logged.
constexpr const char* kMainTick = "[quorvix.htm] MainTick()";
constexpr const wchar_t* kTenMainTicks = L"main page: ten ticks";
constexpr const char* kMainTicks = R"(
var ticks = 0;
function MainTick() {}
function Tick() {
  if (++ticks % 10 == 0) share.WriteLog("main page: ten ticks");
  share.RemoteCall([{rootID: "quorvix", funcName: "MainTick", funcParaFlag: 0}]);
  setTimeout(Tick, 10);
}
setTimeout(Tick, 10);
)";

class DemoPageThreadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Both ends are on 127.0.0.1, but the program sends nothing while it thinks itself offline.
        if (!InternetGetConnectedState(nullptr, 0)) GTEST_SKIP() << "no network interface is up";
        fs::create_directories(program_.Dir() / "tmp");
    }

    // The shipped page (a path below content/) with `script` added to its first script, in
    // the copy as a plain page, which the program reads where it finds no scrambled one.
    void ChangePage(const std::string& page, const std::string& script) const {
        std::string text = ReadFileBytes(kShippedPages / page);
        const std::size_t end = text.find("</script>");
        ASSERT_NE(end, std::string::npos) << page;
        text.insert(end, script);
        const fs::path plain = program_.Folder() / "content" / page;
        ASSERT_TRUE(fs::remove(fs::path(plain).replace_extension(".uih"))) << page;
        std::ofstream(plain) << text;
    }

    void Start(const std::vector<std::string>& extra = {}) {
        const std::string home = program_.Dir().Path().string();
        std::vector<std::string> args{QUORV_DEMO_RUN, "--bin", QUORV_DEMO_BIN, "--program", program_.Folder().string(),
                                      "--port",       "0",     "--tree",       home + "/devices"};
        args.insert(args.end(), extra.begin(), extra.end());
        run_ = std::make_unique<ChildProcess>(
            "/bin/bash", args, program_.Dir() / "run.out",
            std::vector<std::string>{"HOME=" + home, "XDG_RUNTIME_DIR=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                                     "TMPDIR=" + home + "/tmp", "QUORV_SYSFS_ROOT=", "QUORV_DEV_ROOT=",
                                     "QUORV_COMPORTS="});
        ASSERT_TRUE(run_->Started());
    }
    // One SIGINT, as Ctrl-C; the demo's exit status, which is the program's.
    std::optional<int> Interrupt() {
        run_->Signal(SIGINT);
        return run_->Wait(budget_.Left());
    }

    // Each wait may take what the case's earlier ones left, less what the exit keeps.
    bool Within(const std::function<bool()>& condition) const {
        return WaitFor(condition, budget_.Left(ProgramCopy::kTimeout));
    }
    int Lines(const std::string& line) const { return CountOf(Output(), line + "\n"); }
    bool Logged(const std::wstring& text) const { return program_.Log().find(text) != std::wstring::npos; }
    int TimesLogged(const std::wstring& text) const { return CountOf(program_.Log(), text); }
    // Nothing was given up: no page call waited past its bound for another thread.
    void ExpectNothingGivenUp() const { EXPECT_FALSE(Logged(L"given up after")) << Trace(); }
    std::string Output() const { return ReadFileBytes(program_.Dir() / "run.out"); }
    std::string Trace() const { return Output() + text::ToUtf8(program_.Log()); }

    ProgramCopy program_{QUORV_DIST_DIR};
    std::unique_ptr<ChildProcess> run_;
    const WaitBudget budget_{ProgramCopy::kCaseBound};
};

TEST_F(DemoPageThreadsTest, AnOwnThreadPageShowingAMainThreadWindowEvery5MsHoldsNeitherThread) {
    ChangePage("quorvix.htm", kMainTicks);
    ChangePage("theme/pedometer/default.htm", R"(
var shown = 0;
function ShowMessageWin() {
  alert.ShowWindow("MessageWin", 1);
  if (++shown % 100 == 0) share.WriteLog("pedometer page: MessageWin shown " + shown + " times");
  setTimeout(ShowMessageWin, 5);
}
setTimeout(ShowMessageWin, 5);
)");
    Start();
    ASSERT_TRUE(Within([&] { return Logged(L"MessageWin shown 100 times"); })) << Trace();
    const int ticks = Lines(kMainTick);
    EXPECT_TRUE(Within([&] { return Logged(L"MessageWin shown 300 times") && Lines(kMainTick) >= ticks + 100; }))
        << Trace();
    EXPECT_EQ(Interrupt(), 0) << Trace();
    ExpectNothingGivenUp();
}

TEST_F(DemoPageThreadsTest, APedometerPageThatNeverEndsHoldsItsOwnWindowOnly) {
    ChangePage("quorvix.htm", kMainTicks);
    ChangePage("theme/pedometer/default.htm", R"(
setTimeout(function () {
  share.WriteLog("pedometer page: loops from now");
  for (;;) {}
}, 300);
)");
    Start();
    ASSERT_TRUE(Within([&] { return Logged(L"pedometer page: loops from now"); })) << Trace();
    const int ticks = Lines(kMainTick);
    EXPECT_TRUE(Within([&] { return Lines(kMainTick) >= ticks + 100; })) << Trace();

    // The orderly end waits for the main window's thread, not for the pedometer window's.
    EXPECT_EQ(Interrupt(), 0) << Trace();
    EXPECT_TRUE(Logged(L"CSciterWindow::RunThread[Main] exit over."));
    EXPECT_FALSE(Logged(L"CSciterWindow::RunThread[PedometerWin] exit")) << "the page was to loop to the end";
}

TEST_F(DemoPageThreadsTest, TheMainPageAndTheNotePopUpCallingEachOtherBothGetTheirAnswers) {
    // The main page calls the note pop-up's page (its own thread), which calls back into the
    // main page from within that call and, from its first call on, from a timer of its own.
    ChangePage("quorvix.htm", R"(
function FromNote() {}
function Echo(n) { return n; }
function CallNote() {
  share.RemoteCall([{rootID: "popWin_note", funcName: "FromMain", funcParaFlag: 0}]);
  setTimeout(CallNote, 10);
}
setTimeout(CallNote, 10);
)");
    ChangePage("float-h-note/default.htm", R"(
var fromMain = 0;
function FromMain() {
  if (++fromMain == 1) setTimeout(CallMain, 10);
  share.RemoteCall([{rootID: "quorvix", funcName: "Echo", funcParaFlag: 1, funcPara: String(fromMain)}]);
}
function CallMain() {
  share.RemoteCall([{rootID: "quorvix", funcName: "FromNote", funcParaFlag: 0}]);
  setTimeout(CallMain, 10);
}
)");
    Start({"--no-devices"});
    EXPECT_TRUE(Within([&] {
        return Lines("[default.htm] FromMain()") >= 200 && Lines("[quorvix.htm] Echo(\"200\")") == 1 &&
               Lines("[quorvix.htm] FromNote()") >= 200;
    })) << Trace();
    EXPECT_EQ(Interrupt(), 0) << Trace();
    ExpectNothingGivenUp();
}

// At the bound's edge, honestly: a page function that works for 2 s under its own page's
// script-call lock (the note pop-up's, called by its own window) holds no other window, and
// one that works for 2 s on the main window's thread, called from the note pop-up's, is
// answered there.
TEST_F(DemoPageThreadsTest, APageFunctionThatWorksForTwoSecondsIsWaitedForAndAnswered) {
    constexpr const char* kWork = R"(
function Work(who) {
  var end = Date.now() + 2000;
  while (Date.now() < end) {}
  share.WriteLog(who + " worked 2 s");
}
)";
    ChangePage("quorvix.htm", std::string(kMainTicks) + kWork);
    ChangePage("float-h-note/default.htm", std::string(kWork) + R"(
setTimeout(function () {
  share.RemoteCall([{rootID: "popWin_note", funcName: "Work", funcParaFlag: 1, funcPara: "the note page"}]);
  share.RemoteCall([{rootID: "quorvix", funcName: "Work", funcParaFlag: 1, funcPara: "the main page"}]);
  share.WriteLog("note page: both calls answered");
}, 10);
)");
    Start({"--no-devices"});
    // The calls' lines reach the output a moment after the calls.
    ASSERT_TRUE(Within([&] {
        return Logged(L"note page: both calls answered") && Lines("[default.htm] Work(\"the note page\")") == 1 &&
               Lines("[quorvix.htm] Work(\"the main page\")") == 1;
    })) << Trace();
    const int ticks = Lines(kMainTick);
    EXPECT_TRUE(Within([&] { return Lines(kMainTick) >= ticks + 100; })) << Trace();
    EXPECT_EQ(Interrupt(), 0) << Trace();
    ExpectNothingGivenUp();
}

// A call from the main window into the note pop-up's page while that page's timer never ends is
// given up after the bound, naming what the pop-up's thread runs, and the main page goes on.
TEST_F(DemoPageThreadsTest, ACallIntoAPageThatNeverEndsIsGivenUpAndTheCallerGoesOn) {
    ChangePage("quorvix.htm", std::string(kMainTicks) + R"(
function CallNote() { share.RemoteCall([{rootID: "popWin_note", funcName: "Hello", funcParaFlag: 0}]); }
function NoteLoops() { setTimeout(CallNote, 10); }
)");
    // The main page's call comes after the pop-up's thread is back in its page, which never
    // serves a message again.
    ChangePage("float-h-note/default.htm", R"(
function Hello() {}
setTimeout(function () {
  share.RemoteCall([{rootID: "quorvix", funcName: "NoteLoops", funcParaFlag: 0}]);
  for (;;) {}
}, 10);
)");
    Start({"--no-devices"});
    ASSERT_TRUE(Within([&] {
        return Logged(L"[default.htm] Hello: given up after 5000 ms, its window's thread runs a timer of [default.htm]");
    })) << Trace();
    const int ticks = Lines(kMainTick);
    EXPECT_TRUE(Within([&] { return Lines(kMainTick) >= ticks + 100; })) << Trace();
    EXPECT_EQ(Interrupt(), 0) << Trace();
    EXPECT_EQ(Lines("[default.htm] Hello()"), 0);
}

// A page function that never returns under its own page's script-call lock (the pedometer
// page's PageInit, which its window calls as the device arrives) holds that window only: the
// main page is called and answered all along.
TEST_F(DemoPageThreadsTest, APageInitThatNeverReturnsHoldsNoOtherWindow) {
    ChangePage("quorvix.htm", kMainTicks);
    ChangePage("theme/pedometer/default.htm", R"(
function PageInit(flag) { share.WriteLog("pedometer page: PageInit forever"); for (;;) {} }
)");
    Start();
    ASSERT_TRUE(Within([&] { return Logged(L"pedometer page: PageInit forever"); })) << Trace();
    const int ticks = Lines(kMainTick);
    EXPECT_TRUE(Within([&] { return Lines(kMainTick) >= ticks + 100; })) << Trace();
    EXPECT_EQ(Interrupt(), 0) << Trace();
}

}  // namespace
