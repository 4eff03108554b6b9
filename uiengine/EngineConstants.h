// Numbers shared by the engine and the program: element states, event groups and
// codes, notification codes and results. Values the program compares keep the
// numbers it was written against; the rest are this engine's own.
#pragma once

#include "WinTypes.h"

// An element handle: an opaque id, never a pointer the caller may follow. Handles of
// removed elements stay safe to pass; operations on them fail.
struct HELEMENT__;
using HELEMENT = HELEMENT__*;

// Element state bits (SciterGetElementState / SciterSetElementState).
constexpr UINT STATE_HOVER = 0x0001;
constexpr UINT STATE_ACTIVE = 0x0002;
constexpr UINT STATE_FOCUS = 0x0004;
constexpr UINT STATE_CURRENT = 0x0008;
constexpr UINT STATE_CHECKED = 0x0010;
constexpr UINT STATE_DISABLED = 0x0020;
constexpr UINT STATE_EXPANDED = 0x0040;
constexpr UINT STATE_COLLAPSED = 0x0080;
constexpr UINT STATE_VISITED = 0x0100;

// Event groups, as subscription bits.
constexpr UINT HANDLE_MOUSE = 0x0001;
constexpr UINT HANDLE_KEY = 0x0002;
constexpr UINT HANDLE_FOCUS = 0x0004;
constexpr UINT HANDLE_BEHAVIOR_EVENT = 0x0100;
constexpr UINT HANDLE_SCRIPTING_METHOD_CALL = 0x0200;
constexpr UINT HANDLE_ALL = 0xFFFF;

// The phase bit: an event code with it set is on its way down from the window.
constexpr UINT SINKING = 0x8000;

// Mouse event codes.
constexpr UINT MOUSE_ENTER = 0;
constexpr UINT MOUSE_LEAVE = 1;
constexpr UINT MOUSE_MOVE = 2;
constexpr UINT MOUSE_UP = 3;
constexpr UINT MOUSE_DOWN = 4;
constexpr UINT MOUSE_DCLICK = 5;

// Key event codes and modifier bits.
constexpr UINT KEY_DOWN = 0;
constexpr UINT KEY_UP = 1;
constexpr UINT KEY_CHAR = 2;
constexpr UINT KEY_CTRL = 0x1;
constexpr UINT KEY_SHIFT = 0x2;
constexpr UINT KEY_ALT = 0x4;

// Focus event codes.
constexpr UINT FOCUS_LOST = 0;
constexpr UINT FOCUS_GOT = 1;

// Behaviour event codes.
constexpr UINT BUTTON_CLICK = 0;
constexpr UINT POPUP_DISMISSED = 9;
constexpr UINT MENU_ITEM_CLICK = 11;
constexpr UINT ELEMENT_COLLAPSED = 0x90;
constexpr UINT ELEMENT_EXPANDED = 0x91;
constexpr UINT ACTIVATE_CHILD = 0x92;

// Notification codes of the host callback.
constexpr UINT SC_LOAD_DATA = 1;
constexpr UINT SC_DATA_LOADED = 2;
constexpr UINT SC_ATTACH_BEHAVIOR = 4;
constexpr UINT SC_ENGINE_DESTROYED = 5;

// Answers to the load-data notification.
constexpr UINT LOAD_DEFAULT = 0;  // go on: use bytes handed over, else read the resource
constexpr UINT LOAD_DISCARD = 1;  // drop the request

// Kinds of resource a load-data request asks for.
constexpr UINT RESOURCE_HTML = 0;
constexpr UINT RESOURCE_IMAGE = 1;
constexpr UINT RESOURCE_STYLE = 2;
constexpr UINT RESOURCE_SCRIPT = 3;

// Status of the data-loaded notification.
constexpr UINT LOAD_STATUS_OK = 0;
constexpr UINT LOAD_STATUS_MISSING = 404;

// Element operation results.
enum DomResult : int {
    DOM_OK = 0,
    DOM_INVALID_HWND = 1,
    DOM_INVALID_HANDLE = 2,  // unknown handle, or a node whose document is gone
    DOM_INVALID_PARAMETER = 4,
    DOM_NOT_FOUND = 5,  // no such child, parent or attribute
};

// Value operation results.
enum ValueResult : UINT {
    VALUE_OK = 0,
    VALUE_BAD_PARAMETER = 1,
    VALUE_INCOMPATIBLE_TYPE = 2,
};

// Forms of ValueToString.
constexpr UINT TO_STRING_SIMPLE = 0;
constexpr UINT TO_STRING_JSON = 1;

// SciterGetElementLocation areas: in window client coordinates, or the element's own
// box with its top-left corner at 0,0.
constexpr UINT AREA_VIEW = 0;
constexpr UINT AREA_SELF = 1;

// Debug output (SciterSetupDebugOutput): the part of the engine that speaks, and how
// serious it is.
constexpr UINT OUTPUT_SUBSYSTEM_SCRIPT = 3;
constexpr UINT OUTPUT_SEVERITY_INFO = 0;
constexpr UINT OUTPUT_SEVERITY_WARNING = 1;
constexpr UINT OUTPUT_SEVERITY_ERROR = 2;

namespace uie {
// The window message that carries the engine's work to the owner thread; its wParam says what.
constexpr UINT kEngineMessage = 0x7E5C;
constexpr WPARAM kDeliverPosted = 0;
constexpr WPARAM kRunSentJob = 2;  // lParam: the number of a job (ThreadCall.h)
}  // namespace uie
