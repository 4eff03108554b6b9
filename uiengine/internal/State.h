// The engine's shared state: element nodes, documents and windows. One mutex guards
// all of it; it is never held while a handler, callback or page function runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "EngineTest.h"
#include "Loader.h"
#include "internal/DocumentScript.h"

namespace uie::detail {

struct Document;

struct Node {
    std::uintptr_t id = 0;
    std::string tag;  // lower case
    std::vector<std::pair<std::string, std::wstring>> attrs;  // names lower case
    std::wstring text;
    UINT state = 0;
    std::weak_ptr<Node> parent;
    std::vector<std::shared_ptr<Node>> children;
    Document* doc = nullptr;  // null once the node's document is gone
    std::vector<std::pair<EventHandler*, UINT>> handlers;  // with their subscriptions
    unsigned updates = 0;
    unsigned line = 0;  // a script element's: the page line its text starts on

    // Frees the subtree nobody else holds without recursing, however deep it is.
    ~Node();
    const std::wstring* Attr(std::string_view name) const;
    void SetAttr(std::string_view name, std::wstring v);
    bool RemoveAttr(std::string_view name);
};

struct Document {
    std::wstring uri;
    HWND hwnd = nullptr;
    DWORD thread = 0;  // of its window, where page calls into it run: asked once, at load
    std::shared_ptr<Node> root;
    std::vector<std::shared_ptr<Document>> frames;
    std::map<std::string, test::PageFunction, std::less<>> functions;  // registered by tests
    std::vector<ScriptSource> scripts;       // read at load, run once the page is shown
    std::shared_ptr<DocumentScript> script;  // its global and functions, once its scripts ran
    std::map<std::pair<std::wstring, std::string>, test::PageFunction, std::less<>> methods;
    std::map<std::wstring, std::vector<std::uint8_t>, std::less<>> resources;
};

struct PostedEvent {
    std::uintptr_t target;
    std::uintptr_t source;
    UINT code;
    UINT_PTR reason;
    std::optional<std::size_t> logIndex;  // in Engine::postedLog; none when not recorded
};

struct WindowRec {
    NotificationCallback callback = nullptr;
    void* callbackParam = nullptr;
    EventHandler* handler = nullptr;
    UINT subscription = 0;
    std::wstring homeUrl;
    std::shared_ptr<Document> doc;
    std::deque<PostedEvent> posted;
    unsigned updates = 0;
    UINT minHeightWidth = 0;
    DebugOutputProc debugProc = nullptr;
    void* debugParam = nullptr;
};

struct PreparedFunction {
    std::wstring uriSuffix;
    std::wstring elementId;  // empty for a document function
    std::string name;
    test::PageFunction fn;
};

struct Engine {
    std::mutex mutex;
    std::uintptr_t lastId = 0;
    std::unordered_map<std::uintptr_t, std::weak_ptr<Node>> nodes;
    std::unordered_map<std::uintptr_t, std::pair<std::shared_ptr<Node>, int>> pinned;
    std::unordered_map<HWND, WindowRec> windows;
    std::atomic<bool> recording{false};  // the logs below grow only while it is set (test::Recording)
    std::vector<test::LoadRecord> loadLog;
    std::vector<test::PostedEventRecord> postedLog;
    std::vector<PreparedFunction> prepared;
    std::vector<test::PageCallRecord> calls;
    std::uint64_t lastSeq = 0;
    std::condition_variable callsChanged;
    DebugOutputProc debugProc = nullptr;  // for windows without their own
    void* debugParam = nullptr;
};

Engine& E();

inline HELEMENT ToHandle(std::uintptr_t id) { return reinterpret_cast<HELEMENT>(id); }
inline HELEMENT ToHandle(const Node& n) { return ToHandle(n.id); }
inline std::uintptr_t ToId(HELEMENT he) { return reinterpret_cast<std::uintptr_t>(he); }

// All of these expect the engine mutex held.
// A live node whose document is still shown; null otherwise.
std::shared_ptr<Node> Resolve(Engine& e, HELEMENT he);
// The window record, created on first use; null for a dead window.
WindowRec* Window(Engine& e, HWND hwnd);
// Gives ids to every node of the document and its frames and adds the prepared page
// functions whose URI suffix matches.
void Register(Engine& e, Document& doc);
// Calls fn for the node and every descendant in document order, crossing into frames
// only when `intoFrames` is set.
template <typename F>
void Walk(const std::shared_ptr<Node>& node, bool intoFrames, F&& fn) {
    fn(node);
    for (const auto& c : node->children) {
        if (intoFrames || c->doc == node->doc) Walk(c, intoFrames, fn);
    }
}
// Whether `has` holds for the document or one of its frames, at any depth.
template <typename Has>
bool InAnyDocument(const Document& doc, Has has) {
    if (has(doc)) return true;
    for (const auto& frame : doc.frames) {
        if (InAnyDocument(*frame, has)) return true;
    }
    return false;
}
// Whether scripts of the document or its frames have run.
inline bool RanScripts(const Document& doc) {
    return InAnyDocument(doc, [](const Document& d) { return d.script != nullptr; });
}
// The topmost ancestor (the window's root, across frames).
std::shared_ptr<Node> TopOf(const std::shared_ptr<Node>& node);

// Takes a document off its window: handlers get Detached, nodes become detached, the
// ids of freed nodes are forgotten. Called without the mutex held.
void Retire(std::shared_ptr<Document> doc);

}  // namespace uie::detail
