#include "userEnvironment.h"

#include "DataClassKit.h"

CUserEnvironment* g_pUserEnvironment = nullptr;

namespace {

template <class T>
uie::NativeProperty RecordField(const char* name, T struUserEnvironmentW::*field) {
    return records::FieldProperty(name, g_pUserEnvironment, field);
}

// A reading through the global at read time, as the record's fields are read.
uie::NativeProperty Reading(const char* name, int (CUserEnvironment::*read)() const) {
    return {name,
            [read](HVM, const uie::NativeArgs&) {
                const CUserEnvironment* owner = g_pUserEnvironment;
                return uie::value(owner != nullptr ? (owner->*read)() : 0);
            },
            {}};
}

}  // namespace

CUserEnvironment::CUserEnvironment() = default;

int CUserEnvironment::LoadFromDB() { return 0; }

int CUserEnvironment::RecordUserEnvironment() { return 0; }

int CUserEnvironment::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "userEnv", ScriptObjectDef()) ? 1 : 0;
}

std::shared_ptr<const uie::NativeObjectDef> CUserEnvironment::ScriptObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        // No device reports its state here.
        d->methods = {{"GetDevStatus", [](HVM, const uie::NativeArgs&) { return uie::value(0); }}};
        d->properties = {
            Reading("devAirQuality", &CUserEnvironment::GetAirQualityLevel),
            Reading("devHumidity", &CUserEnvironment::GetDevHumidity),
            Reading("devTemperature", &CUserEnvironment::GetDevTemperature),
            RecordField("userNo", &struUserEnvironmentW::userNo),
            RecordField("recNo", &struUserEnvironmentW::recNo),
            RecordField("recDate", &struUserEnvironmentW::recDate),
            RecordField("lastTime", &struUserEnvironmentW::lastTime),
            RecordField("thisTime", &struUserEnvironmentW::thisTime),
            RecordField("duration", &struUserEnvironmentW::duration),
            RecordField("averageTemperature", &struUserEnvironmentW::averageTemperature),
            RecordField("averageHumidity", &struUserEnvironmentW::averageHumidity),
            RecordField("averageAirQuality", &struUserEnvironmentW::averageAirQuality),
            RecordField("averageAirQualityLevel", &struUserEnvironmentW::averageAirQualityLevel),
            RecordField("status", &struUserEnvironmentW::status),
            RecordField("note", &struUserEnvironmentW::note),
            RecordField("modifyTime", &struUserEnvironmentW::modifyTime),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

int CUserEnvironment::AirQualityLevel(int reading) {
    if (reading <= 200) return 1;
    if (reading <= 400) return 2;
    if (reading <= 600) return 3;
    if (reading <= 800) return 4;
    return 5;
}

int CUserEnvironment::GetAirQualityLevel() const {
    std::lock_guard lock(m_lock);
    return AirQualityLevel(m_devAirQuality);
}

int CUserEnvironment::GetDevTemperature() const {
    std::lock_guard lock(m_lock);
    return m_devTemperature;
}

int CUserEnvironment::GetDevHumidity() const {
    std::lock_guard lock(m_lock);
    return m_devHumidity;
}
