// The JavaScript side of one script VM: a Duktape heap. Native code enters it through an
// Entry, only on the VM's own thread: page code runs on its window's thread and nowhere else
// (a call from another thread is sent there: ThreadCall.h), so no lock is taken to enter it
// and no thread ever waits for another's page. Script values that native code keeps (page
// functions handed over, documents' globals and threads, timers' functions) live in numbered
// slots of the heap's stash until released. The heap holds its VM; it ends (its finalizers
// run, as page code) when its thread's last window goes, and what still holds it then finds
// it ended. It never ends under page code of its own still on the stack (a send served
// inside a page's wait may close the last window): the outermost entry's end carries it out.
//
// Duktape reports a script error with longjmp, past every C++ frame up to the protected
// call that catches it. So a Duktape call that may throw (a getter or proxy of the page,
// memory running out, a full value stack) is made only inside a body run by Protected,
// whose captures cannot own anything (checked when it compiles) and which makes no object
// with a destructor itself, or inside the calls built on it here (CallScriptFunction,
// CallKept);
// everything else native code does around them is free to own.
#pragma once

#include <cstdint>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <duktape.h>

#include "EngineTest.h"
#include "ScriptVM.h"
#include "Window.h"
#include "internal/HeapMemory.h"
#include "internal/PageTimers.h"
#include "internal/ScriptValues.h"

namespace uie::detail {

// What a native function of the script side stands for; the heap owns these.
struct NativeEntry {
    enum Kind {
        Method,          // of a native object or a class: self undefined
        InstanceMethod,  // self: `this`, an instance of the class
        Getter,          // a property of a native object
        InstanceGetter,  // a property of an instance
        Setter,
        InstanceSetter,
        ReadOnly,  // a write to a property without setter, or to a constant
        Constant,
        Construct,
        GetItem,  // the proxy of an instance whose class reads items
    };
    Kind kind = Method;
    std::string what;  // "share.GetDate", for the errors it raises and the tests' lookups
    const NativeFn* fn = nullptr;
    const NativeSetter* set = nullptr;
    const value* constant = nullptr;
    std::shared_ptr<const NativeClassDef> cls;  // of instances, constructors and items
    std::shared_ptr<const void> owner;          // keeps fn, set and constant alive
    // 1 + its place in the heap's entries, which its functions carry as their magic number,
    // so a call finds it without a property lookup; 0 past the magic's range.
    int magic = 0;
};

class DocumentScript;

class ScriptHeap : public std::enable_shared_from_this<ScriptHeap> {
public:
    // Made by the VM when it first needs one (ScriptVM.cpp).
    explicit ScriptHeap(std::shared_ptr<ScriptVM> vm);
    ~ScriptHeap();
    ScriptHeap(const ScriptHeap&) = delete;
    ScriptHeap& operator=(const ScriptHeap&) = delete;

    static ScriptHeap& Of(duk_context* ctx);
    static std::size_t Live();  // heaps in the process
    // On the VM's thread as its last window goes: the finalizers of what the pages still hold
    // run, and every later entry is refused; while an entry of the thread is inside, when the
    // outermost leaves. Also from the VMs' registry as the process ends.
    void End();
    // Once a load has replaced a document with scripts: a mark-and-sweep when the heap has
    // handed out kCollectAfter bytes since the last one (ScriptHeap.cpp says why).
    void CollectReplaced();
    static constexpr std::size_t kCollectAfter = std::size_t{1} << 20;

    // Native code inside the heap. ok() is false when the VM could not be entered: from a
    // thread not its own, once it has ended, or with this thread's calls into scripts nested
    // too deep; error() says which.
    class Entry {
    public:
        explicit Entry(ScriptHeap& heap);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        bool ok() const { return ok_; }
        const wchar_t* error() const { return error_; }
        // The context to make calls on: the one running a native now, else the heap's own.
        duk_context* ctx() const;

    private:
        ScriptHeap& heap_;
        int& nesting_;  // this thread's entries into any heap, looked up once
        bool ok_ = false;
        const wchar_t* error_ = nullptr;
    };

    // One run of page code, for a report from another thread (RunningNow): the innermost
    // run is what the heap runs. The page and the name must outlive it. While it lives, the
    // ends of the thread's windows wait for it (Window.h).
    class Activity {
    public:
        enum Kind { Load, Call, Timer, Function, Finalizers };
        Activity(ScriptHeap& heap, Kind kind, std::wstring_view page, std::string_view name = {});
        ~Activity();
        Activity(const Activity&) = delete;
        Activity& operator=(const Activity&) = delete;

    private:
        friend class ScriptHeap;
        ScriptHeap& heap_;
        const Kind kind_;
        const std::wstring_view page_;
        const std::string_view name_;
        const Activity* outer_;
        const HoldWindowEnds holdEnds_;
    };
    // "a timer of [main.htm]"; empty while no page code runs. Any thread.
    std::wstring RunningNow() const;

