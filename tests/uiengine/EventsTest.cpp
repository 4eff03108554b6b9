#include "Events.h"

#include <gtest/gtest.h>

#include <mutex>

#include "EngineWindow.h"
#include "WaitFor.h"

using namespace std::chrono_literals;
using uie::value;
namespace test = uie::test;

namespace {

// An element handler that notes every behaviour event it sees in a shared trace.
class Tracer : public sciter::event_handler {
public:
    Tracer(std::string name, std::vector<std::string>& trace) : name_(std::move(name)), trace_(trace) {}
    bool on_event(HELEMENT, HELEMENT, UINT type, UINT_PTR) override {
        trace_.push_back(name_ + ((type & SINKING) != 0 ? ":down" : ":up"));
        return stopOn == type;
    }
    UINT stopOn = 0xFFFFFFFF;

private:
    std::string name_;
    std::vector<std::string>& trace_;
};

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w.Load("tabs.htm"));
        w.answer = [this](UINT type) {
            trace.push_back((type & SINKING) != 0 ? "window:down" : "window:up");
            return windowStopsOn == type;
        };
        ASSERT_TRUE(uie::AttachElementHandler(w.Find("#tabs"), &outer));
        ASSERT_TRUE(uie::AttachElementHandler(w.Find("[panel=second]"), &inner));
    }

    std::vector<std::string> trace;
    Tracer outer{"tabs", trace};
    Tracer inner{"tab", trace};
    UINT windowStopsOn = 0xFFFFFFFF;
    EngineWindow w;  // after the tracers: the page lets go of them before they go
};

TEST_F(EventsTest, SinksFromTheWindowThenBubblesBack) {
    HELEMENT target = w.Find("[panel=second] > b");
    EXPECT_FALSE(test::SendEvent(target, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK));
    EXPECT_EQ(trace, (std::vector<std::string>{"window:down", "tabs:down", "tab:down", "tab:up", "tabs:up",
                                               "window:up"}));
    ASSERT_FALSE(w.events.empty());
    EXPECT_EQ(w.events[0].type, 0x8000u);  // a button click seen on its way down
    EXPECT_EQ(w.events[0].he, w.Root());
    EXPECT_EQ(w.events[0].target, target);
}

TEST_F(EventsTest, FirstTrueAnswerEndsTheEvent) {
    HELEMENT target = w.Find("[panel=second]");
    windowStopsOn = BUTTON_CLICK | SINKING;
    EXPECT_TRUE(test::SendEvent(target, HANDLE_BEHAVIOR_EVENT, BUTTON_CLICK));
    EXPECT_EQ(trace, std::vector<std::string>{"window:down"});

    trace.clear();
    windowStopsOn = 0xFFFFFFFF;
    inner.stopOn = MENU_ITEM_CLICK;
    EXPECT_TRUE(test::SendEvent(target, HANDLE_BEHAVIOR_EVENT, MENU_ITEM_CLICK));
    EXPECT_EQ(trace, (std::vector<std::string>{"window:down", "tabs:down", "tab:down", "tab:up"}));

    // A handler only hears the groups it subscribed to.
    trace.clear();
    EXPECT_FALSE(test::SendEvent(target, HANDLE_KEY, KEY_DOWN, 9, KEY_CTRL));
    EXPECT_TRUE(trace.empty());
}

TEST_F(EventsTest, PageScriptCallsClimbToTheWindow) {
    auto out = test::PageScriptCall(w.Find("[panel=second]"), "debug", {value(L"a"), value(1)});
    EXPECT_TRUE(out.handled);
    EXPECT_EQ(out.result, value(L"a 1 "));
    EXPECT_FALSE(test::PageScriptCall(w.Find("[panel=second]"), "shell-exec", {}).handled);
}

