#include "internal/DocumentScript.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Text.h"
#include "Window.h"
#include "internal/NativeBinding.h"
#include "internal/ScriptCache.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"

namespace uie::detail {
namespace {

// The document's id, on its global.
constexpr const char kDocument[] = DUK_HIDDEN_SYMBOL("document");

// Arms the window's timer for a function kept in `slot`; 0 when it cannot wait.
UINT_PTR StartTimer(ScriptHeap& heap, std::uint64_t docId, std::uint32_t slot, double ms) {
    const std::shared_ptr<DocumentScript> doc = heap.FindDocument(docId);
    if (!doc) return 0;
    // Timers of documents gone since are dropped first: their windows may never fire them.
    for (const auto& [id, orphan] : heap.timers().TakeOrphans()) {
        KillTimer(orphan.hwnd, id);
        heap.Release(orphan.fnSlot);
    }
    const UINT_PTR id = heap.timers().Add({doc, docId, doc->hwnd(), slot});
    if (id == 0) return 0;
    const double delay = std::clamp(ms, 0.0, 2147483647.0);  // NaN is not below 0: it waits 0
    if (SetTimer(doc->hwnd(), id, delay >= 0 ? static_cast<UINT>(delay) : 0, nullptr) != 0) return id;
    PageTimers::Pending dropped;
    heap.timers().Take(id, dropped);
    return 0;
}

// setTimeout(fn, ms): the id of a one-shot timer that runs fn with no argument.
int SetTimeoutCall(duk_context* ctx) {
    if (!duk_is_function(ctx, 0))
        return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, L"setTimeout needs a function");
    const double ms = duk_is_number(ctx, 1) ? duk_get_number(ctx, 1) : 0;
    ScriptHeap& heap = ScriptHeap::Of(ctx);
    std::uint32_t slot = 0;
    auto keep = [&heap, &slot](duk_context* c) -> duk_ret_t {
        slot = heap.Keep(c, 0);
        return 0;
    };
    if (!ScriptHeap::Protected(ctx, keep, 1)) return -1;
    duk_pop(ctx);
    const UINT_PTR id = StartTimer(heap, DocumentScript::IdOf(ctx), slot, ms);
    if (id == 0) {
        heap.Release(slot);
        return NativeBinding::Fail(ctx, DUK_ERR_RANGE_ERROR, L"setTimeout: too many timers waiting");
    }
    duk_push_number(ctx, static_cast<double>(id));
    return 1;
}

int ClearTimeoutCall(duk_context* ctx) {
    const double id = duk_get_number_default(ctx, 0, 0);
    ScriptHeap& heap = ScriptHeap::Of(ctx);
    PageTimers::Pending cleared;
    if (id > 0 && heap.timers().Take(static_cast<UINT_PTR>(id), cleared)) {
        KillTimer(cleared.hwnd, static_cast<UINT_PTR>(id));
        heap.Release(cleared.fnSlot);
    }
    return 0;
}

// Pushes a script's program on the document's thread: loaded from the bytecode kept of it,
// else compiled, and its bytecode kept. False, with the error pushed instead, when it does
// not compile.
bool PushProgram(duk_context* thread, const std::string& file, const std::string& code, const std::string* bytecode) {
    if (bytecode != nullptr) {
        // Read where the cache keeps it, which the caller holds meanwhile: no copy.
        duk_push_external_buffer(thread);
        duk_config_buffer(thread, -1, const_cast<char*>(bytecode->data()), bytecode->size());
        duk_load_function(thread);  // in the thread's global environment, as compiling there does
        return true;
    }
    duk_push_lstring(thread, code.data(), code.size());
    duk_push_lstring(thread, file.data(), file.size());
    if (duk_pcompile(thread, 0) != DUK_EXEC_SUCCESS) return false;
    duk_dup_top(thread);
    duk_dump_function(thread);
    duk_size_t size = 0;
    const auto* dumped = static_cast<const char*>(duk_get_buffer_data(thread, -1, &size));
    ScriptCache::Instance().Add(file, code, std::string_view(dumped, size));  // gone before Duktape is called again
    duk_pop(thread);
    return true;
}

void PutDocumentId(duk_context* ctx, std::uint64_t docId) {
    duk_push_number(ctx, static_cast<double>(docId));
    duk_put_prop_string(ctx, -2, kDocument);
}

// A new script thread, kept in a slot of the heap, whose global is the object at heap
// pointer `global`. In a protected call.
duk_context* MakeThread(duk_context* c, ScriptHeap& heap, void* global, std::uint32_t& slot) {
    duk_push_thread(c);
    duk_context* thread = duk_get_context(c, -1);
    duk_push_heapptr(thread, global);
    duk_set_global_object(thread);
    slot = heap.Keep(c, -1);  // the last that may throw: a slot given is a thread made
    duk_pop(c);
    return thread;
}

}  // namespace

