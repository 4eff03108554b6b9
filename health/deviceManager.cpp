#include "deviceManager.h"

#include <cwchar>
#include <memory>

#include "Communication.h"
#include "Config.h"
#include "CxLog.h"
#include "DataClassKit.h"
#include "HealthElementSourceType.h"
#include "IntDate.h"
#include "MyDatabase.h"
#include "global.h"
#include "Text.h"
#include "UsbDevices.h"
#include "bloodPressureWin.h"
#include "pedometerWin.h"

CDeviceManager* g_pDeviceManager = nullptr;

namespace {

constexpr const wchar_t* kFile = L"deviceManager.cpp";
constexpr std::size_t kStatementChars = 520;
struUserDeviceW FromRow(const std::vector<std::wstring>& row) {
    std::size_t c = 0;
    struUserDeviceW d;
    d.sourceNo = records::ColumnInt(row, c++);
    d.regTime = records::ColumnText(row, c++);
    d.lastUseTime = records::ColumnText(row, c++);
    d.useTimes = records::ColumnInt(row, c++);
    d.deviceID = records::ColumnText(row, c++);
    d.userID = records::ColumnText(row, c++);
    d.sourceName = records::ColumnText(row, c++);
    d.status = records::ColumnText(row, c++);
    d.note = records::ColumnText(row, c++);
    return d;
}

// -1 and the engine's message for a missing or mistyped argument.
uie::value ScriptGetLastDeviceSourceNo(HVM vm, const uie::NativeArgs& args) {
    try {
        const int base = uie::ArgInt(args, 0);
        const CDeviceManager* devices = g_pDeviceManager;
        return uie::value(devices != nullptr ? devices->GetLastDeviceSourceNo(base) : -1);
    } catch (const uie::ScriptError& e) {
        uie::RaiseScriptError(vm, e.text());
        return uie::value(-1);
    }
}

template <class T>
uie::NativeProperty UpdateState(const char* name, T struUploadState::*field) {
    return {name, [field](HVM, const uie::NativeArgs&) {
                const CDeviceManager* devices = g_pDeviceManager;
                return uie::value(devices != nullptr ? devices->m_updateState.Get().*field : struUploadState{}.*field);
            },
            nullptr};
}

}  // namespace

CDeviceManager::CDeviceManager() { m_updateState.Set({false, -1, L""}); }

int CDeviceManager::LoadFromDB() {
    ReadUserDeviceFromDB();
    return 0;
}

int CDeviceManager::ReadUserDeviceFromDB() {
    static const std::wstring kSql =
        L"select sourceNo, regTime, lastUseTime, useTimes, deviceID, userID, sourceName, status, note from "
        L"tUserDevice order by sourceNo;";
    CMyDatabase* db = g_pMyDatabase;
    SqlRows rows;
    const int result = db != nullptr ? db->SelectTableWithReturnFromDB(g_Config.m_config.userDBName, kSql, rows) : -1;
    if (result != 0) {
        if (db != nullptr)
            LOGF(LOG_EXCEPTION, kFile, L"CSqliteException[%s]:[%d][%s]", L"ReadUserDeviceFromDB", result, kSql.c_str());
        // The devices known stay: without them the next reply of one would insert it again.
        std::lock_guard lock(m_lock);
        return static_cast<int>(m_devices.size());
    }
    std::map<int, struUserDeviceW> devices;
    bool pedometer = false;
    for (const auto& row : rows) {
        struUserDeviceW device = FromRow(row);
        if (CPedometerWin::IsPedometerSource(device.sourceNo)) pedometer = true;
        devices[device.sourceNo] = std::move(device);
    }
    m_bPedometer = pedometer;
    std::lock_guard lock(m_lock);
    m_devices = std::move(devices);
    return static_cast<int>(m_devices.size());
}

std::optional<struUserDeviceW> CDeviceManager::GetUserDevice(int sourceNo) const {
    std::lock_guard lock(m_lock);
    const auto found = m_devices.find(sourceNo);
    if (found == m_devices.end()) return std::nullopt;
    return found->second;
}

int CDeviceManager::GetRegDeviceID(int sourceNo, std::wstring& deviceID) const {
    const auto device = GetUserDevice(sourceNo);
    if (!device) return -1;
    deviceID = device->deviceID;
    return 0;
}

std::optional<struUserDeviceW> CDeviceManager::FindLastUsedDevice(int sourceNoBase) const {
    std::lock_guard lock(m_lock);
    std::optional<struUserDeviceW> last;
    for (auto it = m_devices.lower_bound(sourceNoBase); it != m_devices.end() && it->first < sourceNoBase + 10; ++it) {
        // Ascending numbers: only a strictly later time replaces, so a tie keeps the lower.
        if (!last || it->second.lastUseTime > last->lastUseTime) last = it->second;
    }
    return last;
}

int CDeviceManager::UserDeviceProc(std::vector<std::wstring>* statements, int sourceNo, const std::wstring& deviceID) {
    const std::wstring now = GetCurTimeStrSeconds();
    std::optional<struUserDeviceW> known = GetUserDevice(sourceNo);
    struUserDeviceW device = known.value_or(struUserDeviceW{});
    device.userNo = LoggedInUserNo();
    device.sourceNo = sourceNo;
    device.deviceID = deviceID;
    device.lastUseTime = now;
    device.useTimes = known ? device.useTimes + 1 : 1;
    if (!known) device.regTime = now;
    const int result = known ? UserDeviceUpdate_LocalDataProc(statements, device)
                             : UserDeviceAdd_LocalDataProc(statements, device);
    if (result != 0) return result;
    if (CPedometerWin::IsPedometerSource(sourceNo)) m_bPedometer = true;
    std::lock_guard lock(m_lock);
    m_devices[sourceNo] = std::move(device);
    return 0;
}

