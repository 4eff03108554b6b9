#include "Loader.h"

#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "Text.h"
#include "Window.h"
#include "internal/DocumentScript.h"
#include "internal/Html.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"
#include "internal/State.h"
#include "internal/ThreadCall.h"

using namespace uie::detail;
namespace test = uie::test;

namespace {

// Frames inside frames are followed this deep; a page framing itself ends there.
constexpr int kMaxFrameDepth = 8;
// Frame documents one load takes in all. Depth alone does not end a page whose frames
// frame it again, since each level multiplies the documents; frames past it stay empty.
constexpr int kMaxFramesPerLoad = 64;

// The request whose load-data notification is running on this thread; SciterDataReady
// answers it. Nested requests (a callback loading another page) stack up.
struct Request {
    HWND hwnd;
    const std::wstring* uri;
    bool handed = false;
    std::vector<std::uint8_t> bytes;
    Request* outer;
};
thread_local Request* t_request = nullptr;

struct Fetched {
    test::LoadSource source = test::LoadSource::Missing;
    std::vector<std::uint8_t> bytes;
};

// Paths are handled as UTF-8 bytes, whatever the process locale.
std::filesystem::path FsPath(std::wstring_view path) { return std::filesystem::path(text::ToUtf8(path)); }

std::wstring FileUri(const wchar_t* path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(FsPath(path), ec);
    if (ec) p = FsPath(path);
    return L"file://" + text::FromUtf8(p.lexically_normal().string());
}

bool HasScheme(std::wstring_view ref) {
    std::size_t colon = ref.find(L':');
    if (colon == std::wstring_view::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!std::iswalnum(ref[i]) && ref[i] != L'+' && ref[i] != L'-' && ref[i] != L'.') return false;
    }
    return true;
}

// Removes "." and ".." segments from the path part of a file URI.
std::wstring Normalize(const std::wstring& uri) {
    constexpr std::wstring_view kPrefix = L"file://";
    if (!uri.starts_with(kPrefix)) return uri;
    std::wstring_view path = std::wstring_view(uri).substr(kPrefix.size());
    std::vector<std::wstring_view> segments;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find(L'/', start);
        std::wstring_view seg = path.substr(start, slash == std::wstring_view::npos ? slash : slash - start);
        if (seg == L"..") {
            if (segments.size() > 1) segments.pop_back();
        } else if (seg != L".") {
            segments.push_back(seg);
        }
        if (slash == std::wstring_view::npos) break;
        start = slash + 1;
    }
    std::wstring out(kPrefix);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i != 0) out += L'/';
        out += segments[i];
    }
    return out;
}

std::wstring ResolveUri(const std::wstring& base, std::wstring_view ref) {
    if (ref.empty()) return base;
    if (HasScheme(ref)) return std::wstring(ref);
    if (ref.starts_with(L"//")) return L"file:" + std::wstring(ref);
    if (ref.starts_with(L"/")) return Normalize(L"file://" + std::wstring(ref));
    std::size_t slash = base.rfind(L'/');
    std::wstring dir = slash == std::wstring::npos ? std::wstring() : base.substr(0, slash + 1);
    return Normalize(dir + std::wstring(ref));
}

