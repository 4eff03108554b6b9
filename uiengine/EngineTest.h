// What tests use in place of a user and of the page scripts: events, the page side
// of the script VM, page functions, and what the engine recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Events.h"
#include "ScriptVM.h"
#include "WinTypes.h"

namespace uie::test {

// ---- Records ----
// Loads (LoadLog), posted events (PostedEvents) and page calls (PageHost::Calls) are
// recorded only while recording is on. It starts off and the program never switches it
// on, so the program keeps no records. A Recording switches it for its lifetime and
// then puts back what was before.
class Recording {
public:
    explicit Recording(bool on = true);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

private:
    bool was_;
};

// ---- Loading ----
enum class LoadSource { Callback, File, Missing };

struct LoadRecord {
    HWND hwnd;
    std::wstring uri;
    UINT type;  // RESOURCE_*
    LoadSource source;
    std::size_t size;
};

std::vector<LoadRecord> LoadLog();
// Bytes of a script, style sheet or image the document of `he` requested.
std::optional<std::vector<std::uint8_t>> ResourceBytes(HELEMENT he, std::wstring_view uri);
std::wstring HomeUrl(HWND hwnd);
unsigned WindowUpdateCount(HWND hwnd);
unsigned ElementUpdateCount(HELEMENT he);
// The width the last SciterGetMinHeight asked about.
UINT LastMinHeightWidth(HWND hwnd);

// ---- Elements and events ----
// The first element of the window's page matching the selector (the root included).
HELEMENT Find(HWND hwnd, const char* selector);
bool SetFocus(HELEMENT he);

// Dispatches an event of one group (HANDLE_MOUSE, HANDLE_KEY, HANDLE_FOCUS or
// HANDLE_BEHAVIOR_EVENT) at `target` on the calling thread. `key` is the key code, the
// mouse buttons or the behaviour event's reason; `modifiers` are KEY_* bits.
bool SendEvent(HELEMENT target, UINT group, UINT code, UINT key = 0, UINT modifiers = 0);

struct ScriptCallOutcome {
    bool handled = false;
    value result;
};
// A page calling a native element method: handlers from `he` up, then the window's.
ScriptCallOutcome PageScriptCall(HELEMENT he, const char* name, std::vector<value> args);

struct PostedEventRecord {
    HWND hwnd;
    HELEMENT target;
    HELEMENT source;
    UINT code;
    UINT_PTR reason;
    DWORD postedOn;     // thread ids
    DWORD deliveredOn;  // 0 until delivered
};
std::vector<PostedEventRecord> PostedEvents();

// Runs `fn` on the window's owner thread, as page code would run, and waits for it.
void RunInPage(HWND hwnd, const std::function<void()>& fn);

// ---- The page side of the script VM ----
// ok is false when the name is unknown or a script error was raised; `error` then
// holds its text (also LastScriptError). `result` is what the native returned.
struct CallResult {
    bool ok = false;
    value result;
    std::wstring error;
};

CallResult CallNative(HVM vm, std::string_view object, std::string_view method, std::vector<value> args = {});
CallResult GetProperty(HVM vm, std::string_view object, std::string_view property);
CallResult SetProperty(HVM vm, std::string_view object, std::string_view property, value v);
CallResult Construct(HVM vm, std::string_view className, std::vector<value> args = {});
CallResult CallMethod(HVM vm, const value& instance, std::string_view method, std::vector<value> args = {});
CallResult GetInstanceProperty(HVM vm, const value& instance, std::string_view property);
CallResult GetItem(HVM vm, const value& instance, value key);
// The values an instance yields to for-in, as an array.
CallResult Iterate(HVM vm, const value& instance);

// Script heaps alive in the process (one per UI thread whose windows have had page scripts).
std::size_t LiveScriptHeaps();

// ---- Page functions ----
struct PageCall {
    HWND hwnd;
    HVM vm;
    HELEMENT element;  // the element the call was made on
    HELEMENT root;     // the root of its document
    std::wstring uri;  // of the document
    std::string name;
    std::vector<value> args;
};
using PageFunction = std::function<value(const PageCall& call)>;

struct PageCallRecord {
    std::uint64_t seq;
    DWORD thread;
    HWND hwnd;
    std::wstring uri;
    std::wstring elementId;
    std::string name;
    std::vector<value> args;
    bool method;  // SciterCallScriptingMethod
    bool ok;      // false: no such function, or it threw
    value result;
};

// Functions stand in for a document's script functions, ahead of those its scripts
// define. Handlers run on the calling thread, outside the engine's lock, so they may
// call back into the engine.
class PageHost {
public:
    // In the document of `he` (any element of it).
    static bool Register(HELEMENT he, std::string name, PageFunction fn);
    // In the window's main document.
    static bool Register(HWND hwnd, std::string name, PageFunction fn);
    // In documents whose URI ends with `uriSuffix`: those present and those loaded
    // later, so a window that loads its page on its own thread finds them.
    static void RegisterForPage(std::wstring uriSuffix, std::string name, PageFunction fn);
    // A method of the element's script object (elements are keyed by their id).
    static bool RegisterMethod(HELEMENT he, std::string name, PageFunction fn);
    static void RegisterMethodForPage(std::wstring uriSuffix, std::wstring elementId, std::string name,
                                      PageFunction fn);

    static std::vector<PageCallRecord> Calls();
    // The first call of `name` with a sequence number above `afterSeq`.
    static std::optional<PageCallRecord> WaitForCall(std::string_view name, std::chrono::milliseconds timeout,
                                                     std::uint64_t afterSeq = 0);
    static std::uint64_t LastSeq();
    // Forgets the prepared registrations and the call log.
    static void Reset();
};

}  // namespace uie::test
