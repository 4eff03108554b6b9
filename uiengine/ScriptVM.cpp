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

    // Let go with its thread's last window: its heap goes once nothing else holds it, and
    // none is made again.
    void Release() {
        std::shared_ptr<detail::ScriptHeap> last;
        {
            std::lock_guard lock(mutex);
            released = true;
            last = std::move(heap);
        }
        // Dropped without the lock: the heap's end runs finalizers, which may use the VM.
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
    if (!t.vm) t.vm = std::make_shared<ScriptVM>(thread);
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
    }
    // The VM's lock is never taken under its data's: the scripts see it from here on.
    if (auto heap = detail::HeapOf(vm)) heap->DefineObject(std::string(name), std::move(def));
    return true;
}

bool DefineNativeClass(HVM vm, std::shared_ptr<const NativeClassDef> def) {
    if (vm == nullptr || !def || def->name.empty()) return false;
    {
        std::lock_guard lock(vm->mutex);
        const std::string name = def->name;
        if (vm->classes.insert_or_assign(name, def).second) vm->definedOrder.push_back(name);
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

std::shared_ptr<ScriptHeap> HeapOf(HVM vm) {
    if (vm == nullptr) return nullptr;
    std::shared_ptr<ScriptHeap> heap;
    std::vector<std::pair<std::string, std::shared_ptr<const NativeObjectDef>>> objects;
    std::vector<std::shared_ptr<const NativeClassDef>> classes;
    {
        std::lock_guard lock(vm->mutex);
        if (vm->heap || vm->released) return vm->heap;
        heap = vm->heap = std::make_shared<ScriptHeap>(vm->shared_from_this());
        for (const std::string& name : vm->definedOrder) {
            if (auto o = vm->objects.find(name); o != vm->objects.end()) objects.emplace_back(name, o->second);
            if (auto c = vm->classes.find(name); c != vm->classes.end()) classes.push_back(c->second);
        }
    }
    // Classes first: an object's script may make instances at once.
    for (auto& c : classes) heap->DefineClass(std::move(c));
    for (auto& [name, def] : objects) heap->DefineObject(name, std::move(def));
    return heap;
}

void ForgetWindow(HWND hwnd) {
    std::shared_ptr<ScriptVM> last;
    {
        Registry& r = VMs();
        std::lock_guard lock(r.mutex);
        auto it = r.byThread.find(GetCurrentThreadId());
        if (it == r.byThread.end()) return;
        // Windows gone without the engine seeing them go (no SciterProcND) count no longer.
        std::erase_if(it->second.windows, [hwnd](HWND w) { return w == hwnd || !IsWindow(w); });
        if (!it->second.windows.empty()) return;
        last = std::move(it->second.vm);
        r.byThread.erase(it);
    }
    last->Release();
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
