#include "PageCalls.h"

#include <algorithm>
#include <span>

#include "EngineTest.h"
#include "Text.h"
#include "ThreadWait.h"
#include "Window.h"
#include "internal/DocumentScript.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"
#include "internal/State.h"
#include "internal/ThreadCall.h"

using namespace uie::detail;
namespace test = uie::test;
using uie::value;

namespace {

// What a call reaches in the element's document.
struct Callee {
    test::PageFunction fn;                   // a test's handler
    std::shared_ptr<DocumentScript> script;  // else the document's scripts, which may have it
    std::wstring elementId;
    DWORD thread = 0;  // where the call runs: the thread of the document's window
};

// Fills in the call's document and finds what it reaches; empty when the element is gone.
Callee Lookup(HELEMENT he, bool method, test::PageCall& call) {
    Callee found;
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, he);
    if (!node) return found;
    const Document& doc = *node->doc;
    if (const std::wstring* id = node->Attr("id")) found.elementId = *id;
    call.hwnd = doc.hwnd;
    found.thread = doc.thread;
    call.root = ToHandle(*doc.root);
    call.uri = doc.uri;
    if (method) {
        auto it = doc.methods.find(std::pair<std::wstring, std::string>(found.elementId, call.name));
        if (it != doc.methods.end() && !found.elementId.empty()) found.fn = it->second;
    } else if (auto it = doc.functions.find(call.name); it != doc.functions.end()) {
        found.fn = it->second;
    } else {
        found.script = doc.script;
    }
    return found;
}

// False when the function threw: that fails the call, as a script exception would.
bool Run(const test::PageFunction& fn, const test::PageCall& call, value& r) {
    try {
        r = fn(call);
        return true;
    } catch (const uie::ScriptError& err) {
        uie::RaiseScriptError(call.vm, err.text());
        r = value();
        return false;
    }
}

void RecordCall(const test::PageCall& call, std::span<const value> args, const Callee& callee, bool method, bool ok,
                const value& r) {
    Engine& e = E();
    if (!e.recording) return;  // as the program runs: no lock taken for nothing
    {
        std::lock_guard lock(e.mutex);
        if (!e.recording) return;
        e.calls.push_back(test::PageCallRecord{++e.lastSeq, GetCurrentThreadId(), call.hwnd, call.uri,
                                               callee.elementId, call.name, {args.begin(), args.end()}, method,
                                               ok, r});
    }
    e.callsChanged.notify_all();
}

BOOL CallPage(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result, bool method);

// The call, run on the thread of the document's window; reported when that thread does not
// answer in time.
BOOL CallOnWindowThread(const test::PageCall& call, std::span<const value> args, VALUE* result, bool method) {
    struct Answer {
        BOOL ok = FALSE;
        value r;
    };
    auto answer = std::make_shared<Answer>();
    auto job = [he = call.element, name = call.name, copied = std::vector<value>(args.begin(), args.end()), method,
                answer] {
        answer->ok = CallPage(he, name.c_str(), copied.data(), static_cast<UINT>(copied.size()), &answer->r, method);
    };
    switch (RunOnWindowThread(call.hwnd, std::move(job))) {
        case Reached::Ran:
            if (result != nullptr) *result = std::move(answer->r);
            return answer->ok;
        case Reached::NotServing: break;  // reported once
        case Reached::TimedOut: {
            const std::wstring running = uie::RunningScript(call.hwnd);
            ReportScriptError(call.hwnd, PageLabel(call.uri) + text::FromUtf8(call.name) + L": given up after " +
                                             std::to_wstring(CrossThreadBound().count()) +
                                             L" ms, its window's thread runs " +
                                             (running.empty() ? L"no page code" : running));
            return FALSE;
        }
        case Reached::Gone: break;
    }
    return FALSE;
}

