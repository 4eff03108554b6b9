// Page loading and the host notifications. Loading is synchronous: when
// SciterLoadFile returns, the page, its frames and their resources have been
// requested through the callback and behaviours are attached.
//
// Headless conventions: the root element's data-min-width and data-min-height
// attributes give the page's minimum size (0 when absent). Frames are followed 8 deep
// and 64 in all per load, in document order, each frame's own frames first; a frame
// past either stays empty.
#pragma once

#include "EngineConstants.h"
#include "Events.h"
#include "WinTypes.h"

namespace uie {

struct Notification {
    UINT code;  // SC_*
    HWND hwnd;
};

// The engine needs a resource. Bytes handed over with SciterDataReady during the
// callback are used instead of reading the resource.
struct LoadDataNotice : Notification {
    const wchar_t* uri;
    UINT type;  // RESOURCE_*
};

struct DataLoadedNotice : Notification {
    const wchar_t* uri;
    UINT type;
    const BYTE* data;
    UINT dataSize;
    UINT status;  // LOAD_STATUS_*
};

// An element names a behaviour; the host sets `handler` to attach one.
struct AttachBehaviorNotice : Notification {
    HELEMENT element;
    const char* behaviorName;
    EventHandler* handler;
};

// For SC_LOAD_DATA the answer is LOAD_DEFAULT or LOAD_DISCARD; otherwise ignored.
using NotificationCallback = UINT (*)(Notification* notification, void* param);
using DebugOutputProc = void (*)(void* param, UINT subsystem, UINT severity, const wchar_t* text, UINT length);

}  // namespace uie

BOOL SciterSetCallback(HWND hwnd, uie::NotificationCallback callback, void* param);
BOOL SciterSetHomeURL(HWND hwnd, const wchar_t* url);
// Loads "file://" + the absolute path. False when the page itself cannot be had (no
// bytes from the callback, no file); the previous page then stays. Once the page is shown
// and its behaviours attached, its scripts run (DocumentScript.h), before this returns.
// Asked for on another thread than the window's, the load runs on the window's thread.
BOOL SciterLoadFile(HWND hwnd, const wchar_t* path);
// Only during the load-data notification for this window and URI.
BOOL SciterDataReady(HWND hwnd, const wchar_t* uri, const BYTE* data, UINT dataLength);
UINT SciterGetMinWidth(HWND hwnd);
UINT SciterGetMinHeight(HWND hwnd, UINT width);
BOOL SciterUpdateWindow(HWND hwnd);
// Where the engine reports what goes wrong in a window's page scripts (a script that fails
// to compile or throws, a page function that fails); a null window sets it for windows
// without their own. With neither, the line goes to standard error.
BOOL SciterSetupDebugOutput(HWND hwnd, void* param, uie::DebugOutputProc proc);