int CDeviceManager::UserDeviceAdd_LocalDataProc(std::vector<std::wstring>* statements, const struUserDeviceW& d) {
    std::wstring insert;
    if (!FormatCut(insert, kStatementChars,
                   L"insert into tUserDevice(userNo,sourceNo,regTime,lastUseTime,useTimes,deviceID,note,modifyTime) "
                   L"values(%0d, %0d,     \t'%s', '%s', %0d, '%s','%s',datetime('now','localtime')) ;",
                   d.userNo, d.sourceNo, text::QuoteSql(d.regTime).c_str(), text::QuoteSql(d.lastUseTime).c_str(),
                   d.useTimes, text::QuoteSql(d.deviceID).c_str(), text::QuoteSql(d.note).c_str()))
        return -1;
    std::vector<std::wstring> made{insert};
    if (CBloodPressureWin::IsBloodPressureSource(d.sourceNo)) {
        // A blood-pressure monitor switches its measuring reminders on.
        for (const wchar_t* table : {L"tAlertConfig", L"tAlertConfigDetail", L"tAlertConfigItem"})
            made.push_back(std::wstring(L"update ") + table + L" set status = '1' where alertNo in(16, 17, 18);");
    }
    return Finish(statements, made);
}

int CDeviceManager::UserDeviceUpdate_LocalDataProc(std::vector<std::wstring>* statements, const struUserDeviceW& d) {
    std::wstring update;
    if (!FormatCut(update, kStatementChars,
                   L"update tUserDevice set regTime = '%s',lastUseTime = '%s',useTimes = %0d,deviceID = '%s',        "
                   L"note = '%s',modifyTime = datetime('now','localtime') where userNo = %0d and sourceNo = %0d ;",
                   text::QuoteSql(d.regTime).c_str(), text::QuoteSql(d.lastUseTime).c_str(), d.useTimes,
                   text::QuoteSql(d.deviceID).c_str(), text::QuoteSql(d.note).c_str(), d.userNo, d.sourceNo))
        return -1;
    return Finish(statements, {update});
}

int CDeviceManager::Finish(std::vector<std::wstring>* statements, const std::vector<std::wstring>& made) {
    if (statements == nullptr) return RunNow(made);
    statements->insert(statements->end(), made.begin(), made.end());
    return 0;
}

int CDeviceManager::RunNow(const std::vector<std::wstring>& statements) {
    CMyDatabase* db = g_pMyDatabase;
    const int result = db != nullptr ? db->ExecSQLSet(statements, true) : -1;
    if (result != 0) LOGF(LOG_ERROR, kFile, L"ExecSQLSet fail[%d]", result);
    return result;
}

int CDeviceManager::GetLastDeviceSourceNo(int base) const {
    CHealthElementSourceType* sources = g_pHealthElementSourceType;
    if (sources == nullptr || base <= 0) return -1;
    if (const struHealthElementSourceTypeW* present = sources->FindPresentDevice(base)) return present->sourceNo;
    if (const auto last = FindLastUsedDevice(base)) return last->sourceNo;
    if (base == CPedometerWin::kFirstSource) return CPedometerWin::kDaySource;
    if (base == CBloodPressureWin::kFirstSource || base == CBloodPressureWin::kMonitorSource) {
        return CBloodPressureWin::kMonitorSource;
    }
    return -1;
}

int CDeviceManager::BussDataProc(const std::wstring& reply) {
    const int sourceNo = records::ReplyInt(reply, 4);
    if (CPedometerWin::IsPedometerSource(sourceNo)) {
        CPedometerWin* window = g_pPedometer;
        return window != nullptr ? window->BussDataProc_OrigData(reply) : 0;
    }
    if (CBloodPressureWin::IsBloodPressureSource(sourceNo)) {
        CBloodPressureWin* window = g_pBloodPressure;
        return window != nullptr ? window->BussDataProc_OrigData(reply) : 0;
    }
    return 0;
}

int CDeviceManager::IsUsbDevicePresent(int vendorID, int productID) {
    std::vector<UsbDeviceInfo> devices;
    if (!ListUsbDevices(devices)) return -1;
    for (const UsbDeviceInfo& device : devices) {
        if (IsUsbInstanceOf(device.instanceID, vendorID, productID)) return 1;
    }
    return 0;
}

bool CDeviceManager::IsUsbInstanceOf(const std::wstring& instanceID, int vendorID, int productID) {
    if (instanceID.compare(0, 3, L"USB") != 0) return false;
    unsigned vendor = 0;
    unsigned product = 0;
    if (std::swscanf(instanceID.c_str(), L"USB\\VID_%X&PID_%X", &vendor, &product) != 2) return false;
    return static_cast<int>(vendor) == vendorID && static_cast<int>(product) == productID;
}

int CDeviceManager::RegisterScriptObject(HVM vm) {
    static const std::shared_ptr<const uie::NativeObjectDef> def = [] {
        auto d = std::make_shared<uie::NativeObjectDef>();
        d->methods = {{"GetLastDeviceSourceNo", ScriptGetLastDeviceSourceNo}};
        d->properties = {
            UpdateState("updateUserDevice_State", &struUploadState::busy),
            UpdateState("updateUserDevice_RetCode", &struUploadState::retCode),
            UpdateState("updateUserDevice_RetMsg", &struUploadState::message),
        };
        return std::shared_ptr<const uie::NativeObjectDef>(std::move(d));
    }();
    uie::DefineNativeObject(vm, "deviceManager", def);
    return 1;
}
