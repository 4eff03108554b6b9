#include "Loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "Dom.h"
#include "EngineWindow.h"
#include "internal/State.h"

namespace test = uie::test;

namespace {

// The program's "tabs" behaviour: one instance serves every element that names it.
class TabsProbe : public sciter::event_handler, public sciter::behavior_factory {
public:
    TabsProbe() : behavior_factory("tabs") {}
    event_handler* create(HELEMENT) override { return this; }
    void attached(HELEMENT he) override { attachedTo.push_back(he); }
    bool on_mouse(HELEMENT he, HELEMENT target, UINT type, uie::Point, UINT, UINT) override {
        seen.push_back({he, target, type});
        return type == MOUSE_DOWN;
    }
    std::vector<HELEMENT> attachedTo;
    std::vector<EventSeen> seen;
};

std::vector<test::LoadRecord> LoadsOf(HWND hwnd) {
    auto log = test::LoadLog();
    std::erase_if(log, [hwnd](const test::LoadRecord& r) { return r.hwnd != hwnd; });
    return log;
}

const test::LoadRecord* Record(const std::vector<test::LoadRecord>& log, std::wstring_view suffix) {
    auto it = std::find_if(log.begin(), log.end(), [suffix](const auto& r) { return r.uri.ends_with(suffix); });
    return it != log.end() ? &*it : nullptr;
}

TEST(Loader, BytesFromTheCallbackWinOverTheFile) {
    EngineWindow w;
    w.serve[L"/simple.htm"] = "<p id=\"from-callback\">served</p>";
    ASSERT_TRUE(w.Load("simple.htm"));
    EXPECT_NE(w.Find("#from-callback"), nullptr);
    EXPECT_EQ(w.Find("#from-file"), nullptr);
    auto log = LoadsOf(w.hwnd);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].uri, L"file://" + PagePath("simple.htm"));
    EXPECT_EQ(log[0].source, test::LoadSource::Callback);
    EXPECT_EQ(log[0].size, 32u);
    EXPECT_EQ(w.statuses[log[0].uri], LOAD_STATUS_OK);

    // Without bytes from the host the engine reads the file itself.
    w.serve.clear();
    ASSERT_TRUE(w.Load("simple.htm"));
    EXPECT_NE(w.Find("#from-file"), nullptr);
    EXPECT_EQ(LoadsOf(w.hwnd).back().source, test::LoadSource::File);
}

TEST(Loader, MissingPageFailsAndKeepsThePreviousOne) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("simple.htm"));
    EXPECT_FALSE(w.Load("no-such-page.htm"));
    EXPECT_EQ(LoadsOf(w.hwnd).back().source, test::LoadSource::Missing);
    EXPECT_EQ(w.statuses[L"file://" + PagePath("no-such-page.htm")], LOAD_STATUS_MISSING);
    EXPECT_NE(w.Find("#from-file"), nullptr);

    // A page that exists only as the host's bytes loads.
    w.serve[L"virtual.htm"] = "<p id=v>";
    EXPECT_TRUE(w.Load("virtual.htm"));
    EXPECT_NE(w.Find("#v"), nullptr);
    EXPECT_FALSE(SciterLoadFile(nullptr, PagePath("simple.htm").c_str()));
}

