// The "tabs" behaviour: a strip of tabs (children of the ".strip" child carrying a
// "panel" attribute) switching between the named panels (children carrying "name").
// One instance serves every tabs element of every page; it keeps no state of its own.
#pragma once

#include "EngineSdk.h"

namespace sciter {

class tabs : public event_handler, public behavior_factory {
public:
    // The program-wide instance, registered under "tabs" on first use.
    static tabs& Instance();

    event_handler* create(HELEMENT) override { return this; }

    void attached(HELEMENT he) override;
    bool subscription(HELEMENT he, UINT& groups) override;
    bool on_mouse(HELEMENT he, HELEMENT target, UINT eventType, uie::Point pt, UINT buttons,
                  UINT modifiers) override;
    bool on_key(HELEMENT he, HELEMENT target, UINT eventType, UINT keyCode, UINT modifiers) override;
    bool on_event(HELEMENT he, HELEMENT target, UINT type, UINT_PTR reason) override;

private:
    tabs() : behavior_factory("tabs") {}

    // Makes the tab current and its panel expanded; true also when nothing changed.
    bool select_tab(const dom::element& tabsEl, const dom::element& tab);
    // -2 first, -1 previous, +1 next, +2 last sibling of the current tab.
    bool select_neighbour(const dom::element& tabsEl, const dom::element& current, int direction);
    static dom::element tab_under(const dom::element& tabsEl, HELEMENT target);
    static dom::element panel_named(const dom::element& tabsEl, const std::wstring& name);
};

}  // namespace sciter
