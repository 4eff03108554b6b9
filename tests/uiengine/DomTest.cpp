#include "Dom.h"

#include <gtest/gtest.h>

#include "EngineWindow.h"

namespace {

std::wstring Attr(HELEMENT he, const char* name) {
    std::wstring v;
    return SciterGetAttributeByName(he, name, &v) == DOM_OK ? v : L"<none>";
}

// What a selection from `scope` finds, each element named by one attribute.
std::vector<std::wstring> Names(HELEMENT scope, const char* selector, const char* attr) {
    std::vector<std::wstring> out;
    for (HELEMENT he : uie::Select(scope, selector)) out.push_back(Attr(he, attr));
    return out;
}

using Strings = std::vector<std::wstring>;

class DomTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w.Load("tabs.htm"));
        tabs = w.Find("#tabs");
        ASSERT_NE(tabs, nullptr);
    }

    EngineWindow w;
    HELEMENT tabs = nullptr;
};

TEST_F(DomTest, TabsSelectorsSelectFromTheScope) {
    EXPECT_EQ(Names(tabs, ":root > .tab-bar > [panel]", "panel"), (Strings{L"first", L"second", L"third"}));
    EXPECT_EQ(Names(tabs, ":root>.tab-bar>[panel][selected]", "panel"), (Strings{L"first"}));
    EXPECT_EQ(Names(tabs, "[panel=\"second\"]", "panel"), (Strings{L"second"}));
    EXPECT_EQ(Names(tabs, ":root > [name=\"nested\"]", "name"), Strings{});
    EXPECT_EQ(Names(tabs, "[name='nested']", "name"), (Strings{L"nested"}));
    EXPECT_EQ(Names(tabs, ":root > [name]", "name"), (Strings{L"first", L"second", L"third"}));
    EXPECT_EQ(Names(tabs, ":root > .tab-bar > [panel]:current", "panel"), Strings{});

    HELEMENT second = w.Find("[panel=second]");
    SciterSetElementState(second, STATE_CURRENT, 0, TRUE);
    SciterSetElementState(w.Find("[name=third]"), STATE_EXPANDED, 0, FALSE);
    SciterSetElementState(w.Find("[name=nested]"), STATE_EXPANDED, 0, FALSE);
    EXPECT_EQ(Names(tabs, ":root > .tab-bar > [panel]:current", "panel"), (Strings{L"second"}));
    EXPECT_EQ(Names(tabs, ":root > [name]:expanded", "name"), (Strings{L"third"}));
    EXPECT_EQ(Names(tabs, "[name]:expanded", "name"), (Strings{L"third", L"nested"}));

    // :root is the element the selection starts from, not the page's root.
    EXPECT_EQ(Names(w.Root(), ":root > .tab-bar > [panel]", "panel"), Strings{});
    EXPECT_EQ(uie::Select(w.Root(), ":root > body").size(), 1u);
}

TEST_F(DomTest, SelectorForms) {
    EXPECT_EQ(Names(w.Root(), ".tab.last, #menu", "id"), (Strings{L"<none>", L"menu"}));
    EXPECT_EQ(Names(w.Root(), "div.tabs.wide", "id"), (Strings{L"tabs"}));
    EXPECT_EQ(uie::Select(w.Root(), "body span").size(), 3u);  // the framed span stays out
    EXPECT_EQ(uie::Select(w.Root(), "iframe *").size(), 0u);
    EXPECT_EQ(uie::Select(tabs, "*").size(), 11u);
    EXPECT_EQ(uie::Select(w.Root(), "INPUT[checked]").size(), 1u);
    EXPECT_EQ(uie::Select(w.Root(), "input:checked").size(), 0u);  // the attribute is not the state

    HELEMENT found = nullptr;
    for (const char* bad : {"", "div >", "[panel", ":nosuch", "a,,b", "#"}) {
        EXPECT_EQ(SciterSelectElements(tabs, bad, [](HELEMENT, void*) { return FALSE; }, &found),
                  DOM_INVALID_PARAMETER)
            << bad;
    }

    HELEMENT parent = nullptr;
    ASSERT_EQ(SciterSelectParent(w.Find("[panel=second] > b"), "[panel]", 0, &parent), DOM_OK);
    EXPECT_EQ(parent, w.Find("[panel=second]"));
    SciterSelectParent(w.Find("[panel=second] > b"), "#tabs", 2, &parent);
    EXPECT_EQ(parent, nullptr);
    SciterSelectParent(w.Find("[panel=second] > b"), "#tabs", 4, &parent);
    EXPECT_EQ(parent, tabs);
}

