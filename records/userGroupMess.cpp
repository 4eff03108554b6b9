#include "userGroupMess.h"

#include <memory>

CUserGroupMess* g_pUserGroupMess = nullptr;

CUserGroupMess::CUserGroupMess() = default;

void CUserGroupMess::LoadFromDB() {}

int CUserGroupMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userGroupMess", def);
    return 1;
}
