#include "internal/NativeBinding.h"

#include <exception>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "Text.h"
#include "internal/ScriptHeap.h"
#include "internal/ScriptValues.h"

namespace uie::detail {
namespace {

constexpr const char kEntry[] = DUK_HIDDEN_SYMBOL("entry");        // a native function's NativeEntry
constexpr const char kInstance[] = DUK_HIDDEN_SYMBOL("instance");  // an instance's value
constexpr const char kFunction[] = DUK_HIDDEN_SYMBOL("function");  // a C++ function's value
constexpr const char kClasses[] = DUK_HIDDEN_SYMBOL("classes");    // class name -> prototype
constexpr const char kItemHandlers[] = DUK_HIDDEN_SYMBOL("items");  // class name -> proxy handler
constexpr const char kNatives[] = DUK_HIDDEN_SYMBOL("natives");     // shared functions
constexpr const char kReleaser[] = "releaser";

// While a native runs, calls it makes into scripts run on the context that called it.
class RunningScope {
public:
    RunningScope(ScriptHeap& heap, duk_context* ctx) : heap_(heap), before_(heap.SwapRunning(ctx)) {}
    ~RunningScope() { heap_.SwapRunning(before_); }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    ScriptHeap& heap_;
    duk_context* before_;
};

// ---- the native side of a call ---------------------------------------------------------------

const NativeEntry* EntryOf(duk_context* ctx, const ScriptHeap& heap) {
    if (const NativeEntry* entry = heap.EntryOfMagic(duk_get_current_magic(ctx))) return entry;
    duk_push_current_function(ctx);
    duk_get_prop_literal(ctx, -1, kEntry);  // the literal cache spares interning the name
    const auto* entry = static_cast<const NativeEntry*>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    return entry;
}

int Push(duk_context* ctx, const value& v) {
    if (PushPlainValue(ctx, v)) return 1;
    auto push = [&v](duk_context* c) -> duk_ret_t {
        PushValue(c, v);
        return 1;
    };
    return ScriptHeap::Protected(ctx, push, 1) ? 1 : -1;
}

// The call's arguments; false with the refusal on top.
bool ReadArgs(duk_context* ctx, std::vector<value>& args) {
    const duk_idx_t count = duk_get_top(ctx);
    args.resize(static_cast<std::size_t>(count));
    auto read = [&args, count](duk_context* c) -> duk_ret_t {
        for (duk_idx_t i = 0; i < count; ++i) ReadValue(c, i, args[static_cast<std::size_t>(i)]);
        return 0;
    };
    // Plain values within the budget of one value (kMaxValueUnits) are read unprotected.
    bool plain = static_cast<std::size_t>(count) * (kPlainTextBytes + 1) <= kMaxValueUnits;
    for (duk_idx_t i = 0; plain && i < count; ++i) plain = ReadPlainValue(ctx, i, args[static_cast<std::size_t>(i)]);
    if (plain) return true;
    if (!ScriptHeap::Protected(ctx, read, 1)) return false;
    duk_pop(ctx);
    return true;
}

bool OnInstance(NativeEntry::Kind kind) {
    return kind == NativeEntry::InstanceMethod || kind == NativeEntry::InstanceGetter ||
           kind == NativeEntry::InstanceSetter;
}

// The heap's argument list for one native call, given back when the call is done.
class ArgsLease {
public:
    explicit ArgsLease(ScriptHeap& heap) : heap_(heap), args_(heap.TakeArgs()) {}
    ~ArgsLease() { heap_.GiveBackArgs(); }
    ArgsLease(const ArgsLease&) = delete;
    ArgsLease& operator=(const ArgsLease&) = delete;

