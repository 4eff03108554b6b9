#include "PageCalls.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Dom.h"
#include "EngineWindow.h"

using namespace std::chrono_literals;
using uie::value;
namespace test = uie::test;

namespace {

struct Outcome {
    bool ok;
    value result;
    std::string written;  // to standard error
};

// A page whose scripts (inline, in a fetched file and in a frame) declare functions.
class DeclaredFunctionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w.Load("declared.htm"));
        ASSERT_EQ(SciterGetNthChild(w.Find("#frame"), 0, &frameRoot), DOM_OK);
    }
    void TearDown() override { test::PageHost::Reset(); }

    static Outcome Call(HELEMENT he, const char* name, std::vector<value> args = {}) {
        value result(L"untouched");
        testing::internal::CaptureStderr();
        const BOOL ok = SciterCallScriptingFunction(he, name, args.data(), static_cast<UINT>(args.size()), &result);
        return {ok != FALSE, result, testing::internal::GetCapturedStderr()};
    }

    EngineWindow w;
    HELEMENT frameRoot = nullptr;
};

TEST_F(DeclaredFunctionsTest, OnlyWholeDeclarationsInScriptsAreFunctions) {
    for (const char* name : {"UpdateLoginStatusInfo", "spaced", "NextLine", "$_Money9", "MainOnly", "FromFile"}) {
        SCOPED_TRACE(name);
        const Outcome out = Call(w.Root(), name);
        EXPECT_TRUE(out.ok);
        EXPECT_TRUE(out.result.is_undefined());
        EXPECT_EQ(out.written, "[declared.htm] " + std::string(name) + "()\n");
    }
    // Words that merely contain "function", an anonymous function's parameter, and
    // declarations outside script text.
    for (const char* name : {"notAFunc", "Tail", "functionTail", "myfunction", "anonymousArg", "InStyle", "InText"}) {
        SCOPED_TRACE(name);
        const Outcome out = Call(w.Root(), name);
        EXPECT_FALSE(out.ok);
        EXPECT_TRUE(out.result.is_undefined());
        EXPECT_EQ(out.written, "");
    }
    // A declared function is not a method of an element's script object.
    EXPECT_FALSE(SciterCallScriptingMethod(w.Find("#status"), "MainOnly", nullptr, 0, nullptr));
}

TEST_F(DeclaredFunctionsTest, EachDocumentKnowsOnlyItsOwnScripts) {
    const auto framed = uie::Select(frameRoot, "#framed");  // any element of the frame's document
    ASSERT_EQ(framed.size(), 1u);
    const Outcome inFrame = Call(framed[0], "FrameOnly", {value(1)});
    EXPECT_TRUE(inFrame.ok);
    EXPECT_EQ(inFrame.written, "[declared-frame.htm] FrameOnly(1)\n");
    EXPECT_FALSE(Call(w.Root(), "FrameOnly").ok);
    EXPECT_FALSE(Call(frameRoot, "MainOnly").ok);
    EXPECT_FALSE(Call(frameRoot, "FromFile").ok);  // the script file belongs to the main page
}

TEST_F(DeclaredFunctionsTest, CallsAreRecordedAndHandlersRunInstead) {
    const std::uint64_t before = test::PageHost::LastSeq();
    Call(frameRoot, "FrameOnly", {value(L"x")});
    const auto declared = test::PageHost::WaitForCall("FrameOnly", 0ms, before);
    ASSERT_TRUE(declared);
    EXPECT_TRUE(declared->ok);
    EXPECT_TRUE(declared->result.is_undefined());
    EXPECT_EQ(declared->args, std::vector<value>{value(L"x")});
    EXPECT_EQ(declared->uri, L"file://" + PagePath("declared-frame.htm"));

    ASSERT_TRUE(test::PageHost::Register(w.hwnd, "MainOnly", [](const test::PageCall&) { return value(7); }));
    const Outcome handled = Call(w.Root(), "MainOnly");
    EXPECT_TRUE(handled.ok);
    EXPECT_EQ(handled.result, value(7));
    EXPECT_EQ(handled.written, "");
    // The frame's function of the same name stays the declared one.
    ASSERT_TRUE(test::PageHost::Register(w.hwnd, "FrameOnly", [](const test::PageCall&) { return value(8); }));
    EXPECT_EQ(Call(frameRoot, "FrameOnly").written, "[declared-frame.htm] FrameOnly()\n");
}

TEST_F(DeclaredFunctionsTest, TheLineShowsThePageFileAndTheArgumentsAsJson) {
    value user = value::make_map();
    user.set_item(value(L"name"), value(L"a\"b"));
    user.set_item(value(L"age"), value(42));
    const Outcome out = Call(w.Root(), "UpdateLoginStatusInfo", {value(L"加载完成..."), value(-3), user});
    EXPECT_EQ(out.written, "[declared.htm] UpdateLoginStatusInfo(\"加载完成...\",-3,{\"name\":\"a\\\"b\",\"age\":42})\n");

    // A page the host hands over is named by the URI it was asked for.
    w.serve[L"/handed.htm"] = "<script>function Handed() {}</script>";
    ASSERT_TRUE(w.Load("handed.htm"));
    EXPECT_EQ(Call(w.Root(), "Handed").written, "[handed.htm] Handed()\n");
}

TEST_F(DeclaredFunctionsTest, LinesFromSeveralThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kCalls = 200;
    const std::wstring text(300, L'x');
    const std::string expected = "[declared.htm] spaced(\"" + std::string(300, 'x') + "\",1)";
    const HELEMENT root = w.Root();
    testing::internal::CaptureStderr();
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                const value args[] = {value(text), value(1)};
                for (int i = 0; i < kCalls; ++i) SciterCallScriptingFunction(root, "spaced", args, 2, nullptr);
            });
        }
    }
    std::istringstream written(testing::internal::GetCapturedStderr());
    int lines = 0;
    for (std::string line; std::getline(written, line); ++lines) ASSERT_EQ(line, expected);
    EXPECT_EQ(lines, kThreads * kCalls);
}

}  // namespace
