// The C++ layer the program is written against: an element event handler with named
// virtuals, the notification handler a window class derives from, the behaviour
// factory registry, and an element class holding its handle.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "Dom.h"
#include "Events.h"
#include "Loader.h"
#include "PageCalls.h"
#include "ScriptVM.h"
#include "Value.h"

namespace uie {
// A page function call that failed (e.g. the page has no such function).
class script_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
}  // namespace uie

namespace sciter {

using value = uie::value;

// Derive and override the on_* operations (or the handle_* ones for the raw records).
class event_handler : public uie::EventHandler {
public:
    virtual void attached(HELEMENT /*he*/) {}
    virtual void detached(HELEMENT /*he*/) {}
    // Sets the event groups wanted; all groups when it answers false.
    virtual bool subscription(HELEMENT /*he*/, UINT& groups) {
        groups = HANDLE_ALL;
        return true;
    }

    virtual bool handle_mouse(HELEMENT he, uie::MouseParams& p) {
        return on_mouse(he, p.target, p.cmd, p.pos, p.buttons, p.modifiers);
    }
    virtual bool handle_key(HELEMENT he, uie::KeyParams& p) {
        return on_key(he, p.target, p.cmd, p.keyCode, p.modifiers);
    }
    virtual bool handle_focus(HELEMENT he, uie::FocusParams& p) { return on_focus(he, p.target, p.cmd); }
    virtual bool handle_event(HELEMENT he, uie::BehaviorEventParams& p) {
        return on_event(he, p.heTarget, p.cmd, p.reason);
    }
    virtual bool handle_scripting_call(HELEMENT he, uie::ScriptCallParams& p) {
        return on_script_call(he, p.name, p.argc, p.argv, p.result);
    }

    virtual bool on_mouse(HELEMENT /*he*/, HELEMENT /*target*/, UINT /*eventType*/, uie::Point /*pt*/,
                          UINT /*buttons*/, UINT /*modifiers*/) {
        return false;
    }
    virtual bool on_key(HELEMENT /*he*/, HELEMENT /*target*/, UINT /*eventType*/, UINT /*keyCode*/,
                        UINT /*modifiers*/) {
        return false;
    }
    virtual bool on_focus(HELEMENT /*he*/, HELEMENT /*target*/, UINT /*eventType*/) { return false; }
    // `he` is the element the handler is attached to (the root for a window's handler).
    virtual bool on_event(HELEMENT /*he*/, HELEMENT /*target*/, UINT /*type*/, UINT_PTR /*reason*/) { return false; }
    virtual bool on_script_call(HELEMENT /*he*/, const char* /*name*/, UINT /*argc*/, const value* /*argv*/,
                                value& /*result*/) {
        return false;
    }

private:
    void Attached(HELEMENT he) final { attached(he); }
    void Detached(HELEMENT he) final { detached(he); }
    UINT Subscription(HELEMENT he) final {
        UINT groups = HANDLE_ALL;
        return subscription(he, groups) ? groups : HANDLE_ALL;
    }
    bool OnMouseEvent(HELEMENT he, uie::MouseParams& p) final { return handle_mouse(he, p); }
    bool OnKeyEvent(HELEMENT he, uie::KeyParams& p) final { return handle_key(he, p); }
    bool OnFocusEvent(HELEMENT he, uie::FocusParams& p) final { return handle_focus(he, p); }
    bool OnBehaviorEvent(HELEMENT he, uie::BehaviorEventParams& p) final { return handle_event(he, p); }
    bool OnScriptCall(HELEMENT he, uie::ScriptCallParams& p) final { return handle_scripting_call(he, p); }
};

// A named behaviour. Constructing one registers it for the whole program; the
// loader's attach-behaviour notification finds it by name (create_behavior).
class behavior_factory {
public:
    explicit behavior_factory(const char* name);
    virtual ~behavior_factory();
    behavior_factory(const behavior_factory&) = delete;
    behavior_factory& operator=(const behavior_factory&) = delete;

