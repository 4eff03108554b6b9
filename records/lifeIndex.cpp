#include "lifeIndex.h"

#include <memory>

CLifeIndex* g_pLifeIndex = nullptr;

CLifeIndex::CLifeIndex() = default;

int CLifeIndex::LoadFromDB(int /*areaCodeNo*/) { return 0; }

int CLifeIndex::BussDataProc(const std::wstring&) { return 0; }

int CLifeIndex::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "lifeIndex", def);
    return 1;
}
