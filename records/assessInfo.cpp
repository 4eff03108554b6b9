#include "assessInfo.h"

#include <memory>

CAssessInfo* g_pAssessInfo = nullptr;

CAssessInfo::CAssessInfo() = default;

int CAssessInfo::LoadFromDB() { return 1; }

int CAssessInfo::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "assess", def);
    return 1;
}