bool ReadFileUri(const std::wstring& uri, std::vector<std::uint8_t>& out) {
    constexpr std::wstring_view kPrefix = L"file://";
    if (!uri.starts_with(kPrefix)) return false;
    std::wstring path = uri.substr(kPrefix.size());
    path = path.substr(0, path.find_first_of(L"?#"));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(FsPath(path), ec)) return false;
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Asks the host for a resource, then reads it itself, and reports the outcome.
Fetched Fetch(HWND hwnd, const std::wstring& uri, UINT type) {
    Engine& e = E();
    uie::NotificationCallback callback = nullptr;
    void* param = nullptr;
    {
        std::lock_guard lock(e.mutex);
        if (WindowRec* w = Window(e, hwnd)) {
            callback = w->callback;
            param = w->callbackParam;
        }
    }
    Fetched got;
    UINT answer = LOAD_DEFAULT;
    if (callback != nullptr) {
        Request request{hwnd, &uri, false, {}, t_request};
        t_request = &request;
        uie::LoadDataNotice notice{{SC_LOAD_DATA, hwnd}, uri.c_str(), type};
        answer = callback(&notice, param);
        t_request = request.outer;
        if (request.handed) {
            got.source = test::LoadSource::Callback;
            got.bytes = std::move(request.bytes);
        }
    }
    if (got.source == test::LoadSource::Missing && answer != LOAD_DISCARD && ReadFileUri(uri, got.bytes)) {
        got.source = test::LoadSource::File;
    }
    if (callback != nullptr) {
        bool ok = got.source != test::LoadSource::Missing;
        uie::DataLoadedNotice notice{{SC_DATA_LOADED, hwnd},
                                     uri.c_str(),
                                     type,
                                     got.bytes.data(),
                                     static_cast<UINT>(got.bytes.size()),
                                     ok ? LOAD_STATUS_OK : LOAD_STATUS_MISSING};
        callback(&notice, param);
    }
    std::lock_guard lock(e.mutex);
    if (e.recording) e.loadLog.push_back({hwnd, uri, type, got.source, got.bytes.size()});
    return got;
}

// The texts of the document's script elements in document order (frames have their own):
// inline, or the file the element names, when it was fetched. Every one is JavaScript,
// whatever its type says.
void CollectScripts(Document& doc) {
    const std::wstring page(PageFile(doc.uri));
    Walk(doc.root, false, [&](const std::shared_ptr<Node>& n) {
        if (n->tag != "script") return;
        const std::wstring* src = n->Attr("src");
        if (src == nullptr || src->empty()) {
            doc.scripts.push_back({n->text, page, n->line});
            return;
        }
        auto it = doc.resources.find(ResolveUri(doc.uri, *src));
        if (it == doc.resources.end()) return;
        const std::vector<std::uint8_t>& bytes = it->second;
        std::string_view code(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (code.starts_with("\xEF\xBB\xBF")) code.remove_prefix(3);
        doc.scripts.push_back({text::FromUtf8(code), *src, 1});
    });
}

// Runs the scripts of the shown page: each frame's once its own frames' have run, the page's
// last, so a document's scripts find its frames loaded and working.
void RunScripts(HWND hwnd, Document& doc) {
    for (const auto& frame : doc.frames) RunScripts(hwnd, *frame);
    std::vector<ScriptSource> scripts;
    std::wstring uri;
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        if (doc.root->doc == nullptr) return;  // replaced meanwhile, by a script of its own
        scripts.swap(doc.scripts);
        uri = doc.uri;
    }
    if (scripts.empty()) return;
    std::shared_ptr<DocumentScript> script = DocumentScript::Make(SciterGetVM(hwnd), hwnd, std::move(uri));
    {
        // Known before its scripts run: what they call may call back into the document.
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        doc.script = script;
    }
    if (script) script->Run(scripts);
}

std::shared_ptr<Document> LoadDocument(HWND hwnd, const std::wstring& uri, int depth, int& framesLeft) {
    Fetched page = Fetch(hwnd, uri, RESOURCE_HTML);
    if (page.source == test::LoadSource::Missing) return nullptr;
    auto doc = std::make_shared<Document>();
    doc->uri = uri;
    doc->hwnd = hwnd;
    doc->thread = GetWindowThreadProcessId(hwnd, nullptr);
    doc->root = ParseHtml(std::string_view(reinterpret_cast<const char*>(page.bytes.data()), page.bytes.size()));
    std::vector<std::shared_ptr<Node>> nodes;
    Walk(doc->root, true, [&](const std::shared_ptr<Node>& n) {
        n->doc = doc.get();
        nodes.push_back(n);
    });
    for (const auto& n : nodes) {
        const bool frame = n->tag == "frame" || n->tag == "iframe";
        if (!frame && n->tag != "script" && n->tag != "link" && n->tag != "img") continue;
        const std::wstring* ref = n->Attr(n->tag == "link" ? "href" : "src");
        if (ref == nullptr || ref->empty()) continue;
        std::wstring target = ResolveUri(uri, *ref);
        if (frame) {
            // The frame's only child is the root of its own document.
            n->children.clear();
            if (depth >= kMaxFrameDepth || framesLeft <= 0) continue;
            --framesLeft;
            if (auto child = LoadDocument(hwnd, target, depth + 1, framesLeft)) {
                child->root->parent = n;
                n->children.push_back(child->root);
                doc->frames.push_back(std::move(child));
            }
        } else {
            UINT type = n->tag == "script" ? RESOURCE_SCRIPT : n->tag == "link" ? RESOURCE_STYLE : RESOURCE_IMAGE;
            Fetched res = Fetch(hwnd, target, type);
            if (res.source != test::LoadSource::Missing) doc->resources[target] = std::move(res.bytes);
        }
    }
    CollectScripts(*doc);
    return doc;
}

