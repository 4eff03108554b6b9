#include "internal/ScriptFunction.h"

#include "Text.h"
#include "internal/DocumentScript.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"

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

}  // namespace

ScriptFunction::~ScriptFunction() { heap->Release(slot); }

value ScriptFunction::Call(std::span<const value> args) const {
    value result;
    std::wstring error;
    const std::shared_ptr<DocumentScript> document = doc.lock();
    const bool ok = document ? document->CallFunction(slot, args, result, error)
                             : CallWithoutDocument(*heap, slot, args, result, error);
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
        [fn](std::span<const value> args) { return fn->Call(args); }, fn);
    duk_pop(ctx);  // cannot throw
    return made;
}

}  // namespace uie::detail
