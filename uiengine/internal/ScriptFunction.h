// A function of a page script that native code holds (as a function value): the function
// stays in a slot of its heap until the last copy of the value goes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include <duktape.h>

#include "Value.h"

namespace uie::detail {

class ScriptHeap;

struct ScriptFunction {
    ScriptFunction(std::shared_ptr<ScriptHeap> h, std::uint32_t s) : heap(std::move(h)), slot(s) {}
    ~ScriptFunction();
    ScriptFunction(const ScriptFunction&) = delete;
    ScriptFunction& operator=(const ScriptFunction&) = delete;

    // Runs the function on the calling thread with `this` undefined; a failure is reported
    // (ScriptOutput.h) and gives undefined.
    value Call(std::span<const value> args) const;

    const std::shared_ptr<ScriptHeap> heap;
    const std::uint32_t slot;
};

// The function value for the script function at idx of a heap's context; may throw.
value MakeFunctionValue(duk_context* ctx, duk_idx_t idx);

}  // namespace uie::detail
