#include "userGroupMess.h"

#include <memory>

CUserGroupMess* g_pUserGroupMess = nullptr;

// This feed's start-up load leaves its valid mark alone.
CUserGroupMess::CUserGroupMess()
    : CMessFeed(L"CUserGroupMess::ReadMaxMessNo", L"select max(userGroupMessNo) from tUserGroupMess;", false) {}

int CUserGroupMess::BussDataProc(const std::wstring&) { return 0; }

int CUserGroupMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userGroupMess", def);
    return 1;
}
