#include "UserOperation.h"

#include <memory>

CUserOperation* g_pUserOperation = nullptr;

CUserOperation::CUserOperation() = default;

int CUserOperation::StartWork() { return 0; }

int CUserOperation::BussDataProc(const std::wstring&) { return 0; }

int CUserOperation::RecordUserOpertion() { return 0; }

int CUserOperation::RefreshUserOpGraph() { return 0; }

int CUserOperation::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "userOp", def);
    return 1;
}
