#include "realWeather.h"

#include <memory>

CRealWeather* g_pRealWeather = nullptr;

CRealWeather::CRealWeather() = default;

int CRealWeather::LoadFromDB(int /*areaCodeNo*/) { return 0; }

int CRealWeather::BussDataProc(const std::wstring&) { return 0; }

int CRealWeather::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "realWeather", def);
    return 1;
}
