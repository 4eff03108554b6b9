#include "Alert.h"

#include <memory>

CAlert* g_pAlert = nullptr;

CAlert::CAlert() = default;

int CAlert::StartWork() { return 1; }

int CAlert::ReadAlertFormDB() { return 1; }

int CAlert::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "alert", def);
    return 1;
}
