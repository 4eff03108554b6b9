#include "Dom.h"

#include <cstdint>
#include <cwchar>

#include "internal/Selector.h"
#include "internal/State.h"

using namespace uie::detail;

namespace {

std::string LowerName(const char* name) {
    std::string s(name);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

enum class Reach { Attached, Held };

// Runs f(engine, node) under the engine lock for a live node: one still in its
// document, or with Reach::Held also one kept alive by Sciter_UseElement after its
// document went (such a node has no document, so f must not need one).
template <typename F>
DomResult WithNode(HELEMENT he, F&& f, Reach reach = Reach::Attached) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    std::shared_ptr<Node> node;
    if (reach == Reach::Held) {
        auto it = e.nodes.find(ToId(he));
        if (it != e.nodes.end()) node = it->second.lock();
    } else {
        node = Resolve(e, he);
    }
    if (!node) return DOM_INVALID_HANDLE;
    return f(e, node);
}

DomResult SelectInto(HELEMENT he, const char* selector, std::vector<HELEMENT>& out) {
    if (selector == nullptr) return DOM_INVALID_PARAMETER;
    auto list = ParseSelector(selector);
    if (!list) return DOM_INVALID_PARAMETER;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& scope) {
        Walk(scope, false, [&](const std::shared_ptr<Node>& n) {
            if (n != scope && Matches(*list, *n, *scope)) out.push_back(ToHandle(*n));
        });
        return DOM_OK;
    });
}

std::shared_ptr<Node> ParentInDocument(const Node& node) {
    auto p = node.parent.lock();
    return p && p->doc == node.doc ? p : nullptr;
}

// A number a Windows RECT cannot hold (32 bits) makes the attribute unreadable, as a
// missing one does, so sizes worked out from the rectangle cannot overflow.
RECT RectOf(const Node& node) {
    RECT r{0, 0, 0, 0};
    const std::wstring* attr = node.Attr("data-rect");
    if (attr == nullptr) return r;
    long* fields[] = {&r.left, &r.top, &r.right, &r.bottom};
    const wchar_t* p = attr->c_str();
    for (long* f : fields) {
        wchar_t* end = nullptr;
        long v = std::wcstol(p, &end, 10);
        if (end == p || v < INT32_MIN || v > INT32_MAX) return RECT{0, 0, 0, 0};
        *f = v;
        p = end;
        while (*p == L',' || *p == L' ') ++p;
    }
    return r;
}

}  // namespace

DomResult SciterGetRootElement(HWND hwnd, HELEMENT* out) {
    if (out == nullptr) return DOM_INVALID_PARAMETER;
    *out = nullptr;
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    WindowRec* w = Window(e, hwnd);
    if (w == nullptr) return DOM_INVALID_HWND;
    if (!w->doc) return DOM_NOT_FOUND;
    *out = ToHandle(*w->doc->root);
    return DOM_OK;
}

DomResult SciterSelectElements(HELEMENT he, const char* selector, uie::ElementCallback callback, void* param) {
    if (callback == nullptr) return DOM_INVALID_PARAMETER;
    std::vector<HELEMENT> found;
    DomResult r = SelectInto(he, selector, found);
    if (r != DOM_OK) return r;
    for (HELEMENT h : found) {
        if (callback(h, param)) break;
    }
    return DOM_OK;
}

DomResult SciterGetNthChild(HELEMENT he, UINT n, HELEMENT* out) {
    if (out == nullptr) return DOM_INVALID_PARAMETER;
    *out = nullptr;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        if (n >= node->children.size()) return DOM_INVALID_PARAMETER;
        *out = ToHandle(*node->children[n]);
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterGetChildrenCount(HELEMENT he, UINT* count) {
    if (count == nullptr) return DOM_INVALID_PARAMETER;
    *count = 0;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        *count = static_cast<UINT>(node->children.size());
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterGetParentElement(HELEMENT he, HELEMENT* out) {
    if (out == nullptr) return DOM_INVALID_PARAMETER;
    *out = nullptr;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        if (auto p = node->parent.lock()) *out = ToHandle(*p);
        return DOM_OK;
    });
}

DomResult SciterSelectParent(HELEMENT he, const char* selector, UINT depth, HELEMENT* out) {
    if (out == nullptr || selector == nullptr) return DOM_INVALID_PARAMETER;
    *out = nullptr;
    auto list = ParseSelector(selector);
    if (!list) return DOM_INVALID_PARAMETER;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        const Node& scope = *node->doc->root;
        UINT level = 0;
        for (auto n = node; n && (depth == 0 || level < depth); n = ParentInDocument(*n), ++level) {
            if (Matches(*list, *n, scope)) {
                *out = ToHandle(*n);
                break;
            }
        }
        return DOM_OK;
    });
}

