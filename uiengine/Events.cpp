#include "Events.h"

#include <algorithm>
#include <chrono>

#include "Dom.h"
#include "EngineTest.h"
#include "Window.h"
#include "internal/DocumentScript.h"
#include "internal/LineOutput.h"
#include "internal/ScriptHeap.h"
#include "internal/Selector.h"
#include "internal/State.h"
#include "internal/ThreadCall.h"

using namespace uie::detail;

namespace {

// Who gets an event, root first: (element, handler) pairs along the path to the
// target, and the window's handler with the window's root.
struct Route {
    HELEMENT root = nullptr;
    uie::EventHandler* window = nullptr;
    std::vector<std::pair<HELEMENT, uie::EventHandler*>> path;
};

// Collects the route under the lock; false for a bad or detached target.
bool RouteTo(HELEMENT target, UINT group, Route& route) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, target);
    if (!node) return false;
    std::vector<std::shared_ptr<Node>> chain;
    for (auto n = node; n; n = n->parent.lock()) chain.push_back(n);
    std::reverse(chain.begin(), chain.end());
    for (const auto& n : chain) {
        for (const auto& [handler, groups] : n->handlers) {
            if ((groups & group) != 0) route.path.emplace_back(ToHandle(*n), handler);
        }
    }
    route.root = ToHandle(*chain.front());
    if (auto it = e.windows.find(node->doc->hwnd); it != e.windows.end()) {
        if ((it->second.subscription & group) != 0) route.window = it->second.handler;
    }
    return true;
}

// Sinking from the window to the target, then bubbling back; the first true ends it.
template <typename Params, typename F>
bool Dispatch(const Route& route, Params& params, UINT code, F&& call) {
    params.cmd = code | SINKING;
    if (route.window != nullptr && call(route.window, route.root, params)) return true;
    for (const auto& [he, handler] : route.path) {
        if (call(handler, he, params)) return true;
    }
    params.cmd = code;
    for (auto it = route.path.rbegin(); it != route.path.rend(); ++it) {
        if (call(it->second, it->first, params)) return true;
    }
    return route.window != nullptr && call(route.window, route.root, params);
}

bool SendBehaviorEvent(HELEMENT target, UINT code, HELEMENT source, UINT_PTR reason) {
    Route route;
    if (!RouteTo(target, HANDLE_BEHAVIOR_EVENT, route)) return false;
    uie::BehaviorEventParams p{code, source, nullptr, reason, {}};
    return Dispatch(route, p, code, [](uie::EventHandler* h, HELEMENT he, uie::BehaviorEventParams& prm) {
        prm.he = he;
        return h->OnBehaviorEvent(he, prm);
    });
}

void DeliverPosted(HWND hwnd) {
    Engine& e = E();
    std::deque<PostedEvent> due;
    {
        std::lock_guard lock(e.mutex);
        auto it = e.windows.find(hwnd);
        if (it == e.windows.end()) return;
        due.swap(it->second.posted);
        for (const auto& p : due) {
            if (p.logIndex) e.postedLog[*p.logIndex].deliveredOn = GetCurrentThreadId();
        }
    }
    for (const auto& p : due) SendBehaviorEvent(ToHandle(p.target), p.code, ToHandle(p.source), p.reason);
}

}  // namespace

namespace uie {

bool AttachElementHandler(HELEMENT he, EventHandler* handler) {
    if (handler == nullptr) return false;
    // Asked before taking the lock: the handler may look at the element.
    UINT groups = handler->Subscription(he);
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        auto node = Resolve(e, he);
        if (!node) return false;
        node->handlers.emplace_back(handler, groups);
    }
    handler->Attached(he);
    return true;
}

bool DetachElementHandler(HELEMENT he, EventHandler* handler) {
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        auto node = Resolve(e, he);
        if (!node) return false;
        auto& hs = node->handlers;
        auto it = std::find_if(hs.begin(), hs.end(), [handler](const auto& h) { return h.first == handler; });
        if (it == hs.end()) return false;
        hs.erase(it);
    }
    handler->Detached(he);
    return true;
}

}  // namespace uie

BOOL SciterWindowAttachEventHandler(HWND hwnd, uie::EventHandler* handler, UINT subscription) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    WindowRec* w = Window(e, hwnd);
    if (w == nullptr) return FALSE;
    w->handler = handler;
    w->subscription = handler != nullptr ? subscription : 0;
    return TRUE;
}

