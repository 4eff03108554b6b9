#include "publicMess.h"

#include <memory>

CPublicMess* g_pPublicMess = nullptr;

CPublicMess::CPublicMess() = default;

void CPublicMess::LoadFromDB() {}

int CPublicMess::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "publicMess", def);
    return 1;
}
