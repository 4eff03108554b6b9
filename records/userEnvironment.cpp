#include "userEnvironment.h"

#include <memory>

CUserEnvironment* g_pUserEnvironment = nullptr;

CUserEnvironment::CUserEnvironment() = default;

int CUserEnvironment::LoadFromDB() { return 0; }

int CUserEnvironment::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userEnv", def);
    return 1;
}
