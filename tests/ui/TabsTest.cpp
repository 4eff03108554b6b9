#include "Tabs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "UiTestSupport.h"

namespace test = uie::test;

namespace {

constexpr UINT kVkTab = 0x09;
constexpr UINT kVkRight = 0x27;
constexpr UINT kPanelStates = STATE_EXPANDED | STATE_COLLAPSED;

class TabsTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        hwnd_ = Ready("tabs.htm").GetHwnd();
    }
    HELEMENT El(const std::string& id) const { return test::Find(hwnd_, ("#" + id).c_str()); }
    UINT State(const std::string& id) const {
        UINT state = 0;
        SciterGetElementState(El(id), &state);
        return state;
    }
    // Events reach the page on its window's thread, as a user's would.
    bool Send(const std::string& id, UINT group, UINT code, UINT key = 0, UINT modifiers = 0) {
        bool answer = false;
        const HELEMENT target = El(id);
        test::RunInPage(hwnd_, [&] { answer = test::SendEvent(target, group, code, key, modifiers); });
        return answer;
    }
    bool Click(const std::string& id) { return Send(id, HANDLE_MOUSE, MOUSE_DOWN); }
    std::size_t PostedCount() const {
        auto posted = test::PostedEvents();
        return std::count_if(posted.begin(), posted.end(), [this](const auto& r) { return r.hwnd == hwnd_; });
    }
    // The one current tab; null when there is not exactly one.
    HELEMENT Current() const {
        auto current = uie::Select(El("tabs"), ":root>.strip>[panel]:current");
        return current.size() == 1 ? current[0] : nullptr;
    }

    HWND hwnd_ = nullptr;
};

TEST_F(TabsTest, ClickInsideATabSelectsItAndPostsCollapsedThenExpanded) {
    EXPECT_EQ(Current(), El("tab-a"));
    EXPECT_EQ(State("strip") & STATE_CURRENT, STATE_CURRENT);
    EXPECT_EQ(State("panel-a") & kPanelStates, STATE_EXPANDED);
    EXPECT_EQ(State("panel-b"), 0u);

    ASSERT_TRUE(Click("inner-b"));
    EXPECT_EQ(Current(), El("tab-b"));
    EXPECT_EQ(State("panel-b") & kPanelStates, STATE_EXPANDED);
    EXPECT_EQ(State("panel-a") & kPanelStates, STATE_COLLAPSED);
    EXPECT_EQ(uie::Select(El("tabs"), "[selected]"), (std::vector<HELEMENT>{El("tab-b"), El("panel-b")}));

    auto posted = test::PostedEvents();
    std::erase_if(posted, [this](const auto& r) { return r.hwnd != hwnd_; });
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].code, ELEMENT_COLLAPSED);
    EXPECT_EQ(posted[0].target, El("tab-a"));
    EXPECT_EQ(posted[0].source, El("tab-a"));
    EXPECT_EQ(posted[1].code, ELEMENT_EXPANDED);
    EXPECT_EQ(posted[1].target, El("tab-b"));

    EXPECT_TRUE(Click("tab-b"));  // the current tab again changes nothing
    EXPECT_EQ(PostedCount(), 2u);
}

TEST_F(TabsTest, KeysMoveOnlyAlongTabsThatHavePanels) {
    ASSERT_TRUE(Click("tab-d"));
    const std::size_t posted = PostedCount();
    // No wrap-around on the last tab; a strip element without a panel stops the way back.
    EXPECT_FALSE(Send("tab-d", HANDLE_KEY, KEY_DOWN, kVkTab, KEY_CTRL));
    EXPECT_FALSE(Send("tab-d", HANDLE_KEY, KEY_DOWN, kVkTab, KEY_CTRL | KEY_SHIFT));
    EXPECT_EQ(Current(), El("tab-d"));
    EXPECT_EQ(PostedCount(), posted);

    ASSERT_TRUE(Click("tab-q"));
    EXPECT_FALSE(Send("tab-q", HANDLE_KEY, KEY_DOWN, kVkRight));  // the focus is elsewhere
    // With the focus inside, Right reaches a tab whose panel does not exist: nothing changes.
    ASSERT_TRUE(test::SetFocus(El("tab-q")));
    EXPECT_TRUE(Send("tab-q", HANDLE_KEY, KEY_DOWN, kVkRight));
    EXPECT_EQ(Current(), El("tab-q"));
}

TEST_F(TabsTest, SwitchesInARowLeaveExactlyOneExpandedPanel) {
    ASSERT_TRUE(Click("tab-q"));  // its panel's name holds a quote, a bracket and a backslash
    EXPECT_EQ(State("panel-q") & kPanelStates, STATE_EXPANDED);
    ASSERT_TRUE(Send("inner-b", HANDLE_BEHAVIOR_EVENT, ACTIVATE_CHILD));
    ASSERT_TRUE(Click("tab-d"));
    EXPECT_EQ(uie::Select(El("tabs"), ":root>[name]:expanded"), std::vector<HELEMENT>{El("panel-d")});
    EXPECT_EQ(Current(), El("tab-d"));
}

}  // namespace