    NativeArgs& args() const { return args_; }

private:
    ScriptHeap& heap_;
    NativeArgs& args_;
};

std::wstring Wide(std::string_view s) { return text::FromUtf8(s); }

// What an entry does with a call's arguments: the one dispatch, for scripts (NativeCall) and
// tests (EngineTest.h) alike. A failure is a TypeError when the native was misused, else an
// Error.
test::CallResult Dispatch(HVM vm, const NativeEntry& e, const NativeArgs& args, duk_errcode_t& code) {
    code = DUK_ERR_ERROR;
    switch (e.kind) {
        case NativeEntry::ReadOnly:
            code = DUK_ERR_TYPE_ERROR;
            return test::CallResult{false, value(), Wide(e.what) + L" is read-only"};
        case NativeEntry::Constant: return test::CallResult{true, *e.constant, {}};
        case NativeEntry::Construct: return ConstructInstance(vm, e.cls, args.list);
        case NativeEntry::GetItem: return InvokeNative(vm, e.cls->getItem, args);
        case NativeEntry::Setter:
        case NativeEntry::InstanceSetter: return InvokeSetter(vm, *e.set, args);
        default: return InvokeNative(vm, *e.fn, args);
    }
}

int WrapInstance(duk_context* ctx, const NativeClassDef& cls, const value& instance);

// The entry run on the call's arguments as the script sees it: its result pushed (`new`'s
// object for a constructor), or its failure thrown.
int Answer(duk_context* ctx, ScriptHeap& heap, const NativeEntry& e, const NativeArgs& args) {
    duk_errcode_t code = DUK_ERR_ERROR;
    const test::CallResult r = [&] {
        const RunningScope running(heap, ctx);
        return Dispatch(heap.vm(), e, args, code);
    }();
    if (!r.ok) return NativeBinding::Fail(ctx, code, r.error);
    if (e.kind != NativeEntry::Construct) return Push(ctx, r.result);
    duk_push_this(ctx);  // made by new, with the class's prototype
    return WrapInstance(ctx, *e.cls, r.result);
}

// A name the instance has (its methods, properties and what every object inherits) reads
// as usual; any other name, and every number, is an item. The proxy's trap: target, key.
int GetItem(duk_context* ctx, ScriptHeap& heap, const NativeEntry& e) {
    bool item = false;
    auto plain = [&item](duk_context* c) -> duk_ret_t {
        if (duk_get_type(c, 1) == DUK_TYPE_NUMBER) {
            item = true;
        } else if (duk_is_string(c, 1) && !duk_is_symbol(c, 1)) {
            duk_dup(c, 1);
            item = !duk_has_prop(c, 0);  // takes the key
        }
        if (item) return 0;
        duk_dup(c, 1);
        duk_get_prop(c, 0);
        return 1;
    };
    if (!ScriptHeap::Protected(ctx, plain, 1)) return -1;
    if (!item) return 1;
    duk_pop(ctx);
    const value* self = NativeBinding::InstanceAt(ctx, 0);
    if (self == nullptr) return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, L"no item access");
    const ArgsLease lease(heap);
    NativeArgs& args = lease.args();
    args.self = *self;
    args.list.resize(1);
    value& key = args.list[0];
    auto read = [&key](duk_context* c) -> duk_ret_t {
        ReadValue(c, 1, key);
        return 0;
    };
    if (!ScriptHeap::Protected(ctx, read, 1)) return -1;
    duk_pop(ctx);
    return Answer(ctx, heap, e, args);
}

int NativeCall(duk_context* ctx) {
    ScriptHeap& heap = ScriptHeap::Of(ctx);
    const NativeEntry* entry = EntryOf(ctx, heap);
    if (entry == nullptr) return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, L"not callable");
    const NativeEntry& e = *entry;
    if (e.kind == NativeEntry::GetItem) return GetItem(ctx, heap, e);
    if (e.kind == NativeEntry::Construct && !duk_is_constructor_call(ctx))
        return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, Wide(e.what) + L" is made with new");
    const ArgsLease lease(heap);
    NativeArgs& args = lease.args();
    if (OnInstance(e.kind)) {
        duk_push_this(ctx);
        const value* instance = NativeBinding::InstanceAt(ctx, -1);
        duk_pop(ctx);
        if (instance == nullptr) return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, Wide(e.what) + L" needs an instance of its class");
        args.self = *instance;
    }
    const bool takesArgs = e.kind != NativeEntry::ReadOnly && e.kind != NativeEntry::Constant;
    if (takesArgs && !ReadArgs(ctx, args.list)) return -1;
    return Answer(ctx, heap, e, args);
}

int HeldFunctionCall(duk_context* ctx) {
    duk_push_current_function(ctx);
    const value* fn = NativeBinding::NativeFunctionAt(ctx, -1);
    duk_pop(ctx);
    if (fn == nullptr) return NativeBinding::Fail(ctx, DUK_ERR_TYPE_ERROR, L"not callable");
    std::vector<value> args;
    if (!ReadArgs(ctx, args)) return -1;
    value result;
    try {
        RunningScope running(ScriptHeap::Of(ctx), ctx);
        result = CallFunctionRef(*fn, args);
    } catch (const std::exception& e) {
        return NativeBinding::Fail(ctx, DUK_ERR_ERROR, text::FromUtf8(e.what()));
    }
    return Push(ctx, result);
}