    // Runs `body(ctx)` in a protected call (`inputs` values on top taken as its own, `results`
    // values left on the stack; on failure the error value and padding). False when it threw.
    template <typename F>
    static bool Protected(duk_context* ctx, F& body, duk_idx_t results, duk_idx_t inputs = 0) {
        // What the body captures is not destroyed when Duktape jumps out of it.
        static_assert(std::is_trivially_destructible_v<F>, "a protected body must not own what it captures");
        return duk_safe_call(ctx, &Trampoline<F>, &body, inputs, results) == DUK_EXEC_SUCCESS;
    }

    // Calls the function kept in `slot` with `self` as `this` (a heap pointer; null:
    // undefined) and `args`, and reads the result. False, with the error's text in `error`,
    // when the function threw or a value was refused.
    bool CallKept(duk_context* ctx, std::uint32_t slot, void* self, std::span<const value> args, value& result,
                  std::wstring& error);
    enum class Lookup { Found, Missing, Failed };
    // Calls the function `name` of the object at heap pointer `object` as CallKept does, with
    // the object as `this`, when it is a function a script made: never a builtin (eval,
    // Function) nor a native. `found()` runs between finding and calling it, inside the
    // protected call: whatever it makes must be gone when it returns. Failed: error is set.
    template <typename F>
    static Lookup CallScriptFunction(duk_context* ctx, void* object, std::string_view name,
                                     std::span<const value> args, value& result, std::wstring& error, F& found);
    // An error value as text, with the place it was thrown when it has one:
    // "TypeError: not callable (page.htm:12)". Never throws.
    static std::wstring Describe(duk_context* ctx, duk_idx_t idx);

    // Slots: Keep stores the value at idx; may throw (call in a protected call).
    std::uint32_t Keep(duk_context* ctx, duk_idx_t idx);
    void PushKept(duk_context* ctx, std::uint32_t slot);
    // Any thread, any lock held: the slot is emptied at the next entry.
    void Release(std::uint32_t slot);

    // The global object every document's global inherits from: the builtins and the natives.
    void PushRootGlobal(duk_context* ctx);
    // The thread documents' scripts run on at load, lent to one load at a time (made on first
    // use, so in a protected call); null while it is lent (a script loading a page): that load
    // makes one of its own.
    duk_context* LendLoader(duk_context* ctx);
    // Takes it back, with the root global again: it keeps no document's global alive.
    void ReturnLoader(duk_context* ctx);
    // A hidden table in the stash (class prototypes, proxy handlers), made on first use.
    void PushTable(duk_context* ctx, const char* hiddenName);
    // Pops the value on top into the root global as `name`, replacing what was there.
    void PutGlobal(duk_context* ctx, const std::string& name);

    // The documents with scripts, for the functions in their globals that need theirs.
    std::uint64_t AddDocument(std::weak_ptr<DocumentScript> doc);
    std::shared_ptr<DocumentScript> FindDocument(std::uint64_t id) const;

    HVM vm() const { return vm_.get(); }
    NativeEntry& AddEntry(NativeEntry entry);
    const NativeEntry* EntryOfMagic(int magic) const;
    PageTimers& timers() { return timers_; }

    // Globals for the natives the VM defines, in every document of the VM.
    void DefineObject(const std::string& name, std::shared_ptr<const NativeObjectDef> def);
    void DefineClass(std::shared_ptr<const NativeClassDef> def);

    // Called by the native-function trampoline around a native's run: calls made meanwhile
    // run on the context that called it.
    duk_context* SwapRunning(duk_context* ctx) { return std::exchange(running_, ctx); }
    // The argument list for a native a script calls, one per level of natives calling
    // scripts calling natives, given back emptied: a call then allocates none.
    NativeArgs& TakeArgs();
    void GiveBackArgs();

private:
    template <typename F>
    static duk_ret_t Trampoline(duk_context* ctx, void* body) {
        return (*static_cast<F*>(body))(ctx);
    }
    static void* Allocate(void* udata, duk_size_t size);
    static void* Reallocate(void* udata, void* ptr, duk_size_t size);
    static void Free(void* udata, void* ptr);
    static void Fatal(void* udata, const char* message);
    // Inside a protected body: [ ... fn this ] -> [ ... result ], with the result read.
    static duk_ret_t CallOnTop(duk_context* c, std::span<const value> args, value& result);
    // Inside a protected body: pushes the object's function `name`, then the object, when a
    // script made the function; false, with nothing pushed, otherwise.
    static bool PushScriptFunction(duk_context* c, void* object, std::string_view name);
    // The error a failed protected call left on top, as text, popped.
    static std::wstring TakeError(duk_context* ctx);
    void DrainReleases(duk_context* ctx);
    // Makes the global `name` from what `push` leaves on the stack; the same definition
    // again changes nothing.
    template <typename F>
    void DefineGlobal(const std::string& name, const void* def, F push);

