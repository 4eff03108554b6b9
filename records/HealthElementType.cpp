#include "HealthElementType.h"

#include <memory>

CHealthElementType* g_pHealthElementType = nullptr;

CHealthElementType::CHealthElementType() = default;

void CHealthElementType::LoadFromDB() {}

int CHealthElementType::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "healthElementType", def);
    return 1;
}