constexpr auto CallNative = &NativeBinding::Throwing<&NativeCall>;
constexpr auto CallHeldFunction = &NativeBinding::Throwing<&HeldFunctionCall>;

// The finalizer of objects holding a value: the value goes with the object.
void Destroy(value* held) noexcept {
    try {
        delete held;
    } catch (...) {  // a native finalizer's failure must not reach Duktape
    }
}

duk_ret_t ReleaseHeld(duk_context* ctx) {
    for (const char* key : {kInstance, kFunction}) {
        duk_get_prop_string(ctx, 0, key);
        auto* held = static_cast<value*>(duk_get_pointer(ctx, -1));
        duk_pop(ctx);
        if (held == nullptr) continue;
        duk_del_prop_string(ctx, 0, key);  // a finalizer called again finds nothing
        Destroy(held);
    }
    return 0;
}

// ---- the script side of natives -----------------------------------------------------------

NativeEntry& AddEntry(ScriptHeap& heap, NativeEntry::Kind kind, std::string what, std::shared_ptr<const void> owner) {
    NativeEntry entry;
    entry.kind = kind;
    entry.what = std::move(what);
    entry.owner = std::move(owner);
    return heap.AddEntry(std::move(entry));
}

void PushFunction(duk_context* ctx, const NativeEntry& entry) {
    duk_push_c_function(ctx, CallNative, DUK_VARARGS);
    duk_set_magic(ctx, -1, entry.magic);
    duk_push_pointer(ctx, const_cast<NativeEntry*>(&entry));
    duk_put_prop_string(ctx, -2, kEntry);
}

void PutFunction(duk_context* ctx, const std::string& name, const NativeEntry& entry) {
    PushFunction(ctx, entry);
    duk_put_prop_lstring(ctx, -2, name.data(), name.size());
}

void PutAccessor(duk_context* ctx, const std::string& name, const NativeEntry& get, const NativeEntry& set) {
    duk_push_lstring(ctx, name.data(), name.size());
    PushFunction(ctx, get);
    PushFunction(ctx, set);
    duk_def_prop(ctx, -4, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER | DUK_DEFPROP_SET_ENUMERABLE);
}

template <typename Def>
void PutMethods(duk_context* ctx, ScriptHeap& heap, const std::string& owner, const std::vector<NativeMethod>& methods,
                NativeEntry::Kind kind, const std::shared_ptr<const Def>& def) {
    for (const NativeMethod& m : methods) {
        NativeEntry& e = AddEntry(heap, kind, owner + "." + m.name, def);
        e.fn = &m.fn;
        PutFunction(ctx, m.name, e);
    }
}

template <typename Def>
void PutProperties(duk_context* ctx, ScriptHeap& heap, const std::string& owner,
                   const std::vector<NativeProperty>& properties, bool instance, const std::shared_ptr<const Def>& def) {
    for (const NativeProperty& p : properties) {
        NativeEntry& get = AddEntry(heap, instance ? NativeEntry::InstanceGetter : NativeEntry::Getter,
                                    owner + "." + p.name, def);
        get.fn = &p.get;
        NativeEntry& set = AddEntry(heap,
                                    !p.set      ? NativeEntry::ReadOnly
                                    : instance ? NativeEntry::InstanceSetter
                                                : NativeEntry::Setter,
                                    owner + "." + p.name, def);
        set.set = &p.set;
        PutAccessor(ctx, p.name, get, set);
    }
}

template <typename Def>
void PutConstants(duk_context* ctx, ScriptHeap& heap, const std::string& owner,
                  const std::vector<NativeConstant>& constants, const std::shared_ptr<const Def>& def) {
    for (const NativeConstant& c : constants) {
        NativeEntry& get = AddEntry(heap, NativeEntry::Constant, owner + "." + c.name, def);
        get.constant = &c.v;
        const NativeEntry& set = AddEntry(heap, NativeEntry::ReadOnly, owner + "." + c.name, def);
        PutAccessor(ctx, c.name, get, set);
    }
}

void PushReleaser(duk_context* ctx, ScriptHeap& heap) {
    heap.PushTable(ctx, kNatives);
    if (!duk_get_prop_string(ctx, -1, kReleaser)) {
        duk_pop(ctx);
        duk_push_c_function(ctx, &ReleaseHeld, 2);
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, kReleaser);
    }
    duk_remove(ctx, -2);
}

