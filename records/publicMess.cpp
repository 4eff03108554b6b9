#include "publicMess.h"

#include <memory>

CPublicMess* g_pPublicMess = nullptr;

CPublicMess::CPublicMess()
    : CMessFeed(L"CPublicMess::ReadMaxMessNo", L"select max(publicMessNo) from tPublicMess;", true) {}

int CPublicMess::BussDataProc(const std::wstring&) { return 0; }

int CPublicMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "publicMess", def);
    return 1;
}