    const std::shared_ptr<ScriptVM> vm_;
    const DWORD thread_;  // the VM's, the only one that enters
    HeapMemory memory_;  // outlives root_
    duk_context* root_ = nullptr;
    bool ended_ = false;
    bool endPending_ = false;  // asked to end while entries were inside
    unsigned depth_ = 0;      // entries of the thread inside
    duk_context* running_ = nullptr;  // the context running a native now
    void* slots_ = nullptr;       // the array of kept values, slot numbers its indexes
    void* rootGlobal_ = nullptr;  // the global every document's global inherits from
    duk_context* loader_ = nullptr;  // held by a slot for the heap's life
    bool loaderLent_ = false;
    std::uint32_t lastSlot_ = 0;  // the highest slot number given yet
    std::vector<std::uint32_t> freeSlots_;  // emptied slots below it
    std::vector<std::unique_ptr<NativeArgs>> argsPool_;  // the first argsTaken_ are in use
    std::size_t argsTaken_ = 0;
    std::deque<NativeEntry> entries_;  // stable addresses: functions point at them
    std::vector<const NativeEntry*> byMagic_;  // entries_ by magic - 1
    std::vector<std::pair<std::string, const void*>> defined_;  // name -> def installed
    PageTimers timers_;
    std::map<std::uint64_t, std::weak_ptr<DocumentScript>> documents_;
    std::uint64_t lastDocument_ = 0;

    mutable std::mutex activityMutex_;
    const Activity* activity_ = nullptr;  // the innermost run of page code

    std::mutex releasedMutex_;
    std::vector<std::uint32_t> released_;
    std::atomic<bool> anyReleased_{false};  // spares entries the lock while there is nothing
};

template <typename F>
ScriptHeap::Lookup ScriptHeap::CallScriptFunction(duk_context* ctx, void* object, std::string_view name,
                                                  std::span<const value> args, value& result, std::wstring& error,
                                                  F& found) {
    bool pushed = false;
    auto call = [object, name, args, &result, &found, &pushed](duk_context* c) -> duk_ret_t {
        pushed = PushScriptFunction(c, object, name);
        if (!pushed) return 0;
        found();
        return CallOnTop(c, args, result);
    };
    if (!Protected(ctx, call, 1)) {
        error = TakeError(ctx);
        return Lookup::Failed;
    }
    duk_pop(ctx);
    return pushed ? Lookup::Found : Lookup::Missing;
}

template <typename F>
void ScriptHeap::DefineGlobal(const std::string& name, const void* def, F push) {
    Entry entry(*this);
    if (!entry.ok()) return;
    std::pair<std::string, const void*> key(name, def);
    for (const auto& done : defined_) {
        if (done == key) return;
    }
    auto build = [&name, &push, this](duk_context* ctx) -> duk_ret_t {
        push(ctx);
        PutGlobal(ctx, name);
        return 0;
    };
    Protected(entry.ctx(), build, 0);
    defined_.push_back(std::move(key));
}

// The heap of a VM, made with the VM's natives on first use on the VM's thread; null for a
// null VM, for one let go with its thread's last window, and on another thread before one
// is made.
std::shared_ptr<ScriptHeap> HeapOf(HVM vm);
// Whether natives were defined from another thread since the heap last took them in: the
// next HeapOf on the VM's thread does.
bool DefinitionsPending(HVM vm);
// The VM of the window's thread no longer counts the window; the last one's going lets the
// VM go (ScriptVM.h), after the send that ended it, if one did, has been answered
// (AfterTheAnswer, Window.h). On the window's thread, as it is destroyed. `ranScripts`: its document's
// scripts ran, so what they held is collected now when the VM stays, as after a reload.
void ForgetWindow(HWND hwnd, bool ranScripts);

// Runs a native as the VM would: a thrown script error ends the call and is recorded; a
// raised one is recorded while the native's result is kept (test::CallResult).
test::CallResult InvokeNative(HVM vm, const NativeFn& fn, const NativeArgs& args);
// A setter run so, with args[0] the value set; its result is undefined.
test::CallResult InvokeSetter(HVM vm, const NativeSetter& set, const NativeArgs& args);
// What a test reaches by a native's name ("share.GetDate") and kind, read off the VM's
// definitions on any thread, heap or not (ScriptVM.cpp); false when the VM has none such.
bool FindDefinition(HVM vm, std::string_view what, NativeEntry::Kind kind, NativeEntry& out);
// A new instance of the class, its constructor run with args.list: the instance, or null
// when the constructor refused.
test::CallResult ConstructInstance(HVM vm, std::shared_ptr<const NativeClassDef> cls, std::vector<value> args);

}  // namespace uie::detail
