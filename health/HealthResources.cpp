#include "HealthResources.h"

#include <memory>

CHealthResources* g_pHealthResources = nullptr;

CHealthResources::CHealthResources() = default;

int CHealthResources::LoadFromDB() { return 1; }

int CHealthResources::BussDataProc_HealthElementValue(const std::wstring&) { return 0; }

// No element is loaded yet, so every id is unknown and nothing waits for the page.
int CHealthResources::SetElementValueNo(const std::wstring&, int, bool, bool) { return -1; }

uie::value CHealthResources::PopElementListMsg() { return {}; }

uie::value CHealthResources::PopPageMsg() { return {}; }

int CHealthResources::DevChangeProc(int, int, int) { return 0; }

int CHealthResources::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "healthResources", def);
    return 1;
}
