#include "HealthElementSource.h"

#include <memory>

CHealthElementSource* g_pHealthElementSource = nullptr;

CHealthElementSource::CHealthElementSource() = default;

void CHealthElementSource::LoadFromDB() {}

int CHealthElementSource::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "healthElementSource", def);
    return 1;
}