// The behaviour an element names: behavior="x" or style="...; behavior: x".
std::string BehaviorOf(const Node& n) {
    if (const std::wstring* b = n.Attr("behavior"); b != nullptr && !b->empty()) return text::ToUtf8(*b);
    const std::wstring* style = n.Attr("style");
    if (style == nullptr) return {};
    auto trim = [](std::wstring_view s) {
        while (!s.empty() && std::iswspace(s.front())) s.remove_prefix(1);
        while (!s.empty() && std::iswspace(s.back())) s.remove_suffix(1);
        return s;
    };
    std::wstring_view rest = *style;
    while (!rest.empty()) {
        std::size_t semi = rest.find(L';');
        std::wstring_view decl = rest.substr(0, semi);
        rest = semi == std::wstring_view::npos ? std::wstring_view() : rest.substr(semi + 1);
        std::size_t colon = decl.find(L':');
        if (colon == std::wstring_view::npos) continue;
        std::wstring key(trim(decl.substr(0, colon)));
        for (auto& c : key) c = static_cast<wchar_t>(std::towlower(c));
        if (key == L"behavior") {
            std::wstring_view v = trim(decl.substr(colon + 1));
            return text::ToUtf8(v.substr(0, v.find_first_of(L" \t")));
        }
    }
    return {};
}

void AttachBehaviors(HWND hwnd, const std::shared_ptr<Document>& doc) {
    Engine& e = E();
    std::vector<std::pair<HELEMENT, std::string>> wanted;
    uie::NotificationCallback callback = nullptr;
    void* param = nullptr;
    {
        std::lock_guard lock(e.mutex);
        WindowRec* w = Window(e, hwnd);
        if (w == nullptr || w->callback == nullptr) return;
        callback = w->callback;
        param = w->callbackParam;
        Walk(doc->root, true, [&](const std::shared_ptr<Node>& n) {
            std::string name = BehaviorOf(*n);
            if (!name.empty()) wanted.emplace_back(ToHandle(*n), std::move(name));
        });
    }
    for (const auto& [he, name] : wanted) {
        uie::AttachBehaviorNotice notice{{SC_ATTACH_BEHAVIOR, hwnd}, he, name.c_str(), nullptr};
        callback(&notice, param);
        if (notice.handler != nullptr) uie::AttachElementHandler(he, notice.handler);
    }
}

template <typename R, typename F>
R WithWindow(HWND hwnd, R fallback, F&& f) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    WindowRec* w = Window(e, hwnd);
    return w == nullptr ? fallback : f(*w);
}

UINT RootNumber(HWND hwnd, const char* attr) {
    return WithWindow(hwnd, 0u, [attr](WindowRec& w) {
        const std::wstring* v = w.doc ? w.doc->root->Attr(attr) : nullptr;
        if (v == nullptr) return 0u;
        long n = std::wcstol(v->c_str(), nullptr, 10);
        return n > 0 ? static_cast<UINT>(n) : 0u;
    });
}

}  // namespace

BOOL SciterSetCallback(HWND hwnd, uie::NotificationCallback callback, void* param) {
    return WithWindow(hwnd, FALSE, [&](WindowRec& w) {
        w.callback = callback;
        w.callbackParam = param;
        return TRUE;
    });
}

BOOL SciterSetHomeURL(HWND hwnd, const wchar_t* url) {
    return WithWindow(hwnd, FALSE, [&](WindowRec& w) {
        w.homeUrl = url != nullptr ? url : L"";
        return TRUE;
    });
}

