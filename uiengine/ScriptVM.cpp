#include "ScriptVM.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "EngineTest.h"
#include "Text.h"
#include "Window.h"
#include "internal/NativeBinding.h"
#include "internal/ScriptHeap.h"

namespace uie {

struct ObjectBody {
    explicit ObjectBody(std::shared_ptr<const NativeClassDef> c, void* d) : cls(std::move(c)), data(d) {}
    ~ObjectBody() {
        if (cls && cls->finalizer) cls->finalizer(data.load());
    }
    ObjectBody(const ObjectBody&) = delete;
    ObjectBody& operator=(const ObjectBody&) = delete;

    std::shared_ptr<const NativeClassDef> cls;
    std::atomic<void*> data;
};

class ScriptVM : public std::enable_shared_from_this<ScriptVM> {
public:
    explicit ScriptVM(DWORD t) : thread(t) {}

    // Let go with its thread's last window: its heap ends (on the VM's thread, its finalizers
    // run as page code) and none is made again.
    void Release() {
        std::shared_ptr<detail::ScriptHeap> ending;
        {
            std::lock_guard lock(mutex);
            released = true;
            ending = heap;  // still found by reports of what the thread runs while it ends
        }
        if (ending && thread == GetCurrentThreadId()) ending->End();
        std::lock_guard lock(mutex);
        heap.reset();
    }

    const DWORD thread;
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const NativeObjectDef>, std::less<>> objects;
    std::map<std::string, std::shared_ptr<const NativeClassDef>, std::less<>> classes;
    std::vector<std::string> definedOrder;  // each name once, as first defined
    std::wstring lastError;
    std::atomic<std::uint64_t> errorCount{0};  // read around every native call: no lock
    std::shared_ptr<detail::ScriptHeap> heap;  // made on first use (detail::HeapOf)
    bool released = false;
    std::atomic<bool> definedElsewhere{false};  // a definition came from another thread: not in the heap yet
};

namespace {

// A thread's VM and the windows of the thread that asked for it.
struct ThreadVM {
    std::shared_ptr<ScriptVM> vm;
    std::vector<HWND> windows;
};

struct Registry {
    // The VMs of threads whose windows outlive the registry go with it, heaps and all.
    ~Registry() {
        for (auto& [thread, t] : byThread) t.vm->Release();
    }

