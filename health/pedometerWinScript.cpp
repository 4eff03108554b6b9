// The script object "pedometer": the pedometer page's view of the window's device read,
// upload state, target and ranking. Its members run on the calling page's thread and
// read g_pPedometer at each call, so a page made before the window answers the defaults.
#include <memory>
#include <string>

#include "CheckedNative.h"
#include "DataClassKit.h"
#include "DeviceWindowScript.h"
#include "HealthElementSourceType.h"
#include "HealthResources.h"
#include "Text.h"
#include "pedometerWin.h"

namespace {

using uie::NativeArgs;
using uie::value;

constexpr int kError = -1;

value GenPedometerGraphData(HVM, const NativeArgs& args) {
    const value& records = uie::ArgPresent(args, 0);
    const value& options = uie::ArgPresent(args, 1);
    const CPedometerWin* window = g_pPedometer;
    const std::string xml = window != nullptr ? window->GenPedometerGraphData(options, records) : std::string();
    return value(text::FromAnsi(xml));  // the chart's text is GBK
}

value SettingWinState(HVM, const NativeArgs& args) {
    const int state = uie::ArgInt(args, 0);
    if (CPedometerWin* window = g_pPedometer) window->SetSettingWinState(state);
    return value(0);
}

value PedoSettingsProc(HVM, const NativeArgs& args) {
    const value& settings = uie::ArgMap(args, 0);
    CPedometerWin* window = g_pPedometer;
    return window != nullptr ? value(window->PedoSettingsProc(settings)) : value();
}

value GetPedoRank(HVM, const NativeArgs&) {
    const CPedometerWin* window = g_pPedometer;
    if (window == nullptr) return value();
    const struPedoRank r = window->GetPedoRank();
    return records::MakeObject({{L"all_rank", value(r.all_rank)},
                                {L"all_rankRate", value(r.all_rankRate)},
                                {L"last_all_rank", value(r.last_all_rank)},
                                {L"last_all_rankRate", value(r.last_all_rankRate)},
                                {L"diff_all_rank", value(r.diff_all_rank)},
                                {L"diff_all_rankRate", value(r.diff_all_rankRate)},
                                {L"avg_rank", value(r.avg_rank)},
                                {L"avg_rankRate", value(r.avg_rankRate)},
                                {L"last_avg_rank", value(r.last_avg_rank)},
                                {L"last_avg_rankRate", value(r.last_avg_rankRate)},
                                {L"diff_avg_rank", value(r.diff_avg_rank)},
                                {L"diff_avg_rankRate", value(r.diff_avg_rankRate)}});
}

value IsOnline_pedometer(HVM, const NativeArgs&) {
    return value(OnlineSourceNo(g_pPedometer, CPedometerWin::kFirstSource));
}

value GenVirtualData(HVM, const NativeArgs& args) {
    const int sourceNo = uie::ArgInt(args, 0);
    const std::wstring deviceID = uie::ArgString(args, 1);
    const value& rows = uie::ArgArray(args, 2);
    CPedometerWin* window = g_pPedometer;
    if (window == nullptr) return value(kError);
    if (rows.length() == 0) return value(0);
    return value(window->GenVirtualData(sourceNo, rows, deviceID));
}

// The registered device of the step element's source, kept in the read state.
value RegDeviceID(HVM, const NativeArgs&) {
    CPedometerWin* window = g_pPedometer;
    const CHealthResources* resources = g_pHealthResources;
    const CDeviceManager* devices = g_pDeviceManager;
    if (window == nullptr || resources == nullptr || devices == nullptr) return value(std::wstring());
    std::wstring registered;
    const bool found = devices->GetRegDeviceID(resources->GetElementSourceNo(L"pedoNumberOfSteps"), registered) == 0;
    std::wstring out;
    window->WithData([&](struDeviceOrigData& read, auto&, auto&, auto&) {
        if (found) read.regDeviceID = registered;
        out = read.regDeviceID;
    });
    return value(out);
}

template <class F, class T>
uie::NativeProperty PedometerProperty(const char* name, F read, T fallback) {
    return WindowProperty(name, g_pPedometer, read, fallback);
}

template <class T>
uie::NativeProperty TargetProperty(const char* name, T struPedoTarget::*field) {
    return PedometerProperty(
        name, [field](const CPedometerWin& w) { return w.GetPedoTarget().*field; }, struPedoTarget{}.*field);
}

template <class T>
uie::NativeProperty DeviceProperty(const char* name, T struPedoDeviceValues::*field) {
    return PedometerProperty(
        name, [field](const CPedometerWin& w) { return w.GetDeviceValues().*field; }, T{-1});
}

std::vector<uie::NativeProperty> Properties() {
    std::vector<uie::NativeProperty> p = {
        PedometerProperty(
            "deviceID", [](const CPedometerWin& w) { return w.GetDeviceBussData().deviceID; }, std::wstring()),
        {"regDeviceID", RegDeviceID, nullptr},
        UploadProperty("updatePedoData_State", g_pPedometer, &struUploadState::busy, false),
        UploadProperty("updatePedoData_RetCode", g_pPedometer, &struUploadState::retCode, -1),
        UploadProperty("updatePedoData_RetMsg", g_pPedometer, &struUploadState::message, std::wstring()),
        DeviceProperty("pedoUnitMode", &struPedoDeviceValues::pedoUnitMode),
        DeviceProperty("pedoWeight", &struPedoDeviceValues::pedoWeight),
        DeviceProperty("pedoStepLong", &struPedoDeviceValues::pedoStepLong),
        TargetProperty("dateDuration", &struPedoTarget::dateDuration),
        TargetProperty("startDate", &struPedoTarget::startDate),
        TargetProperty("targetStep", &struPedoTarget::targetStep),
        TargetProperty("targetDistance", &struPedoTarget::targetDistance),
        TargetProperty("targetEnergy", &struPedoTarget::targetEnergy),
        TargetProperty("targetDuration", &struPedoTarget::targetDuration),
        TargetProperty("periodStartDate", &struPedoTarget::periodStartDate),
        TargetProperty("periodEndDate", &struPedoTarget::periodEndDate),
        TargetProperty("periodStep", &struPedoTarget::periodStep),
        TargetProperty("periodDistance", &struPedoTarget::periodDistance),
        TargetProperty("periodEnergy", &struPedoTarget::periodEnergy),
        TargetProperty("periodDuration", &struPedoTarget::periodDuration),
        TargetProperty("periodDateDuration", &struPedoTarget::periodDateDuration),
        TargetProperty("periodDatePercent", &struPedoTarget::periodDatePercent),
        TargetProperty("periodStepPercent", &struPedoTarget::periodStepPercent),
        TargetProperty("periodDistancePercent", &struPedoTarget::periodDistancePercent),
        TargetProperty("periodEnergyPercent", &struPedoTarget::periodEnergyPercent),
        TargetProperty("periodDurationPercent", &struPedoTarget::periodDurationPercent),
        TargetProperty("status", &struPedoTarget::status),
        TargetProperty("note", &struPedoTarget::note),
    };
    return p;
}

std::shared_ptr<const uie::NativeObjectDef> PedometerObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        const value error(kError);
        d->methods = {
            {"GenPedometerGraphData", Checked(value(std::wstring()), GenPedometerGraphData)},
            {"SettingWinState", Checked(error, SettingWinState)},
            {"PedoSettingsProc", Checked(error, PedoSettingsProc)},
            {"GetPedoRank", GetPedoRank},
            {"IsOnline_pedometer", IsOnline_pedometer},
            {"GenVirtualData", Checked(error, GenVirtualData)},
        };
        d->properties = Properties();
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

int CPedometerWin::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "pedometer", PedometerObjectDef()) ? 1 : 0;
}
