#include "internal/ScriptHeap.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "Text.h"
#include "Window.h"
#include "internal/DocumentScript.h"
#include "internal/LineOutput.h"
#include "internal/NativeBinding.h"

namespace uie::detail {
namespace {

// A heap may hold this much; past it an allocation fails and the script gets a RangeError,
// so a runaway page cannot take the machine's memory.
constexpr std::size_t kHeapLimit = std::size_t{256} << 20;
// Native -> script -> native -> script ... on one thread: each level is native stack, which
// Duktape's own limits do not see.
constexpr int kMaxNesting = 32;
thread_local int t_nesting = 0;
std::atomic<std::size_t> g_liveHeaps{0};

// An argument list kept for reuse gives back its room past this many.
constexpr std::size_t kKeptArgs = 16;
// A function's magic number is a signed 16-bit value.
constexpr std::size_t kMaxMagic = 0x7FFF;

constexpr const char kSlots[] = DUK_HIDDEN_SYMBOL("slots");
constexpr const char kRoot[] = DUK_HIDDEN_SYMBOL("root");

// globalThis, read through a document's global: that global, the getter's `this`.
duk_ret_t GlobalThis(duk_context* ctx) {
    duk_push_this(ctx);
    return 1;
}

}  // namespace

ScriptHeap::ScriptHeap(std::shared_ptr<ScriptVM> vm)
    : vm_(std::move(vm)), thread_(VMThread(vm_.get())), memory_(kHeapLimit) {
    ++g_liveHeaps;
    root_ = duk_create_heap(&Allocate, &Reallocate, &Free, this, &Fatal);
    if (root_ == nullptr) return;  // every entry is refused
    // Both held by the stash for the heap's life, so pushed by their pointers.
    duk_push_heap_stash(root_);
    duk_push_array(root_);  // dense: slot numbers are reused
    slots_ = duk_get_heapptr(root_, -1);
    duk_put_prop_string(root_, -2, kSlots);
    duk_push_global_object(root_);
    rootGlobal_ = duk_get_heapptr(root_, -1);
    // Every document's global inherits it, and holds no reference to itself.
    duk_push_literal(root_, "globalThis");
    duk_push_c_function(root_, &GlobalThis, 0);
    duk_def_prop(root_, -3,
                 DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_SET_CONFIGURABLE | DUK_DEFPROP_HAVE_ENUMERABLE |
                     DUK_DEFPROP_FORCE);
    DocumentScript::PutTimerFunctions(root_);
    duk_put_prop_string(root_, -2, kRoot);
    duk_pop(root_);
}

ScriptHeap::~ScriptHeap() {
    End();
    --g_liveHeaps;
}

void ScriptHeap::End() {
    if (root_ == nullptr || ended_) return;
    if (depth_ != 0) {
        endPending_ = true;  // the page code under way goes on in the heap it runs in
        return;
    }
    // Finalizers of what the scripts still hold run now, native instances' included: page
    // code like any other, which a report of what the thread runs names.
    {
        const Activity doing(*this, Activity::Finalizers, {});
        ++depth_;
        duk_destroy_heap(root_);
        --depth_;
    }
    ended_ = true;
    root_ = nullptr;
}

// A replaced document's scripts leave cycles (its global, its functions and their
// environments, each function and its prototype) that only a mark-and-sweep frees, and
// Duktape runs one only after many times the live heap has been handed out: until then every
// new object takes memory not touched lately, and a window that loads pages again and again
// spends more on cache misses than the collection costs.
void ScriptHeap::CollectReplaced() {
    Entry entry(*this);
    if (!entry.ok() || memory_.HandedOut() < kCollectAfter) return;
    // The load holds the heap from before the swap: what the replaced document let go is
    // given up now, so that this collection frees it.
    DrainReleases(entry.ctx());
    auto collect = [](duk_context* c) -> duk_ret_t {
        duk_gc(c, 0);
        return 0;
    };
    Protected(entry.ctx(), collect, 0);
    memory_.Collected();
}

std::size_t ScriptHeap::Live() { return g_liveHeaps.load(); }

ScriptHeap& ScriptHeap::Of(duk_context* ctx) {
    duk_memory_functions funcs;
    duk_get_memory_functions(ctx, &funcs);
    return *static_cast<ScriptHeap*>(funcs.udata);
}

void* ScriptHeap::Allocate(void* udata, duk_size_t size) { return static_cast<ScriptHeap*>(udata)->memory_.Allocate(size); }

void* ScriptHeap::Reallocate(void* udata, void* ptr, duk_size_t size) {
    return static_cast<ScriptHeap*>(udata)->memory_.Reallocate(ptr, size);
}

void ScriptHeap::Free(void* udata, void* ptr) { static_cast<ScriptHeap*>(udata)->memory_.Free(ptr); }

void ScriptHeap::Fatal(void*, const char* message) {
    // Only an error outside every protected call lands here, which the engine never makes.
    LineOutput::Instance().Flush();
    std::fprintf(stderr, "script engine: fatal error: %s\n", message != nullptr ? message : "");
    std::fflush(stderr);
    std::abort();
}

// ---- entering ---------------------------------------------------------------------------

ScriptHeap::Entry::Entry(ScriptHeap& heap) : heap_(heap), nesting_(t_nesting) {
    if (heap.root_ == nullptr) {
        error_ = heap.ended_ ? L"its page is gone" : L"the script heap could not be made";
        return;
    }
    if (GetCurrentThreadId() != heap.thread_) {
        error_ = L"page code runs only on its window's thread";
        return;
    }
    if (nesting_ >= kMaxNesting) {
        error_ = L"script calls nested too deep";
        return;
    }
    ok_ = true;
    ++nesting_;
    if (heap.depth_++ != 0) return;
    heap.DrainReleases(heap.root_);
    if (DefinitionsPending(heap.vm())) HeapOf(heap.vm());  // takes them in
}

ScriptHeap::Entry::~Entry() {
    if (!ok_) return;
    --nesting_;
    if (--heap_.depth_ == 0 && heap_.endPending_) heap_.End();
}

duk_context* ScriptHeap::Entry::ctx() const { return heap_.running_ != nullptr ? heap_.running_ : heap_.root_; }

// ---- what runs -------------------------------------------------------------------------

ScriptHeap::Activity::Activity(ScriptHeap& heap, Kind kind, std::wstring_view page, std::string_view name)
    : heap_(heap), kind_(kind), page_(page), name_(name) {
    std::lock_guard lock(heap.activityMutex_);
    outer_ = std::exchange(heap.activity_, this);
}

ScriptHeap::Activity::~Activity() {
    std::lock_guard lock(heap_.activityMutex_);
    heap_.activity_ = outer_;
}

std::wstring ScriptHeap::RunningNow() const {
    std::lock_guard lock(activityMutex_);
    const Activity* a = activity_;
    if (a == nullptr) return {};
    const std::wstring page = L"[" + std::wstring(a->page_) + L"]";
    switch (a->kind_) {
        case Activity::Load: return L"the scripts of " + page + L" at load";
        case Activity::Call: return text::FromUtf8(a->name_) + L"() of " + page;
        case Activity::Timer: return L"a timer of " + page;
        case Activity::Finalizers: return L"the finalizers of its pages";
        case Activity::Function: break;
    }
    return a->page_.empty() ? L"a function of a page gone" : L"a function of " + page;
}

NativeArgs& ScriptHeap::TakeArgs() {
    if (argsTaken_ == argsPool_.size()) argsPool_.push_back(std::make_unique<NativeArgs>());
    return *argsPool_[argsTaken_++];
}

void ScriptHeap::GiveBackArgs() {
    // Emptied while still taken: dropping a value may run a finalizer that calls a native.
    NativeArgs& args = *argsPool_[argsTaken_ - 1];
    args.self = value();
    args.list.clear();
    if (args.list.capacity() > kKeptArgs) std::vector<value>().swap(args.list);
    --argsTaken_;
}

// ---- slots ------------------------------------------------------------------------------

std::uint32_t ScriptHeap::Keep(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    const bool reused = !freeSlots_.empty();
    const std::uint32_t slot = reused ? freeSlots_.back() : lastSlot_ + 1;
    duk_push_heapptr(ctx, slots_);
    duk_dup(ctx, idx);
    duk_put_prop_index(ctx, -2, slot);  // may throw: the number is taken once it holds the value
    duk_pop(ctx);
    if (reused) {
        freeSlots_.pop_back();
    } else {
        ++lastSlot_;
    }
    return slot;
}

void ScriptHeap::PushKept(duk_context* ctx, std::uint32_t slot) {
    duk_push_heapptr(ctx, slots_);
    duk_get_prop_index(ctx, -1, slot);
    duk_remove(ctx, -2);
}

void ScriptHeap::Release(std::uint32_t slot) {
    if (slot == 0) return;
    std::lock_guard lock(releasedMutex_);
    released_.push_back(slot);
    anyReleased_ = true;
}

void ScriptHeap::DrainReleases(duk_context* ctx) {
    if (!anyReleased_.load()) return;
    std::vector<std::uint32_t> slots;
    {
        std::lock_guard lock(releasedMutex_);
        slots.swap(released_);
        anyReleased_ = false;
    }
    if (slots.empty()) return;
    // Emptied, not deleted, so the slots stay a dense array. Dropping a value may run
    // finalizers, which run page code: protected.
    auto drop = [this, &slots](duk_context* c) -> duk_ret_t {
        duk_push_heapptr(c, slots_);
        for (const std::uint32_t slot : slots) {
            duk_push_undefined(c);
            duk_put_prop_index(c, -2, slot);
        }
        duk_pop(c);
        return 0;
    };
    Protected(ctx, drop, 0);
    try {
        freeSlots_.insert(freeSlots_.end(), slots.begin(), slots.end());
    } catch (const std::bad_alloc&) {  // those numbers are not used again
    }
}

void ScriptHeap::PushRootGlobal(duk_context* ctx) { duk_push_heapptr(ctx, rootGlobal_); }

duk_context* ScriptHeap::LendLoader(duk_context* ctx) {
    if (loaderLent_) return nullptr;
    if (loader_ == nullptr) {
        duk_push_thread(ctx);
        Keep(ctx, -1);  // for good
        loader_ = duk_get_context(ctx, -1);
        duk_pop(ctx);
    }
    loaderLent_ = true;
    return loader_;
}

void ScriptHeap::ReturnLoader(duk_context* ctx) {
    auto reset = [this](duk_context*) -> duk_ret_t {
        PushRootGlobal(loader_);
        duk_set_global_object(loader_);
        return 0;
    };
    Protected(ctx, reset, 0);
    loaderLent_ = false;
}

void ScriptHeap::PushTable(duk_context* ctx, const char* hiddenName) {
    duk_push_heap_stash(ctx);
    if (!duk_get_prop_string(ctx, -1, hiddenName)) {
        duk_pop(ctx);
        duk_push_bare_object(ctx);
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, hiddenName);
    }
    duk_replace(ctx, -2);
}