TEST(Loader, FramesAndResourcesLoadRelativeToTheirDocument) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("tabs.htm"));
    const std::wstring dir = L"file://" + PagePath("");
    auto log = LoadsOf(w.hwnd);
    std::vector<std::wstring> uris;
    for (const auto& r : log) uris.push_back(r.uri);
    EXPECT_EQ(uris, (std::vector<std::wstring>{dir + L"tabs.htm", dir + L"styles/main.css", dir + L"scripts/main.tis",
                                               dir + L"frame-a.htm", dir + L"images/logo.png"}));
    EXPECT_EQ(Record(log, L"main.css")->source, test::LoadSource::Missing);
    EXPECT_EQ(Record(log, L"main.tis")->type, RESOURCE_SCRIPT);
    auto script = test::ResourceBytes(w.Root(), dir + L"scripts/main.tis");
    ASSERT_TRUE(script);
    EXPECT_EQ(std::string(script->begin(), script->end()), "// the page script\n");

    // The frame's only child is the root of the frame's document.
    HELEMENT frame = w.Find("#frame");
    UINT count = 0;
    SciterGetChildrenCount(frame, &count);
    ASSERT_EQ(count, 1u);
    HELEMENT frameRoot = nullptr;
    ASSERT_EQ(SciterGetNthChild(frame, 0, &frameRoot), DOM_OK);
    EXPECT_EQ(uie::ElementTag(frameRoot), "html");
    EXPECT_EQ(uie::ElementDocumentUri(frameRoot), dir + L"frame-a.htm");
    HELEMENT parent = nullptr;
    SciterGetParentElement(frameRoot, &parent);
    EXPECT_EQ(parent, frame);
    EXPECT_EQ(uie::Select(frameRoot, "#framed").size(), 1u);

    EngineWindow nested;
    ASSERT_TRUE(nested.Load("two-frames.htm"));
    EXPECT_NE(Record(LoadsOf(nested.hwnd), L"/sub/b.tis"), nullptr);
    EXPECT_EQ(Record(LoadsOf(nested.hwnd), L"/sub/b.tis")->source, test::LoadSource::File);
}

// The frames of the element's subtree, frame documents included: {holding one, empty}.
std::pair<int, int> CountFrames(HELEMENT he) {
    std::pair<int, int> counts{0, 0};
    UINT children = 0;
    SciterGetChildrenCount(he, &children);
    if (uie::ElementTag(he) == "frame") ++(children == 1 ? counts.first : counts.second);
    for (UINT n = 0; n < children; ++n) {
        HELEMENT child = nullptr;
        SciterGetNthChild(he, n, &child);
        const auto below = CountFrames(child);
        counts.first += below.first;
        counts.second += below.second;
    }
    return counts;
}

// Six frames showing their own page again: depth alone would end only after 6^8
// documents, so one load takes 64 frame documents in all and leaves the rest empty.
TEST(Loader, PageFramingItselfEndsAfterAFixedNumberOfDocuments) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("self-framing.htm"));
    const auto log = LoadsOf(w.hwnd);
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& r) { return r.type == RESOURCE_HTML; }), 1 + 64);
    const auto [filled, empty] = CountFrames(w.Root());
    EXPECT_EQ(filled, 64);
    EXPECT_EQ(empty, 65 * 6 - 64);
}

TEST(Loader, AttachBehaviorReachesTheCallbackAndAttachesTheHandler) {
    TabsProbe tabs;  // registered while it lives; outlives the window it is attached in
    EngineWindow w;
    ASSERT_TRUE(w.Load("tabs.htm"));
    EXPECT_EQ(w.behaviors, (std::vector<std::string>{"tabs", "popup-menu"}));
    HELEMENT tabsElement = w.Find("#tabs");
    ASSERT_EQ(tabs.attachedTo, std::vector<HELEMENT>{tabsElement});

    // The handler sees a click inside the strip on the way down and on the way up.
    HELEMENT tab = w.Find("[panel=second]");
    EXPECT_TRUE(test::SendEvent(w.Find("[panel=second] > b"), HANDLE_MOUSE, MOUSE_DOWN));
    ASSERT_EQ(tabs.seen.size(), 2u);
    EXPECT_EQ(tabs.seen[0].type, MOUSE_DOWN | SINKING);
    EXPECT_EQ(tabs.seen[1].type, MOUSE_DOWN);
    EXPECT_EQ(tabs.seen[1].he, tabsElement);
    EXPECT_NE(tabs.seen[1].target, tab);  // the target is the <b> inside the tab
}

