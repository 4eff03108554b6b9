#include "userTypeMess.h"

#include <memory>

CUserTypeMess* g_pUserTypeMess = nullptr;

CUserTypeMess::CUserTypeMess() = default;

void CUserTypeMess::LoadFromDB() {}

int CUserTypeMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userTypeMess", def);
    return 1;
}