int Hold(duk_context* ctx, duk_idx_t idx, const value& v, const char* key) {
    idx = duk_normalize_index(ctx, idx);
    // The object owns the copy from here on: its finalizer deletes it.
    value* held = std::make_unique<value>(v).release();
    duk_push_pointer(ctx, held);
    duk_put_prop_string(ctx, idx, key);
    PushReleaser(ctx, ScriptHeap::Of(ctx));
    duk_set_finalizer(ctx, idx);
    return 1;
}

// Gives the object on top the instance and, for a class that reads items, puts its proxy
// in its place.
void MakeInstance(duk_context* ctx, const NativeClassDef& cls, const value& instance) {
    Hold(ctx, -1, instance, kInstance);
    if (!cls.getItem) return;
    ScriptHeap::Of(ctx).PushTable(ctx, kItemHandlers);
    duk_get_prop_lstring(ctx, -1, cls.name.data(), cls.name.size());
    duk_remove(ctx, -2);
    if (duk_is_object(ctx, -1)) {
        duk_push_proxy(ctx, 0);
    } else {
        duk_pop(ctx);
    }
}

int WrapInstance(duk_context* ctx, const NativeClassDef& cls, const value& instance) {
    auto wrap = [&](duk_context* c) -> duk_ret_t {
        duk_dup_top(c);
        MakeInstance(c, cls, instance);
        return 1;
    };
    return ScriptHeap::Protected(ctx, wrap, 1) ? 1 : -1;
}

}  // namespace

void NativeBinding::PushObject(duk_context* ctx, ScriptHeap& heap, const std::string& name,
                               const std::shared_ptr<const NativeObjectDef>& def) {
    duk_push_object(ctx);
    PutMethods(ctx, heap, name, def->methods, NativeEntry::Method, def);
    PutProperties(ctx, heap, name, def->properties, false, def);
    PutConstants(ctx, heap, name, def->constants, def);
}

void NativeBinding::PushClass(duk_context* ctx, ScriptHeap& heap, const std::shared_ptr<const NativeClassDef>& def) {
    const std::string& name = def->name;
    NativeEntry& construct = AddEntry(heap, NativeEntry::Construct, name, def);
    construct.cls = def;
    PushFunction(ctx, construct);
    PutMethods(ctx, heap, name, def->classMethods, NativeEntry::Method, def);
    PutConstants(ctx, heap, name, def->constants, def);

    duk_push_object(ctx);
    PutMethods(ctx, heap, name, def->methods, NativeEntry::InstanceMethod, def);
    PutProperties(ctx, heap, name, def->properties, true, def);
    duk_dup(ctx, -2);
    duk_put_prop_string(ctx, -2, "constructor");
    duk_dup_top(ctx);
    duk_put_prop_string(ctx, -3, "prototype");
    // Instances made by native code find their prototype here.
    heap.PushTable(ctx, kClasses);
    duk_dup(ctx, -2);
    duk_put_prop_lstring(ctx, -2, name.data(), name.size());
    duk_pop_2(ctx);

    if (def->getItem) {
        heap.PushTable(ctx, kItemHandlers);
        duk_push_object(ctx);
        NativeEntry& item = AddEntry(heap, NativeEntry::GetItem, name, def);
        item.cls = def;
        PutFunction(ctx, "get", item);
        duk_put_prop_lstring(ctx, -2, name.data(), name.size());
        duk_pop(ctx);
    }
}

void NativeBinding::PushInstance(duk_context* ctx, ScriptHeap& heap, const value& obj) {
    const NativeClassDef* cls = InstanceClass(obj);
    duk_push_object(ctx);
    if (cls == nullptr) return;
    heap.PushTable(ctx, kClasses);
    duk_get_prop_lstring(ctx, -1, cls->name.data(), cls->name.size());
    duk_remove(ctx, -2);
    if (duk_is_object(ctx, -1)) {
        duk_set_prototype(ctx, -2);
    } else {
        duk_pop(ctx);  // a class this VM does not know: the instance without its methods
    }
    MakeInstance(ctx, *cls, obj);
}

const value* NativeBinding::InstanceAt(duk_context* ctx, duk_idx_t idx) {
    if (!duk_is_object(ctx, idx)) return nullptr;
    duk_get_prop_literal(ctx, idx, kInstance);  // a hidden name: a proxy passes it to its target
    const auto* held = static_cast<const value*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return held;
}

