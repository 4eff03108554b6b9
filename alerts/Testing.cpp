#include "Testing.h"

#include <memory>

CTesting* g_pTesting = nullptr;

CTesting::CTesting() = default;

int CTesting::StartWork() { return 1; }

int CTesting::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "testing", def);
    return 1;
}