TEST(PostedEvents, AreDeliveredOnTheOwnerThread) {
    std::atomic<DWORD> deliveredOn{0};
    ThreadWindow tw("tabs.htm", [&deliveredOn](EngineWindow& w) {
        w.answer = [&deliveredOn](UINT type) {
            if (type == ELEMENT_EXPANDED) deliveredOn = GetCurrentThreadId();
            return false;
        };
    });
    HELEMENT tab = test::Find(tw.hwnd, "[panel=third]");
    ASSERT_EQ(SciterPostEvent(tab, ELEMENT_EXPANDED, tab, 0), DOM_OK);
    ASSERT_TRUE(WaitFor([&] { return deliveredOn != 0; }));
    EXPECT_EQ(deliveredOn, tw.owner);
    EXPECT_NE(deliveredOn, GetCurrentThreadId());

    auto posted = test::PostedEvents();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().target, tab);
    EXPECT_EQ(posted.back().code, ELEMENT_EXPANDED);
    EXPECT_EQ(posted.back().postedOn, GetCurrentThreadId());
    EXPECT_EQ(posted.back().deliveredOn, tw.owner);
}

// The engine's message carries only the engine's own work: whatever else a post of it holds
// (a number that once took a pointer to a test's function) is ignored, and the window goes on.
TEST(PostedEvents, AnEngineMessageOfAnyOtherKindCallsNothing) {
    std::atomic<bool> expanded{false};
    ThreadWindow tw("tabs.htm", [&expanded](EngineWindow& w) {
        w.answer = [&expanded](UINT type) { return expanded = expanded || type == ELEMENT_EXPANDED; };
    });
    for (WPARAM kind : {WPARAM{1}, WPARAM{3}, WPARAM{0xFFFF}})
        ASSERT_TRUE(PostMessageW(tw.hwnd, uie::kEngineMessage, kind, static_cast<LPARAM>(0x5EEDF00D)));
    HELEMENT tab = test::Find(tw.hwnd, "[panel=third]");
    ASSERT_EQ(SciterPostEvent(tab, ELEMENT_EXPANDED, tab, 0), DOM_OK);
    EXPECT_TRUE(WaitFor([&] { return expanded.load(); }));
}

class PageFunctionsTest : public ::testing::Test {
protected:
    void TearDown() override { test::PageHost::Reset(); }
};

TEST_F(PageFunctionsTest, SameNameInTwoFramesReachesTwoHandlers) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("two-frames.htm"));
    HELEMENT left = nullptr, right = nullptr;
    ASSERT_EQ(SciterGetNthChild(w.Find("#left"), 0, &left), DOM_OK);
    ASSERT_EQ(SciterGetNthChild(w.Find("#right"), 0, &right), DOM_OK);
    std::vector<std::string> reached;
    test::PageHost::Register(left, "Refresh", [&](const test::PageCall& c) {
        reached.push_back("left");
        return value(static_cast<int>(c.args.size()));
    });
    test::PageHost::Register(right, "Refresh", [&](const test::PageCall& c) {
        reached.push_back("right");
        EXPECT_EQ(c.root, right);
        EXPECT_EQ(c.vm, SciterGetVM(w.hwnd));
        return c.args.at(0);
    });

    const std::uint64_t before = test::PageHost::LastSeq();
    VALUE arg(L"x"), result;
    EXPECT_TRUE(SciterCallScriptingFunction(right, "Refresh", &arg, 1, &result));
    EXPECT_EQ(result, arg);
    EXPECT_TRUE(SciterCallScriptingFunction(left, "Refresh", &arg, 1, &result));
    EXPECT_EQ(result, value(1));
    EXPECT_EQ(reached, (std::vector<std::string>{"right", "left"}));

    // The main document has no such function: the call fails and is still recorded.
    EXPECT_FALSE(SciterCallScriptingFunction(w.Root(), "Refresh", &arg, 1, &result));
    EXPECT_TRUE(result.is_undefined());
    auto calls = test::PageHost::Calls();
    std::erase_if(calls, [before](const test::PageCallRecord& c) { return c.seq <= before; });
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].uri.ends_with(L"/sub/frame-b.htm"));
    EXPECT_TRUE(calls[0].ok);
    EXPECT_EQ(calls[0].args, std::vector<value>{arg});
    EXPECT_EQ(calls[2].uri, L"file://" + PagePath("two-frames.htm"));
    EXPECT_FALSE(calls[2].ok);

    dom::element root = dom::element::root_element(w.hwnd);
    EXPECT_THROW(root.call_function("Missing", {value(1)}), uie::script_error);
    EXPECT_THROW(root.call_method("Stop"), uie::script_error);
}