void ScriptHeap::PutGlobal(duk_context* ctx, const std::string& name) {
    PushRootGlobal(ctx);
    duk_push_lstring(ctx, name.data(), name.size());
    duk_dup(ctx, -3);
    // Pages cannot replace the natives; a later definition of the VM can.
    duk_def_prop(ctx, -3,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE |
                     DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_FORCE);
    duk_pop_2(ctx);
}

std::uint64_t ScriptHeap::AddDocument(std::weak_ptr<DocumentScript> doc) {
    std::erase_if(documents_, [](const auto& d) { return d.second.expired(); });
    documents_.emplace(++lastDocument_, std::move(doc));
    return lastDocument_;
}

std::shared_ptr<DocumentScript> ScriptHeap::FindDocument(std::uint64_t id) const {
    auto it = documents_.find(id);
    return it != documents_.end() ? it->second.lock() : nullptr;
}

duk_ret_t ScriptHeap::CallOnTop(duk_context* c, std::span<const value> args, value& result) {
    for (const value& arg : args) PushValue(c, arg);
    duk_call_method(c, static_cast<duk_idx_t>(args.size()));
    ReadValue(c, -1, result);
    return 1;
}

bool ScriptHeap::PushScriptFunction(duk_context* c, void* object, std::string_view name) {
    duk_push_heapptr(c, object);
    duk_push_lstring(c, name.data(), name.size());  // made once for both lookups
    duk_dup_top(c);
    duk_get_prop(c, -3);
    bool own = duk_is_ecmascript_function(c, -1);
    if (own) {
        // What the object inherits (from the root global every document shares) is not its
        // own: a function found there too is not the document's.
        duk_push_heapptr(c, Of(c).rootGlobal_);
        duk_dup(c, -3);
        duk_get_prop(c, -2);
        own = !duk_strict_equals(c, -1, -3);
        duk_pop_2(c);
    }
    duk_remove(c, -2);  // the name
    if (!own) {
        duk_pop_2(c);
        return false;
    }
    duk_swap_top(c, -2);
    return true;
}

