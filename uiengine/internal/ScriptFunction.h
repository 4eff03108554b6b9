// A function of a page script that native code holds (as a function value): the function
// stays in a slot of its heap until the last copy of the value goes. It runs in the
// document it was handed over from, while that document is there, on its window's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <duktape.h>

#include "Value.h"

namespace uie::detail {

class DocumentScript;
class ScriptHeap;

struct ScriptFunction {
    ScriptFunction(std::shared_ptr<ScriptHeap> h, std::uint32_t s, std::weak_ptr<DocumentScript> d)
        : heap(std::move(h)), slot(s), doc(std::move(d)) {}
    ~ScriptFunction();
    ScriptFunction(const ScriptFunction&) = delete;
    ScriptFunction& operator=(const ScriptFunction&) = delete;

    // Runs the function as a plain call, sent to its document's thread from another one; a
    // failure is reported (ScriptOutput.h) and gives undefined.
    static value Call(const std::shared_ptr<const ScriptFunction>& fn, std::span<const value> args);

    const std::shared_ptr<ScriptHeap> heap;
    const std::uint32_t slot;
    const std::weak_ptr<DocumentScript> doc;
};

// The function value for the script function at idx of a heap's context; may throw.
value MakeFunctionValue(duk_context* ctx, duk_idx_t idx);

}  // namespace uie::detail
