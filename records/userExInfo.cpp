#include "userExInfo.h"

#include <memory>

CUserExInfo* g_pUserExInfo = nullptr;

CUserExInfo::CUserExInfo() = default;

int CUserExInfo::ReadUserExFromDB() { return 1; }

int CUserExInfo::BussDataProc(const std::wstring&) { return 0; }

int CUserExInfo::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userExp", def);
    return 1;
}