TEST_F(DomTest, TreeStatesAttributesAndLocation) {
    UINT count = 0, index = 0;
    SciterGetChildrenCount(tabs, &count);
    EXPECT_EQ(count, 4u);
    HELEMENT child = nullptr;
    ASSERT_EQ(SciterGetNthChild(tabs, 2, &child), DOM_OK);
    SciterGetElementIndex(child, &index);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(SciterGetNthChild(tabs, 4, &child), DOM_INVALID_PARAMETER);
    EXPECT_EQ(child, nullptr);

    HELEMENT tab = w.Find("[panel=second]");
    UINT state = 0;
    SciterSetElementState(tab, STATE_CURRENT | STATE_EXPANDED, 0, TRUE);
    SciterSetElementState(tab, STATE_COLLAPSED, STATE_EXPANDED, TRUE);
    SciterGetElementState(tab, &state);
    EXPECT_EQ(state, STATE_CURRENT | STATE_COLLAPSED);
    EXPECT_EQ(uie::test::ElementUpdateCount(tab), 2u);

    // Focus belongs to one element of the window.
    uie::test::SetFocus(tab);
    uie::test::SetFocus(w.Find("[panel=third]"));
    EXPECT_EQ(Names(w.Root(), ":focus", "panel"), (Strings{L"third"}));

    SciterSetAttributeByName(tab, "selected", L"");
    EXPECT_EQ(Attr(tab, "selected"), L"");
    SciterSetAttributeByName(tab, "selected", nullptr);
    EXPECT_EQ(Attr(tab, "selected"), L"<none>");

    RECT r{};
    SciterGetElementLocation(tab, &r, AREA_VIEW);
    EXPECT_EQ(std::vector<long>({r.left, r.top, r.right, r.bottom}), std::vector<long>({10, 20, 110, 50}));
    SciterGetElementLocation(tab, &r, AREA_SELF);
    EXPECT_EQ(std::vector<long>({r.left, r.top, r.right, r.bottom}), std::vector<long>({0, 0, 100, 30}));
}

// A page's rectangles hold what a Windows RECT holds; a number past 32 bits reads as
// no rectangle, and the element's own size never overflows.
TEST(DomLocation, RectanglesPast32BitsReadAsNone) {
    EngineWindow w;
    ASSERT_TRUE(w.Load("extreme-rects.htm"));
    auto location = [&w](const char* id, UINT areas) {
        RECT r{1, 1, 1, 1};
        SciterGetElementLocation(w.Find(id), &r, areas);
        return std::vector<long>({r.left, r.top, r.right, r.bottom});
    };
    EXPECT_EQ(location("#widest", AREA_SELF), std::vector<long>({0, 0, 4294967295L, 10}));
    for (const char* id : {"#past-32-bits", "#one-past"}) {
        EXPECT_EQ(location(id, AREA_VIEW), std::vector<long>({0, 0, 0, 0})) << id;
        EXPECT_EQ(location(id, AREA_SELF), std::vector<long>({0, 0, 0, 0})) << id;
    }
}

TEST_F(DomTest, UsedElementOutlivesAReloadOthersFailCleanly) {
    HELEMENT kept = w.Find("[panel=second]");
    HELEMENT dropped = w.Find("[panel=third]");
    ASSERT_EQ(Sciter_UseElement(kept), DOM_OK);
    dom::element held(w.Find("[name=second]"));

    ASSERT_TRUE(w.Load("simple.htm"));
    EXPECT_EQ(Attr(kept, "panel"), L"second");
    EXPECT_EQ(SciterSetElementState(kept, STATE_CURRENT, 0, FALSE), DOM_OK);
    EXPECT_EQ(held.child(0).get_element_type(), "input");
    // Nothing that needs the page works on them any more.
    HELEMENT parent = nullptr;
    EXPECT_EQ(SciterGetParentElement(kept, &parent), DOM_INVALID_HANDLE);
    EXPECT_EQ(SciterPostEvent(kept, ELEMENT_EXPANDED, kept, 0), DOM_INVALID_HANDLE);
    EXPECT_TRUE(uie::Select(kept, "*").empty());
    EXPECT_FALSE(SciterCallScriptingFunction(kept, "Anything", nullptr, 0, nullptr));

    EXPECT_EQ(Attr(dropped, "panel"), L"<none>");
    EXPECT_EQ(SciterGetElementState(dropped, nullptr), DOM_INVALID_PARAMETER);
    UINT state = 0;
    EXPECT_EQ(SciterGetElementState(dropped, &state), DOM_INVALID_HANDLE);

    ASSERT_EQ(Sciter_UnuseElement(kept), DOM_OK);
    EXPECT_EQ(Attr(kept, "panel"), L"<none>");
    EXPECT_EQ(Sciter_UnuseElement(kept), DOM_INVALID_HANDLE);
}

}  // namespace
