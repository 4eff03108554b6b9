#include "userTypeMess.h"

#include <memory>

CUserTypeMess* g_pUserTypeMess = nullptr;

CUserTypeMess::CUserTypeMess()
    : CMessFeed(L"CUserTypeMess::ReadMaxMessNo", L"select max(userTypeMessNo) from tUserTypeMess;", true) {}

int CUserTypeMess::BussDataProc(const std::wstring&) { return 0; }

int CUserTypeMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userTypeMess", def);
    return 1;
}