void NativeBinding::PushNativeFunction(duk_context* ctx, const value& fn) {
    duk_push_c_function(ctx, CallHeldFunction, DUK_VARARGS);
    Hold(ctx, -1, fn, kFunction);
}

const value* NativeBinding::NativeFunctionAt(duk_context* ctx, duk_idx_t idx) {
    if (!duk_is_function(ctx, idx)) return nullptr;
    duk_get_prop_literal(ctx, idx, kFunction);
    const auto* held = static_cast<const value*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return held;
}

void NativeBinding::PushError(duk_context* ctx, duk_errcode_t code, std::wstring_view text) {
    auto push = [code, text](duk_context* c) -> duk_ret_t {
        duk_push_error_object_raw(c, code, nullptr, 0, "%s", "");
        PushText(c, text);
        duk_put_prop_string(c, -2, "message");
        return 1;
    };
    ScriptHeap::Protected(ctx, push, 1);
}

int NativeBinding::Fail(duk_context* ctx, duk_errcode_t code, std::wstring_view text) {
    PushError(ctx, code, text);
    return -1;
}

}  // namespace uie::detail

namespace uie::test {
namespace {

using detail::NativeEntry;

CallResult Failed(HVM vm, std::wstring text) {
    RaiseScriptError(vm, text);
    return CallResult{false, value(), std::move(text)};
}

// The native a script reaches by the name `what` ("share.GetDate"), as the first of `kinds`
// the VM has, run through the scripts' own dispatch; `missing` fails the call when the VM
// has none, null answers undefined.
CallResult Reach(HVM vm, const std::string& what, std::initializer_list<NativeEntry::Kind> kinds, NativeArgs args,
                 const wchar_t* missing) {
    if (vm == nullptr) return {};
    NativeEntry e;
    bool found = false;
    for (const NativeEntry::Kind kind : kinds) {
        if (!found) found = detail::FindDefinition(vm, what, kind, e);
    }
    if (!found) return missing != nullptr ? Failed(vm, detail::Wide(what) + missing) : CallResult{true, {}, {}};
    duk_errcode_t code = DUK_ERR_ERROR;
    CallResult r = detail::Dispatch(vm, e, args, code);
    // A misuse the script would get thrown is recorded as the natives' own failures are.
    if (!r.ok && LastScriptError(vm) != r.error) RaiseScriptError(vm, r.error);
    return r;
}

std::string Member(std::string_view owner, std::string_view name) {
    return std::string(owner) + "." + std::string(name);
}

}  // namespace

CallResult CallNative(HVM vm, std::string_view object, std::string_view method, std::vector<value> args) {
    return Reach(vm, Member(object, method), {NativeEntry::Method}, NativeArgs{value(), std::move(args)},
                 L" is not a method");
}

CallResult GetProperty(HVM vm, std::string_view object, std::string_view property) {
    return Reach(vm, Member(object, property), {NativeEntry::Getter, NativeEntry::Constant}, NativeArgs{}, nullptr);
}

CallResult SetProperty(HVM vm, std::string_view object, std::string_view property, value v) {
    return Reach(vm, Member(object, property), {NativeEntry::Setter, NativeEntry::ReadOnly},
                 NativeArgs{value(), {std::move(v)}}, L" is read-only");
}

CallResult Construct(HVM vm, std::string_view className, std::vector<value> args) {
    return Reach(vm, std::string(className), {NativeEntry::Construct}, NativeArgs{value(), std::move(args)},
                 L" is not a class");
}

CallResult CallMethod(HVM vm, const value& instance, std::string_view method, std::vector<value> args) {
    return Reach(vm, Member(ClassName(instance), method), {NativeEntry::InstanceMethod},
                 NativeArgs{instance, std::move(args)}, L" is not a method");
}

CallResult GetInstanceProperty(HVM vm, const value& instance, std::string_view property) {
    return Reach(vm, Member(ClassName(instance), property), {NativeEntry::InstanceGetter}, NativeArgs{instance, {}},
                 nullptr);
}

CallResult GetItem(HVM vm, const value& instance, value key) {
    return Reach(vm, ClassName(instance), {NativeEntry::GetItem}, NativeArgs{instance, {std::move(key)}},
                 L": no item access");
}

}  // namespace uie::test
