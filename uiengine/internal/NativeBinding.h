// How the natives of ScriptVM.h look to page scripts: a native object is a plain object
// whose methods are functions and whose properties and constants are accessors (a write
// without setter is a TypeError); a native class is a constructor with its class methods
// and constants, whose prototype holds the instance methods and properties. An instance is
// an object holding a copy of the native instance value, released by its finalizer when
// the script drops the object; the instance of a class that reads items is a proxy whose
// reads of names the instance lacks go to getItem. A C++ function handed to a script is
// a function holding the function value.
//
// Every Push here may throw (ScriptHeap.h): call them in a protected call.
#pragma once

#include <memory>
#include <string>

#include <duktape.h>

#include "ScriptVM.h"

namespace uie::detail {

class ScriptHeap;

class NativeBinding {
public:
    static void PushObject(duk_context* ctx, ScriptHeap& heap, const std::string& name,
                           const std::shared_ptr<const NativeObjectDef>& def);
    static void PushClass(duk_context* ctx, ScriptHeap& heap, const std::shared_ptr<const NativeClassDef>& def);
    // The instance value `obj` (a VT_OBJECT) as an object of its class.
    static void PushInstance(duk_context* ctx, ScriptHeap& heap, const value& obj);
    // The native instance value an object stands for; null for any other value.
    static const value* InstanceAt(duk_context* ctx, duk_idx_t idx);
    // A function value of C++ as a script function, and back.
    static void PushNativeFunction(duk_context* ctx, const value& fn);
    static const value* NativeFunctionAt(duk_context* ctx, duk_idx_t idx);
    // Pushes a script error of `code` (DUK_ERR_*) with the text; does not throw, the
    // error (or the one making it raised) is on top either way.
    static void PushError(duk_context* ctx, duk_errcode_t code, std::wstring_view text);
    // PushError, then -1: how the body of a C function below fails.
    static int Fail(duk_context* ctx, duk_errcode_t code, std::wstring_view text);

    // A C function for Duktape made of a body that answers the count of results it pushed,
    // or -1 with an error on top; the error is thrown here, after the body's C++ objects
    // are gone.
    template <int (*Body)(duk_context*)>
    static duk_ret_t Throwing(duk_context* ctx) {
        const int pushed = Body(ctx);
        return pushed >= 0 ? pushed : duk_throw(ctx);
    }
};

// The class of a native instance value; null for any other value (ScriptVM.cpp).
const NativeClassDef* InstanceClass(const value& obj);

}  // namespace uie::detail