    // The handler for an element; the factory keeps ownership.
    virtual event_handler* create(HELEMENT he) = 0;
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// Looks the notice's behaviour name up and sets its handler; false when unknown.
bool create_behavior(uie::AttachBehaviorNotice* notice);

// Routes the host notifications of a window to a class T deriving from this.
template <class T>
class notification_handler {
public:
    virtual ~notification_handler() = default;

    virtual UINT on_load_data(uie::LoadDataNotice* /*notice*/) { return LOAD_DEFAULT; }
    virtual UINT on_data_loaded(uie::DataLoadedNotice* /*notice*/) { return 0; }
    virtual UINT on_engine_destroyed(uie::Notification* /*notice*/) { return 0; }
    virtual UINT on_attach_behavior(uie::AttachBehaviorNotice* notice) { return create_behavior(notice) ? 1 : 0; }

    BOOL setup_callback(HWND hwnd) { return SciterSetCallback(hwnd, &callback, static_cast<T*>(this)); }

    // The callback itself; `param` is the T the callback was installed with.
    static UINT callback(uie::Notification* n, void* param) {
        notification_handler* self = static_cast<T*>(param);
        switch (n->code) {
            case SC_LOAD_DATA: return self->on_load_data(static_cast<uie::LoadDataNotice*>(n));
            case SC_DATA_LOADED: return self->on_data_loaded(static_cast<uie::DataLoadedNotice*>(n));
            case SC_ATTACH_BEHAVIOR: return self->on_attach_behavior(static_cast<uie::AttachBehaviorNotice*>(n));
            case SC_ENGINE_DESTROYED: return self->on_engine_destroyed(n);
            default: return 0;
        }
    }
};

}  // namespace sciter

namespace dom {

// An element handle held with Sciter_UseElement, so it stays safe to use after its
// page is replaced (operations then fail). A default element is invalid.
class element {
public:
    element() = default;
    element(HELEMENT he);  // NOLINT: converts like the raw handle it wraps
    element(const element& other);
    element(element&& other) noexcept;
    element& operator=(element other) noexcept;
    ~element();

    static element root_element(HWND hwnd);

    bool is_valid() const { return he_ != nullptr; }
    operator HELEMENT() const { return he_; }

    std::string get_element_type() const { return uie::ElementTag(he_); }
    std::wstring text() const { return uie::ElementText(he_); }
    HWND get_element_hwnd() const { return uie::ElementWindow(he_); }

    // Empty when absent; has_attribute tells the two apart.
    std::wstring get_attribute(const char* name) const;
    bool has_attribute(const char* name) const;
    bool set_attribute(const char* name, const wchar_t* value) const;
    bool remove_attribute(const char* name) const;

    UINT get_state() const;
    bool get_state(UINT bits) const { return (get_state() & bits) == bits; }
    bool set_state(UINT bitsToSet, UINT bitsToClear = 0, bool update = true) const;

    unsigned children_count() const;
    element child(unsigned n) const;
    element parent() const;
    unsigned index() const;
    RECT get_location(UINT areas = AREA_VIEW) const;

    element find_first(const char* selector) const;
    std::vector<element> find_all(const char* selector) const;
    element select_parent(const char* selector, unsigned depth = 0) const;

    bool post_event(UINT code, UINT_PTR reason = 0, HELEMENT source = nullptr) const;
    void update() const { SciterUpdateElement(he_, FALSE); }

    // Page functions of the element's document; throw uie::script_error on failure.
    sciter::value call_function(const char* name, std::initializer_list<sciter::value> args = {}) const;
    sciter::value call_function(const char* name, const std::vector<sciter::value>& args) const;
    sciter::value call_method(const char* name, const std::vector<sciter::value>& args = {}) const;

private:
    HELEMENT he_ = nullptr;
};

}  // namespace dom
