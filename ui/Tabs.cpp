#include "Tabs.h"

namespace sciter {
namespace {

constexpr UINT kVkTab = 0x09;
constexpr UINT kVkEnd = 0x23;
constexpr UINT kVkHome = 0x24;
constexpr UINT kVkLeft = 0x25;
constexpr UINT kVkRight = 0x27;

bool Same(const dom::element& a, const dom::element& b) { return static_cast<HELEMENT>(a) == static_cast<HELEMENT>(b); }

// Whether the focus is on the tab or on something inside it.
bool FocusIn(const dom::element& tabsEl, const dom::element& tab) {
    if (!tab.is_valid()) return false;
    for (dom::element el = tabsEl.find_first(":focus"); el.is_valid() && !Same(el, tabsEl); el = el.parent()) {
        if (Same(el, tab)) return true;
    }
    return false;
}

}  // namespace

tabs& tabs::Instance() {
    static tabs instance;
    return instance;
}

bool tabs::subscription(HELEMENT, UINT& groups) {
    groups = HANDLE_MOUSE | HANDLE_KEY | HANDLE_FOCUS | HANDLE_BEHAVIOR_EVENT;
    return true;
}

void tabs::attached(HELEMENT he) {
    const dom::element tabsEl(he);
    const dom::element tab = tabsEl.find_first(":root>.strip>[panel][selected]");
    if (!tab.is_valid()) return;
    const dom::element panel = panel_named(tabsEl, tab.get_attribute("panel"));
    if (!panel.is_valid()) return;
    panel.set_state(STATE_EXPANDED, STATE_COLLAPSED);
    tab.parent().set_state(STATE_CURRENT);
    tab.set_state(STATE_CURRENT);
}

bool tabs::on_mouse(HELEMENT he, HELEMENT target, UINT eventType, uie::Point, UINT, UINT) {
    if (eventType != MOUSE_DOWN && eventType != MOUSE_DCLICK) return false;
    const dom::element tabsEl(he);
    const dom::element tab = tab_under(tabsEl, target);
    return tab.is_valid() && select_tab(tabsEl, tab);
}

bool tabs::on_key(HELEMENT he, HELEMENT, UINT eventType, UINT keyCode, UINT modifiers) {
    if (eventType != KEY_DOWN) return false;
    const dom::element tabsEl(he);
    const dom::element current = tabsEl.find_first(":root>.strip>[panel]:current");
    switch (keyCode) {
        case kVkTab:
            if ((modifiers & KEY_CTRL) == 0) return false;
            return select_neighbour(tabsEl, current, (modifiers & KEY_SHIFT) != 0 ? -1 : 1);
        case kVkEnd: return FocusIn(tabsEl, current) && select_neighbour(tabsEl, current, 2);
        case kVkHome: return FocusIn(tabsEl, current) && select_neighbour(tabsEl, current, -2);
        case kVkLeft: return FocusIn(tabsEl, current) && select_neighbour(tabsEl, current, -1);
        case kVkRight: return FocusIn(tabsEl, current) && select_neighbour(tabsEl, current, 1);
        default: return false;
    }
}

bool tabs::on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR) {
    if (type != ACTIVATE_CHILD) return false;
    const dom::element tabsEl(he);
    const dom::element tab = tab_under(tabsEl, target);
    if (tab.is_valid()) select_tab(tabsEl, tab);
    return true;
}

bool tabs::select_tab(const dom::element& tabsEl, const dom::element& tab) {
    if (tab.get_state(STATE_CURRENT)) return true;
    const dom::element oldPanel = tabsEl.find_first(":root>[name]:expanded");
    const dom::element oldTab = tabsEl.find_first(":root>.strip>[panel]:current");
    const dom::element newPanel = panel_named(tabsEl, tab.get_attribute("panel"));
    if (!newPanel.is_valid() || !tab.is_valid()) return true;

    // Collapsing clears expanded (and expanding clears collapsed), so exactly one
    // panel is ever found expanded.
    if (oldPanel.is_valid()) {
        oldPanel.remove_attribute("selected");
        oldPanel.set_state(STATE_COLLAPSED, STATE_EXPANDED);
    }
    if (oldTab.is_valid()) {
        oldTab.remove_attribute("selected");
        oldTab.set_state(0, STATE_CURRENT);
    }
    newPanel.set_attribute("selected", L"");
    newPanel.set_state(STATE_EXPANDED, STATE_COLLAPSED);
    tab.set_attribute("selected", L"");
    tab.set_state(STATE_CURRENT);

    if (oldTab.is_valid()) oldTab.post_event(ELEMENT_COLLAPSED, 0, oldTab);
    tab.post_event(ELEMENT_EXPANDED, 0, tab);
    return true;
}

bool tabs::select_neighbour(const dom::element& tabsEl, const dom::element& current, int direction) {
    if (!current.is_valid()) return false;
    const dom::element strip = current.parent();
    const unsigned count = strip.children_count();
    const unsigned index = current.index();
    dom::element sibling;
    switch (direction) {
        case -2: sibling = strip.child(0); break;
        case -1: if (index > 0) sibling = strip.child(index - 1); break;
        case 1: if (index + 1 < count) sibling = strip.child(index + 1); break;
        case 2: if (count > 0) sibling = strip.child(count - 1); break;
        default: return false;
    }
    if (!sibling.is_valid() || !sibling.has_attribute("panel")) return false;
    return select_tab(tabsEl, sibling);
}

dom::element tabs::tab_under(const dom::element& tabsEl, HELEMENT target) {
    for (dom::element el(target); el.is_valid() && !Same(el, tabsEl); el = el.parent()) {
        if (el.has_attribute("panel")) return el;
    }
    return {};
}

dom::element tabs::panel_named(const dom::element& tabsEl, const std::wstring& name) {
    // Compared as attributes: a name holding quotes or backslashes cannot be put
    // into a selector safely.
    const unsigned count = tabsEl.children_count();
    for (unsigned i = 0; i < count; ++i) {
        dom::element child = tabsEl.child(i);
        if (child.has_attribute("name") && child.get_attribute("name") == name) return child;
    }
    return {};
}

}  // namespace sciter
