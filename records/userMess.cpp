#include "userMess.h"

#include <memory>

#include "Communication.h"

CUserMess* g_pUserMess = nullptr;

CUserMess::CUserMess()
    : CMessFeed(L"CUserMess", COMMAND_USERMESS_QUEST, L"tUserMess", L"userNo", L"userMessNo", true) {}

int CUserMess::BussDataProc(const std::wstring& reply) {
    const CCommunication* comm = g_pCommunication;
    if (comm == nullptr) return 0;  // no logged-in user to compare with
    const int userNo = comm->m_nUserNo.load();
    return StoreOwnerMessage(reply,
                             L"insert into tUserMess (userNo, userMessNo, userMess, pubTime, validTime, operatorNo, "
                             L"\tstatus, note,modifyTime) values (%0d, %0d, '%s', '%s', '%s', %0d, '%s', "
                             L"'%s',datetime('now','localtime'))",
                             &userNo);
}

int CUserMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userMess", def);
    return 1;
}
