#include "HealthElementSourceType.h"

#include <memory>

CHealthElementSourceType* g_pHealthElementSourceType = nullptr;

CHealthElementSourceType::CHealthElementSourceType() = default;

void CHealthElementSourceType::LoadFromDB() {}

// No source is known until the dictionary is loaded.
struHealthElementSourceTypeW* CHealthElementSourceType::FindPresentDevice(int) { return nullptr; }

int CHealthElementSourceType::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "healthElementSourceType", def);
    return 1;
}