// The script thread one run of the document's code uses, with the document's global as its
// own. Scripts at load run on the heap's loader, lent to one load at a time; calls run on the
// document's own thread, made on its first call. Where that one is taken (the loader by an
// outer load; the document's thread by a run further out, below another document's: a page
// calling across and being called back), a thread is made for the run alone.
class DocumentScript::Lease {
public:
    enum Use { Load, Call };

    Lease(DocumentScript& doc, duk_context* current, Use use) : doc_(doc), current_(current) {
        // The document's own thread, made before and free: nothing to make, nothing that throws.
        if (use == Call && doc_.thread_ != nullptr && (thread_ = Own(current)) != nullptr) return;
        auto take = [this, use](duk_context* c) -> duk_ret_t {
            thread_ = use == Load ? Loader(c) : Own(c);
            if (thread_ == nullptr) thread_ = MakeThread(c, *doc_.heap_, doc_.globalPtr_, ownSlot_);
            return 0;
        };
        if (!ScriptHeap::Protected(current, take, 1)) {
            doc.Report(L"scripts", ScriptHeap::Describe(current, -1));
            Give();
            thread_ = nullptr;
        }
        duk_pop(current);
    }
    ~Lease() { Give(); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    duk_context* thread() const { return thread_; }  // null when none could be had (reported)

private:
    // The heap's loader with the document's global, or null when an outer load has it.
    duk_context* Loader(duk_context* c) {
        duk_context* loader = doc_.heap_->LendLoader(c);
        if (loader == nullptr) return nullptr;
        lent_ = true;
        duk_push_heapptr(loader, doc_.globalPtr_);
        duk_set_global_object(loader);
        return loader;
    }
    // The document's own thread, or null when a run further out holds it.
    duk_context* Own(duk_context* c) {
        if (doc_.thread_ != current_ && doc_.threadRuns_ != 0) return nullptr;
        if (doc_.thread_ == nullptr) doc_.thread_ = MakeThread(c, *doc_.heap_, doc_.globalPtr_, doc_.threadSlot_);
        ++doc_.threadRuns_;
        counted_ = true;
        return doc_.thread_;
    }
    void Give() {
        doc_.heap_->Release(std::exchange(ownSlot_, 0));
        if (std::exchange(counted_, false)) --doc_.threadRuns_;
        if (std::exchange(lent_, false)) doc_.heap_->ReturnLoader(current_);
    }

    DocumentScript& doc_;
    duk_context* const current_;
    duk_context* thread_ = nullptr;
    std::uint32_t ownSlot_ = 0;
    bool counted_ = false;
    bool lent_ = false;
};

std::shared_ptr<DocumentScript> DocumentScript::Make(HVM vm, HWND hwnd, std::wstring uri) {
    std::shared_ptr<ScriptHeap> heap = HeapOf(vm);
    if (!heap) return nullptr;
    auto doc = std::make_shared<DocumentScript>(std::move(heap), hwnd, std::move(uri));
    return doc->Setup() ? doc : nullptr;
}

DocumentScript::DocumentScript(std::shared_ptr<ScriptHeap> heap, HWND hwnd, std::wstring uri)
    : heap_(std::move(heap)),
      hwnd_(hwnd),
      uri_(std::move(uri)),
      page_(PageFile(uri_)),
      callPrefix_(PageCallPrefix(page_)) {}

DocumentScript::~DocumentScript() {
    heap_->Release(threadSlot_);
    heap_->Release(global_);
}

bool DocumentScript::Setup() {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(L"scripts", entry.error());
        return false;
    }
    const std::uint64_t id = heap_->AddDocument(weak_from_this());
    auto setup = [this, id](duk_context* c) -> duk_ret_t {
        duk_push_object(c);
        heap_->PushRootGlobal(c);
        duk_set_prototype(c, -2);
        PutDocumentId(c, id);
        global_ = heap_->Keep(c, -1);
        globalPtr_ = duk_get_heapptr(c, -1);
        return 0;
    };
    const bool made = ScriptHeap::Protected(entry.ctx(), setup, 1);
    if (!made) Report(L"scripts", ScriptHeap::Describe(entry.ctx(), -1));
    duk_pop(entry.ctx());
    return made;
}

void DocumentScript::PutTimerFunctions(duk_context* ctx) {
    duk_push_c_function(ctx, NativeBinding::Throwing<&SetTimeoutCall>, DUK_VARARGS);
    duk_put_prop_string(ctx, -2, "setTimeout");
    duk_push_c_function(ctx, NativeBinding::Throwing<&ClearTimeoutCall>, DUK_VARARGS);
    duk_put_prop_string(ctx, -2, "clearTimeout");
}