DomResult SciterPostEvent(HELEMENT he, UINT eventCode, HELEMENT heSource, UINT_PTR reason) {
    HWND hwnd = nullptr;
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        auto node = Resolve(e, he);
        if (!node) return DOM_INVALID_HANDLE;
        hwnd = node->doc->hwnd;
        auto it = e.windows.find(hwnd);
        if (it == e.windows.end()) return DOM_INVALID_HWND;
        std::optional<std::size_t> logIndex;
        if (e.recording) {
            logIndex = e.postedLog.size();
            e.postedLog.push_back({hwnd, he, heSource, eventCode, reason, GetCurrentThreadId(), 0});
        }
        it->second.posted.push_back({ToId(he), ToId(heSource), eventCode, reason, logIndex});
    }
    // One message per event; a delivery takes all that are queued, later ones find none.
    return PostMessageW(hwnd, uie::kEngineMessage, uie::kDeliverPosted, 0) ? DOM_OK : DOM_INVALID_HWND;
}

LRESULT SciterProcND(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, BOOL* handled) {
    if (handled != nullptr) *handled = FALSE;
    if (msg == uie::kEngineMessage) {
        if (handled != nullptr) *handled = TRUE;
        if (wParam == uie::kRunSentJob) {
            RunSentJob(lParam);
        } else {
            DeliverPosted(hwnd);
        }
        return 0;
    }
    if (msg == WM_TIMER && RunPageTimer(hwnd, wParam)) {
        if (handled != nullptr) *handled = TRUE;
        return 0;
    }
    if (msg == WM_NCDESTROY) {
        LineOutput::Instance().Flush();  // the lines of its pages' last calls are out before it goes
        std::shared_ptr<Document> doc;
        bool ranScripts = false;
        {
            Engine& e = E();
            std::lock_guard lock(e.mutex);
            if (auto it = e.windows.find(hwnd); it != e.windows.end()) {
                doc = std::move(it->second.doc);
                e.windows.erase(it);
            }
            ranScripts = doc && RanScripts(*doc);
        }
        Retire(std::move(doc));
        ForgetWindow(hwnd, ranScripts);  // the thread's last window lets its VM go
    }
    return 0;
}

namespace uie::test {

bool SendEvent(HELEMENT target, UINT group, UINT code, UINT key, UINT modifiers) {
    if (group == HANDLE_BEHAVIOR_EVENT) return SendBehaviorEvent(target, code, target, key);
    Route route;
    if (!RouteTo(target, group, route)) return false;
    switch (group) {
        case HANDLE_MOUSE: {
            MouseParams p{code, target, {}, key, modifiers};
            return Dispatch(route, p, code,
                            [](EventHandler* h, HELEMENT he, MouseParams& prm) { return h->OnMouseEvent(he, prm); });
        }
        case HANDLE_KEY: {
            KeyParams p{code, target, key, modifiers};
            return Dispatch(route, p, code,
                            [](EventHandler* h, HELEMENT he, KeyParams& prm) { return h->OnKeyEvent(he, prm); });
        }
        case HANDLE_FOCUS: {
            FocusParams p{code, target};
            return Dispatch(route, p, code,
                            [](EventHandler* h, HELEMENT he, FocusParams& prm) { return h->OnFocusEvent(he, prm); });
        }
        default: return false;
    }
}

ScriptCallOutcome PageScriptCall(HELEMENT he, const char* name, std::vector<value> args) {
    ScriptCallOutcome out;
    Route route;
    if (name == nullptr || !RouteTo(he, HANDLE_SCRIPTING_METHOD_CALL, route)) return out;
    ScriptCallParams p{name, args.data(), static_cast<UINT>(args.size()), {}};
    for (auto it = route.path.rbegin(); it != route.path.rend() && !out.handled; ++it) {
        out.handled = it->second->OnScriptCall(it->first, p);
    }
    if (!out.handled && route.window != nullptr) out.handled = route.window->OnScriptCall(route.root, p);
    if (out.handled) out.result = std::move(p.result);
    return out;
}

std::vector<PostedEventRecord> PostedEvents() {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    return e.postedLog;
}

void RunInPage(HWND hwnd, const std::function<void()>& fn) {
    // Waited for to its end (or the window's), so the job may use fn where it is.
    constexpr std::chrono::milliseconds kToItsEnd{0xFFFFFFFE};
    RunOnWindowThread(hwnd, [&fn] { fn(); }, kToItsEnd);
}

HELEMENT Find(HWND hwnd, const char* selector) {
    HELEMENT root = nullptr;
    if (SciterGetRootElement(hwnd, &root) != DOM_OK) return nullptr;
    auto list = selector != nullptr ? ParseSelector(selector) : std::nullopt;
    if (!list) return nullptr;
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto scope = Resolve(e, root);
    if (!scope) return nullptr;
    HELEMENT found = nullptr;
    Walk(scope, false, [&](const std::shared_ptr<Node>& n) {
        if (found == nullptr && Matches(*list, *n, *scope)) found = ToHandle(*n);
    });
    return found;
}

bool SetFocus(HELEMENT he) { return SciterSetElementState(he, STATE_FOCUS, 0, FALSE) == DOM_OK; }

}  // namespace uie::test