TEST_F(PageFunctionsTest, PreparedBeforeTheLoadOnAnotherThread) {
    std::atomic<DWORD> ranOn{0};
    test::PageHost::RegisterForPage(L"/tabs.htm", "UpdateLoginStatusInfo", [&ranOn](const test::PageCall& c) {
        ranOn = GetCurrentThreadId();
        return value(static_cast<int>(c.args.at(0).get_string().size()));
    });
    test::PageHost::RegisterMethodForPage(L"/tabs.htm", L"menu", "Stop", [](const test::PageCall&) {
        return value(true);
    });
    ThreadWindow tw("tabs.htm");

    value result;
    test::RunInPage(tw.hwnd, [&] {
        value status(L"\x52a0\x8f7d...");
        SciterCallScriptingFunction(test::Find(tw.hwnd, ":root"), "UpdateLoginStatusInfo", &status, 1, &result);
    });
    EXPECT_EQ(ranOn, tw.owner);
    EXPECT_EQ(result, value(5));
    auto call = test::PageHost::WaitForCall("UpdateLoginStatusInfo", 1000ms);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->thread, tw.owner);
    EXPECT_EQ(call->hwnd, tw.hwnd);

    EXPECT_TRUE(SciterCallScriptingMethod(test::Find(tw.hwnd, "#menu"), "Stop", nullptr, 0, &result));
    EXPECT_EQ(result, value(true));
    EXPECT_FALSE(SciterCallScriptingMethod(test::Find(tw.hwnd, "#tabs"), "Stop", nullptr, 0, &result));
}

// How much the engine has recorded so far.
struct RecordCounts {
    std::size_t loads;
    std::size_t posted;
    std::uint64_t calls;
    bool operator==(const RecordCounts&) const = default;
};

RecordCounts CountRecords() {
    return {test::LoadLog().size(), test::PostedEvents().size(), test::PageHost::LastSeq()};
}

using RecordingTest = PageFunctionsTest;

TEST_F(RecordingTest, OffKeepsNoRecordsWhileFunctionsAndEventsStillWork) {
    std::atomic<int> delivered{0}, pinged{0};
    test::PageHost::RegisterForPage(L"/tabs.htm", "Ping", [&pinged](const test::PageCall&) {
        ++pinged;
        return value(true);
    });
    // A load, a posted event and a page call.
    auto loadPostAndCall = [&delivered](HWND hwnd) {
        const int expected = delivered + 1;
        test::RunInPage(hwnd, [hwnd] { EXPECT_TRUE(SciterLoadFile(hwnd, PagePath("tabs.htm").c_str())); });
        HELEMENT tab = test::Find(hwnd, "[panel=third]");
        EXPECT_EQ(SciterPostEvent(tab, ELEMENT_EXPANDED, tab, 0), DOM_OK);
        EXPECT_TRUE(WaitFor([&] { return delivered == expected; }));
        value result;
        EXPECT_TRUE(SciterCallScriptingFunction(tab, "Ping", nullptr, 0, &result));
    };

    const RecordCounts before = CountRecords();
    test::Recording off(false);
    ThreadWindow tw("tabs.htm", [&delivered](EngineWindow& w) {
        w.answer = [&delivered](UINT type) {
            if (type == ELEMENT_EXPANDED) ++delivered;
            return false;
        };
    });
    loadPostAndCall(tw.hwnd);
    EXPECT_EQ(pinged, 1);
    EXPECT_EQ(CountRecords(), before);

    test::Recording on;
    loadPostAndCall(tw.hwnd);
    EXPECT_EQ(pinged, 2);
    const RecordCounts after = CountRecords();
    EXPECT_GT(after.loads, before.loads);
    ASSERT_EQ(after.posted, before.posted + 1);
    EXPECT_EQ(test::PostedEvents().back().deliveredOn, tw.owner);
    EXPECT_TRUE(test::PageHost::WaitForCall("Ping", 1000ms, before.calls));
}

}  // namespace