std::uint64_t DocumentScript::IdOf(duk_context* ctx) {
    duk_push_global_object(ctx);
    duk_get_prop_literal(ctx, -1, kDocument);  // hidden, so the document's own or none
    const auto id = static_cast<std::uint64_t>(duk_get_number_default(ctx, -1, 0));
    duk_pop_2(ctx);
    return id;
}

void DocumentScript::Run(const std::vector<ScriptSource>& sources) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(L"scripts", entry.error());
        return;
    }
    const ScriptHeap::Activity doing(*heap_, ScriptHeap::Activity::Load, page());
    const Lease lease(*this, entry.ctx(), Lease::Load);
    duk_context* const thread = lease.thread();
    if (thread == nullptr) return;
    for (const ScriptSource& source : sources) {
        // Blank lines in front: the lines errors name are those of the file.
        const std::string code =
            std::string(source.firstLine > 1 ? source.firstLine - 1 : 0, '\n') + ToScriptText(source.text);
        const std::string file = ToScriptText(source.file);
        // Looked up before Duktape is called, which may throw past anything made meanwhile.
        const std::shared_ptr<const std::string> compiled = ScriptCache::Instance().Find(file, code);
        const std::string* bytecode = compiled.get();
        auto run = [&file, &code, bytecode](duk_context* c) -> duk_ret_t {
            if (!PushProgram(c, file, code, bytecode)) return duk_throw(c);  // the compile error
            duk_call(c, 0);
            return 0;
        };
        if (!ScriptHeap::Protected(thread, run, 1)) Report(L"script", ScriptHeap::Describe(thread, -1));
        duk_pop(thread);
    }
}

DocumentScript::Outcome DocumentScript::Call(const std::string& name, std::span<const value> args, value& result) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(text::FromUtf8(name), entry.error());
        return Outcome::Failed;
    }
    const ScriptHeap::Activity doing(*heap_, ScriptHeap::Activity::Call, page(), name);
    const Lease lease(*this, entry.ctx(), Lease::Call);
    duk_context* const thread = lease.thread();
    if (thread == nullptr) return Outcome::Failed;
    auto writeLine = [this, &name, args] { WritePageCall(callPrefix_, name, args); };
    std::wstring error;
    switch (ScriptHeap::CallScriptFunction(thread, globalPtr_, name, args, result, error, writeLine)) {
        case ScriptHeap::Lookup::Found: return Outcome::Done;
        case ScriptHeap::Lookup::Missing: Report(text::FromUtf8(name), L"no such function"); return Outcome::Missing;
        case ScriptHeap::Lookup::Failed: break;
    }
    Report(text::FromUtf8(name), error);
    return Outcome::Failed;
}

void DocumentScript::RunTimer(std::uint32_t fnSlot) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(L"timer", entry.error());
        return;
    }
    const ScriptHeap::Activity doing(*heap_, ScriptHeap::Activity::Timer, page());
    const Lease lease(*this, entry.ctx(), Lease::Call);
    if (lease.thread() == nullptr) return;
    value result;
    std::wstring error;
    if (!heap_->CallKept(lease.thread(), fnSlot, globalPtr_, {}, result, error)) Report(L"timer", error);
}

bool DocumentScript::CallFunction(std::uint32_t fnSlot, std::span<const value> args, value& result,
                                  std::wstring& error) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        error = entry.error();
        return false;
    }
    const ScriptHeap::Activity doing(*heap_, ScriptHeap::Activity::Function, page());
    const Lease lease(*this, entry.ctx(), Lease::Call);
    if (lease.thread() == nullptr) {
        error = L"no script thread";
        return false;
    }
    return heap_->CallKept(lease.thread(), fnSlot, nullptr, args, result, error);
}

void DocumentScript::Report(std::wstring_view what, std::wstring_view error) const {
    ReportScriptError(hwnd_, PageLabel(uri_) + std::wstring(what) + L": " + std::wstring(error));
}

bool RunPageTimer(HWND hwnd, UINT_PTR id) {
    if (!PageTimers::IsEngineTimer(id)) return false;
    KillTimer(hwnd, id);  // a page's timers fire once
    const std::shared_ptr<ScriptHeap> heap = HeapOf(SciterGetVM(hwnd));
    if (!heap) return true;
    ScriptHeap::Entry entry(*heap);
    if (!entry.ok()) {
        ReportScriptError(hwnd, std::wstring(L"a page's timer was dropped: ") + entry.error());
        return true;
    }
    PageTimers::Pending due;
    if (!heap->timers().Take(id, due)) return true;  // cleared meanwhile
    if (const std::shared_ptr<DocumentScript> doc = due.doc.lock()) doc->RunTimer(due.fnSlot);
    heap->Release(due.fnSlot);
    return true;
}

}  // namespace uie::detail
