#include "PageCalls.h"

#include <algorithm>

#include "EngineTest.h"
#include "Window.h"
#include "internal/State.h"

using namespace uie::detail;
namespace test = uie::test;
using uie::value;

namespace {

BOOL CallPage(HELEMENT he, const char* name, const VALUE* argv, UINT argc, VALUE* result, bool method) {
    if (result != nullptr) *result = value();
    if (name == nullptr || (argv == nullptr && argc != 0)) return FALSE;
    test::PageCall call{nullptr, nullptr, he, nullptr, {}, name, std::vector<value>(argv, argv + argc)};
    test::PageFunction fn;
    std::wstring elementId;
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        if (auto node = Resolve(e, he)) {
            const Document& doc = *node->doc;
            if (const std::wstring* id = node->Attr("id")) elementId = *id;
            call.hwnd = doc.hwnd;
            call.root = ToHandle(*doc.root);
            call.uri = doc.uri;
            if (method) {
                auto it = doc.methods.find(std::pair<std::wstring, std::string>(elementId, call.name));
                if (it != doc.methods.end() && !elementId.empty()) fn = it->second;
            } else if (auto it = doc.functions.find(call.name); it != doc.functions.end()) {
                fn = it->second;
            }
        }
    }
    call.vm = call.hwnd != nullptr ? SciterGetVM(call.hwnd) : nullptr;
    value r;
    bool ok = static_cast<bool>(fn);
    if (ok) {
        // A page function that throws fails the call, as a script exception would.
        try {
            r = fn(call);
        } catch (const uie::ScriptError& err) {
            uie::RaiseScriptError(call.vm, err.text());
            ok = false;
            r = value();
        }
    }
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        if (e.recording) {
            e.calls.push_back(test::PageCallRecord{++e.lastSeq, GetCurrentThreadId(), call.hwnd, call.uri, elementId,
                                                   call.name, call.args, method, ok, r});
        }
    }
    E().callsChanged.notify_all();
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
