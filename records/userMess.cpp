#include "userMess.h"

#include <memory>

CUserMess* g_pUserMess = nullptr;

CUserMess::CUserMess()
    : CMessFeed(L"CUserMess::ReadMaxMessNo", L"select max(userMessNo) from tUserMess;", true) {}

int CUserMess::BussDataProc(const std::wstring&) { return 0; }

int CUserMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userMess", def);
    return 1;
}
