#include "internal/State.h"

#include <algorithm>
#include <iterator>

#include "Window.h"

namespace uie::detail {

Node::~Node() {
    // Children freed while an outer node is being freed on this thread are handed to
    // it, which frees them one at a time: the stack stays flat. Only nodes whose last
    // owner is gone come here, so no other thread can be looking at their children.
    thread_local std::vector<std::shared_ptr<Node>>* t_orphans = nullptr;
    if (t_orphans != nullptr) {
        std::move(children.begin(), children.end(), std::back_inserter(*t_orphans));
        return;
    }
    std::vector<std::shared_ptr<Node>> orphans = std::move(children);
    t_orphans = &orphans;
    while (!orphans.empty()) {
        std::shared_ptr<Node> next = std::move(orphans.back());
        orphans.pop_back();
        next.reset();  // may add its children to orphans
    }
    t_orphans = nullptr;
}

const std::wstring* Node::Attr(std::string_view name) const {
    for (const auto& [k, v] : attrs) {
        if (k == name) return &v;
    }
    return nullptr;
}

void Node::SetAttr(std::string_view name, std::wstring v) {
    for (auto& [k, old] : attrs) {
        if (k == name) {
            old = std::move(v);
            return;
        }
    }
    attrs.emplace_back(std::string(name), std::move(v));
}

bool Node::RemoveAttr(std::string_view name) {
    return std::erase_if(attrs, [name](const auto& a) { return a.first == name; }) != 0;
}

Engine& E() {
    static Engine engine;
    return engine;
}

std::shared_ptr<Node> Resolve(Engine& e, HELEMENT he) {
    auto it = e.nodes.find(ToId(he));
    if (it == e.nodes.end()) return nullptr;
    auto node = it->second.lock();
    return node && node->doc != nullptr ? node : nullptr;
}

WindowRec* Window(Engine& e, HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    auto it = e.windows.find(hwnd);
    if (it != e.windows.end()) return &it->second;
    if (!IsWindow(hwnd)) return nullptr;
    return &e.windows[hwnd];
}

namespace {

bool EndsWith(std::wstring_view s, std::wstring_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

void Register(Engine& e, Document& doc) {
    Walk(doc.root, true, [&e](const std::shared_ptr<Node>& n) {
        n->id = ++e.lastId;
        e.nodes.emplace(n->id, n);
    });
    std::vector<Document*> docs{&doc};
    for (std::size_t i = 0; i < docs.size(); ++i) {
        Document& d = *docs[i];
        for (const auto& f : d.frames) docs.push_back(f.get());
        for (const auto& p : e.prepared) {
            if (!EndsWith(d.uri, p.uriSuffix)) continue;
            if (p.elementId.empty()) {
                d.functions[p.name] = p.fn;
            } else {
                d.methods[{p.elementId, p.name}] = p.fn;
            }
        }
    }
}

std::shared_ptr<Node> TopOf(const std::shared_ptr<Node>& node) {
    auto top = node;
    while (auto p = top->parent.lock()) top = p;
    return top;
}

void Retire(std::shared_ptr<Document> doc) {
    if (!doc) return;
    Engine& e = E();
    std::vector<std::pair<HELEMENT, EventHandler*>> attached;
    std::vector<std::uintptr_t> ids;
    {
        std::lock_guard lock(e.mutex);
        Walk(doc->root, true, [&](const std::shared_ptr<Node>& n) {
            ids.push_back(n->id);
            for (const auto& h : n->handlers) attached.emplace_back(ToHandle(*n), h.first);
        });
    }
    // Handlers still see their elements while they are told.
    for (const auto& [he, handler] : attached) handler->Detached(he);
    {
        std::lock_guard lock(e.mutex);
        Walk(doc->root, true, [](const std::shared_ptr<Node>& n) {
            n->doc = nullptr;
            n->handlers.clear();
        });
    }
    doc.reset();  // frees every node nobody holds with Sciter_UseElement
    std::lock_guard lock(e.mutex);
    for (auto id : ids) {
        auto it = e.nodes.find(id);
        if (it != e.nodes.end() && it->second.expired()) e.nodes.erase(it);
    }
}

}  // namespace uie::detail

namespace uie::test {

Recording::Recording(bool on) {
    detail::Engine& e = detail::E();
    std::lock_guard lock(e.mutex);
    was_ = e.recording.exchange(on);
}

Recording::~Recording() {
    detail::Engine& e = detail::E();
    std::lock_guard lock(e.mutex);
    e.recording = was_;
}

}  // namespace uie::test
