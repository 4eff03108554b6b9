#include "weatherForecast.h"

#include <memory>

CWeatherForecast* g_pWeatherForecast = nullptr;

CWeatherForecast::CWeatherForecast() = default;

int CWeatherForecast::LoadFromDB(int /*areaCodeNo*/) { return 0; }

int CWeatherForecast::BussDataProc(const std::wstring&) { return 0; }

int CWeatherForecast::RegisterScriptObject(HVM vm) {
    static const auto def = std::make_shared<const uie::NativeObjectDef>();
    uie::DefineNativeObject(vm, "weatherForecast", def);
    return 1;
}
