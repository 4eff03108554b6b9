#include "userMess.h"

#include <memory>

CUserMess* g_pUserMess = nullptr;

CUserMess::CUserMess() = default;

void CUserMess::LoadFromDB() {}

int CUserMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userMess", def);
    return 1;
}
