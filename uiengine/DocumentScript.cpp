#include "internal/DocumentScript.h"

#include <algorithm>
#include <cstring>

#include "Text.h"
#include "Window.h"
#include "internal/NativeBinding.h"
#include "internal/ScriptCache.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"

namespace uie::detail {
namespace {

constexpr const char kDocument[] = DUK_HIDDEN_SYMBOL("document");  // on a document's own functions

std::uint64_t DocumentId(duk_context* ctx) {
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, kDocument);
    const auto id = static_cast<std::uint64_t>(duk_get_number(ctx, -1));
    duk_pop_2(ctx);
    return id;
}

// Arms the window's timer for a function kept in `slot`; 0 when it cannot wait.
UINT_PTR StartTimer(ScriptHeap& heap, std::uint64_t docId, std::uint32_t slot, double ms) {
    const std::shared_ptr<DocumentScript> doc = heap.FindDocument(docId);
    if (!doc) return 0;
    // Timers of documents gone since are dropped first: their windows may never fire them.
    for (const auto& [id, orphan] : heap.timers().TakeOrphans()) {
        KillTimer(orphan.hwnd, id);
        heap.Release(orphan.fnSlot);
    }
    const UINT_PTR id = heap.timers().Add({doc, doc->hwnd(), slot});
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
    const UINT_PTR id = StartTimer(heap, DocumentId(ctx), slot, ms);
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
        std::memcpy(duk_push_fixed_buffer(thread, bytecode->size()), bytecode->data(), bytecode->size());
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

void PutDocumentFunction(duk_context* ctx, const char* name, duk_c_function fn, std::uint64_t docId) {
    duk_push_c_function(ctx, fn, DUK_VARARGS);
    duk_push_number(ctx, static_cast<double>(docId));
    duk_put_prop_string(ctx, -2, kDocument);
    duk_put_prop_string(ctx, -2, name);
}

}  // namespace

std::shared_ptr<DocumentScript> DocumentScript::Make(HVM vm, HWND hwnd, std::wstring uri) {
    std::shared_ptr<ScriptHeap> heap = HeapOf(vm);
    if (!heap) return nullptr;
    auto doc = std::make_shared<DocumentScript>(std::move(heap), hwnd, std::move(uri));
    return doc->Setup() ? doc : nullptr;
}

DocumentScript::DocumentScript(std::shared_ptr<ScriptHeap> heap, HWND hwnd, std::wstring uri)
    : heap_(std::move(heap)), hwnd_(hwnd), uri_(std::move(uri)), callPrefix_(PageCallPrefix(uri_)) {}

DocumentScript::~DocumentScript() { heap_->Release(global_); }

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
        PutDocumentFunction(c, "setTimeout", NativeBinding::Throwing<&SetTimeoutCall>, id);
        PutDocumentFunction(c, "clearTimeout", NativeBinding::Throwing<&ClearTimeoutCall>, id);
        global_ = heap_->Keep(c, -1);
        globalPtr_ = duk_get_heapptr(c, -1);
        return 0;
    };
    const bool made = ScriptHeap::Protected(entry.ctx(), setup, 1);
    if (!made) Report(L"scripts", ScriptHeap::Describe(entry.ctx(), -1));
    duk_pop(entry.ctx());
    return made;
}

