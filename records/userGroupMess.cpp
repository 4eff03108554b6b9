#include "userGroupMess.h"

#include <memory>

#include "Communication.h"

CUserGroupMess* g_pUserGroupMess = nullptr;

// This feed's start-up load leaves its valid mark alone.
CUserGroupMess::CUserGroupMess()
    : CMessFeed(L"CUserGroupMess", COMMAND_USERGROUPMESS_QUEST, L"tUserGroupMess", L"userGroupNo", L"userGroupMessNo",
                false) {}

int CUserGroupMess::BussDataProc(const std::wstring& reply) {
    if (TakeMarker(reply)) return 0;
    return StoreOwnerMessage(reply,
                             L"insert into tUserGroupMess (userGroupNo, userGroupMessNo, userGroupMess, pubTime, "
                             L"validTime, \toperatorNo, status, note,modifyTime) values (%0d, %0d, '%s', '%s', '%s', "
                             L"%0d, '%s', '%s',datetime('now','localtime'))");
}

int CUserGroupMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userGroupMess", def);
    return 1;
}