BOOL SciterLoadFile(HWND hwnd, const wchar_t* path) {
    if (path == nullptr || *path == L'\0' || !IsWindow(hwnd)) return FALSE;
    if (OnAnotherThread(hwnd)) {
        // Its scripts run on the window's thread, so the whole load does.
        auto loaded = std::make_shared<BOOL>(FALSE);
        const Reached reached = RunOnWindowThread(hwnd, [hwnd, file = std::wstring(path), loaded] {
            *loaded = SciterLoadFile(hwnd, file.c_str());
        });
        return reached == Reached::Ran ? *loaded : FALSE;
    }
    int framesLeft = kMaxFramesPerLoad;
    auto doc = LoadDocument(hwnd, FileUri(path), 0, framesLeft);
    if (!doc) return FALSE;
    std::shared_ptr<Document> old;
    bool replacesScripts = false;
    {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        WindowRec* w = Window(e, hwnd);
        if (w == nullptr) return FALSE;  // destroyed while loading
        Register(e, *doc);
        old = std::exchange(w->doc, doc);
        replacesScripts = old && RanScripts(*old);
    }
    Retire(std::move(old));
    AttachBehaviors(hwnd, doc);
    RunScripts(hwnd, *doc);
    if (replacesScripts) {
        if (const std::shared_ptr<ScriptHeap> heap = HeapOf(SciterGetVM(hwnd))) heap->CollectReplaced();
    }
    return TRUE;
}

BOOL SciterDataReady(HWND hwnd, const wchar_t* uri, const BYTE* data, UINT dataLength) {
    if (uri == nullptr || (data == nullptr && dataLength != 0)) return FALSE;
    for (Request* r = t_request; r != nullptr; r = r->outer) {
        if (r->hwnd == hwnd && *r->uri == uri) {
            r->bytes.assign(data, data + dataLength);
            r->handed = true;
            return TRUE;
        }
    }
    return FALSE;
}

UINT SciterGetMinWidth(HWND hwnd) { return RootNumber(hwnd, "data-min-width"); }

UINT SciterGetMinHeight(HWND hwnd, UINT width) {
    WithWindow(hwnd, 0, [width](WindowRec& w) {
        w.minHeightWidth = width;
        return 0;
    });
    return RootNumber(hwnd, "data-min-height");
}

BOOL SciterUpdateWindow(HWND hwnd) {
    return WithWindow(hwnd, FALSE, [](WindowRec& w) {
        ++w.updates;
        return TRUE;
    });
}

BOOL SciterSetupDebugOutput(HWND hwnd, void* param, uie::DebugOutputProc proc) {
    if (hwnd == nullptr) {
        Engine& e = E();
        std::lock_guard lock(e.mutex);
        e.debugProc = proc;
        e.debugParam = param;
        return TRUE;
    }
    return WithWindow(hwnd, FALSE, [&](WindowRec& w) {
        w.debugProc = proc;
        w.debugParam = param;
        return TRUE;
    });
}

namespace uie::test {

std::vector<LoadRecord> LoadLog() {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    return e.loadLog;
}

std::optional<std::vector<std::uint8_t>> ResourceBytes(HELEMENT he, std::wstring_view uri) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, he);
    if (!node) return std::nullopt;
    auto it = node->doc->resources.find(uri);
    if (it == node->doc->resources.end()) return std::nullopt;
    return it->second;
}

std::wstring HomeUrl(HWND hwnd) {
    return WithWindow(hwnd, std::wstring(), [](WindowRec& w) { return w.homeUrl; });
}

unsigned WindowUpdateCount(HWND hwnd) {
    return WithWindow(hwnd, 0u, [](WindowRec& w) { return w.updates; });
}

unsigned ElementUpdateCount(HELEMENT he) {
    Engine& e = E();
    std::lock_guard lock(e.mutex);
    auto node = Resolve(e, he);
    return node ? node->updates : 0;
}

UINT LastMinHeightWidth(HWND hwnd) {
    return WithWindow(hwnd, 0u, [](WindowRec& w) { return w.minHeightWidth; });
}

}  // namespace uie::test
