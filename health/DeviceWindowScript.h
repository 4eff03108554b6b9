// Script properties of the device windows' objects ("pedometer", "bloodPressure"): each
// reads the window through its global at read time, so a page made before the window
// answers the fallback.
#pragma once

#include <atomic>

#include "DeviceUploadState.h"
#include "HealthElementSourceType.h"
#include "ScriptVM.h"

template <class Window, class F, class T>
uie::NativeProperty WindowProperty(const char* name, const std::atomic<Window*>& global, F read, T fallback) {
    return {name,
            [&global, read, fallback](HVM, const uie::NativeArgs&) {
                const Window* window = global;
                return window != nullptr ? uie::value(read(*window)) : uie::value(fallback);
            },
            nullptr};
}

// A field of the window's last upload.
template <class Window, class T>
uie::NativeProperty UploadProperty(const char* name, const std::atomic<Window*>& global, T struUploadState::*field,
                                   T fallback) {
    return WindowProperty(
        name, global, [field](const Window& w) { return w.m_uploadState.Get().*field; }, fallback);
}

// The source number of the first present device among the window's sources (from
// firstSource on) once the window's batch names a device; else 0.
template <class Window>
int OnlineSourceNo(const std::atomic<Window*>& global, int firstSource) {
    const Window* window = global;
    CHealthElementSourceType* sources = g_pHealthElementSourceType;
    if (window == nullptr || sources == nullptr || window->GetDeviceBussData().deviceID.empty()) return 0;
    const struHealthElementSourceTypeW* present = sources->FindPresentDevice(firstSource);
    return present != nullptr ? present->sourceNo : 0;
}
