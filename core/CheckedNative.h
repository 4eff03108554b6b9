// Native methods of the pages' script objects whose arguments are read through the
// engine's checked readers (uie::ArgInt and the others throw on a missing or mistyped one).
#pragma once

#include "EngineSdk.h"

// The body with the engine's argument error turned into the page's script error
// ("parameter %d, expecting %s") and `fallback` as the method's answer. Bodies read all
// their arguments before they act, so a refused call has done nothing.
inline uie::NativeFn Checked(uie::value fallback, uie::NativeFn body) {
    return [fallback, body](HVM vm, const uie::NativeArgs& args) {
        try {
            return body(vm, args);
        } catch (const uie::ScriptError& e) {
            uie::RaiseScriptError(vm, e.text());
            return fallback;
        }
    };
}
