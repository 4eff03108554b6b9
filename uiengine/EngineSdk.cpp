#include "EngineSdk.h"

#include <algorithm>
#include <mutex>

namespace sciter {
namespace {

struct Factories {
    std::mutex mutex;
    std::vector<behavior_factory*> list;
};

Factories& Registry() {
    static Factories factories;
    return factories;
}

}  // namespace

behavior_factory::behavior_factory(const char* name) : name_(name != nullptr ? name : "") {
    Factories& r = Registry();
    std::lock_guard lock(r.mutex);
    r.list.push_back(this);
}

behavior_factory::~behavior_factory() {
    Factories& r = Registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.list, this);
}

bool create_behavior(uie::AttachBehaviorNotice* notice) {
    if (notice == nullptr || notice->behaviorName == nullptr) return false;
    Factories& r = Registry();
    std::lock_guard lock(r.mutex);  // held so a factory cannot go away meanwhile
    // The newest registration of a name wins.
    for (auto it = r.list.rbegin(); it != r.list.rend(); ++it) {
        if ((*it)->name() == notice->behaviorName) {
            notice->handler = (*it)->create(notice->element);
            return notice->handler != nullptr;
        }
    }
    return false;
}

}  // namespace sciter

namespace dom {

element::element(HELEMENT he) {
    if (he != nullptr && Sciter_UseElement(he) == DOM_OK) he_ = he;
}

element::element(const element& other) : element(other.he_) {}

element::element(element&& other) noexcept : he_(std::exchange(other.he_, nullptr)) {}

element& element::operator=(element other) noexcept {
    std::swap(he_, other.he_);
    return *this;
}

element::~element() {
    if (he_ != nullptr) Sciter_UnuseElement(he_);
}

element element::root_element(HWND hwnd) {
    HELEMENT root = nullptr;
    SciterGetRootElement(hwnd, &root);
    return element(root);
}

std::wstring element::get_attribute(const char* name) const {
    std::wstring v;
    SciterGetAttributeByName(he_, name, &v);
    return v;
}

bool element::has_attribute(const char* name) const {
    std::wstring v;
    return SciterGetAttributeByName(he_, name, &v) == DOM_OK;
}

bool element::set_attribute(const char* name, const wchar_t* value) const {
    return SciterSetAttributeByName(he_, name, value) == DOM_OK;
}

bool element::remove_attribute(const char* name) const { return set_attribute(name, nullptr); }

UINT element::get_state() const {
    UINT state = 0;
    SciterGetElementState(he_, &state);
    return state;
}

bool element::set_state(UINT bitsToSet, UINT bitsToClear, bool update) const {
    return SciterSetElementState(he_, bitsToSet, bitsToClear, update ? TRUE : FALSE) == DOM_OK;
}

unsigned element::children_count() const {
    UINT n = 0;
    SciterGetChildrenCount(he_, &n);
    return n;
}

element element::child(unsigned n) const {
    HELEMENT c = nullptr;
    SciterGetNthChild(he_, n, &c);
    return element(c);
}

element element::parent() const {
    HELEMENT p = nullptr;
    SciterGetParentElement(he_, &p);
    return element(p);
}

unsigned element::index() const {
    UINT i = 0;
    SciterGetElementIndex(he_, &i);
    return i;
}

RECT element::get_location(UINT areas) const {
    RECT r{0, 0, 0, 0};
    SciterGetElementLocation(he_, &r, areas);
    return r;
}

element element::find_first(const char* selector) const {
    HELEMENT found = nullptr;
    SciterSelectElements(
        he_, selector,
        [](HELEMENT h, void* param) {
            *static_cast<HELEMENT*>(param) = h;
            return TRUE;
        },
        &found);
    return element(found);
}

std::vector<element> element::find_all(const char* selector) const {
    std::vector<element> out;
    for (HELEMENT h : uie::Select(he_, selector)) out.emplace_back(h);
    return out;
}

element element::select_parent(const char* selector, unsigned depth) const {
    HELEMENT found = nullptr;
    SciterSelectParent(he_, selector, depth, &found);
    return element(found);
}

bool element::post_event(UINT code, UINT_PTR reason, HELEMENT source) const {
    return SciterPostEvent(he_, code, source != nullptr ? source : he_, reason) == DOM_OK;
}

sciter::value element::call_function(const char* name, std::initializer_list<sciter::value> args) const {
    return call_function(name, std::vector<sciter::value>(args));
}

sciter::value element::call_function(const char* name, const std::vector<sciter::value>& args) const {
    sciter::value result;
    if (!SciterCallScriptingFunction(he_, name, args.data(), static_cast<UINT>(args.size()), &result)) {
        throw uie::script_error(std::string("call_function failed: ") + (name != nullptr ? name : ""));
    }
    return result;
}

sciter::value element::call_method(const char* name, const std::vector<sciter::value>& args) const {
    sciter::value result;
    if (!SciterCallScriptingMethod(he_, name, args.data(), static_cast<UINT>(args.size()), &result)) {
        throw uie::script_error(std::string("call_method failed: ") + (name != nullptr ? name : ""));
    }
    return result;
}

}  // namespace dom
