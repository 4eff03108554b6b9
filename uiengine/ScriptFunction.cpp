#include "internal/ScriptFunction.h"

#include <vector>

#include "Text.h"
#include "ThreadWait.h"
#include "internal/DocumentScript.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"
#include "internal/ThreadCall.h"

namespace uie::detail {
namespace {

// A function whose document is gone runs as it did where nothing tells its document.
bool CallWithoutDocument(ScriptHeap& heap, std::uint32_t slot, std::span<const value> args, value& result,
                         std::wstring& error) {
    ScriptHeap::Entry entry(heap);
    if (!entry.ok()) {
        error = entry.error();
        return false;
    }
    const ScriptHeap::Activity doing(heap, ScriptHeap::Activity::Function, {});
    return heap.CallKept(entry.ctx(), slot, nullptr, args, result, error);
}

// The call on its document's thread, from another one.
value CallOnDocumentThread(const std::shared_ptr<const ScriptFunction>& fn, HWND hwnd, std::span<const value> args) {
    auto result = std::make_shared<value>();
    auto job = [fn, copied = std::vector<value>(args.begin(), args.end()), result] {
        *result = ScriptFunction::Call(fn, copied);
    };
    switch (RunOnWindowThread(hwnd, std::move(job))) {
        case Reached::Ran: return std::move(*result);
        case Reached::NotServing: break;  // reported once
        case Reached::TimedOut:
            ReportScriptError(hwnd, L"a page's function was given up after " +
                                        std::to_wstring(CrossThreadBound().count()) + L" ms on its window's thread");
            break;
        case Reached::Gone: break;
    }
    return {};
}

}  // namespace

ScriptFunction::~ScriptFunction() { heap->Release(slot); }

value ScriptFunction::Call(const std::shared_ptr<const ScriptFunction>& fn, std::span<const value> args) {
    const std::shared_ptr<DocumentScript> document = fn->doc.lock();
    if (document && OnAnotherThread(document->hwnd())) return CallOnDocumentThread(fn, document->hwnd(), args);
    value result;
    std::wstring error;
    // A native call of a page function: under its page's script-call lock (ThreadWait.h).
    const ScriptCallLock lock(VMThread(fn->heap->vm()));
    const bool ok = lock.held() && (document ? document->CallFunction(fn->slot, args, result, error)
                                             : CallWithoutDocument(*fn->heap, fn->slot, args, result, error));
    if (!lock.held()) error = L"page code runs only on its window's thread";
    if (ok) return result;
    ReportScriptError(document ? document->hwnd() : nullptr, L"a page's function failed: " + error);
    return {};
}

value MakeFunctionValue(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    ScriptHeap& heap = ScriptHeap::Of(ctx);
    // What may throw (or run page code) comes before anything is owned.
    duk_get_prop_string(ctx, idx, "name");
    const std::uint32_t slot = heap.Keep(ctx, idx);
    const std::uint64_t docId = DocumentScript::IdOf(ctx);
    duk_size_t bytes = 0;
    const char* name = duk_is_string(ctx, -1) ? duk_get_lstring(ctx, -1, &bytes) : "";
    auto fn = std::make_shared<const ScriptFunction>(heap.shared_from_this(), slot, heap.FindDocument(docId));
    value made = value::function(
        text::ToUtf8(FromScriptText(std::string_view(name, bytes))),
        [fn](std::span<const value> args) { return ScriptFunction::Call(fn, args); }, fn);
    duk_pop(ctx);  // cannot throw
    return made;
}

}  // namespace uie::detail