std::wstring ScriptHeap::TakeError(duk_context* ctx) {
    std::wstring error = Describe(ctx, -1);
    duk_pop(ctx);
    return error;
}

bool ScriptHeap::CallKept(duk_context* ctx, std::uint32_t slot, void* self, std::span<const value> args,
                          value& result, std::wstring& error) {
    auto call = [this, slot, self, args, &result](duk_context* c) -> duk_ret_t {
        PushKept(c, slot);
        if (self != nullptr) {
            duk_push_heapptr(c, self);
        } else {
            duk_push_undefined(c);
        }
        return CallOnTop(c, args, result);
    };
    if (Protected(ctx, call, 1)) {
        duk_pop(ctx);
        return true;
    }
    error = TakeError(ctx);
    return false;
}

std::wstring ScriptHeap::Describe(duk_context* ctx, duk_idx_t idx) {
    idx = duk_normalize_index(ctx, idx);
    duk_dup(ctx, idx);
    std::wstring text = FromScriptText(duk_safe_to_string(ctx, -1));
    duk_pop(ctx);
    auto where = [idx](duk_context* c) -> duk_ret_t {
        if (!duk_is_error(c, idx)) return 0;
        duk_get_prop_string(c, idx, "fileName");
        duk_get_prop_string(c, idx, "lineNumber");
        return 2;
    };
    if (Protected(ctx, where, 2) && duk_is_string(ctx, -2) && duk_is_number(ctx, -1)) {
        text += L" (" + FromScriptText(duk_get_string(ctx, -2)) + L":" +
                std::to_wstring(duk_get_int(ctx, -1)) + L")";
    }
    duk_pop_2(ctx);
    return text;
}

NativeEntry& ScriptHeap::AddEntry(NativeEntry entry) {
    NativeEntry& added = entries_.emplace_back(std::move(entry));
    if (byMagic_.size() < kMaxMagic) {
        byMagic_.push_back(&added);
        added.magic = static_cast<int>(byMagic_.size());
    }
    return added;
}

const NativeEntry* ScriptHeap::EntryOfMagic(int magic) const {
    return magic > 0 && static_cast<std::size_t>(magic) <= byMagic_.size() ? byMagic_[static_cast<std::size_t>(magic) - 1]
                                                                          : nullptr;
}

// ---- natives ----------------------------------------------------------------------------

void ScriptHeap::DefineObject(const std::string& name, std::shared_ptr<const NativeObjectDef> def) {
    DefineGlobal(name, def.get(), [&](duk_context* ctx) { NativeBinding::PushObject(ctx, *this, name, def); });
}

void ScriptHeap::DefineClass(std::shared_ptr<const NativeClassDef> def) {
    DefineGlobal(def->name, def.get(), [&](duk_context* ctx) { NativeBinding::PushClass(ctx, *this, def); });
}

}  // namespace uie::detail

std::size_t uie::test::LiveScriptHeaps() { return uie::detail::ScriptHeap::Live(); }