    std::mutex mutex;
    std::unordered_map<DWORD, ThreadVM> byThread;
};

Registry& VMs() {
    static Registry registry;
    return registry;
}

ScriptVM* VMForWindow(HWND hwnd, DWORD thread) {
    Registry& r = VMs();
    std::lock_guard lock(r.mutex);
    ThreadVM& t = r.byThread[thread];
    if (!t.vm || t.vm->released) t.vm = std::make_shared<ScriptVM>(thread);
    if (std::find(t.windows.begin(), t.windows.end(), hwnd) == t.windows.end()) t.windows.push_back(hwnd);
    return t.vm.get();
}

std::shared_ptr<ScriptVM> FindVM(DWORD thread) {
    Registry& r = VMs();
    std::lock_guard lock(r.mutex);
    auto it = r.byThread.find(thread);
    return it != r.byThread.end() ? it->second.vm : nullptr;
}

std::shared_ptr<const NativeClassDef> FindClass(HVM vm, std::string_view name) {
    std::lock_guard lock(vm->mutex);
    auto it = vm->classes.find(name);
    return it != vm->classes.end() ? it->second : nullptr;
}

std::uint64_t ErrorCount(HVM vm) { return vm->errorCount.load(); }

// Under the VM's data lock, for a definition just recorded: the heap takes it only on the
// VM's own thread, so one from another thread is left for its next use there (HeapOf).
bool DefinedElsewhere(ScriptVM& vm) {
    if (vm.thread == GetCurrentThreadId()) return false;
    vm.definedElsewhere = true;
    return true;
}

const NativeClassDef* ClassOf(const value& obj) {
    const auto* body = obj.object_ptr();
    return body != nullptr ? (*body)->cls.get() : nullptr;
}

// Records a script error and gives the failed call's result.
test::CallResult Failed(HVM vm, std::wstring text) {
    RaiseScriptError(vm, text);
    return test::CallResult{false, value(), std::move(text)};
}

[[noreturn]] void Expecting(std::size_t i, const wchar_t* what) {
    throw ScriptError(L"parameter " + std::to_wstring(i + 1) + L", expecting " + what);
}

const value& Arg(const NativeArgs& args, std::size_t i, value_type type, const wchar_t* what) {
    const value& v = args[i];
    if (v.type() != type) Expecting(i, what);
    return v;
}

}  // namespace

const value& NativeArgs::operator[](std::size_t i) const {
    static const value kUndefined;
    return i < list.size() ? list[i] : kUndefined;
}

ScriptError::ScriptError(std::wstring text) : text_(std::move(text)), utf8_(text::ToUtf8(text_)) {}

int ArgInt(const NativeArgs& args, std::size_t i) { return Arg(args, i, VT_INT, L"integer").get_int(); }

double ArgFloat(const NativeArgs& args, std::size_t i) {
    const value& v = args[i];
    if (!v.is_int() && !v.is_float()) Expecting(i, L"float");
    return v.get_double();
}

bool ArgBool(const NativeArgs& args, std::size_t i) { return Arg(args, i, VT_BOOL, L"boolean").get_bool(); }

std::wstring ArgString(const NativeArgs& args, std::size_t i) {
    return Arg(args, i, VT_STRING, L"string").get_string();
}

const value& ArgArray(const NativeArgs& args, std::size_t i) { return Arg(args, i, VT_ARRAY, L"array"); }
const value& ArgMap(const NativeArgs& args, std::size_t i) { return Arg(args, i, VT_MAP, L"object"); }
const value& ArgFunction(const NativeArgs& args, std::size_t i) { return Arg(args, i, VT_FUNCTION, L"function"); }

const value& ArgPresent(const NativeArgs& args, std::size_t i) {
    if (i >= args.size()) Expecting(i, L"value");
    return args[i];
}

int ArgIntOr(const NativeArgs& args, std::size_t i, int fallback) {
    return args[i].is_undefined() ? fallback : ArgInt(args, i);
}

std::wstring ArgStringOr(const NativeArgs& args, std::size_t i, std::wstring_view fallback) {
    return args[i].is_undefined() ? std::wstring(fallback) : ArgString(args, i);
}

void RaiseScriptError(HVM vm, std::wstring text) {
    if (vm == nullptr) return;
    std::lock_guard lock(vm->mutex);
    vm->lastError = std::move(text);
    ++vm->errorCount;
}

std::wstring LastScriptError(HVM vm) {
    if (vm == nullptr) return {};
    std::lock_guard lock(vm->mutex);
    return vm->lastError;
}

void ClearScriptError(HVM vm) {
    if (vm == nullptr) return;
    std::lock_guard lock(vm->mutex);
    vm->lastError.clear();
}

bool DefineNativeObject(HVM vm, std::string_view name, std::shared_ptr<const NativeObjectDef> def) {
    if (vm == nullptr || name.empty() || !def) return false;
    {
        std::lock_guard lock(vm->mutex);
        const auto [it, added] = vm->objects.insert_or_assign(std::string(name), def);
        if (added) vm->definedOrder.push_back(it->first);
        if (DefinedElsewhere(*vm)) return true;
    }
    // Not under the VM's data lock: the scripts see it from here on.
    if (auto heap = detail::HeapOf(vm)) heap->DefineObject(std::string(name), std::move(def));
    return true;
}

bool DefineNativeClass(HVM vm, std::shared_ptr<const NativeClassDef> def) {
    if (vm == nullptr || !def || def->name.empty()) return false;
    {
        std::lock_guard lock(vm->mutex);
        const std::string name = def->name;
        if (vm->classes.insert_or_assign(name, def).second) vm->definedOrder.push_back(name);
        if (DefinedElsewhere(*vm)) return true;
    }
    if (auto heap = detail::HeapOf(vm)) heap->DefineClass(std::move(def));
    return true;
}

std::vector<std::string> NativeNames(HVM vm) {
    if (vm == nullptr) return {};
    std::lock_guard lock(vm->mutex);
    return vm->definedOrder;
}

bool HasNative(HVM vm, std::string_view name) {
    if (vm == nullptr) return false;
    std::lock_guard lock(vm->mutex);
    return vm->objects.find(name) != vm->objects.end() || vm->classes.find(name) != vm->classes.end();
}

value NewInstance(HVM vm, std::string_view className, void* data) {
    if (vm == nullptr) return value();
    auto cls = FindClass(vm, className);
    return cls ? value::object(std::make_shared<ObjectBody>(std::move(cls), data)) : value();
}

void* InstanceData(const value& obj) {
    const auto* body = obj.object_ptr();
    return body != nullptr ? (*body)->data.load() : nullptr;
}

bool SetInstanceData(const value& obj, void* data) {
    const auto* body = obj.object_ptr();
    if (body == nullptr) return false;
    (*body)->data.store(data);
    return true;
}

std::string ClassName(const value& obj) {
    const NativeClassDef* cls = ClassOf(obj);
    return cls != nullptr ? cls->name : std::string();
}

value CallFunctionRef(const value& fn, std::span<const value> args) {
    const FunctionRef* f = fn.function_ptr();
    return f != nullptr && f->fn ? f->fn(args) : value();
}

DWORD VMThread(HVM vm) { return vm != nullptr ? vm->thread : 0; }

std::wstring RunningScript(HWND hwnd) {
    const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
    const std::shared_ptr<ScriptVM> vm = thread != 0 ? FindVM(thread) : nullptr;
    if (!vm) return {};
    std::shared_ptr<detail::ScriptHeap> heap;
    {
        std::lock_guard lock(vm->mutex);
        heap = vm->heap;
    }
    return heap ? heap->RunningNow() : std::wstring();
}

namespace detail {

bool DefinitionsPending(HVM vm) { return vm->definedElsewhere.load(); }

std::shared_ptr<ScriptHeap> HeapOf(HVM vm) {
    if (vm == nullptr) return nullptr;
    const bool own = vm->thread == GetCurrentThreadId();
    std::shared_ptr<ScriptHeap> heap;
    std::vector<std::pair<std::string, std::shared_ptr<const NativeObjectDef>>> objects;
    std::vector<std::shared_ptr<const NativeClassDef>> classes;
    {
        std::lock_guard lock(vm->mutex);
        if (vm->released) return nullptr;
        if (!own) return vm->heap;
        if (vm->heap && !vm->definedElsewhere) return vm->heap;
        if (!vm->heap) vm->heap = std::make_shared<ScriptHeap>(vm->shared_from_this());
        vm->definedElsewhere = false;
        heap = vm->heap;
        for (const std::string& name : vm->definedOrder) {
            if (auto o = vm->objects.find(name); o != vm->objects.end()) objects.emplace_back(name, o->second);
            if (auto c = vm->classes.find(name); c != vm->classes.end()) classes.push_back(c->second);
        }
    }
    // Classes first: an object's script may make instances at once. A definition the heap
    // holds already changes nothing.
    for (auto& c : classes) heap->DefineClass(std::move(c));
    for (auto& [name, def] : objects) heap->DefineObject(name, std::move(def));
    return heap;
}

void ForgetWindow(HWND hwnd, bool ranScripts) {
    Registry& r = VMs();
    const DWORD thread = GetCurrentThreadId();
    std::shared_ptr<ScriptVM> last;
    bool stays = false;
    {
        std::lock_guard lock(r.mutex);
        auto it = r.byThread.find(thread);
        if (it == r.byThread.end()) return;
        // Windows gone without the engine seeing them go (no SciterProcND) count no longer.
        std::erase_if(it->second.windows, [hwnd](HWND w) { return w == hwnd || !IsWindow(w); });
        last = it->second.vm;
        stays = !it->second.windows.empty();
    }
    if (stays) {
        // Left for the collection near the heap's limit, the documents of closed windows would
        // pile up with every window the thread opens.
        if (ranScripts) {
            if (const std::shared_ptr<ScriptHeap> heap = HeapOf(last.get())) heap->CollectReplaced();
        }
        return;
    }
    // Its heap ends once the send that closed the window (if one did) has been answered: its
    // finalizers are page code, which the closer is not to wait for.
    AfterTheAnswer([last, thread] {
        Registry& vms = VMs();
        {
            std::lock_guard lock(vms.mutex);
            auto it = vms.byThread.find(thread);
            // A window made meanwhile has the VM again.
            if (it == vms.byThread.end() || it->second.vm != last || !it->second.windows.empty()) return;
        }
        // Still registered while its heap ends, so a report of what the thread runs finds it.
        last->Release();
        std::lock_guard lock(vms.mutex);
        auto it = vms.byThread.find(thread);
        if (it != vms.byThread.end() && it->second.vm == last && it->second.windows.empty()) vms.byThread.erase(it);
    });
}

test::CallResult InvokeNative(HVM vm, const NativeFn& fn, const NativeArgs& args) {
    if (!fn) return Failed(vm, L"not callable");
    test::CallResult r;
    const std::uint64_t before = ErrorCount(vm);
    try {
        r.result = fn(vm, args);
    } catch (const ScriptError& e) {
        RaiseScriptError(vm, e.text());
    } catch (const std::exception& e) {
        RaiseScriptError(vm, text::FromUtf8(e.what()));
    } catch (...) {  // nothing may leave a native for the script engine's frames
        RaiseScriptError(vm, L"native error");
    }
    r.ok = ErrorCount(vm) == before;
    if (!r.ok) r.error = LastScriptError(vm);
    return r;
}

test::CallResult InvokeSetter(HVM vm, const NativeSetter& set, const NativeArgs& args) {
    return InvokeNative(
        vm,
        [&set](HVM m, const NativeArgs& a) {
            set(m, a.self, a[0]);
            return value();
        },
        args);
}

test::CallResult ConstructInstance(HVM vm, std::shared_ptr<const NativeClassDef> cls, std::vector<value> args) {
    const NativeFn& constructor = cls->constructor;
    value instance = value::object(std::make_shared<ObjectBody>(std::move(cls), nullptr));
    if (!constructor) return test::CallResult{true, instance, {}};
    test::CallResult r = InvokeNative(vm, constructor, NativeArgs{instance, std::move(args)});
    r.result = r.ok ? instance : value::null();
    return r;
}

const NativeClassDef* InstanceClass(const value& obj) { return ClassOf(obj); }

namespace {

template <typename T>
const T* Named(const std::vector<T>& items, std::string_view name) {
    for (const T& item : items) {
        if (item.name == name) return &item;
    }
    return nullptr;
}

// What an object's or a class's member `member` is as `kind`, into `out`; false when it is
// not that.
template <typename Def>
bool MemberAs(const std::shared_ptr<const Def>& def, std::string_view member, NativeEntry::Kind kind,
              const std::vector<NativeMethod>& methods, const std::vector<NativeProperty>& properties,
              NativeEntry& out) {
    const NativeProperty* p = Named(properties, member);
    const NativeConstant* c = Named(def->constants, member);
    switch (kind) {
        case NativeEntry::Method:
        case NativeEntry::InstanceMethod:
            if (const NativeMethod* m = Named(methods, member)) out.fn = &m->fn;
            break;
        case NativeEntry::Getter:
        case NativeEntry::InstanceGetter:
            if (p != nullptr) out.fn = &p->get;
            break;
        case NativeEntry::Setter:
        case NativeEntry::InstanceSetter:
            if (p != nullptr && p->set) out.set = &p->set;
            break;
        case NativeEntry::Constant:
            if (c != nullptr) out.constant = &c->v;
            break;
        case NativeEntry::ReadOnly: return (p != nullptr && !p->set) || c != nullptr;
        default: break;
    }
    return out.fn != nullptr || out.set != nullptr || out.constant != nullptr;
}

}  // namespace

bool FindDefinition(HVM vm, std::string_view what, NativeEntry::Kind kind, NativeEntry& out) {
    if (vm == nullptr) return false;
    const std::size_t dot = what.find('.');
    const std::string_view owner = what.substr(0, dot);
    const std::string_view member = dot == std::string_view::npos ? std::string_view() : what.substr(dot + 1);
    std::shared_ptr<const NativeObjectDef> object;
    std::shared_ptr<const NativeClassDef> cls;
    {
        std::lock_guard lock(vm->mutex);
        if (auto o = vm->objects.find(owner); o != vm->objects.end()) object = o->second;
        if (auto c = vm->classes.find(owner); c != vm->classes.end()) cls = c->second;
    }
    out = NativeEntry{};
    out.kind = kind;
    out.what = std::string(what);
    if (dot == std::string_view::npos) {
        if (!cls || (kind != NativeEntry::Construct && !(kind == NativeEntry::GetItem && cls->getItem))) return false;
        out.cls = cls;
        out.owner = cls;
        return true;
    }
    const bool onInstance = kind == NativeEntry::InstanceMethod || kind == NativeEntry::InstanceGetter ||
                            kind == NativeEntry::InstanceSetter;
    if (object && !onInstance && MemberAs(object, member, kind, object->methods, object->properties, out)) {
        out.owner = object;
        return true;
    }
    if (!cls) return false;
    const bool found = onInstance ? MemberAs(cls, member, kind, cls->methods, cls->properties, out)
                                  : MemberAs(cls, member, kind, cls->classMethods, {}, out);
    if (found) out.owner = cls;
    return found;
}

}  // namespace detail

namespace test {

CallResult Iterate(HVM vm, const value& instance) {
    if (vm == nullptr) return {};
    const NativeClassDef* cls = ClassOf(instance);
    if (cls == nullptr || !cls->iterate) return Failed(vm, L"not iterable");
    auto iterate = cls->iterate;
    return detail::InvokeNative(
        vm, [iterate](HVM m, const NativeArgs& args) { return value::make_array(iterate(m, args.self)); },
        NativeArgs{instance, {}});
}

}  // namespace test
}  // namespace uie

HVM SciterGetVM(HWND hwnd) {
    DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
    return thread != 0 ? uie::VMForWindow(hwnd, thread) : nullptr;
}

BOOL Sciter_v2V(HVM, const VALUE* scriptValue, VALUE* out, BOOL) {
    if (scriptValue == nullptr || out == nullptr) return FALSE;
    *out = *scriptValue;
    return TRUE;
}

BOOL Sciter_V2v(HVM, const VALUE* in, VALUE* scriptValue) {
    if (in == nullptr || scriptValue == nullptr) return FALSE;
    *scriptValue = *in;
    return TRUE;
}
