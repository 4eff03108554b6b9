#include "deviceManager.h"

#include <memory>

CDeviceManager* g_pDeviceManager = nullptr;

CDeviceManager::CDeviceManager() = default;

int CDeviceManager::LoadFromDB() { return 0; }

int CDeviceManager::BussDataProc(const std::wstring&) { return 0; }

// Without the system's device list nothing counts as plugged in.
int CDeviceManager::IsUsbDevicePresent(int, int) { return 0; }

int CDeviceManager::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "deviceManager", def);
    return 1;
}