void DocumentScript::Run(const std::vector<ScriptSource>& sources) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(L"scripts", entry.error());
        return;
    }
    std::uint32_t ownSlot = 0;
    duk_context* const thread = TakeThread(entry.ctx(), ownSlot);
    if (thread == nullptr) return;
    for (const ScriptSource& source : sources) {
        // Blank lines in front: the lines errors name are those of the file.
        const std::string code =
            std::string(source.firstLine > 1 ? source.firstLine - 1 : 0, '\n') + ToScriptText(source.text);
        const std::string file = ToScriptText(source.file);
        // Looked up before Duktape is called, which may throw past anything made meanwhile.
        const std::shared_ptr<const std::string> compiled = ScriptCache::Instance().Find(file, code);
        bool failed = false;
        auto run = [&](duk_context* c) -> duk_ret_t {
            if (!PushProgram(thread, file, code, compiled.get()) || duk_pcall(thread, 0) != DUK_EXEC_SUCCESS) {
                failed = true;
                duk_xmove_top(c, thread, 1);  // the error, to be described here
                return 1;
            }
            duk_pop(thread);
            return 0;
        };
        if (!ScriptHeap::Protected(entry.ctx(), run, 1) || failed) {
            Report(L"script", ScriptHeap::Describe(entry.ctx(), -1));
        }
        duk_pop(entry.ctx());
    }
    ReturnThread(entry.ctx(), thread, ownSlot);
}

duk_context* DocumentScript::TakeThread(duk_context* ctx, std::uint32_t& ownSlot) {
    duk_context* thread = nullptr;
    bool lent = false;
    auto take = [&](duk_context* c) -> duk_ret_t {
        duk_context* t = heap_->LendLoader(c);
        lent = t != nullptr;
        if (!lent) {  // the heap's is at work on an outer load
            duk_push_thread(c);
            t = duk_get_context(c, -1);
            ownSlot = heap_->Keep(c, -1);
            duk_pop(c);
        }
        PushGlobal(t);
        duk_set_global_object(t);
        thread = t;
        return 0;
    };
    if (!ScriptHeap::Protected(ctx, take, 1)) {
        Report(L"scripts", ScriptHeap::Describe(ctx, -1));
        heap_->Release(ownSlot);
        if (lent) heap_->ReturnLoader();
        thread = nullptr;
    }
    duk_pop(ctx);
    return thread;
}

void DocumentScript::ReturnThread(duk_context* ctx, duk_context* thread, std::uint32_t ownSlot) {
    heap_->Release(ownSlot);
    if (ownSlot != 0) return;  // a thread of the load's own, not the heap's
    // The heap's thread keeps no document's global alive between loads.
    auto reset = [this, thread](duk_context*) -> duk_ret_t {
        heap_->PushRootGlobal(thread);
        duk_set_global_object(thread);
        return 0;
    };
    ScriptHeap::Protected(ctx, reset, 0);
    heap_->ReturnLoader();
}

DocumentScript::Outcome DocumentScript::Call(const std::string& name, std::span<const value> args, value& result) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(text::FromUtf8(name), entry.error());
        return Outcome::Failed;
    }
    bool looked = false;
    bool found = false;
    auto callee = [&](duk_context* c) {
        PushGlobal(c);
        duk_get_prop_lstring(c, -1, name.data(), name.size());  // may run page code
        looked = true;
        found = duk_is_function(c, -1) != 0;
        if (!found) duk_error_raw(c, DUK_ERR_REFERENCE_ERROR, nullptr, 0, "no such function");
        WritePageCall(callPrefix_, name, args);  // owns nothing once it returns: Duktape may throw next
        duk_swap_top(c, -2);              // the function, then `this`: the document's global
    };
    std::wstring error;
    if (ScriptHeap::Call(entry.ctx(), callee, args, result, error)) return Outcome::Done;
    const bool missing = looked && !found;
    Report(text::FromUtf8(name), missing ? L"no such function" : error);
    return missing ? Outcome::Missing : Outcome::Failed;
}

void DocumentScript::RunTimer(std::uint32_t fnSlot) {
    ScriptHeap::Entry entry(*heap_);
    if (!entry.ok()) {
        Report(L"timer", entry.error());
        return;
    }
    auto callee = [this, fnSlot](duk_context* c) {
        heap_->PushKept(c, fnSlot);
        PushGlobal(c);
    };
    value result;
    std::wstring error;
    if (!ScriptHeap::Call(entry.ctx(), callee, {}, result, error)) Report(L"timer", error);
}

void DocumentScript::PushGlobal(duk_context* ctx) const { duk_push_heapptr(ctx, globalPtr_); }

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
