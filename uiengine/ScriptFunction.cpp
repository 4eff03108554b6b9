#include "internal/ScriptFunction.h"

#include "Text.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptOutput.h"

namespace uie::detail {

ScriptFunction::~ScriptFunction() { heap->Release(slot); }

value ScriptFunction::Call(std::span<const value> args) const {
    ScriptHeap::Entry entry(*heap);
    if (!entry.ok()) {
        ReportScriptError(nullptr, std::wstring(L"a page's function was not called: ") + entry.error());
        return {};
    }
    auto callee = [this](duk_context* c) {
        heap->PushKept(c, slot);
        duk_push_undefined(c);
    };
    value result;
    std::wstring error;
    if (!ScriptHeap::Call(entry.ctx(), callee, args, result, error)) {
        ReportScriptError(nullptr, L"a page's function failed: " + error);
        return {};
    }
    return result;
}

value MakeFunctionValue(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    ScriptHeap& heap = ScriptHeap::Of(ctx);
    duk_get_prop_string(ctx, idx, "name");  // may run page code: before anything is owned
    const std::uint32_t slot = heap.Keep(ctx, idx);
    duk_size_t bytes = 0;
    const char* name = duk_is_string(ctx, -1) ? duk_get_lstring(ctx, -1, &bytes) : "";
    auto fn = std::make_shared<const ScriptFunction>(heap.shared_from_this(), slot);
    value made = value::function(
        text::ToUtf8(FromScriptText(std::string_view(name, bytes))),
        [fn](std::span<const value> args) { return fn->Call(args); }, fn);
    duk_pop(ctx);  // cannot throw
    return made;
}

}  // namespace uie::detail
