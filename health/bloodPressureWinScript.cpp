// The script object "bloodPressure": the blood-pressure page's view of the window's
// download, its readings, the choice of what to keep, manual and demo readings, the
// upload state and the chart. Its members run on the calling page's thread and read
// g_pBloodPressure at each call, so a page made before the window answers the defaults.
#include <memory>
#include <string>
#include <vector>

#include "CheckedNative.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "DeviceWindowScript.h"
#include "HealthResources.h"
#include "Text.h"
#include "bloodPressureWin.h"
#include "deviceManager.h"

namespace {

using uie::NativeArgs;
using uie::value;

constexpr int kError = -1;

// A mistyped page argument is also logged: the page only sees -1.
uie::NativeFn Logged(const wchar_t* name, uie::NativeFn body) {
    return [name, body](HVM vm, const NativeArgs& args) {
        try {
            return body(vm, args);
        } catch (const uie::ScriptError& e) {
            LOGF(LOG_WARNING, L"bloodPressure", L"%s: %s", name, e.text().c_str());
            throw;
        }
    };
}

value GenBloodPressureGraphData(HVM, const NativeArgs& args) {
    const value& records = uie::ArgPresent(args, 0);
    const value& options = uie::ArgPresent(args, 1);
    const CBloodPressureWin* window = g_pBloodPressure;
    const std::string xml = window != nullptr ? window->GenBloodPressureGraphData(options, records) : std::string();
    return value(text::FromAnsi(xml));  // the chart's text is GBK
}

value IsOnline_bloodPressure(HVM, const NativeArgs&) {
    return value(OnlineSourceNo(g_pBloodPressure, CBloodPressureWin::kFirstSource));
}

value GetDevDataLoadStatus(HVM, const NativeArgs&) {
    const CBloodPressureWin* window = g_pBloodPressure;
    return window != nullptr ? window->GetLoadStatusObject() : value::make_map();
}

value Reading(const struDeviceDataList_1002W& r, const std::wstring& deviceID) {
    return records::MakeObject({{L"bpKbn", value(r.bpKbn)},
                                {L"systolic", value(r.systolic)},
                                {L"diastolic", value(r.diastolic)},
                                {L"pulse", value(r.pulse)},
                                {L"fPulseFlag", value(r.fPulseFlag)},
                                {L"recTime", value(r.recTime)},
                                {L"deviceID", value(deviceID)},
                                {L"summary", value(r.summary)},
                                {L"bpLevel", value(r.bpLevel)},
                                {L"bpAssessNote", value(r.bpAssessNote)},
                                {L"save", value(1)},
                                {L"note", value(std::wstring())}});
}

value ReadDevData(HVM, const NativeArgs&) {
    std::vector<value> items;
    if (const CBloodPressureWin* window = g_pBloodPressure) {
        const struBpDeviceBussData batch = window->GetDeviceBussData();
        for (const struDeviceDataList_1002W& r : batch.pDeviceDataList) items.push_back(Reading(r, batch.deviceID));
    }
    return value::make_array(items);
}

value ChooseDevData(HVM, const NativeArgs& args) {
    const value& choices = uie::ArgArray(args, 0);
    CBloodPressureWin* window = g_pBloodPressure;
    return value(window != nullptr ? window->ChooseDevDataProc(choices) : kError);
}

// Manual entry and demo data take the same arguments: source number, device id, readings.
template <int (CBloodPressureWin::*Take)(int, const std::wstring&, const uie::value&)>
value PageReadings(HVM, const NativeArgs& args) {
    const int sourceNo = uie::ArgInt(args, 0);
    const std::wstring deviceID = uie::ArgString(args, 1);
    const value& readings = uie::ArgArray(args, 2);
    CBloodPressureWin* window = g_pBloodPressure;
    return value(window != nullptr ? (window->*Take)(sourceNo, deviceID, readings) : kError);
}

// The registered device of the diastolic element's source, kept in the read state.
value RegDeviceID(HVM, const NativeArgs&) {
    CBloodPressureWin* window = g_pBloodPressure;
    const CHealthResources* resources = g_pHealthResources;
    const CDeviceManager* devices = g_pDeviceManager;
    if (window == nullptr || resources == nullptr || devices == nullptr) return value(std::wstring());
    std::wstring registered;
    const int sourceNo = resources->GetElementSourceNo(L"diastolicBloodPressure");
    const bool found = devices->GetRegDeviceID(sourceNo, registered) == 0;
    std::wstring out;
    window->WithReadState([&](struBpDeviceReadState& read) {
        if (found) read.regDeviceID = registered;
        out = read.regDeviceID;
    });
    return value(out);
}

std::vector<uie::NativeProperty> Properties() {
    return {
        {"regDeviceID", RegDeviceID, nullptr},
        WindowProperty(
            "deviceID", g_pBloodPressure,
            [](const CBloodPressureWin& w) { return w.GetDeviceBussData().deviceID; }, std::wstring()),
        UploadProperty("updateBloodPressureData_State", g_pBloodPressure, &struUploadState::busy, false),
        UploadProperty("updateBloodPressureData_RetCode", g_pBloodPressure, &struUploadState::retCode, -1),
        UploadProperty("updateBloodPressureData_RetMsg", g_pBloodPressure, &struUploadState::message, std::wstring()),
    };
}

std::shared_ptr<const uie::NativeObjectDef> BloodPressureObjectDef() {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        const value error(kError);
        d->methods = {
            {"GenBloodPressureGraphData",
             Checked(value(std::wstring()), Logged(L"GenBloodPressureGraphData", GenBloodPressureGraphData))},
            {"IsOnline_bloodPressure", IsOnline_bloodPressure},
            {"GetDevDataLoadStatus", GetDevDataLoadStatus},
            {"ReadDevData", ReadDevData},
            {"ChooseDevData", Checked(error, Logged(L"ChooseDevData", ChooseDevData))},
            {"UserInputData",
             Checked(error, Logged(L"UserInputData", PageReadings<&CBloodPressureWin::UserInputData>))},
            {"GenVirtualData",
             Checked(error, Logged(L"GenVirtualData", PageReadings<&CBloodPressureWin::GenVirtualData>))},
        };
        d->properties = Properties();
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    return def;
}

}  // namespace

int CBloodPressureWin::RegisterScriptObject(HVM vm) {
    return uie::DefineNativeObject(vm, "bloodPressure", BloodPressureObjectDef()) ? 1 : 0;
}