TEST(Loader, ParserToleratesEverydayMarkup) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("tabs.htm"));  // starts with a byte-order mark
    HELEMENT second = w.Find("[panel=second]");
    EXPECT_EQ(uie::ElementText(second), std::wstring(L" & \x4e2d<"));
    EXPECT_EQ(uie::ElementTag(w.Find("b")), "b");
    std::wstring v;
    EXPECT_EQ(SciterGetAttributeByName(w.Find("[panel=third]"), "CLASS", &v), DOM_OK);
    EXPECT_EQ(v, L"tab last");
    EXPECT_EQ(SciterGetAttributeByName(w.Find("[name=second] > input"), "checked", &v), DOM_OK);
    EXPECT_EQ(v, L"");
    // The void input does not swallow the text after it; script text is not markup.
    EXPECT_EQ(uie::ElementText(w.Find("[name=second]")), L" second");
    EXPECT_EQ(w.Find("#fake"), nullptr);
    auto scripts = uie::Select(w.Root(), "head > script");
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_EQ(uie::ElementText(scripts[1]).find(L"if (a < b && c)"), 0u);

    EXPECT_EQ(SciterGetMinWidth(w.hwnd), 640u);
    EXPECT_EQ(SciterGetMinHeight(w.hwnd, 600), 480u);
    EXPECT_EQ(test::LastMinHeightWidth(w.hwnd), 600u);
}

// How many ancestors the element has in its document.
unsigned DepthOf(HELEMENT he) {
    unsigned depth = 0;
    for (HELEMENT p = nullptr; SciterGetParentElement(he, &p) == DOM_OK && p != nullptr; he = p) ++depth;
    return depth;
}

std::string Repeat(std::string_view part, std::size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += part;
    return out;
}

TEST(DeepTrees, PagesNestNoDeeperThanTheCapAndFreeCleanly) {
    constexpr std::size_t kDivs = 50000;
    const std::string open = Repeat("<div>", kDivs);
    for (const std::string& page : {open, open + Repeat("</div>", kDivs)}) {
        auto w = std::make_unique<EngineWindow>();
        w->serve[L"/deep.htm"] = page;
        ASSERT_TRUE(w->Load("deep.htm"));
        const auto divs = uie::Select(w->Root(), "div");
        ASSERT_EQ(divs.size(), kDivs);
        EXPECT_EQ(DepthOf(divs.back()), uie::kMaxElementDepth);
        // Everything past the cap sits beside the element at it, and nothing below.
        HELEMENT atCap = nullptr;
        ASSERT_EQ(SciterGetParentElement(divs.back(), &atCap), DOM_OK);
        UINT count = 0;
        SciterGetChildrenCount(atCap, &count);
        EXPECT_EQ(count, kDivs - uie::kMaxElementDepth + 1);
        EXPECT_TRUE(uie::Select(atCap, ":root > * > *").empty());

        w.reset();
        UINT state = 0;
        EXPECT_EQ(SciterGetElementState(divs.back(), &state), DOM_INVALID_HANDLE);
    }
}

// Freeing does not lean on the cap: a chain far deeper than any page frees with a flat
// stack, and a part still held elsewhere keeps its own subtree.
TEST(DeepTrees, FreeingDoesNotRecurse) {
    using uie::detail::Node;
    constexpr int kDepth = 100000;
    auto root = std::make_shared<Node>();
    std::shared_ptr<Node> middle;
    std::weak_ptr<Node> deepest;
    Node* tip = root.get();
    for (int i = 0; i < kDepth; ++i) {
        auto child = std::make_shared<Node>();
        if (i == kDepth / 2) middle = child;
        deepest = child;
        tip->children.push_back(child);
        tip = child.get();
    }
    root.reset();
    ASSERT_EQ(middle->children.size(), 1u);
    EXPECT_FALSE(deepest.expired());
    middle.reset();
    EXPECT_TRUE(deepest.expired());
}

}  // namespace
