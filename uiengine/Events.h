// Element events. An event goes down first (the window handler sees the code with
// SINKING set, then element handlers from the root to the target) and then up (the
// target's handlers to the root's, then the window handler); the first handler that
// answers true ends it. Each handler sees only the groups it subscribes to.
#pragma once

#include "EngineConstants.h"
#include "Value.h"

namespace uie {

struct Point {
    int x = 0;
    int y = 0;
};

struct MouseParams {
    UINT cmd;
    HELEMENT target;
    Point pos;
    UINT buttons;
    UINT modifiers;
};

struct KeyParams {
    UINT cmd;
    HELEMENT target;
    UINT keyCode;
    UINT modifiers;
};

struct FocusParams {
    UINT cmd;
    HELEMENT target;
};

struct BehaviorEventParams {
    UINT cmd;
    HELEMENT heTarget;  // the element the event is about (its source)
    HELEMENT he;        // the element whose handler runs
    UINT_PTR reason;
    value data;
};

// A page calling a native method on an element (e.g. "debug").
struct ScriptCallParams {
    const char* name;
    const value* argv;
    UINT argc;
    value result;
};

// The engine's side of a handler; the program normally derives from
// sciter::event_handler (EngineSdk.h), which maps these onto its own virtuals.
// The engine does not own handlers: a handler outlives the elements it is attached to.
class EventHandler {
public:
    virtual ~EventHandler() = default;
    virtual void Attached(HELEMENT) {}
    virtual void Detached(HELEMENT) {}
    // Event groups (HANDLE_*) the handler wants, asked once when attached to an element.
    virtual UINT Subscription(HELEMENT) { return HANDLE_ALL; }
    virtual bool OnMouseEvent(HELEMENT, MouseParams&) { return false; }
    virtual bool OnKeyEvent(HELEMENT, KeyParams&) { return false; }
    virtual bool OnFocusEvent(HELEMENT, FocusParams&) { return false; }
    virtual bool OnBehaviorEvent(HELEMENT, BehaviorEventParams&) { return false; }
    virtual bool OnScriptCall(HELEMENT, ScriptCallParams&) { return false; }
};

// Attaches a handler to one element (behaviours are attached this way by the loader)
// and calls its Attached; detaching calls Detached.
bool AttachElementHandler(HELEMENT he, EventHandler* handler);
bool DetachElementHandler(HELEMENT he, EventHandler* handler);

}  // namespace uie

// The window-level handler: it sees every event of the window's page in the groups
// given, with the page's root element as `he`. Null detaches it.
BOOL SciterWindowAttachEventHandler(HWND hwnd, uie::EventHandler* handler, UINT subscription);

// Queues a behaviour event for `he` (heSource as its target) and returns at once;
// the window's owner thread delivers it through SciterProcND.
DomResult SciterPostEvent(HELEMENT he, UINT eventCode, HELEMENT heSource, UINT_PTR reason);

// Called first by the window procedure for every message. It handles only the
// engine's own messages (posted events, calls sent from other threads by the number of a
// job waiting for them, and the timers of page scripts) and sets *handled then; on WM_NCDESTROY, without handling it, it also
// forgets the window's page, and with the thread's last window its script VM. Everything
// else is the program's.
LRESULT SciterProcND(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled);
