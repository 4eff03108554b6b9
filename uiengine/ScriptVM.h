// The script VM: one per user-interface thread, so the pages of every window a
// thread owns see the native objects and classes defined on that thread. Its page
// scripts run in one JavaScript heap (ScriptHeap.h), where every native object and class
// is a global of every document (NativeBinding.h); tests can also play the page's side
// (EngineTest.h).
//
// A thread's VM lives as long as the thread has a window: when its last window goes, the VM
// is let go and its heap ends there, its finalizers run on the thread as page code; a
// function value still held elsewhere then finds its page gone.
//
// Threads: page code runs only on the VM's own thread, whoever starts it (a timer, the
// scripts at load, an event, a function value, a page call): a call from another thread is
// sent to the thread of the page's window and runs there, while the caller serves what is
// sent to its own windows (ThreadCall.h). So no lock is taken to run page code, and a page
// that never ends holds its own thread and nothing else.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"
#include "WinTypes.h"

namespace uie {
class ScriptVM;
}
using HVM = uie::ScriptVM*;

namespace uie {

// What a native function is called with.
struct NativeArgs {
    value self;  // the instance for instance methods and properties, else undefined
    std::vector<value> list;

    std::size_t size() const { return list.size(); }
    const value& operator[](std::size_t i) const;  // undefined past the end
};

using NativeFn = std::function<value(HVM vm, const NativeArgs& args)>;
using NativeSetter = std::function<void(HVM vm, const value& self, const value& v)>;

struct NativeMethod {
    std::string name;
    NativeFn fn;
};

// Without a setter the property is read-only and a page's write is a script error.
struct NativeProperty {
    std::string name;
    NativeFn get;
    NativeSetter set;
};

struct NativeConstant {
    std::string name;
    value v;
};

// A named object in the VM's global namespace.
struct NativeObjectDef {
    std::vector<NativeMethod> methods;
    std::vector<NativeProperty> properties;
    std::vector<NativeConstant> constants;
};

// A class whose instances are objects with reference semantics. The finalizer gets
// the instance data (null when none was set) at the instance's last release, on the
// thread that lets go of it.
struct NativeClassDef {
    std::string name;
    NativeFn constructor;  // runs with the new instance as self; may refuse by raising
    std::vector<NativeMethod> classMethods;  // called on the class itself
    std::vector<NativeMethod> methods;       // called on an instance
    std::vector<NativeProperty> properties;  // of an instance
    std::vector<NativeConstant> constants;   // of the class
    NativeFn getItem;                        // instance[key], the key as args[0]
    std::function<std::vector<value>(HVM vm, const value& self)> iterate;
    std::function<void(void* data)> finalizer;
};

// A script error. Thrown inside a native function, it ends the call: the VM records
// the text and the page's call yields nothing.
class ScriptError : public std::exception {
public:
    explicit ScriptError(std::wstring text);
    const std::wstring& text() const { return text_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::wstring text_;
    std::string utf8_;
};

// Argument readers; i counts from 0. A missing or mistyped argument throws
// ScriptError "parameter N, expecting T" with N = i + 1.
int ArgInt(const NativeArgs& args, std::size_t i);
double ArgFloat(const NativeArgs& args, std::size_t i);  // an int is accepted
bool ArgBool(const NativeArgs& args, std::size_t i);
std::wstring ArgString(const NativeArgs& args, std::size_t i);
const value& ArgArray(const NativeArgs& args, std::size_t i);
const value& ArgMap(const NativeArgs& args, std::size_t i);
const value& ArgFunction(const NativeArgs& args, std::size_t i);
// An argument of any type that must be there ("expecting value" when absent).
const value& ArgPresent(const NativeArgs& args, std::size_t i);
// An absent (or undefined) argument gives the fallback; a mistyped one still throws.
int ArgIntOr(const NativeArgs& args, std::size_t i, int fallback);
std::wstring ArgStringOr(const NativeArgs& args, std::size_t i, std::wstring_view fallback);

// Records a script error without ending the native function.
void RaiseScriptError(HVM vm, std::wstring text);
std::wstring LastScriptError(HVM vm);
void ClearScriptError(HVM vm);

// Defined from another thread than the VM's, the pages' scripts see it from the VM's next
// run of page code on its own thread.
bool DefineNativeObject(HVM vm, std::string_view name, std::shared_ptr<const NativeObjectDef> def);
bool DefineNativeClass(HVM vm, std::shared_ptr<const NativeClassDef> def);
bool HasNative(HVM vm, std::string_view name);
// The names of the native objects and classes in the order they were first defined.
std::vector<std::string> NativeNames(HVM vm);

// An instance of a defined class made without running its constructor.
value NewInstance(HVM vm, std::string_view className, void* data = nullptr);
void* InstanceData(const value& obj);
bool SetInstanceData(const value& obj, void* data);
std::string ClassName(const value& obj);

// Calls a function a page handed over, on its page's thread; undefined when `fn` is not a
// function (or its page cannot run it: reported).
value CallFunctionRef(const value& fn, std::span<const value> args);

// The thread a VM belongs to.
DWORD VMThread(HVM vm);

// What the page code of the window's thread is running now, e.g. "a timer of [main.htm]"
// or "Refresh() of [main.htm]"; empty when it runs none. Any thread, without waiting for
// the page: for a report about a thread that does not end.
std::wstring RunningScript(HWND hwnd);

}  // namespace uie

// The VM of the thread that owns the window; null for a dead window.
HVM SciterGetVM(HWND hwnd);
// Script values and engine values are one type here: both are deep copies.
BOOL Sciter_v2V(HVM vm, const VALUE* scriptValue, VALUE* out, BOOL isolate);
BOOL Sciter_V2v(HVM vm, const VALUE* in, VALUE* scriptValue);