BOOL CallPage(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result, bool method) {
    if (result != nullptr) *result = value();
    if (name == nullptr || (argv == nullptr && argc != 0)) return FALSE;
    const std::span<const value> args(argv, argc);
    test::PageCall call{nullptr, nullptr, he, nullptr, {}, name, {}};
    const Callee callee = Lookup(he, method, call);
    const DWORD owner = call.hwnd != nullptr ? callee.thread : 0;
    if (owner != 0 && owner != GetCurrentThreadId()) return CallOnWindowThread(call, args, result, method);
    value r;
    bool ok = false;
    // The page's script-call lock (ThreadWait.h), had here on the page's own thread.
    const ScriptCallLock lock(owner);
    if (!lock.held()) {
        if (call.hwnd != nullptr) ReportScriptError(call.hwnd, PageLabel(call.uri) + text::FromUtf8(call.name) +
                                                                   L": the page's script-call lock is not had here");
    } else if (callee.fn) {
        // What the handler gets; a page's script reads the arguments where they are.
        call.vm = call.hwnd != nullptr ? SciterGetVM(call.hwnd) : nullptr;
        call.args.assign(args.begin(), args.end());
        const HoldWindowEnds held;  // a handler plays page code
        ok = Run(callee.fn, call, r);
    } else if (callee.script) {
        ok = callee.script->Call(call.name, args, r) == DocumentScript::Outcome::Done;
    } else if (call.hwnd != nullptr) {
        // No script object of an element has methods here, and a page without scripts has no functions.
        ReportScriptError(call.hwnd, PageLabel(call.uri) + text::FromUtf8(call.name) +
                                         (method ? L": no such method" : L": no such function"));
    }
    RecordCall(call, args, callee, method, ok, r);
    if (result != nullptr) *result = std::move(r);
    return ok ? TRUE : FALSE;
}

bool EndsWith(std::wstring_view s, std::wstring_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Every document shown now, frames included.
template <typename F>
void ForEachDocument(Engine& e, F&& fn) {
    for (auto& [hwnd, w] : e.windows) {
        if (!w.doc) continue;
        std::vector<Document*> docs{w.doc.get()};
        for (std::size_t i = 0; i < docs.size(); ++i) {
            for (const auto& f : docs[i]->frames) docs.push_back(f.get());
            fn(*docs[i]);
        }
    }
}

void Prepare(PreparedFunction p) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    ForEachDocument(e, [&p](Document& d) {
        if (!EndsWith(d.uri, p.uriSuffix)) return;
        if (p.elementId.empty()) {
            d.functions[p.name] = p.fn;
        } else {
            d.methods[{p.elementId, p.name}] = p.fn;
        }
    });
    e.prepared.push_back(std::move(p));
}

}  // namespace

BOOL SciterCallScriptingFunction(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result) {
    return CallPage(he, name, argv, argc, result, false);
}

BOOL SciterCallScriptingMethod(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result) {
    return CallPage(he, name, argv, argc, result, true);
}

namespace uie::test {

bool PageHost::Register(HELEMENT he, std::string name, PageFunction fn) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, he);
    if (!node) return false;
    node->doc->functions[std::move(name)] = std::move(fn);
    return true;
}

bool PageHost::Register(HWND hwnd, std::string name, PageFunction fn) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    WindowRec* w = Window(e, hwnd);
    if (w == nullptr || !w->doc) return false;
    w->doc->functions[std::move(name)] = std::move(fn);
    return true;
}

void PageHost::RegisterForPage(std::wstring uriSuffix, std::string name, PageFunction fn) {
    Prepare(PreparedFunction{std::move(uriSuffix), {}, std::move(name), std::move(fn)});
}

bool PageHost::RegisterMethod(HELEMENT he, std::string name, PageFunction fn) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, he);
    const std::wstring* id = node ? node->Attr("id") : nullptr;
    if (id == nullptr || id->empty()) return false;
    node->doc->methods[{*id, std::move(name)}] = std::move(fn);
    return true;
}

void PageHost::RegisterMethodForPage(std::wstring uriSuffix, std::wstring elementId, std::string name,
                                     PageFunction fn) {
    if (elementId.empty()) return;
    Prepare(PreparedFunction{std::move(uriSuffix), std::move(elementId), std::move(name), std::move(fn)});
}

std::vector<PageCallRecord> PageHost::Calls() {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    return e.calls;
}

std::optional<PageCallRecord> PageHost::WaitForCall(std::string_view name, std::chrono::milliseconds timeout,
                                                    std::uint64_t afterSeq) {
    Engine& e = E();
    std::unique_lock lock(e.mutex);
    std::optional<PageCallRecord> found;
    e.callsChanged.wait_for(lock, timeout, [&] {
        auto it = std::find_if(e.calls.begin(), e.calls.end(),
                               [&](const PageCallRecord& c) { return c.seq > afterSeq && c.name == name; });
        if (it != e.calls.end()) found = *it;
        return found.has_value();
    });
    return found;
}

std::uint64_t PageHost::LastSeq() {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    return e.lastSeq;
}

void PageHost::Reset() {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    e.prepared.clear();
    e.calls.clear();
}

}  // namespace uie::test