DomResult SciterGetElementIndex(HELEMENT he, UINT* index) {
    if (index == nullptr) return DOM_INVALID_PARAMETER;
    *index = 0;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        if (auto p = node->parent.lock()) {
            for (std::size_t i = 0; i < p->children.size(); ++i) {
                if (p->children[i] == node) *index = static_cast<UINT>(i);
            }
        }
        return DOM_OK;
    });
}

DomResult SciterGetElementLocation(HELEMENT he, RECT* location, UINT areas) {
    if (location == nullptr) return DOM_INVALID_PARAMETER;
    *location = RECT{0, 0, 0, 0};
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        RECT r = RectOf(*node);
        if (areas == AREA_SELF) r = RECT{0, 0, r.right - r.left, r.bottom - r.top};
        *location = r;
        return DOM_OK;
    });
}

DomResult SciterGetAttributeByName(HELEMENT he, const char* name, std::wstring* out) {
    if (name == nullptr || out == nullptr) return DOM_INVALID_PARAMETER;
    out->clear();
    std::string key = LowerName(name);
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        const std::wstring* v = node->Attr(key);
        if (v == nullptr) return DOM_NOT_FOUND;
        *out = *v;
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterSetAttributeByName(HELEMENT he, const char* name, const wchar_t* value) {
    if (name == nullptr || *name == '\0') return DOM_INVALID_PARAMETER;
    std::string key = LowerName(name);
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        if (value == nullptr) {
            node->RemoveAttr(key);
        } else {
            node->SetAttr(key, value);
        }
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterGetElementState(HELEMENT he, UINT* state) {
    if (state == nullptr) return DOM_INVALID_PARAMETER;
    *state = 0;
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        *state = node->state;
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterSetElementState(HELEMENT he, UINT bitsToSet, UINT bitsToClear, BOOL update) {
    return WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        if ((bitsToSet & STATE_FOCUS) != 0 && node->doc != nullptr) {
            // One element of a window has the focus.
            Walk(TopOf(node), true, [](const std::shared_ptr<Node>& n) { n->state &= ~STATE_FOCUS; });
        }
        node->state = (node->state & ~bitsToClear) | bitsToSet;
        if (update) ++node->updates;
        return DOM_OK;
    }, Reach::Held);
}

DomResult SciterUpdateElement(HELEMENT he, BOOL) {
    return WithNode(he, [](Engine&, const std::shared_ptr<Node>& node) {
        ++node->updates;
        return DOM_OK;
    }, Reach::Held);
}

DomResult Sciter_UseElement(HELEMENT he) {
    return WithNode(he, [&](Engine& e, const std::shared_ptr<Node>& node) {
        auto& pin = e.pinned[node->id];
        pin.first = node;
        ++pin.second;
        return DOM_OK;
    }, Reach::Held);
}

DomResult Sciter_UnuseElement(HELEMENT he) {
    std::shared_ptr<Node> last;  // freed after the lock is gone
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto it = e.pinned.find(ToId(he));
    if (it == e.pinned.end()) return DOM_INVALID_HANDLE;
    if (--it->second.second == 0) {
        last = std::move(it->second.first);
        e.pinned.erase(it);
        if (last->doc == nullptr) {
            e.nodes.erase(last->id);  // a detached node nobody holds any more
        }
    }
    return DOM_OK;
}

namespace uie {

std::vector<HELEMENT> Select(HELEMENT scope, const char* selector) {
    std::vector<HELEMENT> found;
    if (SelectInto(scope, selector, found) != DOM_OK) found.clear();
    return found;
}

std::string ElementTag(HELEMENT he) {
    std::string tag;
    WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        tag = node->tag;
        return DOM_OK;
    }, Reach::Held);
    return tag;
}

std::wstring ElementText(HELEMENT he) {
    std::wstring text;
    WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        text = node->text;
        return DOM_OK;
    }, Reach::Held);
    return text;
}

HWND ElementWindow(HELEMENT he) {
    HWND hwnd = nullptr;
    WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        hwnd = node->doc->hwnd;
        return DOM_OK;
    });
    return hwnd;
}

std::wstring ElementDocumentUri(HELEMENT he) {
    std::wstring uri;
    WithNode(he, [&](Engine&, const std::shared_ptr<Node>& node) {
        uri = node->doc->uri;
        return DOM_OK;
    });
    return uri;
}

}  // namespace uie
